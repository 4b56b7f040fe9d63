// The ROM builder as the device build runs it: the real vx-romtool binary on
// small ELF files written here, and the image read back byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "process.h"
#include "rom_image.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using vxtest::binaryPath;
using vxtest::runProcess;

namespace {

struct Segment {
    uint32_t load;
    std::vector<uint8_t> bytes;
    uint32_t memorySize = 0;  // 0: as many as bytes
};

void put(std::vector<uint8_t>& b, size_t at, uint32_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A minimal ELF32 executable: header, program headers, segment bytes.
std::vector<uint8_t> elf(uint16_t machine, uint32_t entry, const std::vector<Segment>& segments) {
    std::vector<uint8_t> f(52 + 32 * segments.size(), 0);
    std::memcpy(f.data(),
                "\x7F"
                "ELF\x01\x01\x01",
                7);
    put(f, 16, 2, 2);  // executable
    put(f, 18, machine, 2);
    put(f, 20, 1, 4);
    put(f, 24, entry, 4);
    put(f, 28, 52, 4);
    put(f, 40, 52, 2);
    put(f, 42, 32, 2);
    put(f, 44, static_cast<uint32_t>(segments.size()), 2);
    for (size_t i = 0; i < segments.size(); ++i) {
        const size_t ph = 52 + 32 * i;
        const Segment& s = segments[i];
        put(f, ph, 1, 4);  // loadable
        put(f, ph + 4, static_cast<uint32_t>(f.size()), 4);
        put(f, ph + 8, s.load, 4);
        put(f, ph + 12, s.load, 4);
        put(f, ph + 16, static_cast<uint32_t>(s.bytes.size()), 4);
        put(f, ph + 20, s.memorySize ? s.memorySize : static_cast<uint32_t>(s.bytes.size()), 4);
        f.insert(f.end(), s.bytes.begin(), s.bytes.end());
    }
    return f;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

uint32_t word(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

constexpr uint16_t kArm = 40, kX86 = 3;

class RomTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
    }

    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    std::vector<uint8_t> read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    vxtest::ProcessResult romtool(const std::string& arm9, const std::string& arm7, const std::string& output) {
        return runProcess(
            {binaryPath("vx-romtool"), "--arm9", arm9, "--arm7", arm7, "--output", output, "--title", "vxTanks"},
            std::chrono::seconds(20));
    }
    std::string goodArm9() { return write("arm9.elf", elf(kArm, 0x02000000, {{0x02000000, pattern(1000, 1)}})); }
    std::string goodArm7() { return write("arm7.elf", elf(kArm, 0x03800010, {{0x03800000, pattern(300, 9)}})); }

    // The tool refused: one line saying why, status 1, and `output` left as it was.
    void expectRefused(const std::string& arm9, const std::string& arm7, const std::string& output,
                       const std::string& reason) {
        const auto r = romtool(arm9, arm7, output);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << "wanted '" << reason << "' in: " << r.err;
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << "left behind: " << entry.path();
    }

    vxtest::TempDir tmp{"vx-romtool"};
    fs::path dir;
};

TEST(RomCrc, MatchesTheStandardCheckValue) {
    const char text[] = "123456789";
    EXPECT_EQ(vxrom::crc16(reinterpret_cast<const uint8_t*>(text), 9), 0x4B37);
}

TEST_F(RomTool, HeaderPlacesBothProgramsWhereTheLoaderLooks) {
    // The main program in two segments with a gap, plus memory that is only cleared.
    const std::string arm9 = write(
        "arm9.elf", elf(kArm, 0x02000040,
                        {{0x02000000, pattern(0x100, 1)}, {0x02000200, pattern(0x21, 5)}, {0x02000300, {}, 0x1000}}));
    const std::string output = (dir / "game.nds").string();
    const auto r = romtool(arm9, goodArm7(), output);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto rom = read(output);

    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rom.data()), 12), std::string("VXTANKS\0\0\0\0\0", 12));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rom[0x0C]), 4), "####");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rom[0x10]), 2), "00");

    const uint32_t arm9Offset = word(rom, 0x20), arm9Size = word(rom, 0x2C);
    EXPECT_EQ(arm9Offset, 0x8000u);
    EXPECT_EQ(word(rom, 0x24), 0x02000040u);
    EXPECT_EQ(word(rom, 0x28), 0x02000000u);
    EXPECT_EQ(arm9Size, 0x224u) << "from the first loadable byte to the last, rounded to a word";
    const std::vector<uint8_t> arm9Image(rom.begin() + arm9Offset, rom.begin() + arm9Offset + arm9Size);
    EXPECT_TRUE(std::equal(arm9Image.begin(), arm9Image.begin() + 0x100, pattern(0x100, 1).begin()));
    EXPECT_TRUE(std::all_of(arm9Image.begin() + 0x100, arm9Image.begin() + 0x200, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(arm9Image.begin() + 0x200, arm9Image.begin() + 0x221, pattern(0x21, 5).begin()));

    const uint32_t arm7Offset = word(rom, 0x30), arm7Size = word(rom, 0x3C);
    EXPECT_GE(arm7Offset, arm9Offset + arm9Size);
    EXPECT_EQ(arm7Offset % 0x200, 0u);
    EXPECT_EQ(word(rom, 0x34), 0x03800010u);
    EXPECT_EQ(word(rom, 0x38), 0x03800000u);
    EXPECT_EQ(arm7Size, 300u);
    EXPECT_TRUE(std::equal(rom.begin() + arm7Offset, rom.begin() + arm7Offset + 300, pattern(300, 9).begin()));

    EXPECT_EQ(word(rom, 0x80), arm7Offset + arm7Size) << "used size";
    EXPECT_EQ(word(rom, 0x84), 0x4000u) << "header size";
    EXPECT_EQ(rom.size() % 0x200, 0u);
    EXPECT_GE(0x20000u << rom[0x14], rom.size()) << "capacity";
    EXPECT_TRUE(std::all_of(rom.begin() + 0xC0, rom.begin() + 0x15E, [](uint8_t b) { return b == 0; }))
        << "logo and its CRC stay empty";
    const uint16_t stored = static_cast<uint16_t>(rom[0x15E] | rom[0x15F] << 8);
    EXPECT_EQ(stored, vxrom::crc16(rom.data(), 0x15E));
}

