@ Reset code of the co-processor (ARM7TDMI). The boot loader has copied the
@ program into the co-processor's own work memory and enters here in ARM
@ state. Order: interrupts off; a stack per mode; sections cleared;
@ interrupt vector for the BIOS; the bus mode the clock needs;
@ constructors; main.
#include "fault.h"

        .section .crt0, "ax", %progbits
        .arm
        .align 2
        .global _start
        .type _start, %function
_start:
        mov     r12, #0x04000000
        mov     r0, #0
        str     r0, [r12, #0x208]       @ IME = 0

        msr     cpsr_c, #0xD3
        ldr     sp, =__svc_stack_top
        msr     cpsr_c, #0xD2
        ldr     sp, =__irq_stack_top
        msr     cpsr_c, #0xDF
        ldr     sp, =__sys_stack_top

        ldr     r0, =__data_load
        ldr     r1, =__data_start
        ldr     r2, =__data_end
        bl      vxCopyWords
        ldr     r0, =__bss_start
        ldr     r1, =__bss_end
        bl      vxClearWords

        @ Interrupt handler for the BIOS; no interrupt served yet.
        ldr     r0, =vxIrqEntry
        ldr     r1, =0x0380FFFC
        str     r0, [r1]
        mov     r0, #0
        str     r0, [r1, #-4]

        @ Faults: the BIOS calls the handler stored here; no fault yet.
        ldr     r0, =vxFaultEntry
        ldr     r1, =0x0380FFDC
        str     r0, [r1]
        mov     r0, #0
        ldr     r1, =VX_FAULT_RECORD_CO
        str     r0, [r1]

        @ The general-purpose mode of the serial port, which the clock and
        @ the extra keys are read through.
        mov     r0, #0x8000
        add     r1, r12, #0x134
        strh    r0, [r1]

        b       vxEnterC
        .size _start, . - _start
        .pool
