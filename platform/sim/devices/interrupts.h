// The interrupt controller of each processor: the master enable (IME), the
// enables (IE) and the requests (IF).
#ifndef VXSIM_INTERRUPTS_H
#define VXSIM_INTERRUPTS_H

#include <string>

#include "device.h"

namespace vxsim {

class Interrupts : public Device {
public:
    struct State {
        uint32_t ime = 0, ie = 0, flags = 0;
        bool inEntry = false;  // the processor runs the interrupt entry: further interrupts are held off

        uint32_t pendingEnabled() const { return ie & flags; }
        // Whether the processor would take an interrupt now.
        bool takeable() const { return ime && !inEntry && (ie & flags); }
    };

    State& of(Cpu cpu) { return state_[idx(cpu)]; }
    const State& of(Cpu cpu) const { return state_[idx(cpu)]; }
    void request(Cpu cpu, uint32_t mask) { of(cpu).flags |= mask; }
    // What writing `mask` to IF does: those requests are served.
    void acknowledge(Cpu cpu, uint32_t mask) { of(cpu).flags &= ~mask; }
    // The request lines of `mask` by name: "IRQ_VBLANK|IRQ_TIMER3".
    static std::string names(uint32_t mask);

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    State state_[2];
};

}  // namespace vxsim

#endif
