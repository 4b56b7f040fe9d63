// What the device library's own files share: registers the programs never
// name, BIOS entry points and the interrupt service routine. Everything here
// is the device back-end's business, not the programs'.
#ifndef VX_DEVICE_DEVICE_H
#define VX_DEVICE_DEVICE_H

#include <nds.h>

// Interrupt check flags, which the BIOS wait calls test and clear: the
// dispatcher ORs every interrupt it served into this word.
#ifdef VX_ARM9
#define VX_BIOS_IRQ_FLAGS (*(volatile uint32_t*)0x0B003FF8)  // end of DTCM
#define VX_BIOS_IRQ_HANDLER (*(volatile uint32_t*)0x0B003FFC)
#else
#define VX_BIOS_IRQ_FLAGS (*(volatile uint32_t*)0x0380FFF8)  // end of the co-processor's work memory
#define VX_BIOS_IRQ_HANDLER (*(volatile uint32_t*)0x0380FFFC)
#endif

// Main memory is seen twice by the main processor: cached at 0x02000000 and
// uncached through its mirror 4 MB higher. Data the co-processor also reads
// or writes goes through the uncached view.
#define VX_MAIN_RAM 0x02000000u
#define VX_MAIN_RAM_SIZE 0x00400000u
#define VX_UNCACHED_MIRROR 0x00400000u

// Serial bus (co-processor): touch controller, firmware, power manager.
#define REG_SPICNT VX_IO16(0x040001C0)
#define REG_SPIDATA VX_IO16(0x040001C2)
#define SPI_BUSY BIT(7)
#define SPI_DEVICE_TOUCH (2 << 8)
#define SPI_HOLD_SELECT BIT(11)  // keep the chip selected for the next byte
#define SPI_ENABLE BIT(15)
#define SPI_2MHZ 1

// Real-time clock port (co-processor) and the register that routes it.
#define REG_RTC VX_IO8(0x04000138)
#define REG_RCNT VX_IO16(0x04000134)
#define RCNT_GENERAL_PURPOSE 0x8000  // the mode the clock and the extra keys need

extern "C" {
// The assembly entry that the BIOS calls on an interrupt.
void vxIrqEntry(void);
// Serves the interrupts in `fired` (already acknowledged), lowest bit first.
void vxIrqService(uint32_t fired);
// BIOS: wait about `count` loops of four cycles each.
void vxBiosDelay(uint32_t count);
}

#endif
