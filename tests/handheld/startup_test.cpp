// From power-on to the server exchange: console messages in order, the
// hardware state that start-up leaves, and the 50 ms timer.
#include <cstdlib>

#include "handheld.h"
#include "stand_ins.h"

namespace hhtest {
namespace {

TEST(StartUp, ConsoleShowsEachStageInOrderWithAnAccessPoint) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    Handheld& h = *s->handheld;
    EXPECT_EQ(h.machine.consoleLines(), consoleRows(consoleThroughAck(socketHandle(h), 7))) << h.consoleText();
}

void expectFailedExchange(const vxsim::MachineConfig& config) {
    vxsim::MachineConfig c = config;
    Handheld h(c, realProgram(Cpu::Main), realProgram(Cpu::Co));
    auto failedReceive = [&] { return h.count(Cpu::Main, TraceKind::Call, "recvfrom(") > 0; };
    ASSERT_TRUE(h.machine.runUntil(failedReceive, 600)) << h.consoleText();
    h.machine.runFrames(10);
    // Without an association the library refuses both calls at once.
    auto refused = h.entries(Cpu::Main, TraceKind::Call, "=-1 (not associated)");
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].text.rfind("sendto(", 0), 0u);
    EXPECT_NE(refused[0].text.find(" 5 bytes"), std::string::npos);
    EXPECT_EQ(refused[1].text.rfind("recvfrom(", 0), 0u);
    EXPECT_EQ(h.machine.consoleLines(), consoleRows(consoleThroughFailedReceive(socketHandle(h)))) << h.consoleText();
}

TEST(StartUp, ConsoleCarriesOnWhenNoAccessPointMatches) {
    vxsim::MachineConfig config;
    config.matchingAccessPoint = false;
    expectFailedExchange(config);
}

TEST(StartUp, ConsoleCarriesOnWithoutStoredSettings) {
    vxsim::MachineConfig config;
    config.storedSettings = false;
    expectFailedExchange(config);
}

TEST(StartUp, StaysAtTheFirstMessageWhileTheCoProcessorNeverStartsItsHalf) {
    fifoScript.wordsToTake = 2;  // takes the handshake and does nothing with it
    Handheld h({}, realProgram(Cpu::Main), standIn(Cpu::Co));
    h.machine.runFrames(300);
    EXPECT_EQ(standInTook.size(), 2u);
    EXPECT_EQ(h.machine.consoleLines(), consoleRows("Attempting to initialise Wifi.. \n")) << h.consoleText();
    EXPECT_EQ(h.count(Cpu::Main, TraceKind::Call, "Wifi_AutoConnect"), 0);
}

TEST(StartUp, LeavesDisplayPowerVideoMemoryAndPaletteAsTheClientNeedsThem) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    const vxsim::Machine& m = s->handheld->machine;
    // The platform starts with the main engine on the top screen (bit 15); it stays.
    EXPECT_EQ(m.peekIo(Cpu::Main, 0x04000304, 2), 0x8203u);
    EXPECT_EQ(m.peekIo(Cpu::Main, 0x04000000, 4), 0x00020000u);
    EXPECT_EQ(m.peekIo(Cpu::Main, 0x04001000, 4), 0x00010100u);
    EXPECT_EQ(m.peekIo(Cpu::Main, 0x04001008, 2), 0x1F00u);
    // Banks A..E: enabled, with their settings in the low bits.
    const uint32_t banks[5] = {0x80, 0x89, 0x84, 0x80, 0x82};
    for (int b = 0; b < 5; ++b)
        EXPECT_EQ(m.peekIo(Cpu::Main, 0x04000240 + b, 1), banks[b]) << "bank "
                                                                    << "ABCDE"[b];
    uint16_t palette = 0;
    ASSERT_TRUE(m.readMemory(0x050005FE, &palette, sizeof palette));
    EXPECT_EQ(palette, 0x7FEA);
    const uint32_t fifoControl = 0x8000 | 0x4000 | 0x0400 | 0x0004;  // enable, error, receive and send interrupts
    EXPECT_EQ(m.peekIo(Cpu::Main, 0x04000184, 2) & fifoControl, 0x8400u);
    EXPECT_EQ(m.peekIo(Cpu::Main, 0x0400010E, 2), 0x00C2u);
    // The co-processor's share.
    EXPECT_EQ(m.peekIo(Cpu::Co, 0x04000304, 2), 0x0001u);
    EXPECT_EQ(m.peekIo(Cpu::Co, 0x04000500, 2), 0x807Fu);
    EXPECT_EQ(m.peekIo(Cpu::Co, 0x04000184, 2) & fifoControl, 0x8400u);
    EXPECT_EQ(transferField(*s->handheld, 40, 4), 0u);
}

