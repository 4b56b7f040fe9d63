#include "display_control.h"

namespace vxsim {

namespace {

// Ids: the engine in bit 5, then 0 for DISPCNT, 1-4 for BG0CNT-BG3CNT,
// 8-15 for the scroll offsets (BG0 x, BG0 y, BG1 x ...).
constexpr uint8_t kSub = 0x20, kControl = 0, kBackground = 1, kScroll = 8;

constexpr Register kRegisters[] = {
    {0x04000000, 4, SeenBy::Main, "DISPLAY_CR", kControl},
    {0x04000008, 2, SeenBy::Main, "BG0_CR", kBackground + 0},
    {0x0400000A, 2, SeenBy::Main, "BG1_CR", kBackground + 1},
    {0x0400000C, 2, SeenBy::Main, "BG2_CR", kBackground + 2},
    {0x0400000E, 2, SeenBy::Main, "BG3_CR", kBackground + 3},
    {0x04000010, 2, SeenBy::Main, nullptr, kScroll + 0},
    {0x04000012, 2, SeenBy::Main, nullptr, kScroll + 1},
    {0x04000014, 2, SeenBy::Main, nullptr, kScroll + 2},
    {0x04000016, 2, SeenBy::Main, nullptr, kScroll + 3},
    {0x04000018, 2, SeenBy::Main, nullptr, kScroll + 4},
    {0x0400001A, 2, SeenBy::Main, nullptr, kScroll + 5},
    {0x0400001C, 2, SeenBy::Main, nullptr, kScroll + 6},
    {0x0400001E, 2, SeenBy::Main, nullptr, kScroll + 7},
    {0x04001000, 4, SeenBy::Main, "SUB_DISPLAY_CR", kSub | kControl},
    {0x04001008, 2, SeenBy::Main, "SUB_BG0_CR", kSub | (kBackground + 0)},
    {0x0400100A, 2, SeenBy::Main, "SUB_BG1_CR", kSub | (kBackground + 1)},
    {0x0400100C, 2, SeenBy::Main, "SUB_BG2_CR", kSub | (kBackground + 2)},
    {0x0400100E, 2, SeenBy::Main, "SUB_BG3_CR", kSub | (kBackground + 3)},
    {0x04001010, 2, SeenBy::Main, nullptr, kSub | (kScroll + 0)},
    {0x04001012, 2, SeenBy::Main, nullptr, kSub | (kScroll + 1)},
    {0x04001014, 2, SeenBy::Main, nullptr, kSub | (kScroll + 2)},
    {0x04001016, 2, SeenBy::Main, nullptr, kSub | (kScroll + 3)},
    {0x04001018, 2, SeenBy::Main, nullptr, kSub | (kScroll + 4)},
    {0x0400101A, 2, SeenBy::Main, nullptr, kSub | (kScroll + 5)},
    {0x0400101C, 2, SeenBy::Main, nullptr, kSub | (kScroll + 6)},
    {0x0400101E, 2, SeenBy::Main, nullptr, kSub | (kScroll + 7)},
};

// Scroll offsets are nine bits: a position within the largest (512-pixel) map.
constexpr uint16_t kScrollBits = 0x1FF;

}  // namespace

std::span<const Register> DisplayControl::registers() const { return kRegisters; }

uint32_t DisplayControl::read(Cpu, unsigned id, bool) {
    const EngineRegisters& e = engines_[id & kSub ? kSubEngine : kMainEngine];
    unsigned r = id & ~kSub;
    if (r == kControl) return e.control.bits;
    if (r < kScroll) return e.backgrounds[r - kBackground].bits;
    return 0;  // the scroll offsets are write-only
}

void DisplayControl::write(Cpu, unsigned id, uint32_t value, uint32_t mask) {
    EngineRegisters& e = engines_[id & kSub ? kSubEngine : kMainEngine];
    unsigned r = id & ~kSub;
    if (r == kControl) {
        e.control.bits = merge(e.control.bits, value, mask);
    } else if (r < kScroll) {
        uint16_t& bits = e.backgrounds[r - kBackground].bits;
        bits = static_cast<uint16_t>(merge(bits, value, mask));
    } else {
        uint16_t& offset = e.scroll[r - kScroll];
        offset = static_cast<uint16_t>(merge(offset, value, mask) & kScrollBits);
    }
}

}  // namespace vxsim
