// The window as a person sees it: screenshots read back from the X server.
#include <gtest/gtest.h>

#include "frame_counter.h"
#include "harness.h"

using namespace vxdesk;

namespace {

bool hasCross(const Image& img) { return litPixels(img).count > 0; }

// The cross is 10 units across at 100 units: about ten pixels at 512 x 512.
void expectCrossAt(const Image& img, int X, int Y, const char* where) {
    double px, py;
    expectedCentre(X, Y, img.width, img.height, px, py);
    Lit lit = litPixels(img);
    ASSERT_GT(lit.count, 4) << where << ": nothing drawn";
    EXPECT_NEAR(lit.centreX(), px, 2.0) << where;
    EXPECT_NEAR(lit.centreY(), py, 2.0) << where;
    EXPECT_LE(lit.maxX - lit.minX, 12) << where;
    EXPECT_LE(lit.maxY - lit.minY, 12) << where;
}

void expectColour(const std::array<uint8_t, 3>& got, std::array<int, 3> want, const char* what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 3) << what << " channel " << i;
}

}  // namespace

struct ColourCase {
    int32_t userID;
    std::array<int, 3> rgb;
};

void PrintTo(const ColourCase& c, std::ostream* os) { *os << "userID " << c.userID; }

class CrossColour : public ::testing::TestWithParam<ColourCase> {};

// Colour (1 + 1/u, 1 + 1/u, 10 + 1/u), clamped: white for positive
// identifiers and for 0 (infinite), pure blue for -1, half grey-blue for -2.
TEST_P(CrossColour, FollowsTheUserIdAtTheBottomLeftCorner) {
    auto s = openSession(GetParam().userID);
    ASSERT_TRUE(s);
    Image img = s->screenshotUntil(hasCross);
    ASSERT_EQ(img.width, 512);
    ASSERT_EQ(img.height, 512);
    expectCrossAt(img, 0, 0, "start position");
    expectColour(litPixels(img).brightest, GetParam().rgb, "cross");
    EXPECT_EQ(img.pixel(256, 256), (std::array<uint8_t, 3>{0, 0, 0})) << "background is black";
}

INSTANTIATE_TEST_SUITE_P(Desktop, CrossColour,
                         ::testing::Values(ColourCase{7, {255, 255, 255}}, ColourCase{0, {255, 255, 255}},
                                           ColourCase{-1, {0, 0, 255}}, ColourCase{-2, {128, 128, 255}}),
                         [](const ::testing::TestParamInfo<ColourCase>& info) {
                             int id = info.param.userID;
                             return (id < 0 ? "minus" : "") + std::to_string(id < 0 ? -id : id);
                         });

TEST(Window, TankAt128IsInTheMiddleAndFollowsTheKeys) {
    auto s = openSession(3);
    ASSERT_TRUE(s);
    std::string error;
    ASSERT_TRUE(s->pressTimes(XK_Up, 64, error)) << error;
    auto r = s->pressTimes(XK_Right, 64, error);
    ASSERT_TRUE(r) << error;
    ASSERT_EQ(*r, (StateRecord{128, 128, 3}));
    Image img = s->screenshotUntil([](const Image& i) {
        Lit l = litPixels(i);
        return l.count > 0 && l.minX > 200;
    });
    expectCrossAt(img, 128, 128, "middle");
    EXPECT_NE(img.pixel(256, 256), (std::array<uint8_t, 3>{0, 0, 0})) << "the two strokes cross in the middle";

    // One more step right moves it by 2 units: about 2 pixels.
    ASSERT_TRUE(s->press(XK_Right));
    Image moved = s->screenshotUntil([&](const Image& i) {
        return litPixels(i).count > 0 && litPixels(i).centreX() > litPixels(img).centreX() + 1;
    });
    expectCrossAt(moved, 130, 128, "one step right");
}

TEST(Window, ResizeKeepsTheCrossInPlaceForTheNewShape) {
    auto s = openSession(7);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->xc->resize(s->window, 800, 400));
    Image wide = s->screenshotUntil([](const Image& i) { return i.width == 800 && i.height == 400 && hasCross(i); });
    ASSERT_EQ(wide.width, 800);
    ASSERT_EQ(wide.height, 400);
    expectCrossAt(wide, 0, 0, "800x400");

    ASSERT_TRUE(s->xc->resize(s->window, 400, 300));
    Image smaller = s->screenshotUntil([](const Image& i) { return i.width == 400 && i.height == 300 && hasCross(i); });
    ASSERT_EQ(smaller.width, 400);
    expectCrossAt(smaller, 0, 0, "400x300");
    EXPECT_TRUE(s->client->running());
    EXPECT_EQ(s->client->errSoFar(), "");
}

TEST(Window, ResizeMissingASurfaceExits1) {
    auto s = openSession(7, {"VX_FAIL_SETVIDEOMODE_AFTER=2"});
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->xc->resize(s->window, 600, 500));
    auto r = s->waitExit();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Could not get a surface after resize: injected mode-set failure\n");
}

// The window must not drive anything out of bounds when a resize reports a
// height of 0 (X itself never does): the client carries on and keeps steering.
TEST(Window, ResizeToHeightZeroKeepsRunning) {
    auto s = openSession(7, {"VX_RESIZE_ZERO_HEIGHT=1"});
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->xc->resize(s->window, 400, 300));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(s->client->running()) << s->client->errSoFar();
    EXPECT_EQ(s->press(XK_Up), (StateRecord{0, 2, 7}));
    EXPECT_EQ(s->client->errSoFar(), "");
}

TEST(Window, VideoFailuresAfterStartEndWithTheirLine) {
    FakeServer server;
    ASSERT_TRUE(server.ok()) << server.error;
    std::string error;
    auto x = vxtest::Xvfb::start(kStartTimeout, &error);
    ASSERT_TRUE(x) << error;
    struct Case {
        const char* setting;
        const char* line;
    };
    for (Case c : {Case{"VX_FAIL_VIDEOINFO=1", "Video query failed: injected video query failure\n"},
                   Case{"VX_FAIL_SETVIDEOMODE_AFTER=1", "Video mode set failed: injected mode-set failure\n"}}) {
        auto p = Process::start({clientPath(), server.address}, clientEnv(x.get(), {c.setting}));
        ASSERT_TRUE(p);
        auto addme = server.registration->receive(kStartTimeout);
        ASSERT_TRUE(addme);
        auto ack = vxtest::encodeId(1);
        server.registration->reply(*addme, ack.data(), ack.size());
        auto r = p->wait(kExitTimeout);
        EXPECT_EQ(r.exitCode, 1) << c.setting;
        EXPECT_EQ(r.err, c.line);
        EXPECT_EQ(r.out, "Received ACK. UserID: 1\n");
    }
}

// With no input at all the loop still presents frame after frame.
TEST(Window, RedrawsContinuouslyWithoutEvents) {
    std::string error;
    auto frames = vxtest::FrameCounter::create(&error);
    ASSERT_TRUE(frames) << error;
    auto s = openSession(7, {frames->setting()});
    frames->removeFile();  // the client has it open from its start
    ASSERT_TRUE(s);
    EXPECT_TRUE(frames->waitFrames(10, 10s)) << "frames drawn with no input: " << frames->count();
    EXPECT_FALSE(s->server.state->receive(10ms)) << "drawing sends nothing";
}
