#include "touch_screen.h"

namespace vxsim {

void TouchScreen::setTouch(bool down, const Position& at) {
    penDown_ = down;
    at_ = at;
}

void TouchScreen::setDiodes(uint16_t diode1, uint16_t diode2) {
    diode_[0] = diode1;
    diode_[1] = diode2;
}

// The channels in the order of their numbers; position and pressure read 0
// while the pen is up. A conversion has twelve bits.
uint16_t TouchScreen::convert(uint32_t command) const {
    int value = 0;
    switch ((command >> 4) & 7) {
    case 0:
        value = diode_[0];
        break;
    case 1:
        value = penDown_ ? at_.rawY : 0;
        break;
    case 2:
        value = battery_;
        break;
    case 3:
        value = penDown_ ? at_.z1 : 0;
        break;
    case 4:
        value = penDown_ ? at_.z2 : 0;
        break;
    case 5:
        value = penDown_ ? at_.rawX : 0;
        break;
    case 6:
        value = aux_;
        break;
    case 7:
        value = diode_[1];
        break;
    }
    return static_cast<uint16_t>(value & 0x0FFF);
}

}  // namespace vxsim
