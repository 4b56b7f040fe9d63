// Video-memory bank control (VRAMCNT_A to _E): what each bank is used for
// and so where the processor sees it. Every change maps the banks afresh.
#ifndef VXSIM_VIDEO_MEMORY_H
#define VXSIM_VIDEO_MEMORY_H

#include "device.h"
#include "memory.h"
#include "register_views.h"

namespace vxsim {

class VideoMemory : public Device {
public:
    explicit VideoMemory(Memory& memory) : memory_(memory) {}

    VramCnt control(int bank) const { return control_[bank]; }
    // Sets a bank's control as a register write would.
    void setControl(int bank, uint8_t value);

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    Memory& memory_;
    VramCnt control_[kVramBanks];
};

}  // namespace vxsim

#endif
