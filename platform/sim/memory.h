// Device memory mapped at its device addresses in this process: main memory
// (4 MB, mirrored up to 0x02FFFFFF), palettes, the video-memory banks, and
// the page of each processor's BIOS words (memory_map.h).
//
// Video memory the processor cannot see under the current bank settings is
// left inaccessible: a program storing there has a bug (on the device the
// store is lost), and failing at the faulting address names it precisely
// instead of showing only as a picture that never appears.
#ifndef VXSIM_MEMORY_H
#define VXSIM_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxsim {

constexpr int kVramBanks = 5;  // A to E
constexpr uint32_t kBankSize[kVramBanks] = {128u << 10, 128u << 10, 128u << 10, 128u << 10, 64u << 10};

class Memory {
public:
    Memory();  // maps everything; no bank visible yet
    ~Memory();
    Memory(const Memory&) = delete;
    Memory& operator=(const Memory&) = delete;

    struct BankMapping {
        int bank = -1;
        uint32_t address = 0;  // where the processor sees it
    };
    // Shows each listed bank at its address and hides the rest.
    void mapBanks(const std::vector<BankMapping>& banks);

    // Whether `address` (and the `size` bytes from it) is backed by memory
    // the processor can reach.
    bool mapped(uint32_t address) const;
    bool mapped(uint32_t address, size_t size) const;

    // A bank's contents wherever the processor sees it (the renderer's view).
    const uint8_t* bankContents(int bank) const;

private:
    int ramFd_ = -1, vramFd_ = -1;
    uint8_t* vramHost_ = nullptr;  // all banks, for the renderer
    std::vector<BankMapping> banks_;
};

}  // namespace vxsim

#endif
