#include "power.h"

#include <nds.h>

namespace vxsim {

namespace {

constexpr Register kRegisters[] = {
    {0x04000304, 2, SeenBy::Both, "REG_POWERCNT", 0},
};

// Main: LCD (0), engine A (1), 3D matrix (2), 3D core (3), engine B (9) and
// the screen swap (15). Co-processor: sound (0) and wireless (1).
constexpr uint16_t kWritable[2] = {0x820F, 0x0003};

}  // namespace

// The start-up code leaves the main engine on the top screen.
Power::Power() { bits_[idx(Cpu::Main)] = POWER_SWAP_LCDS; }

std::span<const Register> Power::registers() const { return kRegisters; }

uint32_t Power::read(Cpu cpu, unsigned, bool) { return bits(cpu); }

void Power::write(Cpu cpu, unsigned, uint32_t value, uint32_t mask) {
    uint16_t& b = bits_[idx(cpu)];
    b = static_cast<uint16_t>(merge(b, value, mask & kWritable[idx(cpu)]));
}

void Power::set(Cpu cpu, uint16_t value) { write(cpu, 0, value, 0xFFFF); }

bool Power::engineShown(int engine) const {
    uint16_t b = bits(Cpu::Main);
    return (b & POWER_LCD) && (b & (engine == 0 ? POWER_2D_A : POWER_2D_B));
}

bool Power::mainEngineOnTop() const { return bits(Cpu::Main) & POWER_SWAP_LCDS; }

}  // namespace vxsim
