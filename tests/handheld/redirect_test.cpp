// An ACK from another address than the configured server: from then on the
// state records and re-registrations go there. Binds 127.0.0.2:9780.
#include "handheld.h"

namespace hhtest {
namespace {

TEST(Redirect, AckFrom127002SendsStatesThereOn9780AndRegistrationsOn80) {
    std::string error;
    vxtest::PeerOptions redirected;
    redirected.address = "127.0.0.2";
    redirected.port = 9780;
    auto there = LoopbackPeer::start(redirected, error);
    ASSERT_TRUE(there) << error;
    Session::Options o;
    o.ack = vxtest::encodeId(31);
    o.ackFromAddress = "127.0.0.2";
    o.stateForward = false;
    auto s = Session::start(o, error);
    ASSERT_TRUE(s) << error;
    s->sink = there.get();
    ASSERT_TRUE(s->untilPlaying());
    Handheld& h = *s->handheld;
    s->hold(kDown, 2);
    s->hold(kA, 1);
    s->hold(kDown, 1);
    ASSERT_TRUE(there->waitFor(3, std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(states(there->received()), (std::vector<State>{{128, 127, 31}, {128, 126, 31}, {128, 125, 31}}));
    EXPECT_TRUE(s->states->received().empty());
    // The re-registration is addressed to 127.0.0.2:80 (the forward of port 80
    // takes it to the registrar, which sees it as a second ADDME).
    auto sends = h.entries(Cpu::Co, TraceKind::NetSend);
    std::vector<std::string> where;
    for (const TraceEntry& e : sends) where.push_back(e.text.substr(0, e.text.find(' ')));
    EXPECT_EQ(where, (std::vector<std::string>{std::string(VX_SERVER_ADDRESS) + ":80", "127.0.0.2:9780",
                                               "127.0.0.2:9780", "127.0.0.2:80", "127.0.0.2:9780"}));
    EXPECT_TRUE(s->registrar->waitFor(2, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace hhtest
