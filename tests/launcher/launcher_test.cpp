// vx-handheld as its users run it: the real binary, real program modules, a
// private X server when a window is involved. The key test programs paint
// column k of the top screen with the keys held during frame k.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "png_image.h"
#include "process.h"
#include "temp_dir.h"
#include "udp_peer.h"
#include "xsession.h"

// After gtest: Xlib's macros (None, Bool) clash with its names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vxtest::readFile;

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 384;
constexpr int kBands = 12;  // one per key bit, A (bit 0) to Y (bit 11)
// Key bits as the handheld numbers them.
constexpr uint32_t kA = 1u << 0, kB = 1u << 1, kSelect = 1u << 2, kStart = 1u << 3, kRight = 1u << 4, kLeft = 1u << 5,
                   kUp = 1u << 6, kDown = 1u << 7, kR = 1u << 8, kL = 1u << 9, kX = 1u << 10, kY = 1u << 11;

#ifdef VX_SANITIZED
constexpr auto kRunTimeout = 90s;
#else
constexpr auto kRunTimeout = 30s;
#endif

std::vector<std::string> command(std::vector<std::string> args, bool testPrograms = true) {
    std::vector<std::string> argv{vxtest::binaryPath("vx-handheld")};
    if (testPrograms) argv.insert(argv.end(), {"--arm9", VX_KEYS_ARM9, "--arm7", VX_KEYS_ARM7});
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

vxtest::ProcessResult runHeadless(std::vector<std::string> args, std::vector<std::string> env = {"DISPLAY"}) {
    return vxtest::runProcess(command(std::move(args)), kRunTimeout, env);
}

enum class Cell { Held, Free, Unpainted, Other };

Cell classify(uint8_t r, uint8_t g, uint8_t b) {
    if (r > 200 && g > 200 && b > 200) return Cell::Held;
    if (r < 30 && g < 30 && b > 60 && b < 140) return Cell::Free;
    if (r < 10 && g < 10 && b < 10) return Cell::Unpainted;
    return Cell::Other;
}

// What column `x` of the top screen says: the keys it shows, or -1 when it
// was not painted or is no clean picture of a key set.
long columnKeys(const std::vector<uint8_t>& rgb, int width, int x, int scale = 1) {
    uint32_t keys = 0;
    for (int band = 0; band < kBands; ++band) {
        const int y = (band * 16 + 8) * scale;
        const uint8_t* p = &rgb[(size_t(y) * width + x * scale) * 3];
        switch (classify(p[0], p[1], p[2])) {
        case Cell::Held:
            keys |= 1u << band;
            break;
        case Cell::Free:
            break;
        default:
            return -1;
        }
    }
    return keys;
}

struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Screenshot loadScreenshot(const std::string& path) {
    Screenshot shot;
    std::string error;
    EXPECT_TRUE(vxpng::readPng(path, shot.width, shot.height, shot.rgb, &error)) << error;
    return shot;
}

bool bottomHasText(const std::vector<uint8_t>& rgb, int width, int scale = 1) {
    for (int y = 192 * scale; y < 384 * scale; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            if (p[0] > 100 || p[1] > 100 || p[2] > 100) return true;
        }
    return false;
}

std::string oneLineError(const vxtest::ProcessResult& result) {
    std::ostringstream problems;
    if (result.exitCode != 2) problems << "exit " << result.exitCode << " (signal " << result.signal << "); ";
    if (!result.out.empty()) problems << "stdout not empty: " << result.out << "; ";
    if (result.err.rfind("vx-handheld: ", 0) != 0 || result.err.find('\n') != result.err.size() - 1)
        problems << "stderr is not one 'vx-handheld: ' line: [" << result.err << "]";
    return problems.str();
}

TEST(LauncherErrors, BadArgumentsAndProgramsGiveOneLineAndStatusTwo) {
    vxtest::TempDir dir("vx-launcher");
    const std::string notAModule = dir.file("not-a-module");
    std::ofstream(notAModule) << "plain text\n";
    const std::vector<std::vector<std::string>> cases = {
        {"--frobnicate"},
        {"--frames"},
        {"--frames", "ten"},
        {"--frames", "-3"},
        {"--hold", "up,jump@1-2"},
        {"--hold", "up,@1-2"},
        {"--hold", "up@5-2"},
        {"--hold", "up"},
        {"--hold", "up@1-x"},
        {"--scale", "0"},
        {"--forward", "80=localhost:8080"},
        {"--forward", "80=127.0.0.1"},
        {"--headless=yes"},
        {"--arm9", dir.file("missing-program")},
        {"--arm7", notAModule},
    };
    for (const auto& args : cases) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--headless", "--frames", "1"});
        // Later options override the test programs, so the bad one counts.
        const auto result = runHeadless(full);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(oneLineError(result), "") << "for: " << shown;
    }
    // The line says what was wrong.
    EXPECT_NE(runHeadless({"--hold", "up,jump@1-2"}).err.find("jump"), std::string::npos);
    EXPECT_NE(runHeadless({"--arm9", dir.file("missing-program")}).err.find("missing-program"), std::string::npos);
}

