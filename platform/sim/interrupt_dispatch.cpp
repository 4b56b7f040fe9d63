// Interrupts reaching a processor: a request wakes a halted one, and the
// library's dispatcher hands what is taken to its handlers.
#include "machine_impl.h"

namespace vxsim {

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

}  // namespace vxsim
