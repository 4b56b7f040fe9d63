// The socket layer end to end: a program on the simulated handheld talks to
// a real UDP peer on loopback through both halves and the radio.
#include <chrono>
#include <cstring>

#include "loopback_peer.h"
#include "wifi_test_support.h"

namespace wifitest {
namespace {

constexpr uint64_t kPatience = 900;  // fifteen seconds of virtual time

using vxtest::LoopbackPeer;
using vxtest::PeerOptions;

// A peer that echoes the first four datagrams, then sends `after`.
PeerOptions echoing(std::vector<uint8_t> after = {}) {
    PeerOptions po;
    po.reply = vxtest::echo(4, std::move(after));
    return po;
}

std::unique_ptr<LoopbackPeer> startPeer(PeerOptions options) {
    std::string error;
    auto peer = LoopbackPeer::start(std::move(options), error);
    EXPECT_TRUE(peer) << error;
    return peer;
}

// The main program's script, run against the peer on loopback.
void pointAt(const LoopbackPeer& peer, Script script) {
    mainOptions.script = script;
    mainOptions.peerPort = peer.port();
}

uint32_t loopback(uint8_t last) {
    uint32_t a = 0;
    const uint8_t bytes[4] = {127, 0, 0, last};
    std::memcpy(&a, bytes, 4);  // network order, as the program holds it
    return a;
}

void expectBytes(const Reception& r, std::vector<uint8_t> want) {
    want.resize(4, 0xEE);  // what the program had in the buffer beforehand
    EXPECT_EQ(std::vector<uint8_t>(r.bytes, r.bytes + 4), want);
}

std::vector<uint8_t> payload(int size) {
    std::vector<uint8_t> p;
    for (int i = 0; i < size; ++i) {
        p.push_back(payloadByte(size, i));
    }
    return p;
}

void expectTruncatingExchange(uint16_t fromPort, uint32_t fromAddress) {
    const MainReport& r = mainReport;
    EXPECT_GE(r.socketHandle, 0);
    EXPECT_EQ(r.sendResults, (std::vector<int>{0, 2, 4, 8}));
    ASSERT_EQ(r.receptions.size(), 5u);
    const int sizes[5] = {0, 2, 4, 4, 2};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.receptions[i].result, sizes[i]);
        EXPECT_EQ(r.receptions[i].family, 2);
        EXPECT_EQ(r.receptions[i].port, fromPort);
        EXPECT_EQ(r.receptions[i].address, fromAddress);
        EXPECT_EQ(r.receptions[i].fromLength, 16);
    }
    expectBytes(r.receptions[0], {});
    expectBytes(r.receptions[1], payload(2));
    expectBytes(r.receptions[2], payload(4));
    expectBytes(r.receptions[3], {payloadByte(8, 0), payloadByte(8, 1), payloadByte(8, 2), payloadByte(8, 3)});
    // The last four bytes of the 8-byte datagram were discarded, not kept for later.
    expectBytes(r.receptions[4], {'Z', 'Y'});
}

void expectPeerGotTheSends(LoopbackPeer& peer) {
    auto got = peer.received();
    ASSERT_EQ(got.size(), 4u);
    const int sizes[4] = {0, 2, 4, 8};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i].data, payload(sizes[i]));
        EXPECT_EQ(got[i].fromAddress, "127.0.0.1");
        // One host socket behind the handheld socket, from its first send on.
        EXPECT_EQ(got[i].fromPort, got[0].fromPort);
    }
    EXPECT_NE(got[0].fromPort, 0);
}

TEST(WifiSockets, DatagramsBothWaysWithTruncationAndTheRepliersAddress) {
    PeerOptions po = echoing({'Z', 'Y'});
    po.replyAddress = "127.0.0.2";
    auto peer = startPeer(po);
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::Exchange);
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilDone(h, kPatience));
    expectPeerGotTheSends(*peer);
    // Replies name the socket they came from, not the one the program sent to.
    expectTruncatingExchange(peer->replyPort(), loopback(2));
    EXPECT_EQ(h.count(TraceKind::NetSend, "127.0.0.1:" + std::to_string(peer->port())), 4);
    EXPECT_EQ(h.count(TraceKind::NetRecv, "127.0.0.2:" + std::to_string(peer->replyPort())), 5);
    EXPECT_TRUE(h.find(TraceKind::NetRecv, " 8 bytes"));
    EXPECT_TRUE(h.find(TraceKind::NetRecv, " 0 bytes"));
}

TEST(WifiSockets, ForwardedPortCarriesTrafficAndRepliesAppearFromIt) {
    auto peer = startPeer(echoing({'Z', 'Y'}));
    ASSERT_TRUE(peer);
    vxsim::MachineConfig config;
    config.forwards.push_back(vxsim::PortForward{9780, 0x7F000001, peer->port()});
    mainOptions.script = Script::Exchange;
    mainOptions.peerAddress = "127.0.0.9";
    mainOptions.peerPort = 9780;
    auto h = wirelessHandheld(config);
    ASSERT_TRUE(runUntilDone(h, kPatience));
    expectPeerGotTheSends(*peer);
    expectTruncatingExchange(9780, loopback(1));
    EXPECT_TRUE(
        h.find(TraceKind::NetSend, "127.0.0.9:9780 8 bytes (to 127.0.0.1:" + std::to_string(peer->port()) + ")"));
}

