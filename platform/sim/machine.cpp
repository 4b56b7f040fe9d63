// The machine: processor threads and the one baton passed between them,
// events in step with both processors, the interrupt dispatcher, the trace,
// the services of hw.h and the host API.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <thread>

#include "machine_impl.h"
#include "wifi/wireless.h"

namespace vxsim {

Machine::Impl* gMachine = nullptr;
thread_local int tlsCpu = -1;

namespace {

// About ten microseconds.
constexpr int kHandOverSpins = 1000;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Kept reachable on purpose: parked threads of finished machines wait on them.
std::vector<Baton*>& leakedBatons() {
    static auto* batons = new std::vector<Baton*>;
    return *batons;
}

void cpuThreadMain(Machine::Impl* m, Baton* baton, int i) {
    tlsCpu = i;
    baton->sem[i].acquire();
    Processor& c = m->cpus[i];
    c.started = true;
    std::string arg0 = c.program.name;
    char* argv[] = {arg0.data(), nullptr};
    int rc = c.program.entry(1, argv);
    // A program that returns simply stops its processor.
    c.run = RunState::Stopped;
    m->trace(static_cast<Cpu>(i), TraceKind::Call, "main returned " + std::to_string(rc));
    m->decide(i);
    for (;;) baton->sem[i].acquire();
}

}  // namespace

const char* cpuName(Cpu cpu) { return cpu == Cpu::Main ? "arm9" : "arm7"; }

std::string hex(uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*" PRIX32, digits, value);
    return buf;
}

const char* traceKindName(TraceKind kind) {
    switch (kind) {
    case TraceKind::IoWrite:
        return "io-write";
    case TraceKind::FifoSend:
        return "fifo-send";
    case TraceKind::FifoRecv:
        return "fifo-recv";
    case TraceKind::Irq:
        return "irq";
    case TraceKind::Call:
        return "call";
    case TraceKind::Console:
        return "console";
    case TraceKind::Alloc:
        return "alloc";
    case TraceKind::Wifi:
        return "wifi";
    case TraceKind::NetOpen:
        return "net-open";
    case TraceKind::NetSend:
        return "net-send";
    case TraceKind::NetRecv:
        return "net-recv";
    case TraceKind::NetDrop:
        return "net-drop";
    case TraceKind::NetError:
        return "net-error";
    }
    return "?";
}

std::string formatTraceEntry(const TraceEntry& entry) {
    char head[64];
    std::snprintf(head, sizeof head, "%12" PRIu64 " %s %s ", entry.cycle, cpuName(entry.cpu),
                  traceKindName(entry.kind));
    return head + entry.text;
}

Machine::Impl& callerMachine(const char* what) {
    Machine::Impl* m = gMachine;
    if (!m || !m->poweredOn) hw::fatal(std::string(what) + " called while no handheld is running");
    if (tlsCpu != idx(m->cur)) hw::fatal(std::string(what) + " called outside the running processor");
    return *m;
}

// ------------------------------------------------------------------ Impl

Machine::Impl::Impl(const MachineConfig& cfg) : config(cfg), wireless(std::make_unique<wifi::Wireless>()) {
    if (!config.tracePath.empty()) {
        traceFile = std::fopen(config.tracePath.c_str(), "w");
        if (!traceFile) hw::fatal("cannot write the trace file " + config.tracePath);
    }
}

Machine::Impl::~Impl() {
    // Both processors are parked for good by now, so the program's own free
    // can run on this thread.
    wifi::returnUnreadDatagrams(*wireless, cpu(Cpu::Main).program.ipFree);
    wireless.reset();
    if (traceFile) std::fclose(traceFile);
}

void Machine::Impl::recomputeLimit() {
    uint64_t l = sched.next();
    const Processor& o = cpu(other(cur));
    if (o.run == RunState::Runnable) l = std::min(l, o.time + kQuantum);
    limit = l;
}

void Machine::Impl::runDueEvents(uint64_t upTo) {
    for (uint64_t when; !stop && (when = sched.next()) <= upTo;) {
        if (when > horizon) horizon = when;
        sched.runNext();
    }
}

void Machine::Impl::handOff(int self, int to) {
    // Once released, the host may destroy this machine: touch only the baton.
    Baton* b = baton;
    // In fast mode the baton usually comes back within microseconds, far
    // sooner than a sleep on the semaphore and the wake-up after it take:
    // wait a little awake first. Paced to the wall clock, it would only burn
    // the time the other thread sleeps away.
    int spins = config.realtime ? 0 : kHandOverSpins;
    if (to != kHostThread) cur = static_cast<Cpu>(to);
    b->sem[to].release();
    for (int i = 0; i < spins; ++i) {
        if (b->sem[self].try_acquire()) return;
        cpuRelax();
    }
    b->sem[self].acquire();
}

// The one place where the baton moves. Whoever holds it runs this: due
// events run once every running processor has reached them, the processor
// that is behind runs, and when all wait the clock jumps to the next event.
void Machine::Impl::decide(int self) {
    for (;;) {
        if (stop) {
            if (self == kHostThread) return;
            handOff(self, kHostThread);
            continue;
        }
        uint64_t low = kNever;
        int lowest = -1;
        for (int i = 0; i < 2; ++i) {
            const Processor& c = cpus[i];
            if (c.run != RunState::Runnable) continue;
            if (c.time < low || (c.time == low && i == idx(cur))) {
                low = c.time;
                lowest = i;
            }
        }
        if (lowest < 0) {
            uint64_t e = sched.next();
            if (e == kNever) hw::fatal("every processor waits and nothing is scheduled");
            bool net = false;
            for (const Processor& c : cpus) net = net || (c.run == RunState::Halted && c.netWait);
            if ((net || config.realtime) && e > horizon) waitWall(horizon, e, net);
            runDueEvents(e);
            continue;
        }
        if (low > horizon) horizon = low;
        if (sched.next() <= low) {
            runDueEvents(low);
            continue;
        }
        int next = lowest;
        if (self != kHostThread && cpus[self].run == RunState::Runnable) {
            Cpu saved = cur;
            cur = static_cast<Cpu>(self);
            recomputeLimit();
            if (cpus[self].time < limit) next = self;
            cur = saved;
        }
        cur = static_cast<Cpu>(next);
        recomputeLimit();
        if (next == self) return;
        handOff(self, next);
    }
}

void Machine::Impl::boundary() {
    decide(idx(cur));
    takeInterrupts();
}

// The library's dispatcher: everything requested and enabled, acknowledged
// and handed to its handlers, until nothing is left.
void Machine::Impl::takeInterrupts() {
    Cpu me = cur;
    Processor& p = cpu(me);
    Interrupts::State& s = interrupts.of(me);
    while (s.takeable()) {
        uint32_t pending = s.pendingEnabled();
        s.flags &= ~pending;
        s.served |= pending;
        p.lastValid = false;
        trace(me, TraceKind::Irq, Interrupts::names(pending));
        s.inHandler = true;
        for (int b = 0; b < 32; ++b) {
            if ((pending & (1u << b)) && s.handlers[b]) s.handlers[b]();
        }
        s.inHandler = false;
        p.lastValid = false;
    }
}

void Machine::Impl::haltCurrent(bool network) {
    Cpu me = cur;
    Processor& s = cpu(me);
    s.lastValid = false;
    s.time += kIoCost;
    if (interrupts.of(me).pendingEnabled()) {
        boundary();
        return;
    }
    s.run = RunState::Halted;
    s.netWait = network;
    decide(idx(me));
    s.netWait = false;
    takeInterrupts();
}

void Machine::Impl::idle(uint64_t until) {
    Processor& s = cpu(cur);
    uint64_t target = std::min(until, sched.next());
    const Processor& o = cpu(other(cur));
    if (o.run == RunState::Runnable) target = std::min(target, o.time + kQuantum);
    if (target != kNever && target > s.time) s.time = target;
    boundary();
}

// A halted processor wakes when an enabled interrupt is requested, whatever
// the master enable says.
void Machine::Impl::requestIrq(Cpu c, uint32_t mask) {
    interrupts.request(c, mask);
    Processor& s = cpu(c);
    if (s.run == RunState::Halted && interrupts.of(c).pendingEnabled()) {
        s.run = RunState::Runnable;
        uint64_t t = timeOf(cur);
        if (t > s.time) s.time = t;
        recomputeLimit();
    }
}

// Real-time mode keeps virtual time on the wall clock, anchored once and
// re-anchored only after falling far behind (so short stalls are caught up).
void Machine::Impl::waitWall(uint64_t fromCycle, uint64_t toCycle, bool forNetwork) {
    using namespace std::chrono;
    auto wallNow = steady_clock::now();
    steady_clock::time_point deadline;
    if (config.realtime) {
        if (!wallAnchored ||
            wallNow > wallBase + nanoseconds((toCycle - wallBaseCycle) * 1000000000ull / kBusHz) + milliseconds(100)) {
            wallAnchored = true;
            wallBase = wallNow;
            wallBaseCycle = fromCycle;
        }
        deadline = wallBase + nanoseconds((toCycle - wallBaseCycle) * 1000000000ull / kBusHz);
    } else {
        deadline = wallNow + nanoseconds((toCycle - fromCycle) * 1000000000ull / kBusHz);
    }
    if (deadline <= wallNow) return;
    if (forNetwork && hostWait) {
        hostWait(deadline);
        return;
    }
    std::this_thread::sleep_until(deadline);
}

void Machine::Impl::trace(Cpu c, TraceKind kind, const std::string& text) {
    TraceEntry e{timeOf(cur), c, kind, text};
    if (traceFile) std::fprintf(traceFile, "%s\n", formatTraceEntry(e).c_str());
    traceLog.push_back(std::move(e));
    if (traceLog.size() > kTraceKeep) traceLog.pop_front();
}

// ------------------------------------------------------------- services

namespace hw {

Cpu currentCpu() { return gMachine->cur; }

uint64_t now() {
    Machine::Impl& m = *gMachine;
    return m.timeOf(m.cur);
}

void charge(uint32_t cycles) {
    Machine::Impl& m = *gMachine;
    Processor& s = m.cpu(m.cur);
    s.time += cycles;
    if (s.time < m.limit && !m.interrupts.of(m.cur).takeable()) return;
    if (tlsCpu != idx(m.cur)) fatal("charge() called outside the running processor");
    m.boundary();
}

void enterCall(const char* name, std::optional<Cpu> only, uint32_t cost) {
    Machine::Impl& m = callerMachine(name);
    if (only && m.cur != *only) {
        fatal(std::string(name) + "() belongs to " + cpuName(*only) + " but " + cpuName(m.cur) + " called it");
    }
    charge(cost);
    m.cpu(m.cur).lastValid = false;
}

void halt() { callerMachine("halt").haltCurrent(false); }

void haltForNetwork() { callerMachine("haltForNetwork").haltCurrent(true); }

void setHostWait(HostWait wait) { gMachine->hostWait = std::move(wait); }

void idleUntil(uint64_t until) { callerMachine("idleUntil").idle(until); }

void requestIrq(Cpu cpu, uint32_t mask) { gMachine->requestIrq(cpu, mask); }

EventId schedule(uint64_t when, std::function<void()> action) { return gMachine->sched.at(when, std::move(action)); }

void cancel(EventId id) { gMachine->sched.cancel(id); }

PeriodicEvent every(uint64_t first, uint64_t period, std::function<void()> action) {
    return gMachine->sched.every(first, period, std::move(action));
}

void trace(TraceKind kind, const std::string& text) { gMachine->trace(gMachine->cur, kind, text); }

void traceFor(Cpu cpu, TraceKind kind, const std::string& text) { gMachine->trace(cpu, kind, text); }

void* deviceMemory(uint32_t address) {
    if (!gMachine || !gMachine->memory.mapped(address)) return nullptr;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

void fatal(const std::string& message) {
    if (gMachine && gMachine->traceFile) std::fflush(gMachine->traceFile);
    std::fflush(stdout);
    std::fprintf(stderr, "vx-handheld: %s\n", message.c_str());
    std::fflush(stderr);
    _exit(3);
}

const MachineConfig& config() { return gMachine->config; }

const ProgramImage& program(Cpu cpu) { return gMachine->cpu(cpu).program; }

wifi::Wireless& wireless() { return *gMachine->wireless; }

}  // namespace hw

// ------------------------------------------------------------- host API

Machine::Machine(const MachineConfig& config) {
    if (gMachine) hw::fatal("a second handheld machine in one process");
    impl_ = std::make_unique<Impl>(config);
    gMachine = impl_.get();
}

Machine::~Machine() {
    gMachine = nullptr;
    impl_.reset();
}

void Machine::load(Cpu cpu, const ProgramImage& program) {
    if (impl_->poweredOn) hw::fatal("load() after powerOn()");
    if (!program.entry) hw::fatal("program " + program.name + " has no entry point");
    impl_->cpu(cpu).program = program;
}

void Machine::powerOn() {
    Impl& m = *impl_;
    if (m.poweredOn) hw::fatal("powerOn() twice");
    m.baton = new Baton;
    leakedBatons().push_back(m.baton);
    m.clock.powerOn(m.config);
    m.poweredOn = true;
    m.displayStatus.start([&m] {
        if (++m.frames >= m.targetFrames) m.stop = true;
    });
    if (m.config.realtime) {
        // Pacing points a millisecond apart keep both processors near the wall clock.
        constexpr uint64_t kMillisecond = kBusHz / 1000;
        m.pacer = m.sched.every(kMillisecond, kMillisecond,
                                [&m] { m.waitWall(m.sched.eventTime(), m.sched.eventTime(), false); });
    }
    m.cur = m.cpu(Cpu::Main).program.entry ? Cpu::Main : Cpu::Co;
    for (int i = 0; i < 2; ++i) {
        Processor& c = m.cpus[i];
        if (!c.program.entry) continue;
        c.run = RunState::Runnable;
        std::thread(cpuThreadMain, &m, m.baton, i).detach();
    }
}

void Machine::runFrames(uint64_t frames) {
    Impl& m = *impl_;
    if (!m.poweredOn) hw::fatal("runFrames() before powerOn()");
    if (tlsCpu != -1) hw::fatal("runFrames() called from a processor");
    if (frames == 0) return;
    m.targetFrames = m.frames + frames;
    m.stop = false;
    m.decide(kHostThread);
    if (m.traceFile) std::fflush(m.traceFile);
}

bool Machine::runUntil(const std::function<bool()>& pred, uint64_t maxFrames) {
    for (uint64_t i = 0; i < maxFrames; ++i) {
        if (pred()) return true;
        runFrames(1);
    }
    return pred();
}

uint64_t Machine::cycles() const { return impl_->horizon; }
uint64_t Machine::frameCount() const { return impl_->frames; }

void Machine::setKeys(uint32_t held) { impl_->keypad.setHeld(held); }

void Machine::setTouch(bool down, int rawX, int rawY, int px, int py, int z1, int z2) {
    auto n = [](int v) { return static_cast<int16_t>(v); };
    impl_->touchScreen.setTouch(down, TouchScreen::Position{n(rawX), n(rawY), n(px), n(py), n(z1), n(z2)});
}

void Machine::setBattery(uint16_t value) { impl_->touchScreen.setBattery(value); }
void Machine::setAux(uint16_t value) { impl_->touchScreen.setAux(value); }

void Machine::setTemperature(uint32_t temperature, int diode1, int diode2) {
    impl_->touchScreen.setTemperature(temperature, diode1, diode2);
}

void Machine::setClock(const RtcTime& time, uint8_t statusByte) { impl_->clock.set(time, statusByte, impl_->horizon); }

std::vector<uint8_t> Machine::renderScreens() const { return vxsim::renderScreens(*impl_); }

std::vector<TraceEntry> Machine::trace() const { return {impl_->traceLog.begin(), impl_->traceLog.end()}; }

uint32_t Machine::peekIo(Cpu cpu, uint32_t address, unsigned bytes) const {
    return impl_->bus.read(cpu, address, bytes, true);
}

bool Machine::readMemory(uint32_t address, void* out, size_t size) const {
    if (tlsCpu != -1) hw::fatal("readMemory() called from a processor");
    if (!impl_->memory.mapped(address, size)) return false;
    std::memcpy(out, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), size);
    return true;
}

bool Machine::writeMemory(uint32_t address, const void* data, size_t size) {
    if (tlsCpu != -1) hw::fatal("writeMemory() called from a processor");
    if (!impl_->memory.mapped(address, size)) return false;
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), data, size);
    return true;
}

}  // namespace vxsim
