// The ROM image as a user meets it, in DeSmuME: what the screens show after
// start-up, held against the simulated handheld running the same programs;
// the square's steps under held keys, pass by pass through the main
// processor's debugger stub; the clock and pen readings the co-processor
// leaves in the transfer region, through its stub.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>

#include "emulator.h"
#include "temp_dir.h"

using namespace vxdevicetest;
using namespace std::chrono_literals;

namespace {

constexpr int kPenUp = 0x40;  // in the co-processor's extra keys: set while the pen is up

// Past "Could not connect!" and the failed exchange: the console stands still.
constexpr int kSettledFrames = 400;

// The square's start: centre column 128, row 192 - 128, 11 x 11 pixels.
std::set<std::pair<int, int>> squareAt(int column, int row) {
    std::set<std::pair<int, int>> lit;
    for (int y = row - 5; y <= row + 5; ++y)
        for (int x = column - 5; x <= column + 5; ++x) lit.insert({x, y});
    return lit;
}

struct Pass {
    int x, y;
};

std::vector<Pass> passesIn(const std::string& output) {
    std::vector<Pass> passes;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        int x = 0, y = 0;
        if (std::sscanf(line.c_str(), "pass %d %d", &x, &y) == 2) passes.push_back({x, y});
    }
    return passes;
}

// A debugger command that makes one input event on the emulator's display.
std::string input(const Emulator& e, const std::string& event) {
    return std::string("shell ") + VX_XINPUT + " " + e.display() + " " + event;
}

// What the debugger dumped into `path`, as bytes; the file goes.
std::vector<uint8_t> takeDump(const std::string& path) {
    const std::string bytes = vxtest::readFile(path);
    std::filesystem::remove(path);
    return {bytes.begin(), bytes.end()};
}

uint16_t halfwordAt(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

}  // namespace

// Both screens settle on what the simulated handheld shows: the console's
// lines, and the red square at its start position.
namespace {

void expectScreensAsSimulated(Emulator& emulator) {
    std::string error;
    vxtest::Image simulated;
    ASSERT_TRUE(simulatedScreens(kSettledFrames, simulated, error)) << error;
    const Screen simTop = topScreen(simulated), simBottom = bottomScreen(simulated);
    ASSERT_GT(simBottom.lit.size(), 1000u) << "the simulation's console shows the start-up messages";

    vxtest::Image shown;
    const bool same = emulator.waitForScreens(
        [&](const vxtest::Image& i) { return bottomScreen(i).lit == simBottom.lit && topScreen(i).lit == simTop.lit; },
        120s, shown);
    const Screen top = topScreen(shown), bottom = bottomScreen(shown);
    EXPECT_TRUE(same) << "console, emulator against simulation: " << describeDifference(bottom, simBottom)
                      << "\nsquare, emulator against simulation: " << describeDifference(top, simTop);

    EXPECT_EQ(top.lit, squareAt(128, 64)) << "the red square at its start position";
    // A 5-bit colour value c shows as c * 8: red 31, and the text's 0x7FEA.
    EXPECT_EQ(top.colours, (std::set<std::array<uint8_t, 3>>{{248, 0, 0}}));
    EXPECT_EQ(bottom.colours, (std::set<std::array<uint8_t, 3>>{{80, 248, 248}}));
}

}  // namespace

TEST(Emulator, AfterStartUpBothScreensShowWhatTheSimulationShows) {
    std::string error;
    auto emulator = Emulator::start("", error);
    ASSERT_TRUE(emulator) << error;
    expectScreensAsSimulated(*emulator);
}

