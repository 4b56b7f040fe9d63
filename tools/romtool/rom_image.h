// The handheld's ROM image: two ARM programs behind a header that the boot
// loader reads (title, codes, where each program lies in the image, where it
// is loaded and where it starts) and checks with a CRC-16.
#ifndef VX_ROM_IMAGE_H
#define VX_ROM_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crc16.h"

namespace vxrom {

enum class Processor { Main, Co };
const char* processorName(Processor processor);

// What the boot loader copies: the loadable bytes of an ELF file, from its
// lowest load address up, gaps filled with zero.
struct Program {
    uint32_t load = 0;
    uint32_t entry = 0;
    std::vector<uint8_t> bytes;
};

// Reads a 32-bit little-endian ARM executable, only the parts the image needs.
// Refuses anything but a regular file. On failure returns nullopt and says
// why in `error`.
std::optional<Program> readElf(const std::string& path, std::string& error);

// Checks that the boot loader may place `program` for `processor`; returns
// the reason it may not, or an empty string.
std::string checkPlacement(Processor processor, const Program& program);

// Checks that the two programs, both placed, do not share an address; returns
// the reason they do, or an empty string.
std::string checkOverlap(const Program& arm9, const Program& arm7);

// CRC-16 with the reflected polynomial 0xA001, bytes taken low bit first.
inline uint16_t crc16(const uint8_t* data, size_t size, uint16_t crc = 0xFFFF) {
    return vxshared::crc16(data, size, crc);
}

struct Identity {
    std::string title = "VXTANKS";  // up to 12 characters, stored upper-case
    std::string gameCode = "####";  // 4 characters
    std::string makerCode = "00";   // 2 characters
};

// Checks the identity fields; returns the reason they are unusable, or "".
std::string checkIdentity(const Identity& identity);

// Header offsets the loader reads.
namespace header {
constexpr size_t kTitle = 0x000, kGameCode = 0x00C, kMakerCode = 0x010, kCapacity = 0x014;
constexpr size_t kArm9 = 0x020, kArm7 = 0x030;  // each: ROM offset, entry, load address, size
constexpr size_t kUsedSize = 0x080, kHeaderSize = 0x084;
constexpr size_t kLogo = 0x0C0, kLogoEnd = 0x15C;
constexpr size_t kHeaderCrc = 0x15E;
constexpr uint32_t kSize = 0x4000;  // the header's whole area; programs follow it
}  // namespace header

// Lays out the image: the header, the main program at 0x8000 (past the area a
// retail card keeps encrypted), the co-processor's program after it, each on
// a 512-byte boundary, the file padded to one.
std::vector<uint8_t> buildRom(const Program& arm9, const Program& arm7, const Identity& identity);

// Writes `bytes` to a temporary file beside `path` and renames it into place,
// so `path` holds either its old content or the whole new image.
bool writeAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace vxrom

#endif
