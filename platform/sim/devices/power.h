// Power control (POWERCNT), one register per processor: the main
// processor's switches the displays and engines and chooses which engine
// drives the top screen; the co-processor's switches sound and wireless.
#ifndef VXSIM_POWER_H
#define VXSIM_POWER_H

#include "device.h"

namespace vxsim {

class Power : public Device {
public:
    Power();

    uint16_t bits(Cpu cpu) const { return bits_[idx(cpu)]; }
    // Sets the register as a write of all of it would.
    void set(Cpu cpu, uint16_t value);
    // The main processor's: whether an engine (0 main, 1 sub) runs and its
    // screen is lit, and whether the main engine drives the top screen.
    bool engineShown(int engine) const;
    bool mainEngineOnTop() const;

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    uint16_t bits_[2] = {};
};

}  // namespace vxsim

#endif
