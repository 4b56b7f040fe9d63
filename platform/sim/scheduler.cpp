#include "scheduler.h"

namespace vxsim {

void Scheduler::push(uint64_t when, EventId id) {
    heap_.push(Pending{when, nextSeq_++, id});
    if (when < limit_) limit_ = when;
}

EventId Scheduler::add(uint64_t when, Action action) {
    EventId id = nextId_++;
    actions_.emplace(id, std::move(action));
    push(when, id);
    return id;
}

EventId Scheduler::at(uint64_t when, std::function<void()> action) { return add(when, Action{std::move(action), 0}); }

PeriodicEvent Scheduler::every(uint64_t first, uint64_t period, std::function<void()> action) {
    return PeriodicEvent(*this, add(first, Action{std::move(action), period}));
}

void Scheduler::cancel(EventId id) { actions_.erase(id); }

uint64_t Scheduler::next() {
    while (!heap_.empty() && !actions_.count(heap_.top().id)) heap_.pop();
    return heap_.empty() ? kNever : heap_.top().when;
}

void Scheduler::runNext() {
    next();
    Pending ev = heap_.top();
    heap_.pop();
    auto it = actions_.find(ev.id);
    // Moved out while it runs: the action may cancel itself or schedule more.
    std::function<void()> run = std::move(it->second.run);
    uint64_t period = it->second.period;
    if (period) {
        push(ev.when + period, ev.id);  // the next one is due before anything the action schedules
    } else {
        actions_.erase(it);
    }
    bool wasIn = inEvent_;
    uint64_t wasTime = eventTime_;
    inEvent_ = true;
    eventTime_ = ev.when;
    run();
    inEvent_ = wasIn;
    eventTime_ = wasTime;
    if (period) {
        auto again = actions_.find(ev.id);
        if (again != actions_.end()) again->second.run = std::move(run);
    }
}

}  // namespace vxsim
