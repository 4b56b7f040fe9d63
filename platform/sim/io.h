// The register bus: every register access of a program, by address and
// width, lands on the devices' registers it covers. A wider access is split
// over the registers it spans, a narrower one merged into the register it
// falls in; an address no device claims keeps whatever bytes are written.
#ifndef VXSIM_IO_H
#define VXSIM_IO_H

#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

#include "devices/device.h"

namespace vxsim {

class Bus {
public:
    Bus(Board& board, std::initializer_list<Device*> devices);

    // `bytes` is 1, 2 or 4; the address is aligned down to it. `takes`, if
    // given, says whether the read changed its device (a read that takes a
    // word from a FIFO is never a spin).
    uint32_t read(Cpu cpu, uint32_t address, unsigned bytes, bool peek, bool* takes = nullptr);
    void write(Cpu cpu, uint32_t address, unsigned bytes, uint32_t value);
    // When the value read at `address` could next differ without `cpu`
    // doing anything (kNever: only other activity changes it).
    uint64_t nextChange(Cpu cpu, uint32_t address);
    // The register's name in the trace, "NAME/16" for a part of a wider
    // register, else the address.
    std::string name(Cpu cpu, uint32_t address, unsigned bytes) const;

private:
    struct Row {
        Device* device;
        Register reg;
    };
    // Registers by address, 4 KB at a time: 0 no register, else a row + 1.
    struct Page {
        uint32_t base;
        std::vector<uint16_t> slots;
    };
    const Row* find(Cpu cpu, uint32_t address) const;
    template <typename Part>
    void forEachPart(Cpu cpu, uint32_t address, unsigned bytes, Part part);

    Board& board_;
    std::vector<Row> rows_;
    std::vector<Page> pages_[2];
    std::unordered_map<uint32_t, uint8_t> plain_[2];  // bytes of addresses without a register
};

}  // namespace vxsim

#endif
