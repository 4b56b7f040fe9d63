#include "ignore_limit.h"

namespace vxserver {

namespace {
constexpr auto kSecond = std::chrono::seconds(1);
}

const char* reasonName(IgnoreReason reason) {
    switch (reason) {
    case IgnoreReason::WrongSize:
        return "wrong size";
    case IgnoreReason::WrongPayload:
        return "wrong payload";
    case IgnoreReason::UnknownPlayer:
        return "unknown player";
    case IgnoreReason::IdsUsedUp:
        return "ids used up";
    case IgnoreReason::Count:
        break;
    }
    return "?";
}

bool IgnoreLineLimit::admit(IgnoreReason reason, Clock::time_point now) {
    if (!open_ || now - secondStart_ >= kSecond) {
        // Held-back counts of an ended second are kept until they are taken,
        // so nothing is lost if the caller skipped takeHeldBack.
        open_ = true;
        secondStart_ = now;
        linesThisSecond_ = 0;
    }
    if (linesThisSecond_ < linesPerSecond_) {
        ++linesThisSecond_;
        return true;
    }
    ++heldBack_[static_cast<size_t>(reason)];
    ++heldBackTotal_;
    return false;
}

std::string IgnoreLineLimit::takeHeldBack(Clock::time_point now, bool evenIfNotOver) {
    if (heldBackTotal_ == 0 || (!evenIfNotOver && now - secondStart_ < kSecond)) return {};
    std::string text = "ignored " + std::to_string(heldBackTotal_) + " more (";
    const char* separator = "";
    for (size_t r = 0; r < kIgnoreReasons; ++r) {
        if (heldBack_[r] == 0) continue;
        text += separator;
        text += reasonName(static_cast<IgnoreReason>(r));
        text += ": " + std::to_string(heldBack_[r]);
        separator = ", ";
    }
    text += ")";
    heldBack_.fill(0);
    heldBackTotal_ = 0;
    return text;
}

std::optional<IgnoreLineLimit::Clock::time_point> IgnoreLineLimit::due() const {
    if (heldBackTotal_ == 0) return std::nullopt;
    return secondStart_ + kSecond;
}

}  // namespace vxserver
