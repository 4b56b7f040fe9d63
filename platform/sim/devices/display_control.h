// The two 2D engines' control registers, as the main processor writes them:
// DISPCNT, the four BGxCNT and the scroll offsets of each engine. The
// renderer draws from what is here.
#ifndef VXSIM_DISPLAY_CONTROL_H
#define VXSIM_DISPLAY_CONTROL_H

#include "device.h"
#include "register_views.h"

namespace vxsim {

enum Engine : int { kMainEngine = 0, kSubEngine = 1 };

class DisplayControl : public Device {
public:
    DispCnt control(int engine) const { return engines_[engine].control; }
    BgCnt background(int engine, int layer) const { return engines_[engine].backgrounds[layer]; }
    // Scroll of a layer: axis 0 horizontal, 1 vertical.
    int scroll(int engine, int layer, int axis) const { return engines_[engine].scroll[layer * 2 + axis]; }

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    struct EngineRegisters {
        DispCnt control;
        BgCnt backgrounds[4];
        uint16_t scroll[8] = {};  // x and y of each layer
    };
    EngineRegisters engines_[2];
};

}  // namespace vxsim

#endif
