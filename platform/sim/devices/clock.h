// The co-processor's real-time clock: the date and time it was set to,
// running on with virtual time, and its two status registers. ClockPort
// (clock_port.h) is its serial port, through which the library reads it.
#ifndef VXSIM_CLOCK_H
#define VXSIM_CLOCK_H

#include <cstdint>

#include "machine.h"

namespace vxsim {

class Clock {
public:
    // Sets the time as of virtual cycle `cycle`.
    void set(const RtcTime& time, uint8_t status, uint64_t cycle);
    // At power-on: the configured time, or the host's local time, unless
    // the host has set the clock already.
    void powerOn(const MachineConfig& config);

    RtcTime at(uint64_t cycle) const;
    uint8_t status() const { return status_; }

    // Status register 1: reset (bit 0, written), 24-hour mode (1), two
    // general-purpose bits (2-3), and the read-only flags above them, of
    // which power lost (7) clears as it is read.
    static constexpr uint8_t kReset = 0x01, k24Hour = 0x02, kPowerLost = 0x80;
    uint8_t takeStatus1();
    void writeStatus1(uint8_t value, uint64_t cycle);
    uint8_t status2() const { return status2_; }
    void writeStatus2(uint8_t value) { status2_ = value; }
    // Sets the date and time as a program writes them, keeping the status;
    // false, changing nothing, for a date or time that does not exist.
    bool setTime(const RtcTime& time, uint64_t cycle);

private:
    RtcTime base_;
    uint64_t baseCycle_ = 0;
    uint8_t status_ = 0;
    uint8_t status2_ = 0;
    bool set_ = false;
};

}  // namespace vxsim

#endif