TEST(LauncherHeadless, HelpDescribesTheOptions) {
    const auto result = vxtest::runProcess({vxtest::binaryPath("vx-handheld"), "--help"}, kRunTimeout);
    EXPECT_EQ(result.exitCode, 0);
    for (const char* option : {"--arm9", "--arm7", "--headless", "--frames", "--hold", "--screenshot", "--console",
                               "--trace", "--no-access-point", "--forward", "--fast", "--realtime"})
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
}

// Keys held by --hold are in effect exactly in the frames given, on both
// processors' key registers, and the screenshot is the screens pixel for pixel.
TEST(LauncherHeadless, HeldKeysShowInTheirFramesOnlyOnTheScreenshot) {
    vxtest::TempDir dir("vx-launcher");
    const std::string png = dir.file("shot.png");
    const auto result = runHeadless({"--headless", "--frames", "64", "--screenshot", png, "--hold", "start@0-0",
                                     "--hold", "a@10-20", "--hold", "right,up@15-30", "--hold", "y,b,down,left@33-33",
                                     "--hold", "x@40-45", "--hold", "l,r@50-51", "--hold", "select@63-63"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Screenshot shot = loadScreenshot(png);
    ASSERT_EQ(shot.width, kWidth);
    ASSERT_EQ(shot.height, kHeight);

    const auto expected = [](int frame) {
        uint32_t keys = 0;
        if (frame == 0) keys |= kStart;
        if (frame >= 10 && frame <= 20) keys |= kA;
        if (frame >= 15 && frame <= 30) keys |= kRight | kUp;
        if (frame == 33) keys |= kY | kB | kDown | kLeft;
        if (frame >= 40 && frame <= 45) keys |= kX;
        if (frame >= 50 && frame <= 51) keys |= kL | kR;
        if (frame == 63) keys |= kSelect;
        return long(keys);
    };
    for (int frame = 0; frame < 64; ++frame)
        EXPECT_EQ(columnKeys(shot.rgb, shot.width, frame), expected(frame)) << "frame " << frame;
    // Frames 64 on never ran: those columns are still black from top to bottom.
    for (int x = 64; x < kWidth; ++x)
        for (int y = 0; y < 192; ++y) {
            const uint8_t* p = &shot.rgb[(size_t(y) * kWidth + x) * 3];
            ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0) << "pixel " << x << "," << y;
        }
    EXPECT_TRUE(bottomHasText(shot.rgb, shot.width)) << "the console screen is blank";
}

TEST(LauncherHeadless, ConsoleFileHoldsTheTextRowByRow) {
    vxtest::TempDir dir("vx-launcher");
    const auto consoleAfter = [&](const char* frames) {
        const std::string path = dir.file(std::string("console-") + frames + ".txt");
        const auto result = runHeadless({"--headless", "--frames", frames, "--console", path});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return readFile(path);
    };
    const std::string rows21 = std::string(21, '\n');
    EXPECT_EQ(consoleAfter("40"), "launcher test\nanswer 42 and more\nframe 30 reached\n" + rows21);
    EXPECT_EQ(consoleAfter("20"), "launcher test\nanswer 42 and more\n\n" + rows21);
}

// Frame of the first trace line that ends with `text`: frame 0 runs from
// power-on to the first vertical blank (line 192), each later one from a
// vertical blank to the next. -1 when no line has it.
long frameOfTraceLine(const std::string& trace, const std::string& text) {
    constexpr unsigned long long kFirstVBlank = 192ull * 2130, kFrame = 263ull * 2130;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < text.size() || line.compare(line.size() - text.size(), text.size(), text) != 0) continue;
        const unsigned long long cycle = std::stoull(line);
        return cycle < kFirstVBlank ? 0 : long((cycle - kFirstVBlank) / kFrame + 1);
    }
    return -1;
}

