// Joining an access point: the states the main program sees, and how long
// the simulated world takes to let it in or turn it away.
#include <cstdio>

#include "wifi_test_support.h"

namespace wifitest {
namespace {

using vxsim::Cpu;

constexpr uint64_t kPatience = 600;  // ten seconds of virtual time

// Cycles from the program's Wifi_AutoConnect to the status it ended on.
uint64_t associationTime(const Handheld& h, int finalStatus) {
    auto start = h.find(TraceKind::Call, "Wifi_AutoConnect()");
    auto end = h.find(TraceKind::Call, "Wifi_AssocStatus()=" + std::to_string(finalStatus));
    EXPECT_TRUE(start && end);
    if (!start || !end) {
        for (const vxsim::TraceEntry& e : h.machine.trace()) {
            if (e.kind == TraceKind::Call || e.kind == TraceKind::Wifi)
                std::printf("%s\n", vxsim::formatTraceEntry(e).c_str());
        }
        return ~0ull;
    }
    EXPECT_EQ(start->cpu, Cpu::Main);
    return end->cycle - start->cycle;
}

TEST(WifiAssociation, StoredSettingsAndMatchingAccessPointAssociateWithinTwoSeconds) {
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilSettled(h, kPatience));
    EXPECT_EQ(mainReport.statusBeforeConnect, 0);
    EXPECT_EQ(mainReport.finalStatus, 5);
    EXPECT_EQ(mainReport.statuses, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_LT(associationTime(h, 5), seconds(2));
    // Progress came from the co-processor's side, over its interrupts.
    EXPECT_TRUE(h.find(TraceKind::Wifi, "association: associated"));
    EXPECT_EQ(h.find(TraceKind::Wifi, "association: associated")->cpu, Cpu::Co);
    EXPECT_GT(h.count(TraceKind::Call, "Wifi_Interrupt()"), 0);
    // The tight polling loop is not traced call by call.
    EXPECT_LT(h.count(TraceKind::Call, "Wifi_AssocStatus()"), 10);
}

TEST(WifiAssociation, ProgressesOnFrameUpdatesWithoutTheWirelessInterrupt) {
    coOptions.wifiIrq = false;
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilSettled(h, kPatience));
    EXPECT_EQ(mainReport.finalStatus, 5);
    EXPECT_LT(associationTime(h, 5), seconds(2));
    EXPECT_EQ(h.count(TraceKind::Call, "Wifi_Interrupt()"), 0);
}

TEST(WifiAssociation, WithoutStoredSettingsCannotConnectWithinFiveSeconds) {
    vxsim::MachineConfig config;
    config.storedSettings = false;
    auto h = wirelessHandheld(config);
    ASSERT_TRUE(runUntilSettled(h, kPatience));
    EXPECT_EQ(mainReport.finalStatus, 6);
    EXPECT_EQ(mainReport.statuses.back(), 6);
    for (int s : mainReport.statuses) {
        EXPECT_TRUE(s == 1 || s == 6) << s;
    }
    EXPECT_LT(associationTime(h, 6), seconds(5));
}

TEST(WifiAssociation, WithoutMatchingAccessPointSearchesThenCannotConnectWithinFiveSeconds) {
    vxsim::MachineConfig config;
    config.matchingAccessPoint = false;
    auto h = wirelessHandheld(config);
    ASSERT_TRUE(runUntilSettled(h, kPatience));
    EXPECT_EQ(mainReport.statuses, (std::vector<int>{1, 6}));
    uint64_t took = associationTime(h, 6);
    EXPECT_LT(took, seconds(5));
    // It searched its whole three seconds rather than give up early.
    EXPECT_GE(took, seconds(3));
}

TEST(WifiAssociation, StaysDisconnectedWithoutAutoConnect) {
    mainOptions.connect = false;
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilReady(h, kPatience));
    h.machine.runFrames(120);
    EXPECT_EQ(mainReport.statusBeforeConnect, 0);
    EXPECT_FALSE(h.find(TraceKind::Wifi, "association:"));
}

}  // namespace
}  // namespace wifitest
