// What the device back-end's own files share: registers the programs never
// name, the BIOS interface and the memory map. Everything here is the device
// back-end's business, not the programs'.
#ifndef VX_DEVICE_DEVICE_H
#define VX_DEVICE_DEVICE_H

#include <nds.h>

#include "bios.h"
#include "memory_map.h"

// Main memory is seen twice by the main processor: cached at 0x02000000 and
// uncached through its mirror 4 MB higher. Data the co-processor also reads
// or writes goes through the uncached view.
#define VX_MAIN_RAM vxshared::kMainRam
#define VX_MAIN_RAM_SIZE vxshared::kMainRamSize
#define VX_UNCACHED_MIRROR vxshared::kUncachedMirror

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

#endif
