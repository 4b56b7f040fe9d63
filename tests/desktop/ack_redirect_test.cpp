// An ACK from another address than the one registered with moves every later
// state record to that address.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vxdesk;

TEST(AckRedirect, StateRecordsFollowTheAckSource) {
    auto redirected = UdpPeer::bind("127.0.0.2", 9780);
    ASSERT_TRUE(redirected) << "127.0.0.2:9780 is taken";
    std::string error;
    auto s = Session::open(vxtest::encodeId(9), error, {}, "127.0.0.2");
    ASSERT_TRUE(s) << error;
    for (auto sym : {XK_Up, XK_Right}) {
        s->xc->keyDown(sym);
        auto d = redirected->receive(kPacketTimeout);
        s->xc->keyUp(sym);
        std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(d);
        ASSERT_TRUE(vxtest::decodeState(d->data));
        EXPECT_EQ(vxtest::decodeState(d->data)->userID, 9);
    }
    EXPECT_FALSE(s->server.state->receive(200ms)) << "nothing reaches the registration address";
}
