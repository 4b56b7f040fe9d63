// The four timers of each processor: 16-bit counters at the bus clock
// divided by 1, 64, 256 or 1024, or counting the overflows of the timer
// before them; each overflow reloads the counter and may interrupt.
#ifndef VXSIM_TIMERS_H
#define VXSIM_TIMERS_H

#include "device.h"

namespace vxsim {

class Timers : public Device {
public:
    explicit Timers(Board& board) : board_(board) {}

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;
    uint64_t nextChange(Cpu cpu, unsigned id) override;

private:
    struct Timer {
        uint16_t reload = 0;
        uint16_t control = 0;
        uint16_t counter = 0;    // the value at startTime (free-running) or the live value (counting up, stopped)
        uint64_t startTime = 0;  // when `counter` held, for a free-running timer
        EventId overflow = 0;
    };

    Timer& timer(Cpu cpu, int n) { return timers_[idx(cpu)][n]; }
    uint16_t value(Cpu cpu, int n, uint64_t t);
    void writeControl(Cpu cpu, int n, uint16_t control);
    void arm(Cpu cpu, int n);
    void overflowed(Cpu cpu, int n);

    Board& board_;
    Timer timers_[2][4];
};

}  // namespace vxsim

#endif
