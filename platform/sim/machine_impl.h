// One simulated handheld from the inside: its processors and the scheduler
// that runs them, its memory and devices, and the trace. Private to the
// platform library.
#ifndef VXSIM_MACHINE_IMPL_H
#define VXSIM_MACHINE_IMPL_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <semaphore>
#include <string>
#include <vector>

#include "devices/clock.h"
#include "devices/clock_port.h"
#include "devices/display_control.h"
#include "devices/display_status.h"
#include "devices/firmware.h"
#include "devices/interrupts.h"
#include "devices/ipc.h"
#include "devices/keypad.h"
#include "devices/power.h"
#include "devices/serial_bus.h"
#include "devices/serial_chips.h"
#include "devices/sound.h"
#include "devices/timers.h"
#include "devices/touch_screen.h"
#include "devices/video_memory.h"
#include "format.h"
#include "hw.h"
#include "io.h"
#include "machine.h"
#include "memory.h"
#include "scheduler.h"

namespace vxsim {

constexpr uint64_t kQuantum = 1024;      // how far one processor may run ahead of the other
constexpr uint32_t kIoCost = 4;          // one register access
constexpr size_t kTraceKeep = 1u << 20;  // entries kept in memory (the file gets all)

enum class RunState { Absent, Runnable, Halted, Stopped };

// A processor as the scheduler sees it.
struct Processor {
    ProgramImage program;
    RunState run = RunState::Absent;
    uint64_t time = 0;
    bool started = false;
    bool netWait = false;  // halted for the host network
    // The BIOS's interrupt vector: the library's service routine, which the
    // processor's interrupt entry calls (null until the library installs it).
    void (*irqVector)(uint32_t fired) = nullptr;

    // Spin detection: the previous register read.
    bool lastValid = false;
    uint32_t lastAddr = 0, lastValue = 0;
    unsigned lastBytes = 0;
};

// Hand-over objects of one machine's threads. Never freed: a processor thread
// parked on them when the machine goes away stays parked harmlessly.
struct Baton {
    std::binary_semaphore sem[3]{std::binary_semaphore{0}, std::binary_semaphore{0}, std::binary_semaphore{0}};
};
constexpr int kHostThread = 2;

struct Machine::Impl final : Board {
    explicit Impl(const MachineConfig& cfg);
    ~Impl();

    MachineConfig config;

    // Scheduling. The scheduler comes first: it outlives every event handle.
    uint64_t limit = 0;  // cur may run without a decision until this time
    Scheduler sched{limit};
    Processor cpus[2];
    Processor& cpu(Cpu c) { return cpus[idx(c)]; }
    const Processor& cpu(Cpu c) const { return cpus[idx(c)]; }
    Baton* baton = nullptr;
    Cpu cur = Cpu::Main;   // processor whose program runs (or ran last)
    uint64_t horizon = 0;  // virtual time every running processor has reached
    bool poweredOn = false;
    bool stop = false;
    uint64_t frames = 0, targetFrames = 0;

    // Wall-clock pacing, and how wall time passes while waiting for the network.
    PeriodicEvent pacer;
    hw::HostWait hostWait;
    bool wallAnchored = false;
    std::chrono::steady_clock::time_point wallBase;
    uint64_t wallBaseCycle = 0;

    // Trace.
    std::deque<TraceEntry> traceLog;
    FILE* traceFile = nullptr;

    // Memory and devices. The bus reaches every device with registers.
    Memory memory;
    Interrupts interrupts;
    Ipc ipc{*this};
    Timers timers{*this};
    DisplayStatus displayStatus{*this};
    DisplayControl displayControl;
    VideoMemory videoMemory{memory};
    Power power;
    TouchScreen touchScreen;
    Keypad keypad{touchScreen};
    Sound sound;
    Clock clock;
    ClockPort clockPort{*this, clock};
    PowerManagement powerManagement{*this};
    Firmware firmware{*this};
    TouchController touchController{touchScreen};
    SerialBus serialBus{*this, {&powerManagement, &firmware, &touchController}};
    Bus bus{*this,
            {&displayControl, &displayStatus, &timers, &keypad, &ipc, &interrupts, &videoMemory, &power, &sound,
             &serialBus, &clockPort}};

    // The wireless library's halves.
    std::unique_ptr<wifi::Wireless> wireless;

    // --- the board, for the devices
    uint64_t timeOf(Cpu c) const override { return sched.inEvent() ? sched.eventTime() : cpu(c).time; }
    void requestIrq(Cpu c, uint32_t mask) override;
    void trace(Cpu c, TraceKind kind, const std::string& text) override;
    Scheduler& scheduler() override { return sched; }

    // --- running the processors (processors.cpp; waitWall in pacing.cpp,
    // takeInterrupts, the processor's interrupt entry, in interrupt_dispatch.cpp)
    void runDueEvents(uint64_t upTo);
    void boundary();                 // slow path of charge(): events, hand-over, interrupts
    void decide(int self);           // returns when `self` is to run its program
    void handOff(int self, int to);  // gives the baton away and waits for it back
    void waitWall(uint64_t fromCycle, uint64_t toCycle, bool forNetwork);
    void takeInterrupts();
    void haltCurrent(bool network);
    void idle(uint64_t until);
    void recomputeLimit();
};

// The one machine of this process (null when none exists).
extern Machine::Impl* gMachine;
// The processor a host thread runs, or -1 for other threads.
extern thread_local int tlsCpu;

// The machine, for a program-facing call: ends the run when called where no
// processor runs.
Machine::Impl& callerMachine(const char* what);

// The library's state of each processor, cleared as at power-on (library_hooks.cpp).
void clearLibraryLocals();

// A processor's BIOS check word (bios.cpp).
volatile uint32_t& biosIrqCheck(Cpu cpu);

// Renderer (render.cpp).
std::vector<uint8_t> renderScreens(const Machine::Impl& m);

}  // namespace vxsim

#endif