TEST(LauncherHeadless, TraceIsWrittenAndTheSameRunGivesTheSameTrace) {
    vxtest::TempDir dir("vx-launcher");
    std::vector<std::string> traces;
    for (const char* name : {"first.trace", "second.trace"}) {
        const std::string path = dir.file(name);
        const auto result = runHeadless({"--headless", "--frames", "40", "--hold", "a,x@5-9", "--trace", path});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        traces.push_back(readFile(path));
    }
    EXPECT_NE(traces[0].find("launcher test"), std::string::npos) << "the console line is not in the trace";
    EXPECT_EQ(traces[0], traces[1]);
    // The program's reports of the keys carry the cycle of the frames held.
    EXPECT_EQ(frameOfTraceLine(traces[0], "console keys 1025"), 5);
    EXPECT_EQ(frameOfTraceLine(traces[0], "console keys 0"), 10);

    // Different keys make a different run, which the trace shows.
    const std::string other = dir.file("other.trace");
    ASSERT_EQ(runHeadless({"--headless", "--frames", "40", "--trace", other}).exitCode, 0);
    EXPECT_NE(readFile(other), traces[0]);
}

TEST(LauncherHeadless, StopSignalsEndTheRunWithTheFilesWritten) {
    for (const int sig : {SIGTERM, SIGINT}) {
        vxtest::TempDir dir("vx-launcher");
        const std::string png = dir.file("shot.png");
        const std::string console = dir.file("console.txt");
        std::string error;
        auto process = vxtest::Process::start(command({"--headless", "--screenshot", png, "--console", console}),
                                              {"DISPLAY"}, &error);
        ASSERT_TRUE(process) << error;
        std::this_thread::sleep_for(1s);
        ASSERT_TRUE(process->running()) << process->errSoFar();
        process->terminate(sig);
        const auto result = process->wait(kRunTimeout);
        EXPECT_EQ(result.exitCode, 0) << "signal " << sig << ": " << result.err;
        const Screenshot shot = loadScreenshot(png);
        ASSERT_EQ(shot.width, kWidth);
        EXPECT_EQ(columnKeys(shot.rgb, shot.width, 0), 0) << "the program never ran";
        EXPECT_EQ(readFile(console).rfind("launcher test\n", 0), 0u);
    }
}

// A client of the private X server; a sanitized build checks it for leaks
// except those the X libraries keep for the life of the process.
std::vector<std::string> windowEnv(const vxtest::Xvfb& xvfb) {
    auto env = xvfb.clientEnv();
    for (auto& entry : vxtest::sanitizerEnv(false)) env.push_back(entry);
    return env;
}

// The title of the window or of the top-level window that holds it.
std::string windowTitle(vxtest::XClient& x, vxtest::XWindowId window) {
    for (int depth = 0; window && depth < 8; ++depth) {
        char* name = nullptr;
        std::string title;
        if (XFetchName(x.raw(), window, &name) && name) title = name;
        if (name) XFree(name);
        if (!title.empty()) return title;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(x.raw(), window, &root, &parent, &children, &count)) break;
        if (children) XFree(children);
        if (parent == root) break;
        window = parent;
    }
    return {};
}

// Each window test gets its own X server and a client connected to it.
class LauncherWindow : public ::testing::Test {
protected:
    void SetUp() override {
        xvfb = vxtest::Xvfb::start(15s, &error);
        ASSERT_TRUE(xvfb) << error;
        x = vxtest::XClient::open(xvfb->display(), &error);
        ASSERT_TRUE(x) << error;
    }

    std::string error;
    std::unique_ptr<vxtest::Xvfb> xvfb;
    std::unique_ptr<vxtest::XClient> x;
};

