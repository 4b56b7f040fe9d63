// The services of hw.h, for the code behind the program-facing calls: the
// running processor's time and waits, events, the trace, fatal errors.
#include <unistd.h>

#include <cstdio>

#include "machine_impl.h"

namespace vxsim {

Machine::Impl& callerMachine(const char* what) {
    Machine::Impl* m = gMachine;
    if (!m || !m->poweredOn) hw::fatal(std::string(what) + " called while no handheld is running");
    if (tlsCpu != idx(m->cur)) hw::fatal(std::string(what) + " called outside the running processor");
    return *m;
}

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

}  // namespace vxsim
