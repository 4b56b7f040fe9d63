#include "keypad.h"

#include <nds.h>

namespace vxsim {

namespace {

enum : uint8_t { kInput, kControl, kExtra };

constexpr Register kRegisters[] = {
    {0x04000130, 2, SeenBy::Both, "REG_KEYINPUT", kInput},
    {0x04000132, 2, SeenBy::Both, "REG_KEYCNT", kControl},
    {0x04000136, 2, SeenBy::Co, "REG_KEYXY", kExtra},
};

}  // namespace

std::span<const Register> Keypad::registers() const { return kRegisters; }

// Ten keys in bits 0-9; X and Y are not among them.
uint16_t Keypad::keyInput() const { return static_cast<uint16_t>(~held_ & 0x03FF); }

// X (0), Y (1) and the pen (6) read 0 while held or touching; the hinge bit
// (7) reads 1 while the lid is closed. Bits 2-5 read 1.
uint16_t Keypad::keyXY() const {
    uint16_t v = 0x007F;
    if (held_ & KEY_X) v &= ~XKEY_X;
    if (held_ & KEY_Y) v &= ~XKEY_Y;
    if (touch_.penDown()) v &= ~XKEY_PEN_UP;
    if (held_ & KEY_LID) v |= XKEY_HINGE_CLOSED;
    return v;
}

uint32_t Keypad::read(Cpu cpu, unsigned id, bool) {
    switch (id) {
    case kInput:
        return keyInput();
    case kControl:
        return keyControl_[idx(cpu)];
    default:
        return keyXY();
    }
}

void Keypad::write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) {
    if (id != kControl) return;  // the key states are read-only
    uint16_t& c = keyControl_[idx(cpu)];
    c = static_cast<uint16_t>(merge(c, value, mask));
}

}  // namespace vxsim
