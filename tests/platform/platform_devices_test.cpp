// Keypad, the transfer region, the co-processor's touch controller, clock
// and temperature sensor, calls on the wrong processor, program modules
// and the machine's determinism.
#include <gtest/gtest.h>
#include <nds.h>

#include <chrono>
#include <fstream>

#include "handheld_fixture.h"

using namespace vxtest;
using vxsim::Cpu;

namespace {

// The co-processor's half of key relaying: the extra keys into the region.
void relayKeys() { IPC->buttons = REG_KEYXY; }

int relayCo(int, char**) {
    irqInit();
    irqSet(IRQ_VBLANK, relayKeys);
    irqEnable(IRQ_VBLANK);
    idleForever();
    return 0;
}

// ---------------------------------------------------------------- keypad

struct KeyLog {
    u32 down[8] = {}, held[8] = {}, up[8] = {};
    u16 input[8] = {};
    int frames = 0;
} keys;

int keysMain(int, char**) {
    irqInit();
    for (;;) {
        swiWaitForVBlank();
        if (keys.frames >= 8) continue;
        scanKeys();
        keys.down[keys.frames] = keysDown();
        keys.held[keys.frames] = keysHeld();
        keys.up[keys.frames] = keysUp();
        keys.input[keys.frames] = REG_KEYINPUT;
        ++keys.frames;
    }
    return 0;
}

TEST(Keypad, RegistersAndNewlyPressedKeys) {
    auto h = Handheld::boot(keysMain, relayCo);
    EXPECT_EQ(h->machine.peekIo(Cpu::Main, 0x04000130, 2), 0x03FFu);
    EXPECT_EQ(h->machine.peekIo(Cpu::Co, 0x04000136, 2), 0x007Fu);
    // runFrames returns as a blank begins, before the programs react to
    // it: keys set now are what that blank's sample sees.
    h->machine.runFrames(2);
    h->machine.setKeys(KEY_A | KEY_LEFT);
    h->machine.runFrames(2);
    h->machine.setKeys(KEY_LEFT | KEY_X);
    h->machine.runFrames(3);
    h->machine.setKeys(0);
    h->machine.runFrames(2);
    ASSERT_EQ(keys.frames, 8);
    EXPECT_EQ(keys.held[0], 0u);
    EXPECT_EQ(keys.input[0], 0x03FF);
    EXPECT_EQ(keys.held[1], static_cast<u32>(KEY_A | KEY_LEFT));
    EXPECT_EQ(keys.input[1], 0x03FF & ~(KEY_A | KEY_LEFT));
    EXPECT_EQ(keys.held[2], static_cast<u32>(KEY_A | KEY_LEFT));
    EXPECT_EQ(keys.held[3] & (KEY_A | KEY_LEFT), static_cast<u32>(KEY_LEFT));
    // X reaches the main processor only through the co-processor's relay.
    EXPECT_EQ(keys.held[5], static_cast<u32>(KEY_LEFT | KEY_X));
    EXPECT_EQ(keys.held[7], 0u);
    for (int k = 0; k < 8; ++k) {
        u32 before = k ? keys.held[k - 1] : 0;
        EXPECT_EQ(keys.down[k], keys.held[k] & ~before) << "sample " << k;
        EXPECT_EQ(keys.up[k], before & ~keys.held[k]) << "sample " << k;
    }
    EXPECT_EQ(keys.down[1], static_cast<u32>(KEY_A | KEY_LEFT));
    EXPECT_EQ(keys.down[2], 0u) << "held, not newly pressed";
}

TEST(Keypad, ExtraKeysRegisterOfTheCoProcessor) {
    auto h = Handheld::boot(nullptr, relayCo);
    h->machine.setKeys(KEY_X | KEY_Y | KEY_LID);
    h->machine.setTouch(true, 100, 200);
    EXPECT_EQ(h->machine.peekIo(Cpu::Co, 0x04000136, 2), 0x00BCu);
    h->machine.setTouch(false);
    h->machine.setKeys(KEY_Y);
    EXPECT_EQ(h->machine.peekIo(Cpu::Co, 0x04000136, 2), 0x007Du);
    EXPECT_EQ(h->machine.peekIo(Cpu::Co, 0x04000130, 2), 0x03FFu) << "Y is not on the main key register";
}

// --------------------------------------------- transfer region and devices

struct DeviceLog {
    touchPosition pos{};
    u16 conv[8] = {};
    u32 temperature = 0;
    int t1 = 0, t2 = 0;
    u8 clock[8] = {}, clockLater[8] = {}, converted[8] = {};
    u16 seenByMain = 0, seenThroughMirror = 0;
} dev;

int devicesCo(int, char**) {
    irqInit();
    rtcReset();
    dev.pos = touchReadXY();
    const u32 commands[8] = {TSC_MEASURE_X,       TSC_MEASURE_Y,   TSC_MEASURE_Z1,    TSC_MEASURE_Z2,
                             TSC_MEASURE_BATTERY, TSC_MEASURE_AUX, TSC_MEASURE_TEMP1, TSC_MEASURE_TEMP2};
    for (int i = 0; i < 8; ++i) dev.conv[i] = touchRead(commands[i]);
    dev.temperature = touchReadTemperature(&dev.t1, &dev.t2);
    rtcGetTime(dev.clock);
    for (int i = 0; i < 8; ++i) dev.converted[i] = dev.clock[i];
    BCDToInteger(&dev.converted[1], 7);
    IPC->battery = 0xBEEF;
    for (int i = 0; i < 130; ++i) swiWaitForVBlank();  // a little over two seconds
    rtcGetTime(dev.clockLater);
    idleForever();
    return 0;
}

int regionMain(int, char**) {
    irqInit();
    swiWaitForVBlank();
    dev.seenByMain = *(volatile u16*)(0x027FF000 + 36);
    dev.seenThroughMirror = *(volatile u16*)(0x023FF000 + 36);  // the same 4 MB, one mirror down
    idleForever();
    return 0;
}

TEST(CoDevices, TouchClockTemperatureAndTheTransferRegion) {
    auto h = Handheld::boot(regionMain, devicesCo);
    const vxsim::TouchRaw raw = h->machine.touchRawAt(100, 150);
    h->machine.setTouch(true, raw.x, raw.y, 300, 3500);
    h->machine.setBattery(0x0ABC);
    h->machine.setAux(0x0123);
    h->machine.setTemperatureDiodes(0x0300, 0x0390);
    h->machine.setClock(vxsim::RtcTime{2026, 3, 14, 6, 23, 59, 58}, 0x40);
    h->machine.runFrames(132);
    EXPECT_EQ(dev.pos.x, raw.x);
    EXPECT_EQ(dev.pos.y, raw.y);
    EXPECT_EQ(dev.pos.px, 100);
    EXPECT_EQ(dev.pos.py, 150);
    EXPECT_EQ(dev.pos.z1, 300);
    EXPECT_EQ(dev.pos.z2, 3500);
    const u16 expected[8] = {
        static_cast<u16>(raw.x), static_cast<u16>(raw.y), 300, 3500, 0x0ABC, 0x0123, 0x0300, 0x0390};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dev.conv[i], expected[i]) << "conversion " << i;
    // 0x90 steps of the diodes' difference at 8568/4096 K each: 28.2 degrees, 20.12 fixed point.
    EXPECT_EQ(dev.temperature, 0x90u * 8568 - 273 * 4096);
    EXPECT_EQ(dev.t1, 0x0300);
    EXPECT_EQ(dev.t2, 0x0390);
    // The status byte as rtcReset leaves it: 24-hour mode (bit 1) beside
    // the flags set before.
    const u8 bcd[8] = {0x42, 0x26, 0x03, 0x14, 0x06, 0x23, 0x59, 0x58};
    const u8 ints[8] = {0x42, 26, 3, 14, 6, 23, 59, 58};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(dev.clock[i], bcd[i]) << "byte " << i;
        EXPECT_EQ(dev.converted[i], ints[i]) << "byte " << i;
    }
    // Two seconds of virtual time later the day has turned: Sunday the 15th.
    const u8 later[8] = {0x42, 0x26, 0x03, 0x15, 0x00, 0x00, 0x00, 0x00};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dev.clockLater[i], later[i]) << "byte " << i;
    EXPECT_EQ(dev.seenByMain, 0xBEEF);
    EXPECT_EQ(dev.seenThroughMirror, 0xBEEF);
}

