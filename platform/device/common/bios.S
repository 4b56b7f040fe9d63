@ BIOS calls (../../library/bios.h). In ARM state the call number sits in bits 16-23 of the
@ instruction's field, since the BIOS reads only its top byte.
        .text
        .arm
        .align 2

@ Halts until the next vertical blank has been served (VBlankIntrWait:
@ forget older ones, then wait for a new one). Sets the master enable.
        .global vxBiosVBlankIntrWait
        .type vxBiosVBlankIntrWait, %function
vxBiosVBlankIntrWait:
        swi     0x050000
        bx      lr
        .size vxBiosVBlankIntrWait, . - vxBiosVBlankIntrWait

@ WaitByLoop: r0 loops of four cycles.
        .global vxBiosDelay
        .type vxBiosDelay, %function
vxBiosDelay:
        swi     0x030000
        bx      lr
        .size vxBiosDelay, . - vxBiosDelay
