#include "interrupts.h"

namespace vxsim {

namespace {

enum : uint8_t { kIme, kIe, kIf };

constexpr Register kRegisters[] = {
    {0x04000208, 4, SeenBy::Both, "REG_IME", kIme},
    {0x04000210, 4, SeenBy::Both, "REG_IE", kIe},
    {0x04000214, 4, SeenBy::Both, "REG_IF", kIf},
};

}  // namespace

std::span<const Register> Interrupts::registers() const { return kRegisters; }

uint32_t Interrupts::read(Cpu cpu, unsigned id, bool) {
    const State& s = of(cpu);
    switch (id) {
    case kIme: return s.ime;
    case kIe: return s.ie;
    default: return s.flags;
    }
}

void Interrupts::write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) {
    State& s = of(cpu);
    switch (id) {
    case kIme:
        s.ime = merge(s.ime, value, mask) & 1u;  // only bit 0 exists
        break;
    case kIe:
        s.ie = merge(s.ie, value, mask);
        break;
    default:
        s.flags &= ~(value & mask);  // writing 1 acknowledges a request
        break;
    }
}

}  // namespace vxsim
