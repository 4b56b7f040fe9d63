// Virtual time against the wall clock: in real-time mode, and while every
// processor waits for the host network.
#include <chrono>
#include <thread>

#include "machine_impl.h"

namespace vxsim {

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

}  // namespace vxsim
