// The keypad. X and Y are wired to the co-processor only: their state comes
// from the buttons word it copies into the transfer region (0 = held).
#include <nds.h>

#include "hooks.h"
#include "locals.h"

using vxlib::locals;

namespace {

constexpr uint32_t kMainKeys = 0x03FF;  // A, B, Select, Start, the pad, R, L

}  // namespace

extern "C" {

void scanKeys(void) {
    VX_LIB_CALL(Main, "scanKeys");
    const uint16_t relayed = getIPC()->buttons;
    uint32_t held = ~static_cast<uint32_t>(REG_KEYINPUT) & kMainKeys;
    if (!(relayed & XKEY_X)) held |= KEY_X;
    if (!(relayed & XKEY_Y)) held |= KEY_Y;
    vxlib::Locals& l = locals();
    l.keysBefore = l.keysNow;
    l.keysNow = held;
}

uint32 keysHeld(void) {
    VX_LIB_CALL(Main, "keysHeld");
    return locals().keysNow;
}

uint32 keysDown(void) {
    VX_LIB_CALL(Main, "keysDown");
    return locals().keysNow & ~locals().keysBefore;
}

uint32 keysUp(void) {
    VX_LIB_CALL(Main, "keysUp");
    return locals().keysBefore & ~locals().keysNow;
}

}  // extern "C"