TEST(StartUp, ConsoleTextIsDrawnInTheColourOfPaletteEntry255) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    std::vector<uint8_t> rgb = s->handheld->machine.renderScreens();
    ASSERT_EQ(rgb.size(), 256u * 384u * 3u);
    int lit = 0, other = 0;
    for (size_t p = 256 * 192; p < 256 * 384; ++p) {
        const uint8_t* c = &rgb[3 * p];
        if (c[0] == 0 && c[1] == 0 && c[2] == 0) continue;
        ++lit;
        // 0x7FEA: red 10, green 31, blue 31 of 31.
        other += !(std::abs(c[0] - 10 * 255 / 31) <= 4 && c[1] >= 248 && c[2] >= 248);
    }
    EXPECT_GT(lit, 500) << "the bottom screen shows no text";
    EXPECT_EQ(other, 0) << "lit pixels of the console in another colour";
}

// A loader may leave other power bits set, or the screens unswapped.
TEST(StartUp, PowerBitsOtherThanTheDisplaysKeepTheirValues) {
    realEntry = realProgram(Cpu::Main).entry;
    ASSERT_TRUE(realEntry);
    vxsim::ProgramImage main = realProgram(Cpu::Main);
    main.entry = withPowerBefore;
    powerBefore = 0x0004;  // 3D matrix on, swap bit clear
    Handheld h({}, main, realProgram(Cpu::Co));
    h.machine.runFrames(5);
    EXPECT_EQ(h.machine.peekIo(Cpu::Main, 0x04000304, 2), 0x0207u);
}

TEST(StartUp, CoProcessorKeepsPowerBitsOtherThanSound) {
    realEntry = realProgram(Cpu::Co).entry;
    ASSERT_TRUE(realEntry);
    vxsim::ProgramImage co = realProgram(Cpu::Co);
    co.entry = withPowerBefore;
    powerBefore = 0x0002;  // wireless power on
    Handheld h({}, realProgram(Cpu::Main), co);
    h.machine.runFrames(5);
    EXPECT_EQ(h.machine.peekIo(Cpu::Co, 0x04000304, 2), 0x0003u);
}

// Fails at the first of `steps` that is missing from `cpu`'s calls, I/O
// writes and `fifoKind` entries, or that comes before the step listed above it.
void expectStepsInOrder(const Handheld& h, Cpu cpu, TraceKind fifoKind,
                        const std::vector<std::pair<TraceKind, std::string>>& steps) {
    std::vector<TraceEntry> entries;
    for (const TraceEntry& e : h.machine.trace()) {
        if (e.cpu == cpu && (e.kind == TraceKind::Call || e.kind == TraceKind::IoWrite || e.kind == fifoKind))
            entries.push_back(e);
    }
    size_t at = 0;
    for (const auto& [kind, text] : steps) {
        int found = findFrom(entries, at, kind, text);
        ASSERT_GE(found, 0) << "missing, or out of order: " << kind << " " << text;
        at = static_cast<size_t>(found) + 1;
    }
}

// The steps of start-up that leave a trace, in the order they must come.
TEST(StartUp, HardwareSetUpAndWirelessBringUpComeInOrder) {
    Handheld h({}, realProgram(Cpu::Main), realProgram(Cpu::Co));
    ASSERT_TRUE(h.machine.runUntil([&] { return h.count(Cpu::Main, TraceKind::Call, "Wifi_AutoConnect") > 0; }, 300));
    ASSERT_NO_FATAL_FAILURE(expectStepsInOrder(h, Cpu::Main, TraceKind::FifoSend,
                                               {
                                                   {TraceKind::Call, "vramSetMainBanks(1,9,4,0)"},
                                                   {TraceKind::Call, "vramSetBankE(2)"},
                                                   {TraceKind::IoWrite, "DISPLAY_CR=0x00020000"},
                                                   {TraceKind::Call, "vramSetBankA(0)"},
                                                   {TraceKind::IoWrite, "SUB_DISPLAY_CR=0x00010100"},
                                                   {TraceKind::IoWrite, "SUB_BG0_CR=0x1F00"},
                                                   {TraceKind::Call, "irqInit()"},
                                                   {TraceKind::Call, "irqSet(0x1,null)"},
                                                   {TraceKind::Call, "irqSet(0x40,handler)"},
                                                   {TraceKind::Call, "irqEnable(0x40)"},
                                                   {TraceKind::Call, "irqSet(0x40000,handler)"},
                                                   {TraceKind::Call, "irqEnable(0x40000)"},
                                                   {TraceKind::IoWrite, "REG_IPC_FIFO_CR=0x8008"},
                                                   {TraceKind::Call, "Wifi_Init(2)"},
                                                   {TraceKind::FifoSend, "0x12345678"},
                                                   {TraceKind::FifoSend, ""},
                                                   {TraceKind::IoWrite, "TIMER3_CR=0x0000"},
                                                   {TraceKind::IoWrite, "REG_IPC_FIFO_CR=0x8400"},
                                                   {TraceKind::Call, "Wifi_SetSyncHandler(handler)"},
                                                   {TraceKind::IoWrite, "TIMER3_DATA=0xE667"},
                                                   {TraceKind::IoWrite, "TIMER3_CR=0x00C2"},
                                                   {TraceKind::Call, "Wifi_AutoConnect()"},
                                               }));
    // The IRQ_VBLANK handler is never enabled by the program itself.
    EXPECT_EQ(h.count(Cpu::Main, TraceKind::Call, "irqEnable(0x1)"), 0);
}