int penUpCo(int, char**) {
    irqInit();
    dev.pos = touchReadXY();
    dev.conv[0] = touchRead(TSC_MEASURE_X);
    dev.conv[1] = touchRead(TSC_MEASURE_Z1);
    idleForever();
    return 0;
}

TEST(CoDevices, PenUpReadsNoPosition) {
    auto h = Handheld::boot(nullptr, penUpCo);
    h->machine.setTouch(false, 1000, 2000, 300, 3500);
    h->machine.runFrames(1);
    EXPECT_EQ(dev.pos.x, 0);
    EXPECT_EQ(dev.pos.px, 0);
    EXPECT_EQ(dev.pos.z1, 0);
    EXPECT_EQ(dev.conv[0], 0);
    EXPECT_EQ(dev.conv[1], 0);
}

int scanKeysOnCo(int, char**) {
    scanKeys();
    return 0;
}

int touchOnMain(int, char**) {
    touchReadXY();
    return 0;
}

TEST(WrongProcessor, CallsOfTheOtherProcessorEndTheRun) {
    EXPECT_EXIT(runOneFrame(nullptr, scanKeysOnCo), testing::ExitedWithCode(3),
                "vx-handheld: scanKeys\\(\\) belongs to arm9 but arm7 called it");
    EXPECT_EXIT(runOneFrame(touchOnMain, nullptr), testing::ExitedWithCode(3),
                "vx-handheld: touchReadXY\\(\\) belongs to arm7 but arm9 called it");
}