TEST_F(LauncherWindow, HeadlessOpensNoWindowEvenWithADisplay) {
    vxtest::TempDir dir("vx-launcher");
    const std::string png = dir.file("shot.png");
    // About a second and a half of play, in which a window would show.
    auto process = vxtest::Process::start(command({"--headless", "--realtime", "--frames", "90", "--screenshot", png}),
                                          windowEnv(*xvfb), &error);
    ASSERT_TRUE(process) << error;
    EXPECT_EQ(x->findWindow(process->pid(), "vx-handheld", 1200ms), 0ul);
    const auto result = process->wait(kRunTimeout);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(loadScreenshot(png).width, kWidth);

    // Headless needs no working display at all; the window does.
    const std::vector<std::string> badDisplay{"DISPLAY=:31999"};
    const auto headless = vxtest::runProcess(command({"--headless", "--frames", "5"}), kRunTimeout, badDisplay);
    EXPECT_EQ(headless.exitCode, 0) << headless.err;
    const auto windowed = vxtest::runProcess(command({"--frames", "5"}), kRunTimeout, badDisplay);
    EXPECT_NE(windowed.exitCode, 0);
    EXPECT_EQ(windowed.err.rfind("vx-handheld: ", 0), 0u) << windowed.err;
}

// How many columns of the window's top screen (scaled by 2) show `key` held,
// and how many show a clean key picture at all.
std::pair<int, int> columnsWith(const vxtest::Image& image, uint32_t key) {
    int with = 0, painted = 0;
    for (int x = 0; x < kWidth; ++x) {
        const long keys = columnKeys(image.rgb, image.width, x, 2);
        if (keys < 0) continue;
        ++painted;
        if (keys & key) ++with;
    }
    return {with, painted};
}

// The window a person plays with: both screens scaled up, named after the
// programs, the keyboard as the keypad, closing it ends the run cleanly.
TEST_F(LauncherWindow, WindowShowsBothScreensTakesKeysAndClosesCleanly) {
    vxtest::TempDir dir("vx-launcher");
    const std::string console = dir.file("console.txt");
    auto process = vxtest::Process::start(command({"--console", console}), windowEnv(*xvfb), &error);
    ASSERT_TRUE(process) << error;
    const auto window = x->findWindow(process->pid(), "vx-handheld", 15s, 2 * kWidth, 2 * kHeight);
    ASSERT_NE(window, 0ul) << process->errSoFar();
    const std::string title = windowTitle(*x, window);
    EXPECT_NE(title.find("launcher_keys_arm9"), std::string::npos) << title;
    EXPECT_NE(title.find("launcher_keys_arm7"), std::string::npos) << title;

    vxtest::Image image;
    ASSERT_TRUE(x->waitForPicture(
        window, 10s,
        [](const vxtest::Image& i) { return columnsWith(i, 0).second >= 8 && bottomHasText(i.rgb, i.width, 2); },
        image))
        << "the window never showed the programs' screens";
    EXPECT_EQ(columnsWith(image, kA).first, 0) << "A shows held before any key was pressed";

    // X on the keyboard is the handheld's A; Q is its X (the co-processor's key).
    ASSERT_TRUE(x->focus(window));
    ASSERT_TRUE(x->holdKey(XK_x, 300ms));
    ASSERT_TRUE(x->holdKey(XK_q, 300ms));
    EXPECT_TRUE(x->waitForPicture(
        window, 5s,
        [](const vxtest::Image& i) { return columnsWith(i, kA).first >= 3 && columnsWith(i, kX).first >= 3; }, image))
        << "the held keys never reached the programs";

    ASSERT_TRUE(x->closeWindow(window));
    const auto result = process->wait(kRunTimeout);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(console).rfind("launcher test\n", 0), 0u);
}

TEST_F(LauncherWindow, EscapeQuitsAndFramesEndAWindowedRun) {
    auto process = vxtest::Process::start(command({"--scale", "1"}), windowEnv(*xvfb), &error);
    ASSERT_TRUE(process) << error;
    const auto window = x->findWindow(process->pid(), "vx-handheld", 15s, kWidth, kHeight);
    ASSERT_NE(window, 0ul) << process->errSoFar();
    vxtest::Image image;
    ASSERT_TRUE(x->waitForPicture(
        window, 10s, [](const vxtest::Image& i) { return bottomHasText(i.rgb, i.width, 1); }, image))
        << "the window never showed the programs' screens";
    ASSERT_TRUE(x->focus(window));
    ASSERT_TRUE(x->holdKey(XK_Escape));
    const auto result = process->wait(kRunTimeout);
    EXPECT_EQ(result.exitCode, 0) << result.err;

    // A windowed run with --frames ends by itself.
    vxtest::TempDir dir("vx-launcher");
    const std::string png = dir.file("shot.png");
    const auto timed =
        vxtest::runProcess(command({"--frames", "120", "--screenshot", png}), kRunTimeout, windowEnv(*xvfb));
    EXPECT_EQ(timed.exitCode, 0) << timed.err;
    const Screenshot shot = loadScreenshot(png);
    ASSERT_EQ(shot.width, kWidth);
    EXPECT_EQ(columnKeys(shot.rgb, shot.width, 119), 0);
}

