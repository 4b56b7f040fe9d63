// Running the two processors: the one baton passed between their threads,
// events in step with both, halts and idling.
#include <algorithm>

#include "machine_impl.h"

namespace vxsim {

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

}  // namespace

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

}  // namespace vxsim
