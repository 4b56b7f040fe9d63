// Services of the simulated machine for the code behind the program-facing
// calls (the wireless halves, the co-processor's device calls, devices).
//
// Execution model: each processor runs its program on a host thread of its
// own, and exactly one thread runs at a time, so no locking is needed inside
// the simulation and a run is deterministic. Every function here must be
// called from a processor thread (inside a program-facing call), except where
// marked "host".
#ifndef VXSIM_HW_H
#define VXSIM_HW_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "machine.h"
#include "scheduler.h"

namespace vxsim::wifi {
struct Wireless;
}

namespace vxsim::hw {

// The processor whose program is running now.
Cpu currentCpu();

// What one call of the wireless library costs the processor, in bus cycles.
constexpr uint32_t kCallCost = 24;

// Where every call of the wireless library and of sim/library/ begins: ends
// the run when `name` is called on a processor other than `only`, charges
// `cost` (a call boundary, as in charge()) and ends any spin of the caller.
// The calls of platform/library/ have hooks of their own (hooks.h).
void enterCall(const char* name, std::optional<Cpu> only = std::nullopt, uint32_t cost = kCallCost);

// Virtual time of the running processor, in bus cycles since power-on.
uint64_t now();

// Charges the cost of one operation to the running processor. This is a call
// boundary: due events run, pending enabled interrupts are taken (their
// handlers run on this stack), and the other processor may get its turn.
void charge(uint32_t cycles);

// Halts the running processor until one of its enabled interrupts is
// requested (REG_IE & REG_IF, master enable not required, as the halt
// instruction behaves), then takes it if the master enable allows.
void halt();

// Like halt(), but declares that only the host network can bring what the
// program waits for: while every processor is halted and one of them waits
// this way, virtual time runs no faster than the wall clock, and the wall
// time passes in the host-wait hook.
void haltForNetwork();

// How the machine spends wall time while it waits for the host network:
// `wait` returns at the deadline or earlier, once there is something to
// read. Without a hook the machine sleeps. The radio installs one.
using HostWait = std::function<void(std::chrono::steady_clock::time_point deadline)>;
void setHostWait(HostWait wait);

// A program spun on a value that has not changed: skip the running processor
// ahead to `until` or the next scheduled event, whichever comes first, as if
// it had kept polling.
void idleUntil(uint64_t until);

// Interrupt request lines (sets REG_IF bits on that processor).
void requestIrq(Cpu cpu, uint32_t mask);

// Scheduler. Events run at a call boundary once every processor has reached
// `when`, with now() == when; they run on whichever processor thread is
// current, must not block, and may call requestIrq/schedule. Returns an id
// for cancel().
using vxsim::EventId;
EventId schedule(uint64_t when, std::function<void()> action);
void cancel(EventId id);
// `action` at `first`, then every `period` cycles, for as long as the handle lives.
PeriodicEvent every(uint64_t first, uint64_t period, std::function<void()> action);

// The trace. `cpu` defaults to the running processor.
void trace(TraceKind kind, const std::string& text);
void traceFor(Cpu cpu, TraceKind kind, const std::string& text);

// Host pointer to the device address `address` in mapped memory (main RAM,
// palettes, video memory), or null where nothing is mapped.
void* deviceMemory(uint32_t address);

// Ends the run with a one-line diagnostic: a program did what the device
// would not survive (a call on the wrong processor, a missing handler...).
// Prints "vx-handheld: <message>" on standard error and exits with status 3.
[[noreturn]] void fatal(const std::string& message);

// The machine's configuration (world, forwards, clock).
const MachineConfig& config();

// The loaded program of a processor (for the allocation hooks).
const ProgramImage& program(Cpu cpu);

// The machine's wireless state: both halves of the library and the radio.
wifi::Wireless& wireless();

}  // namespace vxsim::hw

#endif
