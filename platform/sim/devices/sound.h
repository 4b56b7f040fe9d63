// The co-processor's sound control (SOUND_CR). The machine makes no sound:
// the setting is only kept, so that a program reads back what it wrote.
#ifndef VXSIM_SOUND_H
#define VXSIM_SOUND_H

#include "device.h"

namespace vxsim {

class Sound : public Device {
public:
    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    uint16_t control_ = 0;
};

}  // namespace vxsim

#endif
