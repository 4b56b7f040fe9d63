// The co-processor's serial bus (touch controller, firmware flash, power
// management) and the clock's serial port, driven register by register as
// the device's own library drives them.
#include <gtest/gtest.h>
#include <nds.h>

#include <array>
#include <cstring>

#include "handheld_fixture.h"

using namespace vxtest;
using vxsim::Cpu;

namespace {

// ------------------------------------------------------------ serial bus

const auto spiControl = VX_IO16(0x040001C0);
const auto spiData = VX_IO16(0x040001C2);
const auto timer0Data = VX_IO16(0x04000100);
const auto timer0Control = VX_IO16(0x04000102);
constexpr u16 kBusy = 0x0080, kHold = 0x0800, kSpiIrq = 0x4000, kEnable = 0x8000;
constexpr u16 kPowerChip = 0 << 8, kFlash = 1 << 8, kTouch = 2 << 8;
constexpr u16 k4MHz = 0, k2MHz = 1, k1MHz = 2, k512KHz = 3;

// Polls until the transfer is over; the count of busy polls.
int waitIdle() {
    int polls = 0;
    while ((spiControl & kBusy) && polls < 1000) ++polls;
    return polls;
}

u8 transfer(u16 control, u8 out) {
    spiControl = control;
    spiData = out;
    waitIdle();
    return static_cast<u8>(spiData);
}

// One conversion as the device's library reads it: command, then two bytes,
// the chip deselected after the last.
constexpr u16 kTouchHold = kEnable | kHold | kTouch | k2MHz, kTouchLast = kEnable | kTouch | k2MHz;
u16 convert(u8 command) {
    transfer(kTouchHold, command);
    const u8 high = transfer(kTouchHold, 0);
    const u8 low = transfer(kTouchLast, 0);
    return static_cast<u16>(((high << 8 | low) >> 3) & 0x0FFF);
}

// Commands: X, Y, Z1, Z2 (differential), battery, aux (single-ended),
// both temperature diodes (single-ended, converter left on).
constexpr u8 kCommands[8] = {0xD0, 0x90, 0xB0, 0xC0, 0xA4, 0xE4, 0x85, 0xF5};

struct TouchLog {
    u16 conv[8] = {};
    u16 eightBit = 0;
    u16 overlapped[2] = {};
    u8 afterDrop = 0xAA;
    u16 afterDropConversion = 0;
} touchLog;

int touchCo(int, char**) {
    irqInit();
    for (int i = 0; i < 8; ++i) touchLog.conv[i] = convert(kCommands[i]);
    // 8-bit mode: the conversion's top eight bits, seven places up.
    transfer(kTouchHold, 0xD8);
    u8 high = transfer(kTouchHold, 0);
    u8 low = transfer(kTouchLast, 0);
    touchLog.eightBit = static_cast<u16>(((high << 8 | low) >> 7) & 0xFF);
    // The next command goes out with the previous conversion's last byte.
    transfer(kTouchHold, 0xD0);
    high = transfer(kTouchHold, 0);
    low = transfer(kTouchHold, 0x90);
    touchLog.overlapped[0] = static_cast<u16>(((high << 8 | low) >> 3) & 0x0FFF);
    high = transfer(kTouchHold, 0);
    low = transfer(kTouchLast, 0);
    touchLog.overlapped[1] = static_cast<u16>(((high << 8 | low) >> 3) & 0x0FFF);
    // Deselected halfway, the controller forgets the conversion; the next
    // command works as ever.
    transfer(kTouchHold, 0xD0);
    transfer(kTouchLast, 0);
    touchLog.afterDrop = transfer(kTouchLast, 0);
    touchLog.afterDropConversion = convert(0x90);
    idleForever();
}

TEST(SerialBus, TouchConversionsOfEveryChannelAndTheirFraming) {
    auto h = Handheld::boot(nullptr, touchCo);
    h->machine.setTouch(true, 1000, 2000, 300, 3500);
    h->machine.setBattery(0x0ABC);
    h->machine.setAux(0x0123);
    h->machine.setTemperatureDiodes(0x0350, 0x0321);
    h->machine.runFrames(1);
    const u16 expected[8] = {1000, 2000, 300, 3500, 0x0ABC, 0x0123, 0x0350, 0x0321};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(touchLog.conv[i], expected[i]) << "command " << std::hex << +kCommands[i];
    EXPECT_EQ(touchLog.eightBit, 1000 >> 4);
    EXPECT_EQ(touchLog.overlapped[0], 1000);
    EXPECT_EQ(touchLog.overlapped[1], 2000);
    EXPECT_EQ(touchLog.afterDrop, 0) << "a conversion outlived its chip select";
    EXPECT_EQ(touchLog.afterDropConversion, 2000);
}

TEST(SerialBus, PenUpReadsNoPositionOrPressure) {
    auto h = Handheld::boot(nullptr, touchCo);
    h->machine.setTouch(false, 1000, 2000, 300, 3500);
    h->machine.setBattery(0x0ABC);
    h->machine.runFrames(1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(touchLog.conv[i], 0) << "command " << std::hex << +kCommands[i];
    EXPECT_EQ(touchLog.conv[4], 0x0ABC) << "the battery reads with the pen up too";
}

struct BusyLog {
    bool busyAtOnce = false, busyAfterwards = true;
    u8 dataWhileBusy = 0, dataAfter = 0;
    int polls = -1;
    u16 cycles = 0;
    u32 irqWithout = 1, irqWith = 0;
} busyLog;

int busyCo(int, char**) {
    irqInit();
    transfer(kTouchHold, 0xD0);
    transfer(kTouchHold, 0);  // the high byte of the conversion is now in SPIDATA
    timer0Control = 0;
    timer0Data = 0;
    timer0Control = 0x0080;  // running at the bus clock
    spiControl = kTouchLast;
    spiData = 0;
    busyLog.busyAtOnce = spiControl & kBusy;
    busyLog.dataWhileBusy = static_cast<u8>(spiData);
    busyLog.polls = waitIdle();
    busyLog.cycles = timer0Data;
    busyLog.busyAfterwards = spiControl & kBusy;
    busyLog.dataAfter = static_cast<u8>(spiData);
    // The end of a transfer requests IRQ_SPI only where the control asks.
    REG_IF = IRQ_SPI;
    transfer(kEnable | kPowerChip | k4MHz, 0x80);
    busyLog.irqWithout = REG_IF & IRQ_SPI;
    transfer(kEnable | kSpiIrq | kPowerChip | k4MHz, 0x80);
    busyLog.irqWith = REG_IF & IRQ_SPI;
    idleForever();
}

TEST(SerialBus, BusyForOneByteAtTheRateThenTheAnswerAndTheInterrupt) {
    auto h = Handheld::boot(nullptr, busyCo);
    h->machine.setTouch(true, 0x0ABC, 0, 0, 0);
    h->machine.runFrames(1);
    EXPECT_TRUE(busyLog.busyAtOnce);
    EXPECT_FALSE(busyLog.busyAfterwards);
    EXPECT_EQ(busyLog.dataWhileBusy, 0x0ABC >> 5) << "the previous answer until the byte is through";
    EXPECT_EQ(busyLog.dataAfter, (0x0ABC << 3) & 0xFF);
    // Eight bits at 2 MHz are 128 bus cycles; a program polling the busy
    // bit skips ahead to the end instead of spinning through them.
    EXPECT_GE(busyLog.cycles, 128);
    EXPECT_LT(busyLog.cycles, 128 + 48);
    EXPECT_LE(busyLog.polls, 3);
    EXPECT_EQ(busyLog.irqWithout, 0u);
    EXPECT_EQ(busyLog.irqWith, static_cast<u32>(IRQ_SPI));
}

// ------------------------------------------------- firmware and calibration

// Firmware bytes from `address` on, read with the flash's READ command.
void readFlash(u32 address, u8* out, int size) {
    constexpr u16 hold = kEnable | kHold | kFlash | k4MHz, last = kEnable | kFlash | k4MHz;
    transfer(hold, 0x03);
    transfer(hold, static_cast<u8>(address >> 16));
    transfer(hold, static_cast<u8>(address >> 8));
    transfer(hold, static_cast<u8>(address));
    for (int i = 0; i < size; ++i) out[i] = transfer(i + 1 < size ? hold : last, 0);
}

struct FirmwareLog {
    u8 header[2] = {};
    u8 settings[2][0x70] = {};
    u8 inMemory[0x70] = {};
    u8 status = 0xFF;
    u8 id[3] = {};
    int px = -1, py = -1;
} fwLog;

int toPixel(int adc, int adc1, int adc2, int scr1, int scr2) {
    return (adc - adc1) * (scr2 - scr1) / (adc2 - adc1) + scr1 - 1;
}

int firmwareCo(int, char**) {
    irqInit();
    readFlash(0x20, fwLog.header, 2);
    const u32 settings = (fwLog.header[0] | fwLog.header[1] << 8) * 8u;
    readFlash(settings, fwLog.settings[0], 0x70);
    readFlash(settings + 0x100, fwLog.settings[1], 0x70);
    std::memcpy(fwLog.inMemory, reinterpret_cast<const void*>(0x027FFC80), 0x70);
    constexpr u16 hold = kEnable | kHold | kFlash | k4MHz, last = kEnable | kFlash | k4MHz;
    transfer(hold, 0x05);
    fwLog.status = transfer(last, 0);
    transfer(hold, 0x9F);
    for (int i = 0; i < 3; ++i) fwLog.id[i] = transfer(i < 2 ? hold : last, 0);
    // The pen's position through the calibration the boot loader left, as
    // the device's library computes it.
    const u8* c = fwLog.inMemory + 0x58;
    auto u16at = [c](int at) { return c[at] | c[at + 1] << 8; };
    fwLog.px = toPixel(convert(0xD0), u16at(0), u16at(6), c[4], c[10]);
    fwLog.py = toPixel(convert(0x90), u16at(2), u16at(8), c[5], c[11]);
    idleForever();
}

TEST(SerialBus, FirmwareHoldsTheCalibrationTheBootLoaderLeavesAndPixelsRoundTrip) {
    auto h = Handheld::boot(nullptr, firmwareCo);
    const vxsim::TouchRaw raw = h->machine.touchRawAt(200, 100);
    h->machine.setTouch(true, raw.x, raw.y, 300, 3500);
    h->machine.runFrames(1);
    EXPECT_EQ(fwLog.header[0] | fwLog.header[1] << 8, 0x3FE00 / 8);
    EXPECT_EQ(fwLog.settings[0][0], 5) << "settings version";
    EXPECT_EQ(0, std::memcmp(fwLog.settings[0], fwLog.settings[1], 0x70)) << "both copies alike";
    EXPECT_EQ(0, std::memcmp(fwLog.settings[0], fwLog.inMemory, 0x70)) << "main memory holds the flash's settings";
    EXPECT_EQ(fwLog.status, 0);
    EXPECT_EQ((std::array<u8, 3>{fwLog.id[0], fwLog.id[1], fwLog.id[2]}), (std::array<u8, 3>{0x20, 0x40, 0x12}));
    EXPECT_EQ(fwLog.px, 200);
    EXPECT_EQ(fwLog.py, 100);

    // Every pixel of the lower screen, through the calibration in memory.
    u8 c[12];
    ASSERT_TRUE(h->machine.readMemory(0x027FFCD8, c, sizeof c));
    EXPECT_EQ(0, std::memcmp(c, fwLog.settings[0] + 0x58, sizeof c));
    auto u16at = [&c](int at) { return c[at] | c[at + 1] << 8; };
    int wrong = 0;
    for (int y = 0; y < vxsim::kScreenHeight; ++y) {
        for (int x = 0; x < vxsim::kScreenWidth; ++x) {
            const vxsim::TouchRaw r = h->machine.touchRawAt(x, y);
            const bool inRange = r.x > 0 && r.x < 0x1000 && r.y > 0 && r.y < 0x1000;
            if (!inRange || toPixel(r.x, u16at(0), u16at(6), c[4], c[10]) != x ||
                toPixel(r.y, u16at(2), u16at(8), c[5], c[11]) != y) {
                if (++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y << " raw " << r.x << "," << r.y;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

// ------------------------------------------------------ power management

struct PowerLog {
    u8 control = 0, level = 0, battery = 0xFF, unknown = 0xFF, afterOff = 0;
    bool ranOn = false;
} powerLog;

constexpr u16 kPowerHold = kEnable | kHold | kPowerChip | k1MHz, kPowerLast = kEnable | kPowerChip | k1MHz;
void powerWrite(u8 reg, u8 value) {
    transfer(kPowerHold, reg);
    transfer(kPowerLast, value);
}
u8 powerRead(u8 reg) {
    transfer(kPowerHold, static_cast<u8>(reg | 0x80));
    return transfer(kPowerLast, 0);
}

int powerCo(int, char**) {
    irqInit();
    powerWrite(0, 0x0C);  // both backlights, amplifier off
    powerWrite(4, 0x02);
    powerWrite(1, 0x01);  // the battery state is not the program's to set
    powerLog.control = powerRead(0);
    powerLog.level = powerRead(4);
    powerLog.battery = powerRead(1);
    powerLog.unknown = powerRead(0x15);
    powerWrite(0, 0x40);
    powerLog.afterOff = powerRead(0);
    powerLog.ranOn = true;
    idleForever();
}

TEST(SerialBus, PowerManagementRegistersRoundTripAndPowerOffIsOnlyTraced) {
    auto h = Handheld::boot(nullptr, powerCo);
    h->machine.runFrames(1);
    EXPECT_EQ(powerLog.control, 0x0C);
    EXPECT_EQ(powerLog.level, 0x02);
    EXPECT_EQ(powerLog.battery, 0x00);
    EXPECT_EQ(powerLog.unknown, 0x00);
    EXPECT_EQ(powerLog.afterOff, 0x40);
    EXPECT_TRUE(powerLog.ranOn);
    EXPECT_EQ(h->count(Cpu::Co, TraceKind::IoWrite, "power management register 0=0x40 (power off: ignored)"), 1);
}

// ------------------------------------------------------- clock serial port

const auto rtcPort = VX_IO8(0x04000138);
constexpr u8 kData = 0x01, kClock = 0x02, kSelect = 0x04, kDataOut = 0x10, kClockOut = 0x20, kSelectOut = 0x40;
constexpr u8 kStatus1 = 0x06, kDateTime = 0x26, kTime = 0x36, kRead = 0x80;

// One command as the device's library sends it: chip select up with the
// clock high, then each bit least significant first, on a rising edge.
void rtcCommand(u8 command, u8* data, int length) {
    rtcPort = kSelectOut | kClockOut | kClock;
    rtcPort = kSelectOut | kClockOut | kClock | kSelect;
    auto send = [](u8 value) {
        for (int bit = 0; bit < 8; ++bit) {
            const u8 d = (value >> bit) & 1;
            rtcPort = kSelectOut | kClockOut | kDataOut | kSelect | d;
            rtcPort = kSelectOut | kClockOut | kDataOut | kSelect | kClock | d;
        }
    };
    send(command);
    for (int i = 0; i < length; ++i) {
        if (!(command & kRead)) {
            send(data[i]);
            continue;
        }
        u8 value = 0;
        for (int bit = 0; bit < 8; ++bit) {
            rtcPort = kSelectOut | kClockOut | kSelect;
            rtcPort = kSelectOut | kClockOut | kSelect | kClock;
            value = static_cast<u8>(value | (rtcPort & kData) << bit);
        }
        data[i] = value;
    }
    rtcPort = kSelectOut | kClockOut | kClock;
}

using Bytes7 = std::array<u8, 7>;

struct ClockLog {
    u8 status[2] = {0xAA, 0xAA};
    Bytes7 twelveHour{}, twentyFourHour{}, written{}, afterBadDate{}, afterReset{};
    std::array<u8, 3> time{};
    u8 statusAfterReset = 0xAA;
} clockLog;

int clockCo(int, char**) {
    irqInit();
    rtcCommand(kStatus1 | kRead, &clockLog.status[0], 1);
    rtcCommand(kStatus1 | kRead, &clockLog.status[1], 1);
    rtcCommand(kDateTime | kRead, clockLog.twelveHour.data(), 7);
    u8 mode = 0x02;
    rtcCommand(kStatus1, &mode, 1);
    rtcCommand(kDateTime | kRead, clockLog.twentyFourHour.data(), 7);
    rtcCommand(kTime | kRead, clockLog.time.data(), 3);
    Bytes7 date = {0x30, 0x12, 0x31, 0x02, 0x08, 0x07, 0x06};
    rtcCommand(kDateTime, date.data(), 7);
    rtcCommand(kDateTime | kRead, clockLog.written.data(), 7);
    Bytes7 bad = {0x30, 0x02, 0x30, 0x02, 0x08, 0x07, 0x06};  // 30 February
    rtcCommand(kDateTime, bad.data(), 7);
    rtcCommand(kDateTime | kRead, clockLog.afterBadDate.data(), 7);
    idleForever();
}

TEST(ClockPort, DateAndTimeInBcdInBothHourModesAndWrittenBack) {
    auto h = Handheld::boot(nullptr, clockCo);
    h->machine.setClock(vxsim::RtcTime{2026, 3, 14, 6, 23, 59, 58}, 0x80);
    h->machine.runFrames(1);
    EXPECT_EQ(clockLog.status[0], 0x80) << "power was lost";
    EXPECT_EQ(clockLog.status[1], 0x00) << "reading cleared it";
    EXPECT_EQ(clockLog.twelveHour, (Bytes7{0x26, 0x03, 0x14, 0x06, 0x51, 0x59, 0x58})) << "11 p.m.";
    EXPECT_EQ(clockLog.twentyFourHour, (Bytes7{0x26, 0x03, 0x14, 0x06, 0x63, 0x59, 0x58}));
    EXPECT_EQ(clockLog.time, (std::array<u8, 3>{0x63, 0x59, 0x58}));
    EXPECT_EQ(clockLog.written, (Bytes7{0x30, 0x12, 0x31, 0x02, 0x08, 0x07, 0x06}));
    EXPECT_EQ(clockLog.afterBadDate, clockLog.written) << "a date that does not exist is ignored";
    // One trace entry for a whole command.
    EXPECT_EQ(h->count(Cpu::Co, TraceKind::IoWrite, "REG_RTC clock 0xA6 read date-time: 26 03 14 06 63 59 58"), 1);
}

int clockResetCo(int, char**) {
    irqInit();
    u8 reset = 0x01;
    rtcCommand(kStatus1, &reset, 1);
    rtcCommand(kStatus1 | kRead, &clockLog.statusAfterReset, 1);
    rtcCommand(kDateTime | kRead, clockLog.afterReset.data(), 7);
    idleForever();
}

TEST(ClockPort, ResetStartsAtTheCenturyAndClearsPowerLost) {
    auto h = Handheld::boot(nullptr, clockResetCo);
    h->machine.setClock(vxsim::RtcTime{2026, 3, 14, 6, 23, 59, 58}, 0x82);
    h->machine.runFrames(1);
    EXPECT_EQ(clockLog.statusAfterReset, 0x00);
    EXPECT_EQ(clockLog.afterReset, (Bytes7{0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
