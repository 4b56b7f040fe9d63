// The host tools themselves: if these break, every test and tool built on them lies.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "frame_counter.h"
#include "png_image.h"
#include "process.h"
#include "udp_peer.h"

using namespace std::chrono_literals;
using namespace vxtest;
using vxpng::readPng;
using vxpng::writePng;

TEST(Process, CapturesBothStreamsAndTheExitStatus) {
    auto r = runProcess({"sh", "-c", "printf out; printf err >&2; exit 3"}, 5s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "out");
    EXPECT_EQ(r.err, "err");
}

TEST(Process, KillsOnTimeoutAndReportsSignals) {
    auto r = runProcess({"sleep", "30"}, 200ms);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.signal, SIGKILL);

    auto p = Process::start({"sleep", "30"});
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->running());
    p->terminate();
    auto t = p->wait(5s);
    EXPECT_FALSE(t.timedOut);
    EXPECT_EQ(t.signal, SIGTERM);
}

TEST(Process, EnvironmentOverridesAndRemovals) {
    setenv("VX_SUPPORT_PROBE", "inherited", 1);
    auto r =
        runProcess({"sh", "-c", "echo \"$VX_SUPPORT_PROBE|${VX_OTHER-unset}\""}, 5s, {"VX_SUPPORT_PROBE=override"});
    EXPECT_EQ(r.out, "override|unset\n");
    r = runProcess({"sh", "-c", "echo \"${VX_SUPPORT_PROBE-unset}\""}, 5s, {"VX_SUPPORT_PROBE"});
    EXPECT_EQ(r.out, "unset\n");
}

TEST(Process, ReportsAProgramThatCannotRun) {
    std::string error;
    EXPECT_FALSE(Process::start({"/nonexistent/program"}, {}, &error));
    EXPECT_NE(error.find("/nonexistent/program"), std::string::npos);
}

TEST(Process, OutputIsReadableWhileRunning) {
    auto p = Process::start({"sh", "-c", "echo ready; exec sleep 30"});
    ASSERT_TRUE(p);
    EXPECT_TRUE(waitForOutput(*p, exactly("ready\n"), 5s)) << p->outSoFar();
    EXPECT_TRUE(p->running());
}

// The last lines of a process that has just ended still count, a capture is
// what comes back, and a wait for output that never comes ends with the process.
TEST(Process, OutputWaitsReadAnEndedProcessToTheEnd) {
    auto p = Process::start({"sh", "-c", "echo one; echo 'id 42'; echo three"});
    ASSERT_TRUE(p);
    EXPECT_TRUE(waitForOutput(*p, exactly("one\nid 42\nthree\n"), 5s)) << p->outSoFar();
    EXPECT_EQ(waitForOutput(*p, std::regex("id ([0-9]+)"), 5s), "42");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForOutput(*p, containing("four"), 60s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
}

TEST(UdpPeer, RoundTripAndAPortInUseFails) {
    std::string address = uniqueLoopbackAddress();
    EXPECT_EQ(address.rfind("127.", 0), 0u);
    EXPECT_NE(address, "127.0.0.1");
    auto a = UdpPeer::bind(address, 0);
    ASSERT_TRUE(a);
    std::string error;
    EXPECT_FALSE(UdpPeer::bind(address, a->port(), &error));
    EXPECT_FALSE(error.empty());

    auto b = UdpPeer::bind(address, 0);
    ASSERT_TRUE(b);
    ASSERT_TRUE(a->sendTo(makeAddress(address, b->port()), "hello", 5));
    auto d = b->receive(2s);
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->data.begin(), d->data.end()), "hello");
    EXPECT_EQ(ntohs(d->from.sin_port), a->port());
    EXPECT_EQ(dotted(d->from), address);
    ASSERT_TRUE(b->reply(*d, "", 0));
    auto empty = a->receive(2s);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->data.empty());
    EXPECT_FALSE(a->receive(50ms));
}

// The preloaded counter sees every frame a program presents, the reader sees
// the count, and a wait for frames that never come ends.
TEST(FrameCounter, CountsWhatAPreloadedProgramPresents) {
    std::string error;
    auto frames = FrameCounter::create(&error);
    ASSERT_TRUE(frames) << error;
    EXPECT_EQ(frames->count(), 0u);
    auto env = frames->clientEnv();
    env.push_back("SDL_VIDEODRIVER=dummy");
    auto r = runProcess({VX_THREE_FRAMES}, 30s, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(frames->count(), 3u);
    EXPECT_FALSE(frames->waitFrames(1, 50ms));
}

TEST(Png, WritesAndReadsBackTheSamePixels) {
    std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    std::string path = "/tmp/vx_support_png_" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(writePng(path, 3, 2, rgb.data()));
    int w = 0, h = 0;
    std::vector<uint8_t> back;
    ASSERT_TRUE(readPng(path, w, h, back));
    std::remove(path.c_str());
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(back, rgb);
    std::string error;
    EXPECT_FALSE(readPng(path, w, h, back, &error));
    EXPECT_FALSE(error.empty());
}
