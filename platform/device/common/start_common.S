@ What the start-up code of both processors shares: copying and clearing
@ memory before any C runs, the way into C (constructors, main, _exit), and
@ the empty _init/_fini that newlib's constructor runner calls.
        .section .crt0, "ax", %progbits
        .arm
        .align 2

@ vxCopyWords(from r0, to r1, end r2): word copy, nothing when to == from.
        .global vxCopyWords
        .type vxCopyWords, %function
vxCopyWords:
        cmp     r0, r1
        bxeq    lr
1:      cmp     r1, r2
        ldrlo   r3, [r0], #4
        strlo   r3, [r1], #4
        blo     1b
        bx      lr
        .size vxCopyWords, . - vxCopyWords

@ vxClearWords(from r0, end r1)
        .global vxClearWords
        .type vxClearWords, %function
vxClearWords:
        mov     r2, #0
1:      cmp     r0, r1
        strlo   r2, [r0], #4
        blo     1b
        bx      lr
        .size vxClearWords, . - vxClearWords

@ vxEnterC: system mode with IRQ on (the master enable still gates it),
@ constructors, main(0, 0), then _exit with what main returned.
        .global vxEnterC
        .type vxEnterC, %function
vxEnterC:
        msr     cpsr_c, #0x5F
        ldr     r0, =__libc_init_array
        mov     lr, pc
        bx      r0
        mov     r0, #0
        mov     r1, #0
        ldr     r2, =main
        mov     lr, pc
        bx      r2
        ldr     r2, =_exit
        bx      r2
        .size vxEnterC, . - vxEnterC
        .pool

        .text
        .global _init
        .global _fini
        .type _init, %function
        .type _fini, %function
_init:
_fini:
        bx      lr