// A flash-cartridge loader may start the ROM with its own menu's display
// settings in place. Written through the debugger stub at the entry point,
// before any of the ROM's code: both engines' brightness faded, the console
// layer scrolled and blended, banks F-I full of junk and mapped where the
// engines read, the lower screen's palette filled. The start-up code puts
// the display back in its power-on state, so the screens come up as always.
TEST(Emulator, DisplayComesUpRightFromALoadersLeftovers) {
    std::string error;
    auto emulator = Emulator::start("arm9", error);
    ASSERT_TRUE(emulator) << error;
    // The processor makes each store (the stub's own writes to registers and
    // video memory do not all take): the value goes to main memory first.
    std::vector<std::string> dirt = {"set $sp = 0x023F0000"};  // the boot stack is in work memory the co-processor owns
    const auto store = [&](const char* address, int value, int bytes) {
        dirt.push_back("set {int}0x023F1000 = " + std::to_string(value));
        dirt.push_back(std::string("call (void*)memcpy((void*)") + address + ", (void*)0x023F1000, " +
                       std::to_string(bytes) + ")");
    };
    store("0x0400006C", 0x8010, 2);  // master brightness: upper screen faded to black
    store("0x0400106C", 0x4008, 2);  // lower screen half way to white
    store("0x04001010", 3, 2);       // lower layer 0 scrolled
    store("0x04001012", 5, 2);
    store("0x04001050", 0x00C1, 2);  // and darkened by blending
    store("0x04001054", 8, 2);
    dirt.push_back("call (void*)memset((void*)0x05000400, 0x33, 0x200)");  // lower background palette
    // Each bank filled through the LCD window, then mapped where an engine
    // reads: F and G main backgrounds and objects, H and I lower backgrounds.
    const struct {
        const char *control, *window;
        int mapped;
    } banks[] = {{"0x04000245", "0x06890000", 0x81},
                 {"0x04000246", "0x06894000", 0x82},
                 {"0x04000248", "0x06898000", 0x81},
                 {"0x04000249", "0x068A0000", 0x81}};
    for (const auto& bank : banks) {
        store(bank.control, 0x80, 1);
        dirt.push_back(std::string("call (void*)memset((void*)") + bank.window + ", 0x5a, 0x4000)");
        store(bank.control, bank.mapped, 1);
    }
    dirt.push_back("printf \"dirt written\\n\"");
    dirt.push_back("detach");
    const auto r = emulator->debug(VX_DEVICE_ARM9_ELF, dirt, 60s);
    ASSERT_NE(r.out.find("dirt written"), std::string::npos) << r.out << r.err;
    expectScreensAsSimulated(*emulator);
}

// Each pass of the play loop draws the square once (vxDrawTank's arguments
// are the tank's position); a held direction moves it one unit per pass.
// The keys change while the main processor stands at a breakpoint.
TEST(Emulator, RightThenUpMoveTheSquareOneUnitPerPass) {
    std::string error;
    auto emulator = Emulator::start("arm9", error);
    ASSERT_TRUE(emulator) << error;

    constexpr int kSteps = 6;
    std::vector<std::string> commands = {
        // Vertical blanks the dispatcher serves, up to the first square.
        "set $vblanks = 0",
        "break *vxIrqService",
        "commands\nsilent\nif ($r0 & 1)\nset $vblanks = $vblanks + 1\nend\ncontinue\nend",
        "break *vxDrawTank",
        "continue",
        "printf \"first square after %d vertical blanks\\n\", $vblanks",
        "delete 1",
        "printf \"pass %d %d\\n\", $r0, $r1",
        input(*emulator, "key-down Right"),
    };
    for (int i = 0; i < kSteps; ++i)
        commands.insert(commands.end(), {"continue", "printf \"pass %d %d\\n\", $r0, $r1"});
    commands.insert(commands.end(), {input(*emulator, "key-up Right"), input(*emulator, "key-down Up")});
    for (int i = 0; i < kSteps; ++i)
        commands.insert(commands.end(), {"continue", "printf \"pass %d %d\\n\", $r0, $r1"});
    commands.push_back(input(*emulator, "key-up Up"));

    const auto r = emulator->debug(VX_DEVICE_ARM9_ELF, commands, 180s);
    const auto passes = passesIn(r.out);
    ASSERT_EQ(passes.size(), 1u + 2 * kSteps) << r.out << r.err;
    std::smatch first;
    if (std::regex_search(r.out, first, std::regex("first square after \\d+ vertical blanks")))
        std::cout << first.str() << "\n";

    EXPECT_EQ(passes[0].x, 128);
    EXPECT_EQ(passes[0].y, 128);
    for (int i = 1; i <= kSteps; ++i) {
        EXPECT_EQ(passes[i].x, 128 + i) << "pass " << i << " with Right held";
        EXPECT_EQ(passes[i].y, 128) << "pass " << i << " with Right held";
    }
    for (int i = 1; i <= kSteps; ++i) {
        EXPECT_EQ(passes[kSteps + i].x, 128 + kSteps) << "pass " << i << " with Up held";
        EXPECT_EQ(passes[kSteps + i].y, 128 + i) << "pass " << i << " with Up held";
    }
}

// The co-processor copies the clock into the transfer region every frame:
// year, month and day after the status byte, already converted from BCD.
TEST(Emulator, TransferRegionClockHoldsTheHostDate) {
    std::string error;
    auto emulator = Emulator::start("arm7", error);
    ASSERT_TRUE(emulator) << error;

    const auto today = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return std::array<int, 3>{local.tm_year % 100, local.tm_mon + 1, local.tm_mday};
    };
    const auto before = today();
    // Wifi_Update ends the vertical-blank handler, after the region's stores.
    const auto r =
        emulator->debug(VX_DEVICE_ARM7_ELF, {"break *'vxwifi7::Wifi_Update()'", "continue", "x/8ub 0x027FF016"}, 120s);
    const auto after = today();

    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(0x27ff016:\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+))")))
        << r.out << r.err;
    const std::array<int, 3> read = {std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])};
    EXPECT_TRUE(read == before || read == after)
        << "clock in the transfer region: " << read[0] << "-" << read[1] << "-" << read[2] << ", host: " << before[0]
        << "-" << before[1] << "-" << before[2];
}

