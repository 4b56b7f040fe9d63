// Display timing as each processor sees it: the line counter (VCOUNT) and
// the display status (DISPSTAT) with the vertical-blank, horizontal-blank
// and line-match interrupts. 263 lines of 2130 cycles a frame; lines 192 to
// 261 are the vertical blank.
#ifndef VXSIM_DISPLAY_STATUS_H
#define VXSIM_DISPLAY_STATUS_H

#include <functional>

#include "device.h"
#include "register_views.h"

namespace vxsim {

// Cycle within a line where the horizontal blank begins.
constexpr uint64_t kHBlankStart = 1536;

class DisplayStatus : public Device {
public:
    explicit DisplayStatus(Board& board) : board_(board) {}

    // Starts the frames; `frameBegun` runs as each vertical blank begins.
    void start(std::function<void()> frameBegun);
    DispStat status(Cpu cpu) const { return side(cpu).stat; }
    // Turns the interrupts of `bits` (DispStat::k*Irq) on or off, as the
    // library does when interrupts are enabled or disabled.
    void setInterrupts(Cpu cpu, uint16_t bits, bool on);

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;
    uint64_t nextChange(Cpu cpu, unsigned id) override;

private:
    struct Side {
        DispStat stat;  // the writable bits; the status bits are computed
        PeriodicEvent hblank, lineMatch;
    };
    Side& side(Cpu cpu) { return sides_[idx(cpu)]; }
    const Side& side(Cpu cpu) const { return sides_[idx(cpu)]; }
    void setStatus(Cpu cpu, uint16_t bits);

    Board& board_;
    Side sides_[2];
    PeriodicEvent vblank_;
};

}  // namespace vxsim

#endif
