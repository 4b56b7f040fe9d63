@ Faults: an undefined instruction or an abort ends in vxFault(kind,
@ address, mode), which records and shows it and never returns. The BIOS
@ owns the exception vectors of both processors and calls the handler whose
@ address the start-up code stores in its debug word (0x027FFD9C on the main
@ processor, 0x0380FFDC on the co-processor), in the exception's own mode.
#include "fault.h"

        .section .text.vxFaultEntry, "ax", %progbits
        .arm
        .align 2
@ The mode tells the kind. The BIOS keeps the faulting address to itself, so
@ the record holds the return address the handler was called with.
        .global vxFaultEntry
        .type vxFaultEntry, %function
vxFaultEntry:
        mrs     r2, cpsr
        orr     r2, r2, #0xC0           @ interrupts stay off
        msr     cpsr_c, r2
        and     r3, r2, #0x1F
        mov     r0, #VX_FAULT_UNDEFINED
        cmp     r3, #0x17               @ abort mode
        moveq   r0, #VX_FAULT_ABORT
        mov     r1, lr
        ldr     sp, =__fault_stack_top
        ldr     r3, =vxFault
        bx      r3
        .size vxFaultEntry, . - vxFaultEntry
        .pool
