// The real-time clock: a three-wire serial chip on the co-processor's clock
// port, driven bit by bit. Commands and data go least significant bit first;
// each clock edge is held a few microseconds.
#include "bios.h"
#include "hooks.h"
#include "serial.h"

namespace {

// Port bits: data, clock, chip select, and a direction bit for each.
constexpr uint8_t kData = 0x01, kClock = 0x02, kSelect = 0x04;
constexpr uint8_t kDataOut = 0x10, kClockOut = 0x20, kSelectOut = 0x40;

// Command bytes: fixed code 0110 in bits 0-3, register in bits 4-6, bit 7 read.
constexpr uint8_t kStatus1 = 0x06, kDateTime = 0x26;
constexpr uint8_t kRead = 0x80;

// Status register 1: reset (write), 24-hour mode, power was lost.
constexpr uint8_t kStatusReset = 0x01, kStatus24Hour = 0x02, kStatusPowerLost = 0x80;

// The clock wants each edge held at least 5 us (1 us around the chip select).
// Hold 7 us: the BIOS loop's rate (about 0x20BA passes a millisecond) is only
// approximate, and exactly 5 us leaves nothing for it to be slow by.
constexpr uint32_t kLoopsPerMs = 0x20BA, kHoldUs = 7;
constexpr uint32_t kHoldLoops = (kLoopsPerMs * kHoldUs + 999) / 1000;
static_assert(kHoldLoops * 1000 >= kLoopsPerMs * 6, "at least a fifth above the clock's minimum");
void settle() { vxBiosDelay(kHoldLoops); }

void begin() {
    REG_RTC = kSelectOut | kClockOut | kClock;  // deselected, clock high
    settle();
    REG_RTC = kSelectOut | kClockOut | kClock | kSelect;
    settle();
}

void end() {
    REG_RTC = kSelectOut | kClockOut | kClock;
    settle();
}

void sendByte(uint8_t value) {
    for (int bit = 0; bit < 8; ++bit) {
        const uint8_t data = (value >> bit) & 1;
        REG_RTC = kSelectOut | kClockOut | kDataOut | kSelect | data;
        settle();
        REG_RTC = kSelectOut | kClockOut | kDataOut | kSelect | kClock | data;
        settle();
    }
}

uint8_t receiveByte() {
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        REG_RTC = kSelectOut | kClockOut | kSelect;
        settle();
        REG_RTC = kSelectOut | kClockOut | kSelect | kClock;
        settle();
        value = static_cast<uint8_t>(value | (REG_RTC & kData) << bit);
    }
    return value;
}

void command(uint8_t cmd, uint8_t* data, int length) {
    begin();
    sendByte(cmd);
    for (int i = 0; i < length; ++i) {
        if (cmd & kRead) data[i] = receiveByte();
        else sendByte(data[i]);
    }
    end();
}

}  // namespace

extern "C" {

// A clock that lost power has no valid time: reset it. Either way run it in
// 24-hour mode, which the hours byte assumes.
void rtcReset(void) {
    VX_LIB_CALL(Co, "rtcReset");
    VX_LIB_TRACE("rtcReset()");
    uint8_t status = 0;
    command(kStatus1 | kRead, &status, 1);
    if (status & kStatusPowerLost) {
        uint8_t reset = kStatusReset;
        command(kStatus1, &reset, 1);
    }
    uint8_t mode = kStatus24Hour;
    command(kStatus1, &mode, 1);
}

// time[0]: status register 1; time[1..7]: year, month, day, weekday, hours,
// minutes, seconds in BCD (the hours without the afternoon flag).
void rtcGetTime(uint8* time) {
    VX_LIB_CALL(Co, "rtcGetTime");
    command(kStatus1 | kRead, &time[0], 1);
    command(kDateTime | kRead, &time[1], 7);
    time[5] &= 0x3F;
}

void BCDToInteger(uint8* data, uint32 length) {
    VX_LIB_CALL(Any, "BCDToInteger");
    for (uint32 i = 0; i < length; ++i) data[i] = static_cast<uint8>((data[i] >> 4) * 10 + (data[i] & 15));
}

}  // extern "C"
