// Events in virtual time. Each runs with the machine's now() equal to its
// time, those due at the same time in the order they were scheduled, and any
// can be cancelled by its id until it has run.
#ifndef VXSIM_SCHEDULER_H
#define VXSIM_SCHEDULER_H

#include <cstdint>
#include <functional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace vxsim {

constexpr uint64_t kNever = UINT64_MAX;

using EventId = uint64_t;  // 0 is no event

class PeriodicEvent;

class Scheduler {
public:
    // `limit` is the bound up to which the running processor runs without
    // asking the scheduler; an event scheduled before it lowers it.
    explicit Scheduler(uint64_t& limit) : limit_(limit) {}
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    EventId at(uint64_t when, std::function<void()> action);
    // `action` at `first`, then every `period` cycles until the handle is
    // cancelled or goes away.
    PeriodicEvent every(uint64_t first, uint64_t period, std::function<void()> action);
    void cancel(EventId id);

    // Time of the earliest pending event, kNever when none is.
    uint64_t next();
    // Runs the earliest pending event (there must be one).
    void runNext();

    bool inEvent() const { return inEvent_; }
    uint64_t eventTime() const { return eventTime_; }

private:
    struct Pending {
        uint64_t when;
        uint64_t seq;
        EventId id;
        bool operator>(const Pending& o) const { return when != o.when ? when > o.when : seq > o.seq; }
    };
    struct Action {
        std::function<void()> run;
        uint64_t period = 0;  // 0: once
    };
    EventId add(uint64_t when, Action action);
    void push(uint64_t when, EventId id);

    uint64_t& limit_;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> heap_;
    std::unordered_map<EventId, Action> actions_;  // pending ones; a cancelled id is simply absent
    EventId nextId_ = 1;
    uint64_t nextSeq_ = 0;
    bool inEvent_ = false;
    uint64_t eventTime_ = 0;
};

// A repeating event, cancelled when its handle is cancelled, replaced or
// destroyed. The scheduler must outlive it.
class PeriodicEvent {
public:
    PeriodicEvent() = default;
    PeriodicEvent(Scheduler& scheduler, EventId id) : scheduler_(&scheduler), id_(id) {}
    PeriodicEvent(PeriodicEvent&& other) noexcept : scheduler_(other.scheduler_), id_(other.id_) { other.id_ = 0; }
    PeriodicEvent& operator=(PeriodicEvent&& other) noexcept {
        if (this != &other) {
            cancel();
            scheduler_ = other.scheduler_;
            id_ = other.id_;
            other.id_ = 0;
        }
        return *this;
    }
    ~PeriodicEvent() { cancel(); }

    void cancel() {
        if (id_ != 0) scheduler_->cancel(id_);
        id_ = 0;
    }
    explicit operator bool() const { return id_ != 0; }

private:
    Scheduler* scheduler_ = nullptr;
    EventId id_ = 0;
};

}  // namespace vxsim

#endif