TEST_F(RomTool, RefusesEachKindOfBadInputWithoutTouchingTheOutput) {
    const std::string output = write("game.nds", {'o', 'l', 'd'});
    const std::string arm9 = goodArm9(), arm7 = goodArm7();
    expectRefused((dir / "missing.elf").string(), arm7, output, "cannot read");
    expectRefused(write("text.elf", {'h', 'e', 'l', 'l', 'o'}), arm7, output, "not an ELF file");
    expectRefused(arm9, write("x86.elf", elf(kX86, 0x03800000, {{0x03800000, pattern(64, 0)}})), output,
                  "not an ARM program");
    expectRefused(write("low9.elf", elf(kArm, 0x01000000, {{0x01000000, pattern(64, 0)}})), arm7, output,
                  "arm9 load address 0x01000000 is outside");
    expectRefused(arm9, write("big7.elf", elf(kArm, 0x03800000, {{0x03800000, pattern(0x8000, 0)}})), output,
                  "arm7 image 0x03800000..0x03808000 (32768 bytes) does not fit");
    EXPECT_EQ(read(output), (std::vector<uint8_t>{'o', 'l', 'd'}));

    expectRefused(arm9, arm7, (dir / "no-such-folder" / "game.nds").string(), "cannot write");
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

TEST_F(RomTool, RefusesInputThatIsNoProgramFileInOneLine) {
    // Each would have hung, aborted or read without end had the tool opened and read it whole.
    const std::string output = (dir / "game.nds").string(), arm7 = goodArm7();
    const std::string fifo = (dir / "fifo.elf").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = write("huge.elf", elf(kArm, 0x02000000, {{0x02000000, pattern(64, 0)}}));
    fs::resize_file(huge, (uint64_t{1} << 32) + 1);  // sparse: takes no disk space
    const std::vector<uint8_t> good = elf(kArm, 0x02000000, {{0x02000000, pattern(1000, 1)}});
    const auto cut = [&](size_t size) {
        return write("cut" + std::to_string(size) + ".elf", std::vector<uint8_t>(good.begin(), good.begin() + size));
    };
    const struct {
        std::string arm9, reason;
    } cases[] = {
        {"/dev/zero", "'/dev/zero' is a character device, not an ELF file"},
        {fifo, "is a FIFO, not an ELF file"},
        {dir.string(), "is a directory, not an ELF file"},
        {huge, "is 4294967297 bytes, more than a 32-bit ELF file can address"},
        {cut(30), "ends inside its ELF header (30 bytes)"},
        {cut(60), "ends inside its program header table"},
        {cut(200), "ends inside a loadable segment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arm9);
        expectRefused(c.arm9, arm7, output, c.reason);
    }
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(RomTool, RefusesProgramsTheLoaderCannotStartAsBuilt) {
    const std::string output = (dir / "game.nds").string(), arm7 = goodArm7();
    const struct {
        std::string arm9, arm7, reason;
    } cases[] = {
        {write("thumb9.elf", elf(kArm, 0x02000001, {{0x02000000, pattern(64, 0)}})), arm7,
         "arm9 entry point 0x02000001 is a Thumb address"},
        {write("overlap9.elf",
               elf(kArm, 0x02000000, {{0x02000000, pattern(0x100, 0)}, {0x020000FC, pattern(0x10, 1)}})),
         arm7, "'" + (dir / "overlap9.elf").string() + "' has loadable segments that overlap at 0x020000FC"},
        {goodArm9(), write("main7.elf", elf(kArm, 0x02000200, {{0x02000200, pattern(64, 0)}})),
         "arm9 image 0x02000000..0x020003E8 and arm7 image 0x02000200..0x02000240 overlap"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        expectRefused(c.arm9, c.arm7, output, c.reason);
    }
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
