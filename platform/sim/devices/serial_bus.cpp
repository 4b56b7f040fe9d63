#include "serial_bus.h"

#include <nds.h>

namespace vxsim {

namespace {

enum : uint8_t { kControl, kData };

constexpr Register kRegisters[] = {
    {0x040001C0, 2, SeenBy::Co, "REG_SPICNT", kControl},
    {0x040001C2, 2, SeenBy::Co, "REG_SPIDATA", kData},
};

// Control: rate (bits 0-1), busy (7, read-only), device (8-9), transfer
// size (10), chip-select hold (11), interrupt (14), enable (15).
constexpr uint16_t kRate = 0x0003, kBusy = 0x0080, kHold = 0x0800, kIrq = 0x4000, kEnable = 0x8000;
constexpr uint16_t kStored = 0xCF03;
int deviceOf(uint16_t control) { return (control >> 8) & 3; }

// The bus clock divided by 8 (about 4 MHz), halved by each rate step: one
// byte is 64 cycles at the fastest.
uint64_t byteCycles(uint16_t control) { return 64u << (control & kRate); }

}  // namespace

std::span<const Register> SerialBus::registers() const { return kRegisters; }

uint32_t SerialBus::read(Cpu, unsigned id, bool) {
    if (id == kControl) return control_ | (busy() ? kBusy : 0);
    return busy() ? previous_ : answer_;
}

void SerialBus::write(Cpu, unsigned id, uint32_t value, uint32_t mask) {
    if (id == kData) {
        if (mask & 0xFF) transfer(static_cast<uint8_t>(value));
        return;
    }
    control_ = static_cast<uint16_t>(merge(control_, value, mask & kStored));
    if (selected_ >= 0 && (!(control_ & kEnable) || deviceOf(control_) != selected_)) endCommand();
}

void SerialBus::transfer(uint8_t out) {
    if (!(control_ & kEnable) || busy()) return;
    const int device = deviceOf(control_);
    selected_ = device;
    previous_ = answer_;
    answer_ = device < 3 && chips_[device] ? chips_[device]->exchange(out) : 0;
    if (!(control_ & kHold)) endCommand();
    doneAt_ = board_.timeOf(Cpu::Co) + byteCycles(control_);
    if (control_ & kIrq) {
        board_.scheduler().at(doneAt_, [this] { board_.requestIrq(Cpu::Co, IRQ_SPI); });
    }
}

void SerialBus::endCommand() {
    if (selected_ >= 0 && selected_ < 3 && chips_[selected_]) chips_[selected_]->deselect();
    selected_ = -1;
}

uint64_t SerialBus::nextChange(Cpu, unsigned) { return busy() ? doneAt_ : kNever; }

}  // namespace vxsim
