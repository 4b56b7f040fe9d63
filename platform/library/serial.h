// Registers of the co-processor's serial devices, which programs never name:
// the serial bus (touch controller, firmware flash, power-management chip)
// and the clock's port.
#ifndef VX_LIBRARY_SERIAL_H
#define VX_LIBRARY_SERIAL_H

#include <nds.h>

#define REG_SPICNT VX_IO16(0x040001C0)
#define REG_SPIDATA VX_IO16(0x040001C2)
#define SPI_BUSY BIT(7)
#define SPI_DEVICE_TOUCH (2 << 8)
#define SPI_HOLD_SELECT BIT(11)  // keep the chip selected for the next byte
#define SPI_ENABLE BIT(15)
#define SPI_2MHZ 1

// The clock's port and the register that routes it.
#define REG_RTC VX_IO8(0x04000138)
#define REG_RCNT VX_IO16(0x04000134)
#define RCNT_GENERAL_PURPOSE 0x8000  // the mode the clock and the extra keys need

#endif
