// The keys: REG_KEYINPUT (A, B, Select, Start, the d-pad, R and L, on both
// processors) and the co-processor's REG_KEYXY (X, Y, pen and hinge). Both
// read 0 for a key held. The host sets which keys are held.
#ifndef VXSIM_KEYPAD_H
#define VXSIM_KEYPAD_H

#include "device.h"
#include "touch_screen.h"

namespace vxsim {

class Keypad : public Device {
public:
    explicit Keypad(const TouchScreen& touch) : touch_(touch) {}

    // KEY_* bits, 1 = held.
    void setHeld(uint32_t keys) { held_ = keys; }
    uint16_t keyInput() const;
    uint16_t keyXY() const;

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    const TouchScreen& touch_;
    uint32_t held_ = 0;
    uint16_t keyControl_[2] = {};  // the key interrupt is not raised; the setting is only kept
};

}  // namespace vxsim

#endif
