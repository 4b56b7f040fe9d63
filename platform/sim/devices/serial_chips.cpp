#include "serial_chips.h"

#include "format.h"

namespace vxsim {

// Each conversion is ready at once: the controller's own conversion time is
// shorter than the byte that follows the command.
uint8_t TouchController::exchange(uint8_t out) {
    const uint8_t answer = static_cast<uint8_t>(pending_ >> 8);
    pending_ = static_cast<uint16_t>(pending_ << 8);
    if (out & 0x80) {
        const uint16_t value = screen_.convert(out);
        pending_ = (out & 0x08) ? static_cast<uint16_t>((value >> 4) << 7) : static_cast<uint16_t>(value << 3);
    }
    return answer;
}

uint8_t PowerManagement::exchange(uint8_t out) {
    if (index_ < 0) {
        index_ = out;
        return 0;
    }
    const int n = index_ & 0x7F;
    const bool read = index_ & 0x80;
    index_ = -1;  // one data byte a register byte; more bytes start over
    if (n > 4) return 0;
    if (read) return regs_[n];
    if (n == 1) return 0;  // the battery state is the chip's own
    regs_[n] = out;
    std::string text = "power management register " + std::to_string(n) + "=" + hex(out, 2);
    if (n == 0 && (out & 0x40)) text += " (power off: ignored)";
    board_.trace(Cpu::Co, TraceKind::IoWrite, text);
    return 0;
}

}  // namespace vxsim