// The pen on the lower screen, read over the serial bus by the co-processor:
// the pen bit of the buttons word clears, and the position converted with
// the firmware's calibration lands on the pixel touched.
TEST(Emulator, PenOnTheLowerScreenReachesTheTransferRegion) {
    std::string error;
    auto emulator = Emulator::start("arm7", error);
    ASSERT_TRUE(emulator) << error;
    constexpr int kColumn = 100, kRow = 96;
    const auto r = emulator->debug(
        VX_DEVICE_ARM7_ELF,
        {"break *'vxwifi7::Wifi_Update()'", "continue", "printf \"up %d\\n\", *(unsigned short*)0x027FF014",
         input(*emulator, "pointer-down " + std::to_string(kColumn) + " " + std::to_string(kScreenHeight + kRow)),
         // The emulator takes the pointer between frames.
         "continue", "continue", "continue",
         "printf \"down %d %d %d %d %d\\n\", *(unsigned short*)0x027FF014, *(short*)0x027FF000, *(short*)0x027FF002, "
         "*(short*)0x027FF004, *(short*)0x027FF006",
         input(*emulator, "pointer-up")},
        120s);
    int upButtons = -1, buttons = -1, x = 0, y = 0, px = -1, py = -1;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
        std::sscanf(line.c_str(), "up %d", &upButtons);
        std::sscanf(line.c_str(), "down %d %d %d %d %d", &buttons, &x, &y, &px, &py);
    }
    ASSERT_GE(buttons, 0) << r.out << r.err;
    std::cout << "pen: raw " << x << "," << y << " pixels " << px << "," << py << "\n";
    EXPECT_EQ(upButtons & kPenUp, kPenUp) << "pen up before the touch";
    EXPECT_EQ(buttons & kPenUp, 0) << "pen down while touching";
    EXPECT_GT(x, 0);
    EXPECT_GT(y, 0);
    EXPECT_NEAR(px, kColumn, 2);
    EXPECT_NEAR(py, kRow, 2);
}

// Video memory ignores byte stores. After three steps to the right (an odd
// number, so the square's edges fall on odd halfwords), the framebuffer holds
// the square and nothing else: the clear left no stale pixel and the draw
// none missing. Then the library's memset, memcpy and memmove, called on
// unused bank D with halfword-aligned but not word-aligned ends, must write
// every byte asked for.
TEST(Emulator, SquareWholeAfterOddStepsAndMemoryCallsWriteVideoMemory) {
    std::string error;
    auto emulator = Emulator::start("arm9", error);
    ASSERT_TRUE(emulator) << error;
    const std::string frame = temporaryPath(".bin"), scratch = temporaryPath(".bin"), source = temporaryPath(".bin");
    constexpr uint32_t kFramebuffer = 0x06800000, kBankD = 0x06860000, kSource = 0x02000001;  // odd: bytes assembled
    const auto hex = [](uint32_t v) {
        std::ostringstream o;
        o << "0x" << std::hex << v;
        return o.str();
    };
    const auto r = emulator->debug(
        VX_DEVICE_ARM9_ELF,
        {"break *vxDrawTank", "continue", input(*emulator, "key-down Right"), "continue", "continue", "continue",
         "printf \"pass %d %d\\n\", $r0, $r1", input(*emulator, "key-up Right"),
         // At the next pass's draw: the framebuffer as the last pass left it.
         "continue", "dump binary memory " + frame + " " + hex(kFramebuffer) + " " + hex(kFramebuffer + 192 * 512),
         "call (void*)memset((void*)" + hex(kBankD + 2) + ", 0x1f, 10)",
         "call (void*)memcpy((void*)" + hex(kBankD + 0x22) + ", (void*)" + hex(kSource) + ", 10)",
         "call (void*)memmove((void*)" + hex(kBankD + 4) + ", (void*)" + hex(kBankD + 2) + ", 10)",
         "dump binary memory " + scratch + " " + hex(kBankD) + " " + hex(kBankD + 0x40),
         "dump binary memory " + source + " " + hex(kSource) + " " + hex(kSource + 10)},
        180s);
    const auto passes = passesIn(r.out);
    ASSERT_EQ(passes.size(), 1u) << r.out << r.err;
    ASSERT_EQ(passes[0].x, 131) << "three steps right from column 128";
    const auto pixels = takeDump(frame), bank = takeDump(scratch), from = takeDump(source);
    ASSERT_EQ(pixels.size(), 192u * 512) << r.out << r.err;
    ASSERT_EQ(bank.size(), 0x40u) << r.out << r.err;
    ASSERT_EQ(from.size(), 10u) << r.out << r.err;

    std::set<std::pair<int, int>> lit;
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (const uint16_t p = halfwordAt(pixels, (y * kWidth + x) * 2)) {
                lit.insert({x, y});
                EXPECT_EQ(p, 31) << "colour at column " << x << " row " << y;
            }
    EXPECT_EQ(lit, squareAt(131, 64)) << describeDifference(Screen{lit, {}}, Screen{squareAt(131, 64), {}});

    // memset's bytes 2-11, then memmove's copy of them two bytes up: 2-13.
    for (size_t i = 0; i < 0x20; ++i)
        EXPECT_EQ(int{bank[i]}, i >= 2 && i < 14 ? 0x1f : 0) << "bank D byte " << i << " after memset and memmove";
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(int{bank[0x22 + i]}, int{from[i]}) << "byte " << i << " copied by memcpy";
}

