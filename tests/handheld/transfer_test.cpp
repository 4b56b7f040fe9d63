// The co-processor's vertical-blank sampling into the transfer region at
// 0x027FF000, with no main-processor program at all: the region is kept
// current from the co-processor's start, before any handshake.
#include "handheld.h"

namespace hhtest {
namespace {

// Byte offsets of the region's fields.
enum : int {
    kTouchX = 0,
    kTouchY = 2,
    kTouchXpx = 4,
    kTouchYpx = 6,
    kTouchZ1 = 8,
    kTouchZ2 = 10,
    kDiode1 = 12,
    kDiode2 = 14,
    kTemperature = 16,
    kButtons = 20,
    kTime = 22,
    kUnixTime = 32,
    kBattery = 36,
    kAux = 38,
    kSoundData = 40,
    kMailAddr = 44,
    kMailData = 48,
    kMailRead = 52,
    kMailBusy = 53,
    kMailSize = 56,
};

struct CoAlone {
    explicit CoAlone(bool powerOn = true) : h({}, vxsim::ProgramImage{}, realProgram(Cpu::Co), powerOn) {}
    uint32_t keyXY() const { return h.machine.peekIo(Cpu::Co, 0x04000136, 2); }
    Handheld h;
};

TEST(TransferRegion, PenDownGivesThePositionAndPenUpWritesZeros) {
    CoAlone co;
    const vxsim::TouchRaw raw = co.h.machine.touchRawAt(100, 80);
    co.h.machine.setTouch(true, raw.x, raw.y, 300, 3000);
    co.h.machine.runFrames(3);
    EXPECT_EQ(transferField(co.h, kTouchX, 2), static_cast<uint32_t>(raw.x));
    EXPECT_EQ(transferField(co.h, kTouchY, 2), static_cast<uint32_t>(raw.y));
    EXPECT_EQ(transferField(co.h, kTouchXpx, 2), 100u);
    EXPECT_EQ(transferField(co.h, kTouchYpx, 2), 80u);
    EXPECT_EQ(transferField(co.h, kTouchZ1, 2), 300u);
    EXPECT_EQ(transferField(co.h, kTouchZ2, 2), 3000u);
    // The extra-keys register as read: the pen-down bit (6) clear.
    EXPECT_EQ(transferField(co.h, kButtons, 2), co.keyXY());
    EXPECT_EQ(transferField(co.h, kButtons, 2) & 0x40u, 0u);

    co.h.machine.setTouch(false);
    co.h.machine.setKeys(kX);
    co.h.machine.runFrames(1);
    for (int field : {kTouchX, kTouchY, kTouchXpx, kTouchYpx}) EXPECT_EQ(transferField(co.h, field, 2), 0u) << field;
    EXPECT_EQ(transferField(co.h, kButtons, 2), co.keyXY());
    EXPECT_EQ(transferField(co.h, kButtons, 2) & 0x41u, 0x40u);  // pen up, X held
}

TEST(TransferRegion, ClockIsConvertedFromBcdExceptItsFirstByte) {
    CoAlone co(false);
    // A status byte that BCD conversion would change (0x59 -> 59).
    co.h.machine.setClock(vxsim::RtcTime{2026, 12, 31, 4, 23, 59, 58}, 0x59);
    co.h.machine.powerOn();
    co.h.machine.runFrames(3);
    std::vector<uint32_t> got;
    for (int i = 0; i < 8; ++i) got.push_back(transferField(co.h, kTime + i, 1));
    // rtcReset at start-up set 24-hour mode (bit 1) and cleared the
    // writable bits 0 and 3; 0x52 would still read 52 converted.
    EXPECT_EQ(got, (std::vector<uint32_t>{0x52, 26, 12, 31, 4, 23, 59, 58}));
    co.h.machine.setClock(vxsim::RtcTime{2099, 1, 9, 6, 8, 7, 0}, 0x00);
    co.h.machine.runFrames(1);
    got.clear();
    for (int i = 0; i < 8; ++i) got.push_back(transferField(co.h, kTime + i, 1));
    EXPECT_EQ(got, (std::vector<uint32_t>{0x00, 99, 1, 9, 6, 8, 7, 0}));
}

// The temperature follows from the diodes' difference, below freezing too:
// the field holds the 20.12 value as computed, sign and all.
TEST(TransferRegion, TemperatureComesFromTheDiodesAsRead) {
    CoAlone co;
    co.h.machine.setTemperatureDiodes(0x0FFF, 0x0F00);
    co.h.machine.runFrames(3);
    EXPECT_EQ(transferField(co.h, kTemperature, 4), static_cast<uint32_t>(-0xFF * 8568 - 273 * 4096));
    EXPECT_EQ(transferField(co.h, kDiode1, 2), 0x0FFFu);
    EXPECT_EQ(transferField(co.h, kDiode2, 2), 0x0F00u);
}

TEST(TransferRegion, EveryFrameGetsFreshReadings) {
    CoAlone co;
    co.h.machine.runFrames(2);
    for (uint16_t i = 0; i < 8; ++i) {
        co.h.machine.setBattery(static_cast<uint16_t>(0x100 + i));
        co.h.machine.setAux(static_cast<uint16_t>(0x200 + 3 * i));
        co.h.machine.setTouch(i % 2 == 0, 400 + i, 500 + i, 30 + i, 40 + i);
        co.h.machine.runFrames(1);
        SCOPED_TRACE(i);
        EXPECT_EQ(transferField(co.h, kBattery, 2), 0x100u + i);
        EXPECT_EQ(transferField(co.h, kAux, 2), 0x200u + 3 * i);
        EXPECT_EQ(transferField(co.h, kTouchX, 2), i % 2 == 0 ? 400u + i : 0u);
        EXPECT_EQ(transferField(co.h, kTouchZ1, 2), i % 2 == 0 ? 30u + i : 0u);
        EXPECT_EQ(transferField(co.h, kButtons, 2), co.keyXY());
    }
}

TEST(TransferRegion, UnixTimeSoundDataAndMailFieldsAreLeftAlone) {
    CoAlone co(false);
    const std::pair<int, int> fields[] = {{kUnixTime, 4}, {kMailAddr, 4}, {kMailData, 4},
                                          {kMailRead, 1}, {kMailBusy, 1}, {kMailSize, 4}};
    auto sentinel = [](int offset, int bytes) {
        return (0xA5C3E100u + static_cast<uint32_t>(offset)) >> (32 - 8 * bytes);
    };
    for (auto [offset, bytes] : fields) setTransferField(co.h, offset, bytes, sentinel(offset, bytes));
    setTransferField(co.h, kSoundData, 4, 0xDEADBEEF);
    co.h.machine.powerOn();
    co.h.machine.runFrames(3);
    // Start-up clears soundData once ...
    EXPECT_EQ(transferField(co.h, kSoundData, 4), 0u);
    // ... and the frame handler never touches it, nor the others.
    setTransferField(co.h, kSoundData, 4, 0x0BADF00D);
    co.h.machine.setTouch(true, 1, 2, 5, 6);
    co.h.machine.runFrames(10);
    EXPECT_EQ(transferField(co.h, kSoundData, 4), 0x0BADF00Du);
    for (auto [offset, bytes] : fields)
        EXPECT_EQ(transferField(co.h, offset, bytes), sentinel(offset, bytes)) << offset;
}

}  // namespace
}  // namespace hhtest
