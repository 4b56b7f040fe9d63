// The co-processor's touch-screen controller: eight 12-bit conversion
// channels (the touch position and pressure, battery, an auxiliary input and
// two temperature diodes). The host sets what it measures.
#ifndef VXSIM_TOUCH_SCREEN_H
#define VXSIM_TOUCH_SCREEN_H

#include <cstdint>

namespace vxsim {

class TouchScreen {
public:
    struct Position {
        int16_t rawX = 0, rawY = 0, z1 = 0, z2 = 0;
    };

    void setTouch(bool down, const Position& at);
    bool penDown() const { return penDown_; }
    // The position while the pen is down, zeros while it is up.
    Position position() const { return penDown_ ? at_ : Position{}; }

    // One conversion of the channel in bits 4-6 of `command`.
    uint16_t convert(uint32_t command) const;

    void setBattery(uint16_t value) { battery_ = value; }
    void setAux(uint16_t value) { aux_ = value; }
    void setDiodes(uint16_t diode1, uint16_t diode2);

private:
    bool penDown_ = false;
    Position at_;
    uint16_t battery_ = 0x0C80, aux_ = 0;
    // About 24 degrees Celsius: the library reads 8568/4096 K per step of
    // the diodes' difference.
    uint16_t diode_[2] = {0x0320, 0x03AE};
};

}  // namespace vxsim

#endif