// Without --arm9/--arm7 the launcher takes the game's pair beside itself, and
// the platform's demo pair until the game's is there.
TEST(LauncherPrograms, DefaultPairIsTheGameElseTheDemo) {
    vxtest::TempDir dir("vx-launcher");
    const fs::path bin = dir.path();
    fs::copy_file(vxtest::binaryPath("vx-handheld"), bin / "vx-handheld");
    fs::permissions(bin / "vx-handheld", fs::perms::owner_all);
    // The key programs stand in for the demo pair; their console is known.
    fs::copy_file(VX_KEYS_ARM9, bin / "demo_arm9");
    fs::copy_file(VX_KEYS_ARM7, bin / "demo_arm7");
    const auto consoleOf = [&]() {
        const std::string console = dir.file("console.txt");
        const auto result =
            vxtest::runProcess({(bin / "vx-handheld").string(), "--headless", "--frames", "40", "--console", console},
                               kRunTimeout, {"DISPLAY"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return readFile(console);
    };
    EXPECT_EQ(consoleOf().rfind("launcher test\n", 0), 0u);

    fs::copy_file(VX_GAME_ARM9, bin / "arm9_vxVer1.0");
    // Half of the game's pair is no pair: still the demo.
    EXPECT_EQ(consoleOf().rfind("launcher test\n", 0), 0u);
    fs::copy_file(VX_GAME_ARM7, bin / "arm7_vxVer1.0");
    EXPECT_EQ(consoleOf().rfind("Attempting to initialise Wifi", 0), 0u);
    fs::remove(bin / "arm9_vxVer1.0");
    fs::remove(bin / "arm7_vxVer1.0");

    fs::remove(bin / "demo_arm7");
    const auto missing =
        vxtest::runProcess({(bin / "vx-handheld").string(), "--headless", "--frames", "1"}, kRunTimeout, {"DISPLAY"});
    EXPECT_EQ(oneLineError(missing), "");
    EXPECT_NE(missing.err.find("demo_arm7"), std::string::npos) << missing.err;
}

// The game's pair registers on port 80; --forward takes that to a peer that
// listens elsewhere, and --no-access-point keeps the handheld off the air.
TEST(LauncherPrograms, ForwardCarriesTheRegistrationAndNoAccessPointStopsIt) {
    std::string error;
    auto peer = vxtest::UdpPeer::bind("127.0.0.1", 0, &error);
    ASSERT_TRUE(peer) << error;
    const std::string forward = "80=127.0.0.1:" + std::to_string(peer->port());
    const std::vector<std::string> game{"--arm9", VX_GAME_ARM9, "--arm7", VX_GAME_ARM7};

    std::vector<std::string> argv{
        vxtest::binaryPath("vx-handheld"), "--headless", "--frames", "600", "--forward", forward};
    argv.insert(argv.end(), game.begin(), game.end());
    auto process = vxtest::Process::start(argv, {"DISPLAY"}, &error);
    ASSERT_TRUE(process) << error;
    const auto addme = peer->receive(kRunTimeout);
    ASSERT_TRUE(addme) << process->errSoFar();
    EXPECT_EQ(std::string(addme->data.begin(), addme->data.end()), "ADDME");
    process->terminate();
    EXPECT_EQ(process->wait(kRunTimeout).exitCode, 0);

    vxtest::TempDir dir("vx-launcher");
    const std::string console = dir.file("console.txt");
    argv.insert(argv.end(), {"--no-access-point", "--console", console});
    const auto result = vxtest::runProcess(argv, kRunTimeout, {"DISPLAY"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(readFile(console).find("Could not connect!"), std::string::npos) << readFile(console);
    EXPECT_FALSE(peer->receive(200ms)) << "a datagram left without an access point";
}

}  // namespace
