// Keeps the "ignored" lines of a flood to a few a second: the first few of
// each second are written in full, the rest are counted by reason and told in
// one "ignored N more (REASON: count, ...)" line once that second is over.
#ifndef VX_SERVER_IGNORE_LIMIT_H
#define VX_SERVER_IGNORE_LIMIT_H

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vxserver {

enum class IgnoreReason { WrongSize, WrongPayload, UnknownPlayer, IdsUsedUp, Count };
constexpr size_t kIgnoreReasons = static_cast<size_t>(IgnoreReason::Count);

// The name in the log: "ignored: NAME: ..." and "(NAME: count, ...)".
const char* reasonName(IgnoreReason reason);

class IgnoreLineLimit {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultLinesPerSecond = 5;

    explicit IgnoreLineLimit(int linesPerSecond = kDefaultLinesPerSecond) : linesPerSecond_(linesPerSecond) {}

    // One ignored datagram at `now`: true when its own line may be written.
    // Call takeHeldBack(now) first, so a second that has ended is told before
    // the next one starts.
    bool admit(IgnoreReason reason, Clock::time_point now);

    // The "ignored N more (...)" line (without a line end) for the datagrams
    // held back in a second that has ended by `now`, or in the current one
    // when `evenIfNotOver`; empty when there is nothing to tell.
    std::string takeHeldBack(Clock::time_point now, bool evenIfNotOver = false);

    // When takeHeldBack will next have something to tell, if anything is held back.
    std::optional<Clock::time_point> due() const;

private:
    int linesPerSecond_;
    bool open_ = false;  // a second is being counted
    Clock::time_point secondStart_{};
    int linesThisSecond_ = 0;
    uint64_t heldBackTotal_ = 0;
    std::array<uint64_t, kIgnoreReasons> heldBack_{};
};

}  // namespace vxserver

#endif
