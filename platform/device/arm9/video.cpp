// Video-memory banks. Their control registers cannot be read back, so the
// library keeps what it last wrote, to hand back the previous setting.
#include "device.h"

namespace {

uint8_t banks[5];  // A-E as last written

// Bank E has no offset field: its mode bits stop at bit 2.
constexpr uint8_t kBankMask = 0x9F, kBankEMask = 0x87;

uint8_t control(int value, uint8_t mask) { return static_cast<uint8_t>((VRAM_ENABLE | value) & mask); }

}  // namespace

extern "C" {

uint32 vramSetMainBanks(VRAM_A_TYPE a, VRAM_B_TYPE b, VRAM_C_TYPE c, VRAM_D_TYPE d) {
    const uint32_t previous = banks[0] | banks[1] << 8 | banks[2] << 16 | static_cast<uint32_t>(banks[3]) << 24;
    banks[0] = control(a, kBankMask);
    banks[1] = control(b, kBankMask);
    banks[2] = control(c, kBankMask);
    banks[3] = control(d, kBankMask);
    // One word covers A-D and stops short of the work-memory control byte.
    VRAM_CR = banks[0] | banks[1] << 8 | banks[2] << 16 | static_cast<uint32_t>(banks[3]) << 24;
    return previous;
}

void vramSetBankA(VRAM_A_TYPE a) { VRAM_A_CR = banks[0] = control(a, kBankMask); }
void vramSetBankB(VRAM_B_TYPE b) { VRAM_B_CR = banks[1] = control(b, kBankMask); }
void vramSetBankC(VRAM_C_TYPE c) { VRAM_C_CR = banks[2] = control(c, kBankMask); }
void vramSetBankD(VRAM_D_TYPE d) { VRAM_D_CR = banks[3] = control(d, kBankMask); }
void vramSetBankE(VRAM_E_TYPE e) { VRAM_E_CR = banks[4] = control(e, kBankEMask); }

}  // extern "C"
