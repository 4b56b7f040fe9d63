// The co-processor's touch-screen controller: eight 12-bit conversion
// channels (the touch position and pressure, battery, an auxiliary input and
// two temperature diodes), plus the temperature the library computes from
// the diodes. The host sets what it measures.
#ifndef VXSIM_TOUCH_SCREEN_H
#define VXSIM_TOUCH_SCREEN_H

#include <cstdint>

namespace vxsim {

class TouchScreen {
public:
    struct Position {
        int16_t rawX = 0, rawY = 0, px = 0, py = 0, z1 = 0, z2 = 0;
    };

    void setTouch(bool down, const Position& at);
    bool penDown() const { return penDown_; }
    // The position while the pen is down, zeros while it is up.
    Position position() const { return penDown_ ? at_ : Position{}; }

    // One conversion of the channel in bits 4-6 of `command`.
    uint16_t convert(uint32_t command) const;

    void setBattery(uint16_t value) { battery_ = value; }
    void setAux(uint16_t value) { aux_ = value; }
    void setTemperature(uint32_t temperature, int diode1, int diode2);
    uint32_t temperature() const { return temperature_; }
    int diode(int n) const { return diode_[n]; }

private:
    bool penDown_ = false;
    Position at_;
    uint16_t battery_ = 0x0C80, aux_ = 0;
    uint32_t temperature_ = 25u << 12;  // 20.12 fixed point
    int diode_[2] = {0x0320, 0x0420};
};

}  // namespace vxsim

#endif
