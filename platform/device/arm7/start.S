@ Reset code of the co-processor (ARM7TDMI). The boot loader has copied the
@ program into the co-processor's own work memory and enters here in ARM
@ state. Order: interrupts off; a stack per mode; sections cleared;
@ interrupt vector for the BIOS; the bus mode the clock needs;
@ constructors; main.
#include "fault.h"
#include "memory_map.h"
#include "start_steps.inc"

        VX_START_ENTRY

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

        VX_START_EXIT