// ------------------------------------------------ the library's own state

// Each processor keeps its own copy of what the library remembers, and each
// power-on starts from nothing, as on the device.
struct LibraryLog {
    int mainBlanks = 0, coBlanks = 0;
    u32 previousBanks = ~0u, heldBeforeScan = ~0u;
} library;

void mainBlank() { ++library.mainBlanks; }
void coBlank() { ++library.coBlanks; }

int libraryMain(int, char**) {
    library.heldBeforeScan = keysHeld();
    library.previousBanks = vramSetMainBanks(VRAM_A_LCD, VRAM_B_MAIN_BG, VRAM_C_SUB_BG, VRAM_D_LCD);
    irqInit();
    irqSet(IRQ_VBLANK, mainBlank);
    scanKeys();
    idleForever();
    return 0;
}

int libraryCo(int, char**) {
    while (REG_VCOUNT != 100) {  // well after the main processor set its handler
    }
    irqInit();
    irqSet(IRQ_VBLANK, coBlank);
    idleForever();
    return 0;
}

TEST(Library, StateIsPerProcessorAndStartsAfreshAtEachPowerOn) {
    for (int run = 0; run < 2; ++run) {
        library = LibraryLog{};
        auto h = Handheld::boot(libraryMain, libraryCo);
        h->machine.setKeys(KEY_A);
        h->machine.runFrames(4);
        EXPECT_EQ(library.previousBanks, 0u) << "run " << run;
        EXPECT_EQ(library.heldBeforeScan, 0u) << "run " << run;
        EXPECT_GE(library.mainBlanks, 3) << "run " << run;
        EXPECT_EQ(library.coBlanks, library.mainBlanks) << "run " << run;
    }
}

