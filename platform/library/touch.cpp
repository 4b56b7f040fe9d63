// The touch-screen controller on the serial bus: 12-bit conversions of its
// channels (position, pressure, battery, auxiliary input, temperature
// diodes), and positions turned into pixels with the calibration the
// firmware leaves in main memory.
#include "hooks.h"
#include "memory_map.h"
#include "serial.h"

namespace {

// Command bytes: start bit, channel in bits 4-6, 12-bit differential mode
// (single-ended for the temperature diodes, whose power-down field is 1).
constexpr uint8_t kMeasureX = 0xD0, kMeasureY = 0x90, kMeasureZ1 = 0xB0, kMeasureZ2 = 0xC0;
constexpr uint8_t kMeasureTemp1 = 0x85, kMeasureTemp2 = 0xF5;

// Touch calibration in the firmware's user settings, copied to main memory
// by the boot loader: two reference points as converter values and pixels.
struct Calibration {
    uint16_t adcX1, adcY1;
    uint8_t scrX1, scrY1;  // 1-based pixels
    uint16_t adcX2, adcY2;
    uint8_t scrX2, scrY2;
} __attribute__((packed));
static_assert(sizeof(Calibration) == 12);
const volatile Calibration& calibration() {
    return *reinterpret_cast<const volatile Calibration*>(vxshared::kBootTouchCalibration);
}

void waitIdle() {
    while (REG_SPICNT & SPI_BUSY) {
    }
}

uint8_t transfer(uint16_t control, uint8_t out) {
    REG_SPICNT = control;
    REG_SPIDATA = out;
    waitIdle();
    return static_cast<uint8_t>(REG_SPIDATA);
}

int toPixel(int adc, int adc1, int adc2, int scr1, int scr2) {
    if (adc2 == adc1) return 0;
    return (adc - adc1) * (scr2 - scr1) / (adc2 - adc1) + scr1 - 1;
}

}  // namespace

extern "C" {

// Command byte out, then two bytes in: one idle bit, 12 data bits, 3 zeros.
uint16 touchRead(uint32 command) {
    VX_LIB_CALL(Co, "touchRead");
    constexpr uint16_t hold = SPI_ENABLE | SPI_HOLD_SELECT | SPI_DEVICE_TOUCH | SPI_2MHZ;
    constexpr uint16_t last = SPI_ENABLE | SPI_DEVICE_TOUCH | SPI_2MHZ;
    waitIdle();
    transfer(hold, static_cast<uint8_t>(command));
    const uint8_t high = transfer(hold, 0);
    const uint8_t low = transfer(last, 0);  // chip select drops after this byte
    return static_cast<uint16>(((high << 8 | low) >> 3) & 0x0FFF);
}

touchPosition touchReadXY(void) {
    VX_LIB_CALL(Co, "touchReadXY");
    touchPosition p{};
    // With the pen up there is no position: the conversions are noise, and
    // the calibration would turn them into pixels off the screen.
    if (REG_KEYXY & XKEY_PEN_UP) return p;
    p.x = static_cast<int16>(touchRead(kMeasureX));
    p.y = static_cast<int16>(touchRead(kMeasureY));
    p.z1 = static_cast<int16>(touchRead(kMeasureZ1));
    p.z2 = static_cast<int16>(touchRead(kMeasureZ2));
    const volatile Calibration& c = calibration();
    p.px = static_cast<int16>(toPixel(p.x, c.adcX1, c.adcX2, c.scrX1, c.scrX2));
    p.py = static_cast<int16>(toPixel(p.y, c.adcY1, c.adcY2, c.scrY1, c.scrY2));
    return p;
}

// The two diodes' conversions, and from their difference the temperature in
// degrees Celsius, 20.12 fixed point (8568/4096 K per step of the difference).
uint32 touchReadTemperature(int* t1, int* t2) {
    VX_LIB_CALL(Co, "touchReadTemperature");
    const int first = touchRead(kMeasureTemp1);
    const int second = touchRead(kMeasureTemp2);
    if (t1) *t1 = first;
    if (t2) *t2 = second;
    return static_cast<uint32>((second - first) * 8568 - 273 * 4096);
}

}  // extern "C"
