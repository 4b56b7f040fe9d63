// Two of the chips on the co-processor's serial bus (serial_bus.h); the
// firmware flash has a unit of its own (firmware.h).
#ifndef VXSIM_SERIAL_CHIPS_H
#define VXSIM_SERIAL_CHIPS_H

#include "device.h"
#include "serial_bus.h"
#include "touch_screen.h"

namespace vxsim {

// The touch controller's serial side. A byte with its start bit (7) set is a
// command: channel in bits 4-6, 8-bit mode in bit 3 (single-ended or
// differential and power-down, bits 0-2, change nothing here). The next bytes
// clock the conversion out after one idle bit, most significant bit first:
// 12 bits then zeros, so (first << 8 | second) >> 3 is the conversion (>> 7
// in 8-bit mode). A command may come while the previous conversion's last
// byte goes out; deselecting forgets the conversion.
class TouchController final : public SerialChip {
public:
    explicit TouchController(const TouchScreen& screen) : screen_(screen) {}
    uint8_t exchange(uint8_t out) override;
    void deselect() override { pending_ = 0; }

private:
    const TouchScreen& screen_;
    uint16_t pending_ = 0;  // bits still to go out, from the top
};

// The power-management chip: a register number (bit 7: read) then one data
// byte. Registers 0 (control: sound amplifier 0, lower and upper backlight
// 2-3, power off 6, ...), 1 (battery: bit 0 low, read-only), 2 and 3
// (microphone) and 4 (backlight level) keep what is written; the others read
// 0. Powering off is traced, never done: the run goes on.
class PowerManagement final : public SerialChip {
public:
    explicit PowerManagement(Board& board) : board_(board) {}
    uint8_t exchange(uint8_t out) override;
    void deselect() override { index_ = -1; }

    uint8_t reg(int n) const { return regs_[n]; }

private:
    Board& board_;
    int index_ = -1;  // the register byte, once received
    // Both backlights on and the amplifier on, as after power-on.
    uint8_t regs_[5] = {0x0D, 0x00, 0x00, 0x00, 0x00};
};

}  // namespace vxsim

#endif
