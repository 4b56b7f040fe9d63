#include "clock.h"

#include <ctime>

namespace vxsim {

namespace {

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int month, int year) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : days[(month - 1) % 12];
}

RtcTime advance(RtcTime t, uint64_t seconds) {
    uint64_t total = static_cast<uint64_t>(t.seconds) + 60ull * t.minutes + 3600ull * t.hours + seconds;
    uint64_t days = total / 86400;
    uint64_t rem = total % 86400;
    t.hours = static_cast<int>(rem / 3600);
    t.minutes = static_cast<int>(rem / 60 % 60);
    t.seconds = static_cast<int>(rem % 60);
    t.weekday = static_cast<int>((static_cast<uint64_t>(t.weekday) + days) % 7);
    while (days > 0) {
        int left = daysIn(t.month, t.year) - t.day;  // days after today in this month
        if (days <= static_cast<uint64_t>(left)) {
            t.day += static_cast<int>(days);
            break;
        }
        days -= static_cast<uint64_t>(left) + 1;
        t.day = 1;
        if (++t.month > 12) {
            t.month = 1;
            if (++t.year > 2099) t.year = 2000;  // the clock keeps two digits
        }
    }
    return t;
}

}  // namespace

void Clock::set(const RtcTime& time, uint8_t status, uint64_t cycle) {
    base_ = time;
    status_ = status;
    baseCycle_ = cycle;
    set_ = true;
}

void Clock::powerOn(const MachineConfig& config) {
    if (set_) return;
    if (config.clock) {
        base_ = *config.clock;
        return;
    }
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    base_ = RtcTime{1900 + tm.tm_year, tm.tm_mon + 1, tm.tm_mday, tm.tm_wday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    if (base_.year < 2000 || base_.year > 2099) base_.year = 2000 + base_.year % 100;
}

uint8_t Clock::takeStatus1() {
    uint8_t v = status_;
    status_ &= static_cast<uint8_t>(~kPowerLost);
    return v;
}

// A reset starts the clock again at 2000-01-01 00:00:00 (the weekday counter
// at 0), in 12-hour mode with both status registers cleared; the other bits
// of the same write are then stored.
void Clock::writeStatus1(uint8_t value, uint64_t cycle) {
    if (value & kReset) {
        base_ = RtcTime{2000, 1, 1, 0, 0, 0, 0};
        baseCycle_ = cycle;
        status_ = 0;
        status2_ = 0;
    }
    status_ = static_cast<uint8_t>((status_ & 0xF0) | (value & 0x0E));
}

bool Clock::setTime(const RtcTime& time, uint64_t cycle) {
    const RtcTime& t = time;
    bool valid = t.year >= 2000 && t.year <= 2099 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                 t.day <= daysIn(t.month, t.year) && t.weekday >= 0 && t.weekday <= 6 && t.hours >= 0 &&
                 t.hours <= 23 && t.minutes >= 0 && t.minutes <= 59 && t.seconds >= 0 && t.seconds <= 59;
    if (!valid) return false;
    base_ = time;
    baseCycle_ = cycle;
    return true;
}

RtcTime Clock::at(uint64_t cycle) const {
    uint64_t elapsed = cycle > baseCycle_ ? (cycle - baseCycle_) / kBusHz : 0;
    return advance(base_, elapsed);
}

}  // namespace vxsim
