// Bring-up of the two wireless halves: only a complete handshake, through
// both programs' FIFO and sync handlers, makes the main half ready.
#include <cstdio>

#include "wifi_test_support.h"

namespace wifitest {
namespace {

using vxsim::Cpu;

// About five seconds of virtual time: a working pair is ready within a few frames.
constexpr uint64_t kPatience = 300;

TEST(WifiHandshake, CorrectPairBecomesReadyThroughSyncs) {
    mainOptions.connect = false;
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilReady(h, kPatience));

    // The co half was started with exactly the word the main half produced.
    auto coInit = h.find(TraceKind::Call, "Wifi_Init(0x");
    ASSERT_TRUE(coInit);
    EXPECT_EQ(coInit->cpu, Cpu::Co);
    unsigned value = 0;
    ASSERT_EQ(std::sscanf(coInit->text.c_str(), "Wifi_Init(0x%x)", &value), 1);
    EXPECT_GE(value, 0x02000000u);
    EXPECT_LT(value, 0x023FF000u);

    // Readiness came after syncs in both directions, the last one on the main processor.
    auto ready = h.find(TraceKind::Call, "Wifi_CheckInit()=1");
    ASSERT_TRUE(ready);
    uint64_t lastMainSync = 0, coSyncs = 0;
    for (const vxsim::TraceEntry& e : h.machine.trace()) {
        if (e.cycle > ready->cycle) {
            break;
        }
        if (e.kind == TraceKind::Call && e.text == "Wifi_Sync()") {
            if (e.cpu == Cpu::Main) {
                lastMainSync = e.cycle;
            } else {
                ++coSyncs;
            }
        }
    }
    EXPECT_GT(lastMainSync, coInit->cycle);
    EXPECT_GE(coSyncs, 1u);
    EXPECT_GE(mainReport.fifoSyncs.load(), 2u);
}

struct BrokenLink {
    const char* name;
    void (*apply)();
    const char* reached;     // the last stage of the co half, or nullptr for none
    const char* notReached;  // a stage it must never get to, or nullptr
};

void PrintTo(const BrokenLink& b, std::ostream* os) { *os << b.name; }

class WifiBrokenHandshake : public ::testing::TestWithParam<BrokenLink> {};

TEST_P(WifiBrokenHandshake, NeverBecomesReady) {
    mainOptions.connect = false;
    GetParam().apply();
    auto h = wirelessHandheld();
    EXPECT_FALSE(runUntilReady(h, kPatience));
    EXPECT_FALSE(h.find(TraceKind::Call, "Wifi_CheckInit()=1"));
    // The main program kept asking the whole time.
    EXPECT_TRUE(h.find(TraceKind::Call, "Wifi_CheckInit()=0"));
    EXPECT_GE(h.machine.cycles(), seconds(4.5));
    if (GetParam().reached) {
        EXPECT_TRUE(h.find(TraceKind::Wifi, GetParam().reached));
    }
    if (GetParam().notReached) {
        EXPECT_FALSE(h.find(TraceKind::Wifi, GetParam().notReached));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, WifiBrokenHandshake,
    ::testing::Values(
        // A word inside main memory but not the block's start.
        BrokenLink{"ValueOffByEight", [] { mainOptions.valueXor = 8; }, "designates no wireless block", "attached"},
        // The block itself, but seen through a mirror of main memory.
        BrokenLink{"ValueInMirror", [] { mainOptions.valueXor = 0x00400000; }, "designates no wireless block",
                   "attached"},
        BrokenLink{"ValueIsMarker",
                   [] {
                       mainOptions.valueOverride = true;
                       mainOptions.value = 0x12345678;
                   },
                   "designates no wireless block", "attached"},
        BrokenLink{"ValueZero",
                   [] {
                       mainOptions.valueOverride = true;
                       mainOptions.value = 0;
                   },
                   "designates no wireless block", "attached"},
        // The 50 ms timer still answers the co half, but its last ring goes unheard.
        BrokenLink{"NoMainFifoHandler", [] { mainOptions.fifoHandler = false; }, "listening", nullptr},
        BrokenLink{"NoMainSyncHandler", [] { mainOptions.syncHandler = false; }, "listening", "running"},
        BrokenLink{"NoCoFifoHandler", [] { coOptions.fifoHandler = false; }, "listening", "running"},
        BrokenLink{"NoCoSyncHandler", [] { coOptions.syncHandler = false; }, "attached", "listening"}),
    [](const ::testing::TestParamInfo<BrokenLink>& info) { return std::string(info.param.name); });

TEST(WifiHandshake, CallsBeforeInitAreHarmless) {
    mainOptions.callsBeforeInit = true;
    coOptions.callsBeforeInit = true;
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilSettled(h, kPatience));
    EXPECT_EQ(mainReport.statusBeforeInit, 0);
    EXPECT_EQ(mainReport.checkBeforeInit, 0);
    EXPECT_EQ(mainReport.statusAfterEarlyConnect, 0);
    EXPECT_EQ(mainReport.sendBeforeInit, -1);
    // The early AutoConnect left nothing behind: status 0 until the real one.
    EXPECT_EQ(mainReport.statusBeforeConnect, 0);
    EXPECT_EQ(mainReport.finalStatus, 5);
}

TEST(WifiHandshakeDeathTest, MainHalfOnCoProcessorIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    coOptions.wrongHalf = true;
    EXPECT_DEATH(
        {
            auto h = wirelessHandheld();
            h.machine.runFrames(10);
        },
        "vx-handheld: Wifi_Init\\(\\) belongs to arm9 but arm7 called it");
}

TEST(WifiHandshakeDeathTest, CoHalfOnMainProcessorIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    mainOptions.script = Script::WrongHalf;
    EXPECT_DEATH(
        {
            auto h = wirelessHandheld();
            h.machine.runFrames(10);
        },
        "vx-handheld: Wifi_Update\\(\\) belongs to arm7 but arm9 called it");
}

}  // namespace
}  // namespace wifitest
