// The whole game on one host: the real vx-server, the real desktop client in
// a private X server and the handheld launcher with the real programs, at
// once. Every address is on loopback; the server's handheld registration
// port is free-picked and reached through the launcher's port forward.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <regex>
#include <thread>

#include "process.h"
#include "temp_dir.h"
#include "test_env.h"
#include "udp_peer.h"
#include "xsession.h"

// After gtest: Xlib's macros clash with its names.
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using vxtest::Process;
using vxtest::waitForOutput;

constexpr auto kPatience = vxtest::patience(40s, 120s);

TEST(WholeSession, DesktopAndHandheldPlayersBothReachTheServer) {
    const std::string address = vxtest::uniqueLoopbackAddress();
    std::string error;
    auto server =
        Process::start({vxtest::binaryPath("vx-server"), "--bind", address, "--handheld-port", "0"}, {}, &error);
    ASSERT_TRUE(server) << error;
    auto handheldPort = waitForOutput(*server, std::regex("listening handheld [0-9.]+:([0-9]+)"), 10s);
    ASSERT_TRUE(handheldPort) << server->outSoFar() << server->errSoFar();
    ASSERT_TRUE(waitForOutput(*server, std::regex("(^|\n)ready\n"), 10s)) << server->outSoFar() << server->errSoFar();

    auto x = vxtest::Xvfb::start(30s, &error);
    ASSERT_TRUE(x) << error;
    auto xc = vxtest::XClient::open(x->display(), &error);
    ASSERT_TRUE(xc) << error;
    auto desktop = Process::start({vxtest::binaryPath("vxPCClient"), address}, x->clientEnv(), &error);
    ASSERT_TRUE(desktop) << error;

    vxtest::TempDir dir("vx-whole-session");
    ASSERT_TRUE(dir.ok());
    const std::string console = dir.file("console.txt");
    // The handheld holds Right for a while once it has had time to register.
    auto handheld =
        Process::start({vxtest::binaryPath("vx-handheld"), "--headless", "--fast", "--frames", "420", "--forward",
                        "80=" + address + ":" + *handheldPort, "--hold", "right@300-329", "--console", console},
                       {}, &error);
    ASSERT_TRUE(handheld) << error;

    auto window = xc->waitForDrawnWindow(desktop->pid(), "vxPCClient", 512, 512, kPatience, &error);
    ASSERT_NE(window, 0u) << error << "; the desktop client printed: " << desktop->outSoFar() << desktop->errSoFar();
    auto desktopId =
        waitForOutput(*server, std::regex("register [0-9.]+:[0-9]+ \\(desktop\\) -> id ([0-9]+)"), kPatience);
    ASSERT_TRUE(desktopId) << server->outSoFar();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(xc->holdKey(XK_Right));

    auto ended = handheld->wait(kPatience);
    EXPECT_EQ(ended.exitCode, 0) << ended.out << ended.err;
    auto handheldId = waitForOutput(*server, std::regex("register [0-9.]+:[0-9]+ \\(handheld\\) -> id ([0-9]+)"), 5s);
    ASSERT_TRUE(handheldId) << server->outSoFar();
    EXPECT_NE(*desktopId, *handheldId);

    // Both players' steps, each with its own identifier.
    EXPECT_TRUE(waitForOutput(
        *server, std::regex("state id " + *desktopId + " from [0-9.:]+: X=[0-9]+ Y=0 userID=" + *desktopId), 10s))
        << server->outSoFar();
    EXPECT_TRUE(waitForOutput(
        *server, std::regex("state id " + *handheldId + " from [0-9.:]+: X=13[0-9] Y=128 userID=" + *handheldId), 5s))
        << server->outSoFar();
    const std::string text = vxtest::readFile(console);
    EXPECT_NE(text.find("Received ACK. UserID: " + *handheldId), std::string::npos) << text;

    server->terminate(SIGTERM);
    auto serverEnd = server->wait(10s);
    EXPECT_EQ(serverEnd.exitCode, 0);
    EXPECT_NE(serverEnd.out.find(", 2 players,"), std::string::npos) << serverEnd.out;
    desktop->terminate(SIGTERM);
    desktop->wait(10s);
}

}  // namespace
