#include "sound.h"

namespace vxsim {

namespace {

constexpr Register kRegisters[] = {
    {0x04000500, 2, SeenBy::Co, "SOUND_CR", 0},
};

}  // namespace

std::span<const Register> Sound::registers() const { return kRegisters; }

uint32_t Sound::read(Cpu, unsigned, bool) { return control_; }

void Sound::write(Cpu, unsigned, uint32_t value, uint32_t mask) {
    control_ = static_cast<uint16_t>(merge(control_, value, mask));
}

}  // namespace vxsim
