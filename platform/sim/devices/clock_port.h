// The co-processor's clock port, REG_RTC: three lines to the real-time clock
// chip, data (bit 0), clock (bit 1) and chip select (bit 2), each driven by
// the processor where its direction bit (4, 5, 6) is set. While selected the
// chip takes a command byte, then data bytes, least significant bit first on
// rising clock edges; for a read it puts each data bit on the data line at
// the rising edge, for the processor to read after it. Edge hold times are
// not checked, and the alarm registers only keep what is written.
//
// Also REG_RCNT, which routes the port on the device; here it only keeps
// what is written.
#ifndef VXSIM_CLOCK_PORT_H
#define VXSIM_CLOCK_PORT_H

#include "clock.h"
#include "device.h"

namespace vxsim {

class ClockPort : public Device {
public:
    ClockPort(Board& board, Clock& clock) : board_(board), clock_(clock) {}

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    void risingEdge();
    void commandTaken();
    void byteWritten();
    void deselected();
    uint64_t now() const { return board_.timeOf(Cpu::Co); }

    Board& board_;
    Clock& clock_;
    uint8_t port_ = 0;  // as the processor wrote it
    uint16_t rcnt_ = 0;

    // One command, from chip select up to chip select down.
    bool selected_ = false;
    uint8_t dataOut_ = 0;  // the bit the chip drives
    int bit_ = 0;          // of the byte under way
    uint8_t shift_ = 0;
    bool haveCommand_ = false, valid_ = false;
    uint8_t command_ = 0;
    int bytes_ = 0;      // data bytes complete
    uint8_t data_[7]{};  // the register's bytes, read (latched at the command) or written
    bool rejected_ = false;

    uint8_t alarm_[2][3]{}, adjust_ = 0, free_ = 0;  // registers 4 to 7
};

}  // namespace vxsim

#endif
