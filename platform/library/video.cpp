// Video-memory banks. Their control registers read back nothing on the
// device, so the library keeps what it last wrote, to hand back the previous
// setting.
#include <nds.h>

#include "hooks.h"
#include "locals.h"

using vxlib::locals;

namespace {

// Bank E has no offset field: its mode bits stop at bit 2.
constexpr uint8_t kBankMask = 0x9F, kBankEMask = 0x87;

uint8_t control(int value, uint8_t mask) { return static_cast<uint8_t>((VRAM_ENABLE | value) & mask); }

// Banks A-D as the one control word holds them, A in the low byte.
uint32_t mainBanks(const uint8_t* banks) {
    return banks[0] | banks[1] << 8 | banks[2] << 16 | static_cast<uint32_t>(banks[3]) << 24;
}

}  // namespace

extern "C" {

uint32 vramSetMainBanks(VRAM_A_TYPE a, VRAM_B_TYPE b, VRAM_C_TYPE c, VRAM_D_TYPE d) {
    VX_LIB_CALL(Main, "vramSetMainBanks");
    VX_LIB_TRACE("vramSetMainBanks(%d,%d,%d,%d)", a, b, c, d);
    uint8_t* banks = locals().banks;
    const uint32_t previous = mainBanks(banks);
    banks[0] = control(a, kBankMask);
    banks[1] = control(b, kBankMask);
    banks[2] = control(c, kBankMask);
    banks[3] = control(d, kBankMask);
    // One word covers A-D and stops short of the work-memory control byte.
    VRAM_CR = mainBanks(banks);
    return previous;
}

// The single-bank setters differ only in the bank: its letter, its place
// in the library's copy and its mask.
#define VX_VRAM_SET_BANK(letter, index, mask)                                                                          \
    void vramSetBank##letter(VRAM_##letter##_TYPE value) {                                                             \
        VX_LIB_CALL(Main, "vramSetBank" #letter);                                                                      \
        VX_LIB_TRACE("vramSetBank" #letter "(%d)", value);                                                             \
        VRAM_##letter##_CR = locals().banks[index] = control(value, mask);                                             \
    }

VX_VRAM_SET_BANK(A, 0, kBankMask)
VX_VRAM_SET_BANK(B, 1, kBankMask)
VX_VRAM_SET_BANK(C, 2, kBankMask)
VX_VRAM_SET_BANK(D, 3, kBankMask)
VX_VRAM_SET_BANK(E, 4, kBankEMask)

#undef VX_VRAM_SET_BANK

}  // extern "C"