TEST(StartUp, CoProcessorSetsUpBeforeTheHandshakeAndServesAfterIt) {
    Handheld h({}, realProgram(Cpu::Main), realProgram(Cpu::Co));
    ASSERT_TRUE(h.machine.runUntil([&] { return h.count(Cpu::Co, TraceKind::Call, "Wifi_SetSyncHandler") > 0; }, 300));
    std::string value = h.entries(Cpu::Main, TraceKind::FifoSend).at(1).text;
    char init[40];
    std::snprintf(init, sizeof init, "Wifi_Init(0x%08lx)", std::strtoul(value.c_str(), nullptr, 16));
    ASSERT_NO_FATAL_FAILURE(expectStepsInOrder(h, Cpu::Co, TraceKind::FifoRecv,
                                               {
                                                   {TraceKind::IoWrite, "REG_IPC_FIFO_CR=0x8008"},
                                                   {TraceKind::Call, "rtcReset()"},
                                                   {TraceKind::Call, "powerON(0x1)"},
                                                   {TraceKind::IoWrite, "SOUND_CR=0x807F"},
                                                   {TraceKind::Call, "irqInit()"},
                                                   {TraceKind::Call, "irqSet(0x1,handler)"},
                                                   {TraceKind::Call, "irqEnable(0x1)"},
                                                   {TraceKind::Call, "irqSet(0x1000000,handler)"},
                                                   {TraceKind::Call, "irqEnable(0x1000000)"},
                                                   {TraceKind::FifoRecv, "0x12345678"},
                                                   {TraceKind::FifoRecv, value},
                                                   {TraceKind::Call, init},
                                                   {TraceKind::Call, "irqSet(0x40000,handler)"},
                                                   {TraceKind::Call, "irqEnable(0x40000)"},
                                                   {TraceKind::IoWrite, "REG_IPC_FIFO_CR=0x8400"},
                                                   {TraceKind::Call, "Wifi_SetSyncHandler(handler)"},
                                               }));
}

TEST(StartUp, Timer3OverflowsEvery1677568CyclesAndEachGivesOneWifiTimer50) {
    auto s = startPlaying();
    ASSERT_TRUE(s);
    Handheld& h = *s->handheld;
    h.machine.runFrames(600);
    auto started = h.entries(Cpu::Main, TraceKind::IoWrite, "TIMER3_CR=0x00C2");
    ASSERT_EQ(started.size(), 1u);
    std::vector<uint64_t> overflows;
    std::vector<TraceEntry> main;
    for (const TraceEntry& e : h.machine.trace()) {
        if (e.cpu != Cpu::Main) continue;
        if (e.kind == TraceKind::Irq && e.text.find("IRQ_TIMER3") != std::string::npos) overflows.push_back(e.cycle);
        if (e.kind == TraceKind::Irq || (e.kind == TraceKind::Call && e.text.rfind("Wifi_Timer", 0) == 0))
            main.push_back(e);
    }
    // Over ten seconds of virtual time, about 20 a second.
    ASSERT_GT(overflows.size(), 200u);
    // The counter starts at the control write; the interrupt is taken at the
    // processor's next call boundary, a little after each overflow, while the
    // overflows keep the exact period (no drift).
    const uint64_t slack = 2 * vxsim::kCyclesPerLine;
    for (size_t i = 0; i < overflows.size(); ++i) {
        uint64_t due = started.front().cycle + (i + 1) * kTimer3Period;
        ASSERT_TRUE(overflows[i] >= due && overflows[i] <= due + slack)
            << "overflow " << i << " taken at " << overflows[i] << ", due at " << due;
    }
    // Each timer interrupt makes exactly one Wifi_Timer(50) call, and nothing else does.
    int timerIrqs = 0, calls = 0;
    bool owed = false;
    for (const TraceEntry& e : main) {
        if (e.kind == TraceKind::Irq) {
            if (e.text.find("IRQ_TIMER3") == std::string::npos) continue;
            EXPECT_FALSE(owed) << "no Wifi_Timer call for the interrupt before " << e.cycle;
            owed = true;
            ++timerIrqs;
        } else {
            EXPECT_EQ(e.text, "Wifi_Timer(50)");
            EXPECT_TRUE(owed) << "Wifi_Timer without a timer interrupt at " << e.cycle;
            owed = false;
            ++calls;
        }
    }
    EXPECT_EQ(calls, timerIrqs);
}

}  // namespace
}  // namespace hhtest
