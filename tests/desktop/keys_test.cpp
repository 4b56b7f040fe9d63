// Steering: keys pressed through the X server, state records caught at the
// server's state port.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vxdesk;

TEST(Keys, EachArrowSendsOneRecordOfTwoUnits) {
    auto s = openSession(7);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->press(XK_Up), (StateRecord{0, 2, 7}));
    EXPECT_EQ(s->press(XK_Right), (StateRecord{2, 2, 7}));
    EXPECT_EQ(s->press(XK_Down), (StateRecord{2, 0, 7}));
    EXPECT_EQ(s->press(XK_Left), (StateRecord{0, 0, 7}));
    // At the lower bounds the position stays, and the step is still sent.
    EXPECT_EQ(s->press(XK_Down), (StateRecord{0, 0, 7}));
    EXPECT_EQ(s->press(XK_Left), (StateRecord{0, 0, 7}));
    // One record per key-down: holding a key does not repeat it.
    s->xc->holdKey(XK_Up, 400ms);
    EXPECT_EQ(s->nextState(), (StateRecord{0, 2, 7}));
    EXPECT_FALSE(s->server.state->receive(200ms));
}

TEST(Keys, BoundsWithLeftCappedAt192) {
    auto s = openSession(1);
    ASSERT_TRUE(s);
    std::string error;
    // Up to the top: ..., 252, 254, then 255, and 255 stays.
    auto r = s->pressTimes(XK_Up, 127, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->Y, 254);
    EXPECT_EQ(s->press(XK_Up), (StateRecord{0, 255, 1}));
    EXPECT_EQ(s->press(XK_Up), (StateRecord{0, 255, 1}));

    r = s->pressTimes(XK_Right, 127, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->X, 254);
    EXPECT_EQ(s->press(XK_Right), (StateRecord{255, 255, 1}));
    EXPECT_EQ(s->press(XK_Right), (StateRecord{255, 255, 1}));

    // Left from above 192 lands on 192, not on 253.
    EXPECT_EQ(s->press(XK_Left), (StateRecord{192, 255, 1}));
    EXPECT_EQ(s->press(XK_Left), (StateRecord{190, 255, 1}));

    // Down from the odd top value: 253, ..., 1, then 0.
    r = s->pressTimes(XK_Down, 127, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->Y, 1);
    EXPECT_EQ(s->press(XK_Down), (StateRecord{190, 0, 1}));
}

// Holds `held` (one record), then presses `pressed` as well: that event
// sends a record for each of the two arrows, in `first`, `second` order. With
// both keys up again nothing more comes.
void holdThenPress(Session& s, vxtest::KeySymbol held, vxtest::KeySymbol pressed, StateRecord afterHold,
                   StateRecord first, StateRecord second) {
    s.xc->keyDown(held);
    EXPECT_EQ(s.nextState(), afterHold);
    s.xc->keyDown(pressed);
    EXPECT_EQ(s.nextState(), first);
    EXPECT_EQ(s.nextState(), second);
    s.xc->keyUp(pressed);
    s.xc->keyUp(held);
    EXPECT_FALSE(s.server.state->receive(200ms));
}

TEST(Keys, HeldArrowsAreAllStepsInTheOrderUpDownLeftRight) {
    auto s = openSession(5);
    ASSERT_TRUE(s);
    // Right held, then Up pressed: the Up event moves Up first, then Right.
    {
        SCOPED_TRACE("Right held, Up pressed");
        holdThenPress(*s, XK_Right, XK_Up, StateRecord{2, 0, 5}, StateRecord{2, 2, 5}, StateRecord{4, 2, 5});
    }
    // Left held, then Down pressed: Down comes before Left.
    {
        SCOPED_TRACE("Left held, Down pressed");
        holdThenPress(*s, XK_Left, XK_Down, StateRecord{2, 2, 5}, StateRecord{2, 0, 5}, StateRecord{0, 0, 5});
    }
}

TEST(Keys, OtherKeysSendNothing) {
    auto s = openSession(2);
    ASSERT_TRUE(s);
    for (auto sym : {XK_a, XK_space, XK_Return, XK_Shift_L, XK_F1})
        EXPECT_TRUE(s->pressSendsNothing(sym)) << "keysym " << sym;
    // The window had the keyboard all along.
    EXPECT_EQ(s->press(XK_Up), (StateRecord{0, 2, 2}));
    EXPECT_TRUE(s->client->running());
}

TEST(Keys, EscapeEndsWithStatus0) {
    auto s = openSession(2);
    ASSERT_TRUE(s);
    // Held until the client is gone: a busy machine may take more than a
    // frame to see it.
    s->xc->keyDown(XK_Escape);
    auto r = s->waitExit();
    s->xc->keyUp(XK_Escape);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(s->server.state->receive(100ms));
}

TEST(Keys, EscapeWithAnArrowHeldSendsTheMoveFirst) {
    auto s = openSession(4);
    ASSERT_TRUE(s);
    s->xc->keyDown(XK_Up);
    EXPECT_EQ(s->nextState(), (StateRecord{0, 2, 4}));
    s->xc->keyDown(XK_Escape);
    EXPECT_EQ(s->nextState(), (StateRecord{0, 4, 4}));
    auto r = s->waitExit();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(s->server.state->receive(100ms));
}

TEST(Keys, ClosingTheWindowEndsWithStatus0) {
    auto s = openSession(2);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->press(XK_Right), (StateRecord{2, 0, 2}));
    ASSERT_TRUE(s->xc->closeWindow(s->window));
    auto r = s->waitExit();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Received ACK. UserID: 2\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(s->server.state->receive(100ms));
}

// A failed or short state send is reported and the move stands.
TEST(Keys, FailedStateSendIsReportedAndTheMoveStands) {
    auto s = openSession(6, {"VX_FAIL_SENDTO=2", "VX_SHORT_SENDTO=3"});
    ASSERT_TRUE(s);
    std::string expected = "Received ACK. UserID: 6\n";
    ASSERT_TRUE(s->waitForOutput(expected));

    // The 2nd send, the first state record, fails.
    s->xc->keyDown(XK_Up);
    expected += "error sending data to server -1\n";
    EXPECT_TRUE(s->waitForOutput(expected)) << s->client->outSoFar();
    s->xc->keyUp(XK_Up);
    EXPECT_FALSE(s->server.state->receive(100ms));
    std::this_thread::sleep_for(10ms);

    // The 3rd goes out one byte short and is reported with its count.
    s->xc->keyDown(XK_Up);
    auto shortOne = s->server.state->receive(kPacketTimeout);
    s->xc->keyUp(XK_Up);
    ASSERT_TRUE(shortOne);
    EXPECT_EQ(shortOne->data.size(), 11u);
    expected += "error sending data to server 11\n";
    EXPECT_TRUE(s->waitForOutput(expected)) << s->client->outSoFar();
    std::this_thread::sleep_for(10ms);

    // Both moves stood.
    EXPECT_EQ(s->press(XK_Up), (StateRecord{0, 6, 6}));
    EXPECT_TRUE(s->client->running());
}
