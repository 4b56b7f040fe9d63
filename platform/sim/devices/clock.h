// The co-processor's real-time clock: the date and time it was set to,
// running on with virtual time, and its status byte.
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
    // The clock's eight bytes at `cycle`: status, then year (two digits),
    // month, day, weekday, hours, minutes, seconds in BCD.
    void read(uint64_t cycle, uint8_t out[8]) const;

private:
    RtcTime base_;
    uint64_t baseCycle_ = 0;
    uint8_t status_ = 0;
    bool set_ = false;
};

}  // namespace vxsim

#endif
