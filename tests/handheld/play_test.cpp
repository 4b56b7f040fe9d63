// The play loop: one step per held direction per pass, the bounds, a state
// record for every step, and the square in the framebuffer.
#include "handheld.h"

namespace hhtest {
namespace {

// The records one pass sends for the keys held, from `tank` on: each held
// direction steps, clamps with the upper bound first, and sends.
std::vector<State> pass(State& tank, uint32_t keys) {
    std::vector<State> out;
    auto clamp = [](int32_t v, int32_t high) { return v > high ? high : v < 0 ? 0 : v; };
    if (keys & kUp) out.push_back(tank = {tank.X, clamp(tank.Y + 1, 255), tank.userID});
    if (keys & kDown) out.push_back(tank = {tank.X, clamp(tank.Y - 1, 255), tank.userID});
    if (keys & kLeft) out.push_back(tank = {clamp(tank.X - 1, 192), tank.Y, tank.userID});
    if (keys & kRight) out.push_back(tank = {clamp(tank.X + 1, 255), tank.Y, tank.userID});
    return out;
}

struct Play {
    std::unique_ptr<Session> session;
    State tank{128, 128, 7};
    std::vector<State> expected;

    void start() {
        session = startPlaying();
        ASSERT_TRUE(session);
    }
    void hold(uint32_t keys, uint64_t passes) {
        session->hold(keys, passes);
        for (uint64_t i = 0; i < passes; ++i) {
            auto more = pass(tank, keys);
            expected.insert(expected.end(), more.begin(), more.end());
        }
    }
    // Every record so far, in order, against the steps the keys called for.
    void check() {
        auto got = session->records();
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "record " << i;
    }
    Area square() { return drawnSquare(*session->handheld); }
};

TEST(Play, StartsAtTheCentreWithTheSquareOnRow64OfTheTopScreen) {
    Play p;
    p.start();
    Handheld& h = *p.session->handheld;
    EXPECT_EQ(p.square(), expectedSquare(128, 128));
    // As shown: on the top screen, in red 31.
    ASSERT_TRUE(h.machine.runUntil([&] { return litArea(h).count > 0; }, 3));
    std::vector<uint8_t> rgb = h.machine.renderScreens();
    auto px = [&](int r, int c) { return &rgb[3 * (r * 256 + c)]; };
    Area shown = areaOf(
        192, [&](int r, int c) { return px(r, c)[0] != 0 || px(r, c)[1] != 0 || px(r, c)[2] != 0; },
        [&](int r, int c) { return px(r, c)[0] >= 248 && px(r, c)[1] == 0 && px(r, c)[2] == 0; });
    EXPECT_EQ(shown, (Area{121, 59, 69, 123, 133, true}));
    p.hold(kRight, 1);
    p.check();
}

TEST(Play, OneStepPerPassOfThreeFramesAndNothingSentWithoutKeys) {
    Play p;
    p.start();
    Handheld& h = *p.session->handheld;
    p.hold(0, 5);
    p.hold(kRight, 10);
    p.hold(0, 5);
    p.check();
    EXPECT_EQ(p.tank.X, 138);
    // Between two steps: the clear, the square and three waits for the vertical blank.
    std::vector<TraceEntry> main;
    for (const TraceEntry& e : h.entries(Cpu::Main, TraceKind::Call)) {
        if (e.text == "swiWaitForVBlank()" || e.text.find(" 12 bytes") != std::string::npos) main.push_back(e);
    }
    int first = findFrom(main, 0, TraceKind::Call, " 12 bytes");
    ASSERT_GE(first, 0);
    uint64_t previous = main[first].cycle;
    int waits = 0, steps = 1;
    for (size_t i = first + 1; i < main.size(); ++i) {
        if (main[i].text == "swiWaitForVBlank()") {
            ++waits;
            continue;
        }
        EXPECT_EQ(waits, 3) << "before step " << steps;
        uint64_t apart = main[i].cycle - previous;
        EXPECT_TRUE(apart + 2 * vxsim::kCyclesPerLine >= 3 * vxsim::kCyclesPerFrame &&
                    apart <= 3 * vxsim::kCyclesPerFrame + 2 * vxsim::kCyclesPerLine)
            << apart;
        previous = main[i].cycle;
        waits = 0;
        ++steps;
    }
    EXPECT_EQ(steps, 10);
    // The loop goes on without keys (nine passes of three waits, less the
    // part of a pass that falls after the last frame run).
    EXPECT_GE(waits, 28);
    EXPECT_LE(waits, 30);
    EXPECT_EQ(p.square(), expectedSquare(138, 128));
}

TEST(Play, VerticalBoundsClampAndStillSendAndOppositeDirectionsDoNotAlwaysCancel) {
    Play p;
    p.start();
    p.hold(kUp | kDown, 1);  // 129, then back to 128
    p.hold(kUp, 130);        // to 255, three more sends at the bound
    p.hold(kUp | kDown, 1);  // 255 stays 255, then 254
    p.hold(kDown, 257);      // to 0, three more sends at the bound
    p.hold(kUp | kDown, 1);  // 1, then 0
    p.check();
    EXPECT_EQ(p.tank.Y, 0);
}

TEST(Play, HorizontalBoundsWithTheLeftCapAt192) {
    Play p;
    p.start();
    p.hold(kRight, 65);         // 193
    p.hold(kLeft, 1);           // 192
    p.hold(kRight, 58);         // 250
    p.hold(kLeft | kRight, 1);  // 192, then 193
    p.hold(kRight, 65);         // 255, with sends at the bound
    p.hold(kLeft, 1);           // 192
    p.hold(kLeft, 195);         // 0, with sends at the bound
    p.hold(kLeft | kRight, 1);  // 0 stays 0, then 1
    p.hold(kUp | kDown | kLeft | kRight, 1);
    p.check();
    EXPECT_EQ(p.tank, (State{1, 128, 7}));
}

TEST(Play, SquareIsClippedAtTheEdgesAndDrawnIntoRow192) {
    Play p;
    p.start();
    p.hold(kRight, 127);
    EXPECT_EQ(p.square(), expectedSquare(255, 128));  // columns 250..255 only
    EXPECT_EQ(expectedSquare(255, 128).left, 250);
    p.hold(kLeft, 193);
    EXPECT_EQ(p.square(), expectedSquare(0, 128));  // columns 0..5 only
    p.hold(kRight, 128);
    p.hold(kDown, 128);
    // Y = 0: rows 187..192, the last one past the visible screen but inside bank A.
    EXPECT_EQ(p.square(), (Area{66, 187, 192, 123, 133, true}));
    Handheld& h = *p.session->handheld;
    ASSERT_TRUE(h.machine.runUntil([&] { return litArea(h).count > 0; }, 3));
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(framebufferPixel(h, 192, c), (c >= 123 && c <= 133) ? 31 : 0) << "column " << c;
    p.hold(kUp, 197);
    EXPECT_EQ(p.square(), (Area{11, 0, 0, 123, 133, true}));  // Y = 197: row 0 only
    p.hold(kUp, 1);
    EXPECT_EQ(p.square(), Area{});  // Y = 198: nothing
    p.hold(kUp, 60);
    EXPECT_EQ(p.square(), Area{});  // and on to 255, still sending
    p.check();
    EXPECT_EQ(p.tank, (State{128, 255, 7}));
}

TEST(Play, LoopRunsWithTheIdentifierWithin300FramesOfPowerOn) {
    std::string error;
    auto s = Session::start({}, error);
    ASSERT_TRUE(s) << error;
    Handheld& h = *s->handheld;
    auto playing = [&] {
        return consoleCompact(h).find(compact("Received ACK. UserID: 7")) != std::string::npos &&
               litArea(h) == expectedSquare(128, 128);
    };
    ASSERT_TRUE(h.machine.runUntil(playing, 300)) << h.consoleText();
    EXPECT_LE(h.machine.frameCount(), 300u);
}

}  // namespace
}  // namespace hhtest
