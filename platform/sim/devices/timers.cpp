#include "timers.h"

#include <nds.h>

namespace vxsim {

namespace {

// Ids: 2n for TIMERn_DATA, 2n + 1 for TIMERn_CR.
constexpr Register kRegisters[] = {
    {0x04000100, 2, SeenBy::Both, "TIMER0_DATA", 0}, {0x04000102, 2, SeenBy::Both, "TIMER0_CR", 1},
    {0x04000104, 2, SeenBy::Both, "TIMER1_DATA", 2}, {0x04000106, 2, SeenBy::Both, "TIMER1_CR", 3},
    {0x04000108, 2, SeenBy::Both, "TIMER2_DATA", 4}, {0x0400010A, 2, SeenBy::Both, "TIMER2_CR", 5},
    {0x0400010C, 2, SeenBy::Both, "TIMER3_DATA", 6}, {0x0400010E, 2, SeenBy::Both, "TIMER3_CR", 7},
};

// Control: the divider (bits 0-1), counting up (2), interrupt (6) and
// enable (7); the other bits do not exist.
constexpr uint16_t kControlBits = 0x00C7;
// Bus cycles per tick, as a shift, for each divider setting.
constexpr unsigned kDivShift[4] = {0, 6, 8, 10};

// Timer 0 has no timer before it: its count-up bit is ignored.
bool freeRunning(int n, uint16_t control) { return (control & TIMER_ENABLE) && !(n > 0 && (control & TIMER_CASCADE)); }

}  // namespace

std::span<const Register> Timers::registers() const { return kRegisters; }

uint16_t Timers::value(Cpu cpu, int n, uint64_t t) {
    const Timer& tm = timer(cpu, n);
    if (!freeRunning(n, tm.control) || t < tm.startTime) return tm.counter;
    uint64_t v = tm.counter + ((t - tm.startTime) >> kDivShift[tm.control & 3]);
    if (v < 0x10000) return static_cast<uint16_t>(v);
    uint64_t period = 0x10000u - tm.reload;
    return static_cast<uint16_t>(tm.reload + (v - 0x10000) % period);
}

uint32_t Timers::read(Cpu cpu, unsigned id, bool) {
    int n = static_cast<int>(id / 2);
    if (id & 1) return timer(cpu, n).control;
    return value(cpu, n, board_.timeOf(cpu));  // the counter; the reload value cannot be read back
}

void Timers::write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) {
    int n = static_cast<int>(id / 2);
    Timer& tm = timer(cpu, n);
    if (id & 1) {
        writeControl(cpu, n, static_cast<uint16_t>(merge(tm.control, value, mask)));
    } else {
        tm.reload = static_cast<uint16_t>(merge(tm.reload, value, mask));  // taken at the next start or overflow
    }
}

void Timers::writeControl(Cpu cpu, int n, uint16_t control) {
    Timer& tm = timer(cpu, n);
    uint64_t t = board_.timeOf(cpu);
    uint16_t old = tm.control;
    control &= kControlBits;
    if ((old & TIMER_ENABLE) && (control & TIMER_ENABLE) && (old & 7) == (control & 7)) {
        tm.control = control;  // same counting: only the interrupt bit changes
        return;
    }
    tm.counter = value(cpu, n, t);
    if (!(old & TIMER_ENABLE) && (control & TIMER_ENABLE)) tm.counter = tm.reload;  // starting loads the reload value
    tm.control = control;
    tm.startTime = t;
    arm(cpu, n);
}

// One overflow at a time: the period follows the reload value, which the
// program may change while the timer runs.
void Timers::arm(Cpu cpu, int n) {
    Scheduler& sched = board_.scheduler();
    Timer& tm = timer(cpu, n);
    if (tm.overflow) sched.cancel(tm.overflow);
    tm.overflow = 0;
    if (!freeRunning(n, tm.control)) return;
    uint64_t when = tm.startTime + ((0x10000u - tm.counter) << kDivShift[tm.control & 3]);
    tm.overflow = sched.at(when, [this, cpu, n, when] {
        Timer& t = timer(cpu, n);
        t.overflow = 0;
        t.counter = t.reload;
        t.startTime = when;  // periodic from the deadline, not from whenever this ran
        arm(cpu, n);
        overflowed(cpu, n);
    });
}

void Timers::overflowed(Cpu cpu, int n) {
    if (timer(cpu, n).control & TIMER_IRQ_REQ) board_.requestIrq(cpu, IRQ_TIMER(n));
    if (n == 3) return;
    Timer& up = timer(cpu, n + 1);
    if ((up.control & TIMER_ENABLE) && (up.control & TIMER_CASCADE) && ++up.counter == 0) {
        up.counter = up.reload;
        overflowed(cpu, n + 1);
    }
}

uint64_t Timers::nextChange(Cpu cpu, unsigned id) {
    if (id & 1) return kNever;
    int n = static_cast<int>(id / 2);
    const Timer& tm = timer(cpu, n);
    if (!freeRunning(n, tm.control)) return kNever;
    uint64_t t = board_.timeOf(cpu);
    unsigned shift = kDivShift[tm.control & 3];
    return tm.startTime + ((((t - tm.startTime) >> shift) + 1) << shift);
}

}  // namespace vxsim