// A fault stops the processor with a record and a sign. The BIOS calls the
// handler stored in each processor's debug word; the emulator's built-in
// BIOS does not, and its stub cannot change the processor's mode, so the
// test checks both words and then enters the main processor's handler
// directly: the record in main memory, the upper screen one colour.
TEST(Emulator, FaultHandlerInstalledOnBothProcessorsAndShowsTheFault) {
    std::string error;
    {
        // A record the co-processor's handler would leave: the main
        // processor shows it at its next vertical blank, the upper screen yellow.
        auto co = Emulator::start("arm7", error);
        ASSERT_TRUE(co) << error;
        const auto r =
            co->debug(VX_DEVICE_ARM7_ELF,
                      {"break *'vxwifi7::Wifi_Update()'", "continue",
                       "printf \"vector %u handler %u\\n\", *(unsigned*)0x0380FFDC, &vxFaultEntry",
                       "set {unsigned[4]}0x027FF110 = {0x544C4146, 2, 0x03801234, 0x97}", "delete", "detach"},
                      120s);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(vector (\d+) handler (\d+))"))) << r.out << r.err;
        EXPECT_EQ(m[1], m[2]) << "the co-processor's debug word holds its fault handler";
        vxtest::Image shown;
        EXPECT_TRUE(co->waitForScreens(
            [](const vxtest::Image& i) {
                return topScreen(i).colours == std::set<std::array<uint8_t, 3>>{{248, 248, 0}} &&
                       topScreen(i).lit.size() == size_t{kWidth} * kScreenHeight;
            },
            60s, shown))
            << "upper screen yellow for the co-processor's fault";
    }

    auto main = Emulator::start("arm9", error);
    ASSERT_TRUE(main) << error;
    constexpr unsigned kReturn = 0x02001234;
    const auto r = main->debug(
        VX_DEVICE_ARM9_ELF,
        {"break *vxDrawTank", "continue", "printf \"vector %u handler %u\\n\", *(unsigned*)0x027FFD9C, &vxFaultEntry",
         "delete", "break *vxFaultStop", "set $lr = " + std::to_string(kReturn), "set $pc = vxFaultEntry", "continue",
         "printf \"record %x %u %u %x\\n\", *(unsigned*)0x027FF100, *(unsigned*)0x027FF104, *(unsigned*)0x027FF108, "
         "*(unsigned*)0x027FF10C",
         "delete", "detach"},
        120s);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(vector (\d+) handler (\d+))"))) << r.out << r.err;
    EXPECT_EQ(m[1], m[2]) << "the main processor's debug word holds its fault handler";
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(record (\w+) (\d+) (\d+) (\w+))"))) << r.out << r.err;
    EXPECT_EQ(m[1], "544c4146") << "the record's mark";
    EXPECT_EQ(std::stoul(m[2]), 1u) << "outside abort mode: an undefined instruction";
    EXPECT_EQ(std::stoul(m[3]), kReturn) << "the address the handler was called from";

    vxtest::Image shown;
    const bool plain = main->waitForScreens(
        [](const vxtest::Image& i) {
            const Screen top = topScreen(i);
            return top.lit.size() == size_t{kWidth} * kScreenHeight && top.colours.size() == 1;
        },
        60s, shown);
    EXPECT_TRUE(plain) << "upper screen one colour: " << topScreen(shown).lit.size() << " pixels lit in "
                       << topScreen(shown).colours.size() << " colours";
    EXPECT_EQ(topScreen(shown).colours, (std::set<std::array<uint8_t, 3>>{{248, 0, 248}})) << "magenta";
}
