// The keypad library of the main processor: one sample per scanKeys, and
// what changed since the one before.
#include <nds.h>

#include "library.h"

using namespace vxsim;

extern "C" {

// X and Y are not wired to the main processor: its library takes them from
// what the co-processor copies into the transfer region.
void scanKeys(void) {
    Machine::Impl& m = enter("scanKeys", Cpu::Main);
    uint16_t relayed = getIPC()->buttons;
    uint32_t held = static_cast<uint32_t>(~m.keypad.keyInput() & 0x03FF);
    if (!(relayed & XKEY_X)) held |= KEY_X;
    if (!(relayed & XKEY_Y)) held |= KEY_Y;
    m.keyScan.previous = m.keyScan.now;
    m.keyScan.now = held;
}

uint32 keysHeld(void) { return enter("keysHeld", Cpu::Main).keyScan.now; }

uint32 keysDown(void) {
    const KeyScan& k = enter("keysDown", Cpu::Main).keyScan;
    return k.now & ~k.previous;
}

uint32 keysUp(void) {
    const KeyScan& k = enter("keysUp", Cpu::Main).keyScan;
    return k.previous & ~k.now;
}

}  // extern "C"
