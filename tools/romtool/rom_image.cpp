#include "rom_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vxrom {

namespace {

// ELF32 fields, little-endian.
constexpr uint16_t kElfExecutable = 2;
constexpr uint16_t kMachineArm = 40;
constexpr uint32_t kSegmentLoad = 1;
constexpr size_t kElfHeaderSize = 52, kSegmentHeaderSize = 32;

// The largest span of loadable bytes any program could need: main memory.
constexpr uint32_t kLargestSpan = 0x400000;

// Where the boot loader may put each program: [first, end).
struct Window {
    uint32_t first, end;
    const char* name;
};
constexpr Window kMainWindows[] = {{0x02000000, 0x023BFE00, "main memory"}};
constexpr Window kCoWindows[] = {{0x02000000, 0x023BFE00, "main memory"},
                                 {0x037F8000, 0x03807E00, "the co-processor's work memory"}};

constexpr uint32_t kArm9Offset = 0x8000;
constexpr uint32_t kBlock = 0x200;  // the card is read in 512-byte blocks
constexpr uint32_t kSmallestChip = 0x20000;

uint32_t roundUp(uint32_t value, uint32_t to) { return (value + to - 1) / to * to; }

uint16_t get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

uint32_t paddedSize(const Program& p) { return roundUp(static_cast<uint32_t>(p.bytes.size()), 4); }

}  // namespace

const char* processorName(Processor processor) { return processor == Processor::Main ? "arm9" : "arm7"; }

std::optional<Program> readElf(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read '" + path + "': " + std::strerror(errno);
        return std::nullopt;
    }
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < kElfHeaderSize || std::memcmp(file.data(),
                                                    "\x7F"
                                                    "ELF",
                                                    4) != 0) {
        error = "'" + path + "' is not an ELF file";
        return std::nullopt;
    }
    if (file[4] != 1 || file[5] != 1) {
        error = "'" + path + "' is not a 32-bit little-endian ELF file";
        return std::nullopt;
    }
    if (get16(file, 18) != kMachineArm) {
        error = "'" + path + "' is not an ARM program (ELF machine " + std::to_string(get16(file, 18)) + ")";
        return std::nullopt;
    }
    if (get16(file, 16) != kElfExecutable) {
        error = "'" + path + "' is not a linked executable";
        return std::nullopt;
    }
    const uint32_t tableAt = get32(file, 28);
    const uint16_t entrySize = get16(file, 42), count = get16(file, 44);
    if (entrySize < kSegmentHeaderSize || tableAt + static_cast<uint64_t>(entrySize) * count > file.size()) {
        error = "'" + path + "' has a damaged program header table";
        return std::nullopt;
    }

    struct Segment {
        uint32_t offset, load, size;
    };
    std::vector<Segment> segments;
    uint32_t low = UINT32_MAX;
    uint64_t high = 0;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t at = tableAt + static_cast<size_t>(i) * entrySize;
        if (get32(file, at) != kSegmentLoad) continue;
        const Segment s{get32(file, at + 4), get32(file, at + 12), get32(file, at + 16)};
        if (s.size == 0) continue;  // memory the start-up code clears, nothing to copy
        if (static_cast<uint64_t>(s.offset) + s.size > file.size()) {
            error = "'" + path + "' ends inside a loadable segment";
            return std::nullopt;
        }
        segments.push_back(s);
        low = std::min(low, s.load);
        high = std::max(high, static_cast<uint64_t>(s.load) + s.size);
    }
    if (segments.empty()) {
        error = "'" + path + "' has nothing to load";
        return std::nullopt;
    }
    if (high - low > kLargestSpan) {
        error = "'" + path + "' spreads its loadable bytes over " + std::to_string(high - low) +
                " bytes, more than main memory holds";
        return std::nullopt;
    }
    Program program;
    program.load = low;
    program.entry = get32(file, 24);
    program.bytes.assign(static_cast<size_t>(high - low), 0);
    for (const Segment& s : segments)
        std::memcpy(program.bytes.data() + (s.load - low), file.data() + s.offset, s.size);
    return program;
}

