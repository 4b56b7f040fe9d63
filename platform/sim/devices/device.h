// What every device unit is made of: a table of its registers and the code
// that reads and writes them, on a board that gives it time, interrupts,
// events and the trace.
//
// Adding a register to a device: a row in the device's table (address,
// width, who sees it, name, the device's own number for it) and the
// device's read and write cases for that number. The bus (io.cpp) finds it
// by the row; nothing else changes.
#ifndef VXSIM_DEVICE_H
#define VXSIM_DEVICE_H

#include <cstdint>
#include <span>
#include <string>

#include "machine.h"
#include "scheduler.h"

namespace vxsim {

inline int idx(Cpu cpu) { return static_cast<int>(cpu); }
inline Cpu other(Cpu cpu) { return cpu == Cpu::Main ? Cpu::Co : Cpu::Main; }

// What a device may ask of the machine around it.
class Board {
public:
    // The processor's virtual time (inside an event: the event's time).
    virtual uint64_t timeOf(Cpu cpu) const = 0;
    virtual void requestIrq(Cpu cpu, uint32_t mask) = 0;
    virtual void trace(Cpu cpu, TraceKind kind, const std::string& text) = 0;
    virtual Scheduler& scheduler() = 0;

protected:
    ~Board() = default;
};

enum class SeenBy : uint8_t { Both, Main, Co };

enum RegisterFlags : uint8_t {
    kNameOnly = 1,      // a name for a wider access over other rows; no register of its own
    kReadTakes = 2,     // a read changes the device (never a spin)
    kTracesItself = 4,  // the device traces writes its own way
};

struct Register {
    uint32_t address;
    uint8_t width;  // bytes: 1, 2 or 4
    SeenBy seenBy;
    const char* name;  // in the trace; null: the address is shown
    uint8_t id;        // the device's own number for it
    uint8_t flags = 0;

    bool seenFrom(Cpu cpu) const { return seenBy == SeenBy::Both || (seenBy == SeenBy::Main) == (cpu == Cpu::Main); }
};

class Device {
public:
    virtual ~Device() = default;
    virtual std::span<const Register> registers() const = 0;
    // Register `id` as `cpu` reads it; with `peek`, without side effects.
    virtual uint32_t read(Cpu cpu, unsigned id, bool peek) = 0;
    // Writes the bits of `mask` (the bytes written) of `value`; both are
    // aligned to the register.
    virtual void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) = 0;
    // When a read of register `id` could next give another value without
    // `cpu` doing anything (kNever: only activity changes it).
    virtual uint64_t nextChange(Cpu cpu, unsigned id) {
        (void)cpu, (void)id;
        return kNever;
    }
};

inline uint32_t merge(uint32_t old, uint32_t value, uint32_t mask) { return (old & ~mask) | (value & mask); }

}  // namespace vxsim

#endif