// ---------------------------------------------------------- determinism

struct PingLog {
    int answers = 0;
    int ticks = 0;
} ping;

void pingTick() { ++ping.ticks; }

void pingAnswer() {
    u32 w = REG_IPC_FIFO_RX;
    REG_IPC_FIFO_TX = w + 1;
}

int pingMain(int, char**) {
    ping = PingLog{};
    irqInit();
    irqSet(IRQ_TIMER3, pingTick);
    irqEnable(IRQ_TIMER3);
    TIMER3_DATA = 0xE667;
    TIMER3_CR = 0x00C2;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    for (u32 i = 0;; i += 2) {
        while (REG_VCOUNT != 192) {
        }
        REG_IPC_FIFO_TX = i;
        while (REG_IPC_FIFO_CR & IPC_FIFO_RECV_EMPTY) {
        }
        if (REG_IPC_FIFO_RX == i + 1) ++ping.answers;
        iprintf("%d\n", static_cast<int>(i));
        while (REG_VCOUNT == 192) {
        }
    }
    return 0;
}

int pongCo(int, char**) {
    irqInit();
    irqSet(IRQ_FIFO_NOT_EMPTY, pingAnswer);
    irqEnable(IRQ_FIFO_NOT_EMPTY);
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    idleForever();
    return 0;
}

std::vector<std::string> runPingPong(int frames, const std::string& tracePath) {
    vxsim::MachineConfig config = fixedConfig();
    config.tracePath = tracePath;
    auto h = Handheld::boot(pingMain, pongCo, config);
    h->machine.runFrames(static_cast<uint64_t>(frames));
    std::vector<std::string> out;
    for (const auto& e : h->machine.trace()) out.push_back(vxsim::formatTraceEntry(e));
    return out;
}

TEST(Machine, SameScenarioGivesTheSameTrace) {
    std::string path = testing::TempDir() + "vx-platform-trace.txt";
    auto first = runPingPong(40, path);
    int answers = ping.answers, ticks = ping.ticks;
    // A second machine in the same process, after the first is gone.
    auto second = runPingPong(40, "");
    EXPECT_GE(answers, 38);
    EXPECT_GE(ticks, 13);
    EXPECT_EQ(ping.answers, answers);
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(first[i], second[i]) << "entry " << i;
    std::ifstream file(path);
    std::vector<std::string> streamed;
    for (std::string line; std::getline(file, line);) streamed.push_back(line);
    EXPECT_EQ(streamed, first);
}

// ---------------------------------------------------------------- modules

TEST(Modules, DemoProgramsLoadAndRun) {
    vxsim::ProgramImage arm9, arm7;
    std::string error;
    ASSERT_TRUE(vxsim::loadProgramModule(VX_DEMO_ARM9, arm9, error)) << error;
    ASSERT_TRUE(vxsim::loadProgramModule(VX_DEMO_ARM7, arm7, error)) << error;
    EXPECT_EQ(arm9.name, "demo_arm9");
    vxsim::Machine m(fixedConfig());
    m.load(Cpu::Main, arm9);
    m.load(Cpu::Co, arm7);
    m.powerOn();
    m.runFrames(10);
    auto lines = m.consoleLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("vx-handheld"), std::string::npos) << lines[0];
    auto rgb = m.renderScreens();
    int litTop = 0;
    for (int x = 0; x < 256; ++x) litTop += pixel(rgb, 0, x, 96) != (Pixel{0, 0, 0});
    EXPECT_GT(litTop, 100) << "the main engine's framebuffer pattern";
}

TEST(Modules, MissingModuleIsAOneLineError) {
    vxsim::ProgramImage image;
    std::string error;
    EXPECT_FALSE(vxsim::loadProgramModule("/nonexistent/arm9_program", image, error));
    EXPECT_NE(error.find("/nonexistent/arm9_program"), std::string::npos);
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

}  // namespace
