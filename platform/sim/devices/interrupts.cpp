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

std::string Interrupts::names(uint32_t mask) {
    static const char* const names[32] = {"IRQ_VBLANK",
                                          "IRQ_HBLANK",
                                          "IRQ_VCOUNT",
                                          "IRQ_TIMER0",
                                          "IRQ_TIMER1",
                                          "IRQ_TIMER2",
                                          "IRQ_TIMER3",
                                          "IRQ_SERIAL_RTC",
                                          "IRQ_DMA0",
                                          "IRQ_DMA1",
                                          "IRQ_DMA2",
                                          "IRQ_DMA3",
                                          "IRQ_KEYS",
                                          "IRQ_CART",
                                          "IRQ_14",
                                          "IRQ_15",
                                          "IRQ_IPC_SYNC",
                                          "IRQ_FIFO_EMPTY",
                                          "IRQ_FIFO_NOT_EMPTY",
                                          "IRQ_CARD",
                                          "IRQ_CARD_LINE",
                                          "IRQ_GEOMETRY_FIFO",
                                          "IRQ_LID",
                                          "IRQ_SPI",
                                          "IRQ_WIFI",
                                          "IRQ_25",
                                          "IRQ_26",
                                          "IRQ_27",
                                          "IRQ_28",
                                          "IRQ_29",
                                          "IRQ_30",
                                          "IRQ_31"};
    std::string out;
    for (int b = 0; b < 32; ++b) {
        if (mask & (1u << b)) {
            if (!out.empty()) out += '|';
            out += names[b];
        }
    }
    return out;
}

uint32_t Interrupts::read(Cpu cpu, unsigned id, bool) {
    const State& s = of(cpu);
    switch (id) {
    case kIme:
        return s.ime;
    case kIe:
        return s.ie;
    default:
        return s.flags;
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
        acknowledge(cpu, value & mask);  // writing 1 acknowledges a request
        break;
    }
}

}  // namespace vxsim
