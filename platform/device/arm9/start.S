@ Reset code of the main processor (ARM946E-S). The boot loader enters here
@ in ARM state. Order: interrupts off; protection unit, caches and tightly
@ coupled memories; a stack per mode; sections copied and cleared;
@ interrupt vector for the BIOS; the display's reset state; constructors;
@ main.
#include "fault.h"
#include "memory_map.h"
#include "start_steps.inc"

        VX_START_ENTRY
        msr     cpsr_c, #0xDF           @ system mode, IRQ and FIQ off

        @ Protection unit, caches and TCMs off while they are set up; the
        @ exception vectors stay at 0xFFFF0000, where the BIOS has them.
        ldr     r0, =0x00002078
        mcr     p15, 0, r0, c1, c0, 0
        mov     r0, #0
        mcr     p15, 0, r0, c7, c5, 0   @ invalidate the instruction cache
        mcr     p15, 0, r0, c7, c6, 0   @ invalidate the data cache
        mcr     p15, 0, r0, c7, c10, 4  @ drain the write buffer

        @ Data TCM: 16 KB at 0x0B000000. Instruction TCM: 32 KB at 0,
        @ mirrored up to 32 MB, so 0x01FF8000 reaches it too.
        ldr     r0, =0x0B00000A
        mcr     p15, 0, r0, c9, c1, 0
        ldr     r0, =0x00000020
        mcr     p15, 0, r0, c9, c1, 1

        @ Protection regions: base | size code (2 << N bytes) << 1 | enable.
        @ A higher region wins where two overlap.
        ldr     r0, =0x04000033         @ 0: I/O, palettes, video memory (64 MB)
        mcr     p15, 0, r0, c6, c0, 0
        ldr     r0, =0x0200002F         @ 1: main memory and its mirrors (16 MB), uncached
        mcr     p15, 0, r0, c6, c1, 0
        ldr     r0, =0x0200002B         @ 2: main memory itself (4 MB), cached
        mcr     p15, 0, r0, c6, c2, 0
        ldr     r0, =0xFFFF001D         @ 3: BIOS (32 KB)
        mcr     p15, 0, r0, c6, c3, 0
        ldr     r0, =0x0100002F         @ 4: instruction TCM mirrors at 16-32 MB; below that nothing, so a null pointer faults
        mcr     p15, 0, r0, c6, c4, 0
        ldr     r0, =0x0B00001B         @ 5: data TCM (16 KB)
        mcr     p15, 0, r0, c6, c5, 0
        ldr     r0, =0x0300002F         @ 6: shared work memory (16 MB window)
        mcr     p15, 0, r0, c6, c6, 0
        mov     r0, #0                  @ 7: unused
        mcr     p15, 0, r0, c6, c7, 0

        @ Caching: data in main memory only, instructions in main memory and
        @ BIOS. Write-through everywhere (no write-back bits), so the cached
        @ and the uncached view of main memory never disagree after a store.
        mov     r0, #0x04
        mcr     p15, 0, r0, c2, c0, 0   @ data cacheable: region 2
        mov     r0, #0x0C
        mcr     p15, 0, r0, c2, c0, 1   @ instruction cacheable: regions 2, 3
        mov     r0, #0
        mcr     p15, 0, r0, c3, c0, 0   @ write buffer: none
        ldr     r0, =0x33333333
        mcr     p15, 0, r0, c5, c0, 2   @ data access: read/write in every region
        mcr     p15, 0, r0, c5, c0, 3   @ instruction access: the same

        @ On: protection unit, data and instruction cache, high vectors,
        @ round-robin replacement, both TCMs.
        ldr     r0, =0x0005707D
        mcr     p15, 0, r0, c1, c0, 0

        @ Stacks in the data TCM, below the BIOS's words at its end.
        VX_SET_STACKS

        VX_COPY_SECTION itcm
        VX_COPY_SECTION dtcm
        VX_COPY_SECTION data
        VX_CLEAR_SECTION bss
        VX_CLEAR_SECTION dtcm_bss

        @ The BIOS's interrupt vector at the end of the data TCM; its debug
        @ word in main memory.
        VX_SET_BIOS_HANDLERS VX_BIOS_IRQ_VECTOR_MAIN, 0x027FFD9C, VX_FAULT_RECORD_MAIN

        @ The display's power-on state, whatever a loader left; engine A
        @ drives the top screen.
        bl      vxResetDisplay

        VX_START_EXIT
