@ Reset code of the co-processor (ARM7TDMI). The boot loader has copied the
@ program into the co-processor's own work memory and enters here in ARM
@ state. Order: interrupts off; a stack per mode; sections cleared;
@ interrupt vector for the BIOS; the bus mode the clock needs;
@ constructors; main.
#include "fault.h"
#include "memory_map.h"
#include "start_steps.inc"

        .section .crt0, "ax", %progbits
        .arm
        .align 2
        .global _start
        .type _start, %function
_start:
        mov     r12, #0x04000000
        mov     r0, #0
        str     r0, [r12, #0x208]       @ IME = 0

        VX_SET_STACKS
        VX_COPY_SECTION data
        VX_CLEAR_SECTION bss
        @ The BIOS's interrupt vector at the top of work memory; its debug word.
        VX_SET_BIOS_HANDLERS VX_BIOS_IRQ_VECTOR_CO, 0x0380FFDC, VX_FAULT_RECORD_CO

        @ The general-purpose mode of the serial port, which the clock and
        @ the extra keys are read through.
        mov     r0, #0x8000
        add     r1, r12, #0x134
        strh    r0, [r1]

        b       vxEnterC
        .size _start, . - _start
        .pool
