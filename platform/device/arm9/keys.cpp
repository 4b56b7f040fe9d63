// The keypad. X and Y are wired to the co-processor only: their state comes
// from the buttons word it copies into the transfer region (0 = held).
#include "device.h"

namespace {

constexpr uint32_t kMainKeys = 0x03FF;  // A, B, Select, Start, the pad, R, L
uint32_t now, before;

}  // namespace

extern "C" {

void scanKeys(void) {
    const uint16_t relayed = getIPC()->buttons;
    uint32_t held = ~static_cast<uint32_t>(REG_KEYINPUT) & kMainKeys;
    if (!(relayed & XKEY_X)) held |= KEY_X;
    if (!(relayed & XKEY_Y)) held |= KEY_Y;
    before = now;
    now = held;
}

uint32 keysHeld(void) { return now; }
uint32 keysDown(void) { return now & ~before; }
uint32 keysUp(void) { return before & ~now; }

}  // extern "C"
