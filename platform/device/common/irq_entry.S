@ The interrupt entry the BIOS calls (in IRQ mode, having saved r0-r3, r12
@ and its return address). It acknowledges what fired, records it for the
@ BIOS wait calls, and runs the handlers in system mode on the program's
@ stack, interrupts still held off.
#include "memory_map.h"
#ifdef VX_ARM9
#define IRQ_FLAGS VX_BIOS_IRQ_CHECK_MAIN
        .section .itcm, "ax", %progbits
#else
#define IRQ_FLAGS VX_BIOS_IRQ_CHECK_CO
        .section .text.vxIrqEntry, "ax", %progbits
#endif
        .arm
        .align 2
        .global vxIrqEntry
        .type vxIrqEntry, %function
vxIrqEntry:
        mov     r12, #0x04000000
        add     r12, r12, #0x200
        ldr     r1, [r12, #0x10]        @ IE
        ldr     r2, [r12, #0x14]        @ IF
        and     r0, r1, r2
        str     r0, [r12, #0x14]        @ acknowledge what is served now
        ldr     r2, =IRQ_FLAGS
        ldr     r3, [r2]
        orr     r3, r3, r0
        str     r3, [r2]

        msr     cpsr_c, #0xDF           @ system mode, IRQ and FIQ off
        mov     r2, sp
        bic     sp, sp, #7              @ the procedure call standard wants 8-byte alignment
        stmfd   sp!, {r2, lr}           @ the interrupted code's sp and lr
        ldr     r1, =vxIrqService
        mov     lr, pc
        bx      r1
        ldmfd   sp!, {r2, lr}
        mov     sp, r2
        msr     cpsr_c, #0xD2           @ back to IRQ mode
        bx      lr
        .size vxIrqEntry, . - vxIrqEntry
        .pool