std::string checkPlacement(Processor processor, const Program& program) {
    const uint64_t end = static_cast<uint64_t>(program.load) + paddedSize(program);
    const Window* first = processor == Processor::Main ? std::begin(kMainWindows) : std::begin(kCoWindows);
    const Window* last = processor == Processor::Main ? std::end(kMainWindows) : std::end(kCoWindows);
    const std::string who = processorName(processor);
    for (const Window* w = first; w != last; ++w) {
        if (program.load < w->first || program.load >= w->end) continue;
        if (end > w->end)
            return who + " image " + hex(program.load) + ".." + hex(static_cast<uint32_t>(end)) + " (" +
                   std::to_string(program.bytes.size()) + " bytes) does not fit " + w->name +
                   ", which the loader fills only up to " + hex(w->end);
        if (program.entry < program.load || program.entry >= end)
            return who + " entry point " + hex(program.entry) + " lies outside its image " + hex(program.load) + ".." +
                   hex(static_cast<uint32_t>(end));
        return "";
    }
    std::string allowed;
    for (const Window* w = first; w != last; ++w)
        allowed += (allowed.empty() ? "" : " or ") + hex(w->first) + ".." + hex(w->end) + " (" + w->name + ")";
    return who + " load address " + hex(program.load) + " is outside the processor's memory: " + allowed;
}

uint16_t crc16(const uint8_t* data, size_t size, uint16_t crc) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

std::string checkIdentity(const Identity& identity) {
    const auto printable = [](const std::string& s) {
        for (char c : s)
            if (c < 0x20 || c > 0x7E) return false;
        return true;
    };
    if (identity.title.empty() || identity.title.size() > 12 || !printable(identity.title))
        return "the title must be 1 to 12 printable ASCII characters, not '" + identity.title + "'";
    if (identity.gameCode.size() != 4 || !printable(identity.gameCode))
        return "the game code must be 4 printable ASCII characters, not '" + identity.gameCode + "'";
    if (identity.makerCode.size() != 2 || !printable(identity.makerCode))
        return "the maker code must be 2 printable ASCII characters, not '" + identity.makerCode + "'";
    return "";
}

std::vector<uint8_t> buildRom(const Program& arm9, const Program& arm7, const Identity& identity) {
    const uint32_t arm9Size = paddedSize(arm9), arm7Size = paddedSize(arm7);
    const uint32_t arm7Offset = roundUp(kArm9Offset + arm9Size, kBlock);
    const uint32_t used = arm7Offset + arm7Size;
    std::vector<uint8_t> rom(roundUp(used, kBlock), 0);

    for (size_t i = 0; i < identity.title.size(); ++i)
        rom[header::kTitle + i] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(identity.title[i])));
    std::memcpy(&rom[header::kGameCode], identity.gameCode.data(), 4);
    std::memcpy(&rom[header::kMakerCode], identity.makerCode.data(), 2);
    uint8_t capacity = 0;  // the chip holds 128 KB << capacity
    while ((static_cast<uint64_t>(kSmallestChip) << capacity) < rom.size()) ++capacity;
    rom[header::kCapacity] = capacity;

    const auto placeProgram = [&](size_t field, uint32_t offset, const Program& p, uint32_t size) {
        put32(rom, field, offset);
        put32(rom, field + 4, p.entry);
        put32(rom, field + 8, p.load);
        put32(rom, field + 12, size);
        std::memcpy(&rom[offset], p.bytes.data(), p.bytes.size());
    };
    placeProgram(header::kArm9, kArm9Offset, arm9, arm9Size);
    placeProgram(header::kArm7, arm7Offset, arm7, arm7Size);

    // The card's usual bus timing and secure-area delay.
    put32(rom, 0x060, 0x00586000);
    put32(rom, 0x064, 0x001808F8);
    put16(rom, 0x06E, 0x051E);
    put32(rom, header::kUsedSize, used);
    put32(rom, header::kHeaderSize, header::kSize);
    // The logo area and its CRC stay zero: no vendor data goes in.
    put16(rom, header::kHeaderCrc, crc16(rom.data(), header::kHeaderCrc));
    return rom;
}

bool writeAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const std::string temporary = path + ".partial-XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    const auto fail = [&](const char* what) {
        error = std::string("cannot ") + what + " '" + path + "': " + std::strerror(errno);
        close(fd);
        unlink(name.data());
        return false;
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("write");
        }
        done += static_cast<size_t>(n);
    }
    if (fchmod(fd, 0644) != 0 || fsync(fd) != 0) return fail("finish");
    if (close(fd) != 0) {
        error = "cannot finish '" + path + "': " + std::strerror(errno);
        unlink(name.data());
        return false;
    }
    if (rename(name.data(), path.c_str()) != 0) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        unlink(name.data());
        return false;
    }
    return true;
}

}  // namespace vxrom
