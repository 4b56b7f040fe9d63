// Interrupts reaching a processor: a request wakes a halted one, and one it
// may take enters the library through the BIOS's vector.
#include "machine_impl.h"

namespace vxsim {

// The processor and the BIOS on an interrupt, as irq_entry.S on the device:
// IE & IF acknowledged in IF, ORed into the check word, and handed to the
// library's service routine with further interrupts held off; again until
// nothing is left.
void Machine::Impl::takeInterrupts() {
    Cpu me = cur;
    Processor& p = cpu(me);
    Interrupts::State& s = interrupts.of(me);
    while (s.takeable()) {
        const uint32_t fired = s.pendingEnabled();
        p.lastValid = false;
        trace(me, TraceKind::Irq, Interrupts::names(fired));
        interrupts.acknowledge(me, fired);
        volatile uint32_t& check = biosIrqCheck(me);
        check = check | fired;
        s.inEntry = true;
        if (p.irqVector) p.irqVector(fired);
        s.inEntry = false;
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
