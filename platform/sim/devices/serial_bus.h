// The co-processor's serial bus: REG_SPICNT and REG_SPIDATA, in front of
// three chips (power management 0, firmware flash 1, touch controller 2).
//
// A byte written to SPIDATA while the bus is enabled selects the chip named
// in SPICNT (if it is not selected yet), goes out to it, and its answer can
// be read from SPIDATA once the transfer is over: busy (SPICNT bit 7) is set
// for eight bits at the chosen rate, SPIDATA shows the previous answer until
// then, and the end of the transfer requests IRQ_SPI if SPICNT bit 14 is
// set. The chip stays selected while bit 11 is set; a byte written without
// it ends the command, as does disabling the bus or naming another chip.
// Bytes written while busy are lost. The 16-bit transfer size (bit 10) is
// kept but transfers stay 8 bits.
#ifndef VXSIM_SERIAL_BUS_H
#define VXSIM_SERIAL_BUS_H

#include <array>

#include "device.h"

namespace vxsim {

// A chip on the bus, one command from its selection to its deselection.
class SerialChip {
public:
    // One byte in each direction: `out` from the processor, the answer back.
    virtual uint8_t exchange(uint8_t out) = 0;
    // The chip select drops: the command is over.
    virtual void deselect() = 0;

protected:
    ~SerialChip() = default;
};

class SerialBus : public Device {
public:
    // Chips by device number; a null one answers 0.
    SerialBus(Board& board, std::array<SerialChip*, 3> chips) : board_(board), chips_(chips) {}

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;
    uint64_t nextChange(Cpu cpu, unsigned id) override;

private:
    bool busy() const { return board_.timeOf(Cpu::Co) < doneAt_; }
    void transfer(uint8_t out);
    void endCommand();

    Board& board_;
    std::array<SerialChip*, 3> chips_;
    uint16_t control_ = 0;
    int selected_ = -1;  // the chip whose select is asserted
    uint8_t answer_ = 0, previous_ = 0;
    uint64_t doneAt_ = 0;  // when the transfer under way ends
};

}  // namespace vxsim

#endif
