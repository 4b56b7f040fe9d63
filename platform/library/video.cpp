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

}  // namespace

extern "C" {

uint32 vramSetMainBanks(VRAM_A_TYPE a, VRAM_B_TYPE b, VRAM_C_TYPE c, VRAM_D_TYPE d) {
    VX_LIB_CALL(Main, "vramSetMainBanks");
    VX_LIB_TRACE("vramSetMainBanks(%d,%d,%d,%d)", a, b, c, d);
    uint8_t* banks = locals().banks;
    const uint32_t previous = banks[0] | banks[1] << 8 | banks[2] << 16 | static_cast<uint32_t>(banks[3]) << 24;
    banks[0] = control(a, kBankMask);
    banks[1] = control(b, kBankMask);
    banks[2] = control(c, kBankMask);
    banks[3] = control(d, kBankMask);
    // One word covers A-D and stops short of the work-memory control byte.
    VRAM_CR = banks[0] | banks[1] << 8 | banks[2] << 16 | static_cast<uint32_t>(banks[3]) << 24;
    return previous;
}

void vramSetBankA(VRAM_A_TYPE a) {
    VX_LIB_CALL(Main, "vramSetBankA");
    VX_LIB_TRACE("vramSetBankA(%d)", a);
    VRAM_A_CR = locals().banks[0] = control(a, kBankMask);
}

void vramSetBankB(VRAM_B_TYPE b) {
    VX_LIB_CALL(Main, "vramSetBankB");
    VX_LIB_TRACE("vramSetBankB(%d)", b);
    VRAM_B_CR = locals().banks[1] = control(b, kBankMask);
}

void vramSetBankC(VRAM_C_TYPE c) {
    VX_LIB_CALL(Main, "vramSetBankC");
    VX_LIB_TRACE("vramSetBankC(%d)", c);
    VRAM_C_CR = locals().banks[2] = control(c, kBankMask);
}

void vramSetBankD(VRAM_D_TYPE d) {
    VX_LIB_CALL(Main, "vramSetBankD");
    VX_LIB_TRACE("vramSetBankD(%d)", d);
    VRAM_D_CR = locals().banks[3] = control(d, kBankMask);
}

void vramSetBankE(VRAM_E_TYPE e) {
    VX_LIB_CALL(Main, "vramSetBankE");
    VX_LIB_TRACE("vramSetBankE(%d)", e);
    VRAM_E_CR = locals().banks[4] = control(e, kBankEMask);
}

}  // extern "C"
