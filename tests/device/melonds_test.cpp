// The ROM image online, in melonDS: its radio joins the emulator's access
// point, and through its NAT (the host's loopback at 10.64.0.1) the handheld
// client plays against the real vx-server on 127.0.0.1. The registration
// arrives on port 80, the ACK's identifier shows on the console as in the
// simulated handheld, held keys send state records one unit a pass, and A
// registers again.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <iostream>
#include <regex>

#include "melonds.h"

using namespace vxdevicetest;
using namespace std::chrono_literals;

namespace {

// An identifier no fresh server would hand out by accident.
constexpr int kFirstId = 7;
// Enough frames for the simulated handheld to join, register and settle.
constexpr int kSettledFrames = 400;
constexpr int kSteps = 8;

struct Record {
    int id, x, y, userId;
};

std::vector<Record> recordsIn(const std::string& log) {
    static const std::regex line(R"(state id (-?\d+) from 127\.0\.0\.1:\d+: X=(-?\d+) Y=(-?\d+) userID=(-?\d+))");
    std::vector<Record> records;
    for (std::sregex_iterator i(log.begin(), log.end(), line), end; i != end; ++i)
        records.push_back({std::stoi((*i)[1]), std::stoi((*i)[2]), std::stoi((*i)[3]), std::stoi((*i)[4])});
    return records;
}

int countWhere(const std::string& log, const std::function<bool(const Record&)>& test) {
    int n = 0;
    for (const auto& r : recordsIn(log)) n += test(r) ? 1 : 0;
    return n;
}

// A server on free ports for the simulated handheld to register with
// (its port 80 forwarded there); the port it serves the handheld on.
std::unique_ptr<vxtest::Process> sideServer(int& port, std::string& error) {
    auto server = vxtest::Process::start({vxtest::binaryPath("vx-server"), "--desktop-port", "0", "--handheld-port",
                                          "0", "--state-port", "0", "--first-id", std::to_string(kFirstId)},
                                         vxtest::sanitizerEnv(false), &error);
    if (!server) return nullptr;
    const auto p = vxtest::waitForOutput(*server, std::regex(R"(listening handheld 127\.0\.0\.1:(\d+))"), 10s);
    if (!p) {
        error = "the side server named no handheld port: " + server->errSoFar();
        return nullptr;
    }
    port = std::stoi(*p);
    return server;
}

}  // namespace

TEST(MelonDs, PlaysOnlineThroughItsAccessPoint) {
    if (!melonDsPresent())
        GTEST_SKIP() << "melonDS is not at " << melonDsPath()
                     << " (set VX_MELONDS, or keep it in the shared tools folder beside the project)";

    std::string error;
    vxtest::Image simulated;
    {
        int port = 0;
        auto side = sideServer(port, error);
        ASSERT_TRUE(side) << error;
        ASSERT_TRUE(
            simulatedScreens(kSettledFrames, simulated, error, {"--forward", "80=127.0.0.1:" + std::to_string(port)}))
            << error;
        ASSERT_TRUE(vxtest::waitForOutput(*side, vxtest::containing("-> id " + std::to_string(kFirstId) + "\n"), 1s))
            << "the simulated handheld registered: " << side->outSoFar();
    }
    const Screen simBottom = bottomScreen(simulated), simTop = topScreen(simulated);
    ASSERT_GT(simBottom.lit.size(), 1000u) << "the simulation's console shows its messages";

    auto server = vxtest::Process::start(
        {vxtest::binaryPath("vx-server"), "--desktop-port", "0", "--first-id", std::to_string(kFirstId)},
        vxtest::sanitizerEnv(false), &error);
    ASSERT_TRUE(server) << error;
    ASSERT_TRUE(vxtest::waitForOutput(*server, vxtest::containing("ready\n"), 10s)) << server->errSoFar();
    if (server->outSoFar().find("listening handheld 127.0.0.1:80\n") == std::string::npos)
        GTEST_SKIP() << "vx-server cannot bind 127.0.0.1:80: " << server->errSoFar();

    auto melon = MelonDs::start({VX_DEVICE_NAT_ROM}, error);
    ASSERT_TRUE(melon) << error;

    const auto registered =
        vxtest::waitForOutput(*server, std::regex(R"(register 127\.0\.0\.1:\d+ \(handheld\) -> id (-?\d+)\n)"), 90s);
    ASSERT_TRUE(registered) << "no registration on port 80; the server printed:\n"
                            << server->outSoFar() << "melonDS printed:\n"
                            << melon->process().outSoFar().substr(0, 4000);
    EXPECT_EQ(std::stoi(*registered), kFirstId);

    // The console as the simulated handheld shows it: the same messages, the
    // ACK's identifier among them.
    vxtest::Image shown;
    const bool same = melon->waitForScreens(
        [&](const vxtest::Image& i) { return bottomScreen(i).lit == simBottom.lit && topScreen(i).lit == simTop.lit; },
        60s, shown);
    EXPECT_TRUE(same) << "console, emulator against simulation: " << describeDifference(bottomScreen(shown), simBottom)
                      << "\nsquare, emulator against simulation: " << describeDifference(topScreen(shown), simTop);

    // Right, then Up: each pass steps one unit and sends a record. A key is
    // held until the server has logged kSteps records that `moved` accepts.
    const auto hold = [&](unsigned long key, bool (*moved)(const Record&)) {
        if (!melon->keyDown(key)) return false;
        const bool done = vxtest::waitForOutput(
            *server, [&](const std::string& out) { return countWhere(out, moved) >= kSteps; }, 60s);
        melon->keyUp(key);
        return done;
    };
    ASSERT_TRUE(hold(XK_Right, [](const Record& r) { return r.x > 128; })) << server->outSoFar();
    ASSERT_TRUE(hold(XK_Up, [](const Record& r) { return r.y > 128; })) << server->outSoFar();

    const auto records = recordsIn(server->outSoFar());
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().x, 129);
    EXPECT_EQ(records.front().y, 128);
    bool turned = false;
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].id, kFirstId) << "record " << i << " taken as the registered player's";
        EXPECT_EQ(records[i].userId, kFirstId) << "record " << i << " carries the ACK's identifier";
        if (i == 0) continue;
        const int dx = records[i].x - records[i - 1].x, dy = records[i].y - records[i - 1].y;
        turned = turned || dy != 0;
        if (!turned) EXPECT_TRUE(dx == 1 && dy == 0) << "record " << i << " with Right held";
        else EXPECT_TRUE(dx == 0 && dy == 1) << "record " << i << " with Up held";
    }
    EXPECT_TRUE(turned);

    // A registers again, and keeps its identifier.
    ASSERT_TRUE(melon->keyDown(XK_x));
    const bool again = vxtest::waitForOutput(
        *server, vxtest::containing("(handheld) -> id " + std::to_string(kFirstId) + " (again)\n"), 30s);
    melon->keyUp(XK_x);
    EXPECT_TRUE(again) << server->outSoFar();
    std::cout << records.size() << " state records, all as player " << kFirstId << "\n";
}
