#include "rom_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
// A 32-bit ELF file addresses its parts with 32-bit offsets.
constexpr uint64_t kLargestFile = UINT32_MAX;

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

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

const char* processorName(Processor processor) { return processor == Processor::Main ? "arm9" : "arm7"; }

std::optional<Program> readElf(const std::string& path, std::string& error) {
    const auto refuse = [&](const std::string& why) -> std::optional<Program> {
        error = "'" + path + "' " + why;
        return std::nullopt;
    };
    const auto cannotRead = [&](const char* why) -> std::optional<Program> {
        error = "cannot read '" + path + "': " + why;
        return std::nullopt;
    };
    // The kind first: a FIFO would block the open, a device never ends.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return cannotRead(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return refuse("is " + std::string(kindOf(info.st_mode)) + ", not an ELF file");
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > kLargestFile)
        return refuse("is " + std::to_string(size) + " bytes, more than a 32-bit ELF file can address");
    // Non-blocking, should the path have become a FIFO since the check.
    const FileDescriptor file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) return cannotRead(std::strerror(errno));
    const auto readAt = [&](uint64_t offset, uint8_t* out, size_t count) {
        while (count > 0) {
            const ssize_t n = pread(file.fd, out, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) errno = 0;  // the end came early
            if (n <= 0) return false;
            out += n;
            offset += static_cast<uint64_t>(n);
            count -= static_cast<size_t>(n);
        }
        return true;
    };
    const auto changed = [&] { return cannotRead(errno ? std::strerror(errno) : "it shrank while being read"); };

    std::vector<uint8_t> header(kElfHeaderSize, 0);
    if (!readAt(0, header.data(), static_cast<size_t>(std::min<uint64_t>(size, kElfHeaderSize)))) return changed();
    if (size < 4 || std::memcmp(header.data(),
                                "\x7F"
                                "ELF",
                                4) != 0)
        return refuse("is not an ELF file");
    if (size < kElfHeaderSize) return refuse("ends inside its ELF header (" + std::to_string(size) + " bytes)");
    if (header[4] != 1 || header[5] != 1) return refuse("is not a 32-bit little-endian ELF file");
    if (get16(header, 18) != kMachineArm)
        return refuse("is not an ARM program (ELF machine " + std::to_string(get16(header, 18)) + ")");
    if (get16(header, 16) != kElfExecutable) return refuse("is not a linked executable");
    const uint32_t tableAt = get32(header, 28);
    const uint16_t entrySize = get16(header, 42), count = get16(header, 44);
    if (entrySize < kSegmentHeaderSize) return refuse("has a damaged program header table");
    if (tableAt + static_cast<uint64_t>(entrySize) * count > size)
        return refuse("ends inside its program header table");

    struct Segment {
        uint32_t offset, load, size;
    };
    std::vector<Segment> segments;
    std::vector<uint8_t> entry(kSegmentHeaderSize);
    for (uint16_t i = 0; i < count; ++i) {
        if (!readAt(tableAt + static_cast<uint64_t>(i) * entrySize, entry.data(), entry.size())) return changed();
        if (get32(entry, 0) != kSegmentLoad) continue;
        const Segment s{get32(entry, 4), get32(entry, 12), get32(entry, 16)};
        if (s.size == 0) continue;  // memory the start-up code clears, nothing to copy
        if (static_cast<uint64_t>(s.offset) + s.size > size) return refuse("ends inside a loadable segment");
        segments.push_back(s);
    }
    if (segments.empty()) return refuse("has nothing to load");
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) { return a.load < b.load; });
    uint64_t high = 0;
    for (const Segment& s : segments) {
        // Copied in turn, the later segment would silently win.
        if (s.load < high) return refuse("has loadable segments that overlap at " + hex(s.load));
        high = static_cast<uint64_t>(s.load) + s.size;
    }
    const uint32_t low = segments.front().load;
    if (high - low > kLargestSpan)
        return refuse("spreads its loadable bytes over " + std::to_string(high - low) +
                      " bytes, more than main memory holds");
    Program program;
    program.load = low;
    program.entry = get32(header, 24);
    program.bytes.assign(static_cast<size_t>(high - low), 0);
    for (const Segment& s : segments)
        if (!readAt(s.offset, program.bytes.data() + (s.load - low), s.size)) return changed();
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
        if (program.entry & 1)
            return who + " entry point " + hex(program.entry) +
                   " is a Thumb address: the loader starts a program in ARM state";
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

std::string checkOverlap(const Program& arm9, const Program& arm7) {
    const uint64_t end9 = static_cast<uint64_t>(arm9.load) + paddedSize(arm9);
    const uint64_t end7 = static_cast<uint64_t>(arm7.load) + paddedSize(arm7);
    if (arm9.load >= end7 || arm7.load >= end9) return "";
    return "arm9 image " + hex(arm9.load) + ".." + hex(static_cast<uint32_t>(end9)) + " and arm7 image " +
           hex(arm7.load) + ".." + hex(static_cast<uint32_t>(end7)) +
           " overlap: the loader would copy one over the other";
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