TEST(WifiSockets, RefusesBadHandlesBadArgumentsAndSendsBeforeAssociation) {
    auto peer = startPeer(echoing());
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::Errors);
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilDone(h, kPatience));
    const MainReport& r = mainReport;
    EXPECT_GE(r.socketBeforeConnect, 0);
    EXPECT_EQ(r.sendBeforeConnect, -1);
    EXPECT_EQ(r.recvBeforeConnect, -1);  // and it did not wait for ever
    EXPECT_EQ(r.finalStatus, 5);
    // In order: sendto on handles 7, -1, 1000; recvfrom and closesocket on 7;
    // a stream socket; another family; sendto without destination; close of
    // the good socket; sendto, recvfrom and close after it.
    EXPECT_EQ(r.errorResults, (std::vector<int>{-1, -1, -1, -1, -1, -1, -1, -1, 0, -1, -1, -1}));
    h.machine.runFrames(30);
    EXPECT_TRUE(peer->received().empty());
    EXPECT_EQ(h.count(TraceKind::NetSend, ""), 0);
}

TEST(WifiSockets, EveryBufferGoesThroughTheProgramsHooksAndComesBack) {
    auto peer = startPeer(echoing({'Z', 'Y'}));
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::Exchange);
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilDone(h, kPatience));
    h.machine.runFrames(10);  // the last sent buffers come back on the next sync or timer
    // Four sends and five receptions, each in a buffer of its own.
    EXPECT_EQ(mallocCount.load(), 9);
    EXPECT_EQ(freeCount.load(), 9);
    EXPECT_EQ(liveBlocks.load(), 0);
    EXPECT_EQ(h.count(TraceKind::Alloc, "sgIP_malloc("), 9);
    EXPECT_EQ(h.count(TraceKind::Alloc, "sgIP_free"), 9);
    // The 8-byte datagram and its echo.
    EXPECT_EQ(h.count(TraceKind::Alloc, "sgIP_malloc(8)"), 2);
}

TEST(WifiSockets, DatagramsNeverReadGoBackToTheProgramWhenTheMachineGoes) {
    auto peer = startPeer(echoing());
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::SendOnly);
    mainOptions.sends = 2;
    {
        auto h = wirelessHandheld();
        ASSERT_TRUE(runUntilDone(h, kPatience));
        // The echoes arrive and wait in the socket; the program never reads them.
        ASSERT_TRUE(h.machine.runUntil([&] { return h.count(TraceKind::NetRecv, "") == 2; }, kPatience));
        EXPECT_EQ(liveBlocks.load(), 2);
    }
    EXPECT_EQ(liveBlocks.load(), 0);
    EXPECT_EQ(freeCount.load(), mallocCount.load());
}

class WifiSocketsWithoutBuffers : public ::testing::TestWithParam<bool> {};

TEST_P(WifiSocketsWithoutBuffers, SendsFail) {
    bool hookReturnsNull = GetParam();
    auto peer = startPeer(echoing());
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::SendOnly);
    mainOptions.sends = 3;
    vxsim::ProgramImage image = mainImage();
    image.ipMalloc = hookReturnsNull ? failingMalloc : nullptr;
    if (!hookReturnsNull) {
        image.ipFree = nullptr;
    }
    auto h = wirelessHandheld({}, image);
    ASSERT_TRUE(runUntilDone(h, kPatience));
    EXPECT_EQ(mainReport.finalStatus, 5);
    EXPECT_EQ(mainReport.sendResults, (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(mallocCount.load(), hookReturnsNull ? 3 : 0);
    h.machine.runFrames(30);
    EXPECT_TRUE(peer->received().empty());
}

INSTANTIATE_TEST_SUITE_P(Hooks, WifiSocketsWithoutBuffers, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "HookReturnsNull" : "NoHook");
                         });

TEST(WifiSockets, BlockingReceiveLetsTheProgramsInterruptsRun) {
    PeerOptions po = echoing({'Z', 'Y'});
    po.replyDelay = std::chrono::milliseconds(300);
    auto peer = startPeer(po);
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::Exchange);
    auto h = wirelessHandheld();
    ASSERT_TRUE(runUntilDone(h, kPatience));
    ASSERT_EQ(mainReport.receptions.size(), 5u);
    const Reception& first = mainReport.receptions[0];
    EXPECT_EQ(first.result, 0);
    // The 50 ms timer kept firing while the program sat in recvfrom.
    EXPECT_GT(first.timerTicksAfter, first.timerTicksBefore);
    EXPECT_TRUE(h.find(TraceKind::Call, "recvfrom(0, 4) waiting"));
}

// While the program waits in recvfrom, virtual time runs no faster than the
// wall clock even in fast mode (a lower bound only: a slow host is never wrong).
TEST(WifiSockets, WaitingForTheNetworkDoesNotOutrunTheWallClock) {
    auto peer = startPeer(PeerOptions{});  // never answers
    ASSERT_TRUE(peer);
    pointAt(*peer, Script::Exchange);
    auto h = wirelessHandheld();
    ASSERT_TRUE(
        h.machine.runUntil([&] { return h.find(TraceKind::Call, "recvfrom(0, 4) waiting").has_value(); }, kPatience));
    uint64_t framesBefore = h.machine.frameCount();
    auto t0 = std::chrono::steady_clock::now();
    h.machine.runFrames(6);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(h.machine.frameCount() - framesBefore, 6u);
    EXPECT_GE(wall, 6 * 560190.0 / vxsim::kBusHz * 0.95);
}

}  // namespace
}  // namespace wifitest
