#include "video_memory.h"

#include "memory_map.h"

namespace vxsim {

namespace {

using namespace vxshared;

constexpr Register kRegisters[] = {
    {0x04000240, 4, SeenBy::Main, "VRAM_CR", 0, kNameOnly},  // A to D in one access
    {0x04000240, 1, SeenBy::Main, "VRAM_A_CR", 0},          {0x04000241, 1, SeenBy::Main, "VRAM_B_CR", 1},
    {0x04000242, 1, SeenBy::Main, "VRAM_C_CR", 2},          {0x04000243, 1, SeenBy::Main, "VRAM_D_CR", 3},
    {0x04000244, 1, SeenBy::Main, "VRAM_E_CR", 4},
};

// Banks A-D: the use in bits 0-2, an offset in 3-4, the enable in 7. Bank E
// has no offset.
constexpr uint8_t kControlBits = 0x9F, kControlBitsE = 0x87;

// Where the main processor sees each bank in its LCD (use 0) setting.
constexpr uint32_t kLcdAddress[kVramBanks] = {kVramLcd, kVramLcd + 0x20000, kVramLcd + 0x40000, kVramLcd + 0x60000,
                                              kVramLcd + 0x80000};

// The processor address of a bank under its control value, or 0 where it
// is hidden.
uint32_t bankAddress(int bank, VramCnt c) {
    if (!c.enabled()) return 0;
    switch (c.use()) {
    case 0:
        return kLcdAddress[bank];
    case 1:  // main engine backgrounds, 128 KB steps
        return bank == 4 ? kMainBackgrounds : kMainBackgrounds + 0x20000 * c.offset();
    case 2:  // main engine sprites
        if (bank == 0 || bank == 1) return kMainSprites + 0x20000 * (c.offset() & 1);
        if (bank == 4) return kMainSprites;
        return 0;  // C and D here belong to the co-processor
    case 4:        // C: sub engine backgrounds, D: sub engine sprites
        if (bank == 2) return kSubBackgrounds;
        if (bank == 3) return kSubSprites;
        return 0;
    default:
        return 0;
    }
}

}  // namespace

std::span<const Register> VideoMemory::registers() const { return kRegisters; }

uint32_t VideoMemory::read(Cpu, unsigned id, bool) { return control_[id].bits; }

void VideoMemory::write(Cpu, unsigned id, uint32_t value, uint32_t) {
    setControl(static_cast<int>(id), static_cast<uint8_t>(value));
}

void VideoMemory::setControl(int bank, uint8_t value) {
    control_[bank].bits = value & (bank == 4 ? kControlBitsE : kControlBits);
    std::vector<Memory::BankMapping> shown;
    for (int b = 0; b < kVramBanks; ++b) {
        if (uint32_t address = bankAddress(b, control_[b])) shown.push_back({b, address});
    }
    memory_.mapBanks(shown);
}

}  // namespace vxsim
