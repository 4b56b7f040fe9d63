// The handheld's IPv4 stack on the host: checksums against known values, the
// DHCP exchange against a scripted server, ARP both ways, echo replies, and
// what happens to datagrams on their way to and from a socket.
#include <gtest/gtest.h>

#include <cstring>

#include "dhcp.h"
#include "frames.h"
#include "netbytes.h"

using namespace nettest;
using vxip::Rx;

namespace {

uint16_t checksumOf(const Bytes& b) { return vxip::internetChecksum(b.data(), b.size()); }

TEST(Checksum, MatchesKnownValues) {
    // The worked example of RFC 1071: sum ddf2, checksum its complement.
    EXPECT_EQ(checksumOf({0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}), 0x220D);
    // A captured IPv4 header (192.168.0.1 -> 192.168.0.199) whose checksum is b861.
    Bytes header = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                    0x00, 0x00, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7};
    EXPECT_EQ(checksumOf(header), 0xB861);
    header[10] = 0xB8, header[11] = 0x61;
    EXPECT_EQ(checksumOf(header), 0) << "an intact header sums to all ones";
    // An odd last byte is the high half of a word; carries fold back in.
    EXPECT_EQ(checksumOf({0x01, 0x02, 0x03}), static_cast<uint16_t>(~0x0402));
    EXPECT_EQ(checksumOf({0xFF, 0xFF, 0x00, 0x01}), static_cast<uint16_t>(~0x0001));
    // A sum split at an even boundary is the sum of the whole.
    const Bytes all = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(vxip::checksumFinish(vxip::checksumAdd(vxip::checksumAdd(0, all.data(), 4), all.data() + 4, 3)),
              checksumOf(all));
}

TEST(Dhcp, ParsesAServersAnswerAndRefusesMalformedOnes) {
    const Bytes good = dhcpServer(vxip::kDhcpOffer, 0xABCD, kOurIp, kOurMac, serverOptions(86400));
    vxip::DhcpReply r;
    ASSERT_TRUE(vxip::parseDhcpReply(good.data(), static_cast<uint32_t>(good.size()), r));
    EXPECT_EQ(r.type, vxip::kDhcpOffer);
    EXPECT_EQ(r.xid, 0xABCDu);
    EXPECT_EQ(r.yourAddress, kOurIp);
    EXPECT_EQ(r.serverId, kRouterIp);
    EXPECT_EQ(r.router, kRouterIp);
    EXPECT_EQ(r.subnetMask, kMask);
    EXPECT_EQ(r.dns[0], 0x0A400002u);
    EXPECT_EQ(r.leaseSeconds, 86400u);

    auto refused = [](Bytes b, const char* why) {
        vxip::DhcpReply reply;
        EXPECT_FALSE(vxip::parseDhcpReply(b.data(), static_cast<uint32_t>(b.size()), reply)) << why;
    };
    Bytes b = good;
    b[0] = 1;
    refused(b, "a client's message");
    b = good;
    b[237] ^= 1;
    refused(b, "wrong magic cookie");
    refused(Bytes(good.begin(), good.begin() + 239), "shorter than the fixed part");
    refused(Bytes(good.begin(), good.begin() + 244), "an option running past the end");
    refused(dhcpServer(2, 1, kOurIp, kOurMac, {1, 3, 255, 255, 255}), "a three-byte mask");
    refused(dhcpServer(2, 1, kOurIp, kOurMac, {3, 6, 10, 64, 0, 1, 0, 0}), "routers not a multiple of four");
    b = dhcpServer(2, 1, kOurIp, kOurMac, {});
    b[242] = 0;  // the message type option's data length
    refused(b, "no message type");
    // Pads and unknown options are skipped; a missing end option is tolerated.
    b = dhcpServer(2, 1, kOurIp, kOurMac, {0, 0, 12, 3, 'a', 'b', 'c'});
    b.pop_back();
    EXPECT_TRUE(vxip::parseDhcpReply(b.data(), static_cast<uint32_t>(b.size()), r));
}

// The exchange as melonDS's server answers it: broadcasts, from 10.64.0.1.
TEST(Stack, TakesAnAddressFromDhcpThroughARetryAndAGarbageOffer) {
    Net net;
    net.stack->linkUp(kOurMac.data(), vxip::Config{}, net.now);
    std::vector<Bytes> out = net.take();
    ASSERT_EQ(out.size(), 1u);
    const Bytes discover = out[0];
    EXPECT_EQ(checkFrame(discover), "");
    EXPECT_TRUE(std::equal(kBroadcast.begin(), kBroadcast.end(), discover.begin()));
    EXPECT_EQ(get32(discover, 26), 0u) << "source 0.0.0.0";
    EXPECT_EQ(get32(discover, 30), 0xFFFFFFFFu);
    EXPECT_EQ(get16(discover, 34), 68);
    EXPECT_EQ(get16(discover, 36), 67);
    EXPECT_EQ(get16(discover, 42 + 10), 0x8000) << "the broadcast flag";
    EXPECT_GE(discover.size(), 42u + 300u);
    EXPECT_EQ(dhcpOption(discover, 53), Bytes{1});
    const uint32_t xid = get32(discover, 42 + 4);

    // No answer: the same exchange asks again after its first wait.
    net.advance(950);
    EXPECT_TRUE(net.take().empty());
    net.advance(50);
    out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(dhcpOption(out[0], 53), Bytes{1});
    EXPECT_EQ(get32(out[0], 42 + 4), xid);

    // An offer of another exchange, and one whose options are garbage.
    net.receive(dhcpFrame(vxip::kDhcpOffer, xid + 1, kOurIp, serverOptions()));
    Bytes garbage = dhcpFrame(vxip::kDhcpOffer, xid, kOurIp, {54, 9, 10, 64, 0, 1});
    net.receive(garbage);
    EXPECT_TRUE(net.take().empty());
    EXPECT_EQ(net.stack->count(Rx::DropDhcp), 2u);
    EXPECT_FALSE(net.stack->hasAddress());

    net.receive(dhcpFrame(vxip::kDhcpOffer, xid, kOurIp, serverOptions()));
    out = net.take();
    ASSERT_EQ(out.size(), 1u);
    const Bytes request = out[0];
    EXPECT_EQ(checkFrame(request), "");
    EXPECT_EQ(dhcpOption(request, 53), Bytes{3});
    EXPECT_EQ(dhcpOption(request, 50), (Bytes{10, 64, 0, 16}));
    EXPECT_EQ(dhcpOption(request, 54), (Bytes{10, 64, 0, 1}));
    EXPECT_EQ(get32(request, 42 + 4), xid);
    EXPECT_FALSE(net.stack->hasAddress());

    net.receive(dhcpFrame(vxip::kDhcpAck, xid, kOurIp, serverOptions()));
    EXPECT_TRUE(net.take().empty());
    ASSERT_TRUE(net.stack->hasAddress());
    EXPECT_EQ(net.stack->config().address, kOurIp);
    EXPECT_EQ(net.stack->config().subnetMask, kMask);
    EXPECT_EQ(net.stack->config().gateway, kRouterIp);
    EXPECT_EQ(net.stack->count(Rx::DhcpTaken), 2u);
}

TEST(Stack, GivesUpOnASilentServerAndStartsOverOnARefusal) {
    Net net;
    net.stack->linkUp(kOurMac.data(), vxip::Config{}, net.now);
    size_t discovers = net.take().size();
    for (int i = 0; i < 40 && !net.stack->gaveUp(); ++i) {
        net.advance(500);
        discovers += net.take().size();
    }
    EXPECT_TRUE(net.stack->gaveUp());
    EXPECT_EQ(discovers, vxip::kDhcpTries);

    // A server that refuses the request: a fresh DISCOVER with a new number.
    Net refused;
    refused.stack->linkUp(kOurMac.data(), vxip::Config{}, refused.now);
    const uint32_t xid = get32(refused.take()[0], 42 + 4);
    refused.receive(dhcpFrame(vxip::kDhcpOffer, xid, kOurIp, serverOptions()));
    refused.take();
    refused.receive(dhcpFrame(vxip::kDhcpNak, xid, 0, {54, 4, 10, 64, 0, 1}));
    std::vector<Bytes> out = refused.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(dhcpOption(out[0], 53), Bytes{1});
    EXPECT_NE(get32(out[0], 42 + 4), xid);
}

TEST(Stack, RenewsItsLeaseWithTheServerAtHalfTime) {
    Net net;
    net.stack->linkUp(kOurMac.data(), vxip::Config{}, net.now);
    const uint32_t xid = get32(net.take()[0], 42 + 4);
    net.receive(dhcpFrame(vxip::kDhcpOffer, xid, kOurIp, serverOptions(100)));
    net.receive(dhcpFrame(vxip::kDhcpAck, xid, kOurIp, serverOptions(100)));
    net.take();
    net.advance(49950);
    EXPECT_TRUE(net.take().empty());
    net.advance(50);
    // The server's hardware address first, then the request straight to it.
    std::vector<Bytes> out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(get16(out[0], 12), 0x0806);
    EXPECT_EQ(get32(out[0], 38), kRouterIp);
    net.receive(ethernet(kOurMac, kRouterMac, 0x0806, arp(2, kRouterMac, kRouterIp, kOurMac, kOurIp)));
    out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(checkFrame(out[0]), "");
    EXPECT_TRUE(std::equal(kRouterMac.begin(), kRouterMac.end(), out[0].begin()));
    EXPECT_EQ(get32(out[0], 30), kRouterIp);
    EXPECT_EQ(get32(out[0], 42 + 12), kOurIp) << "ciaddr";
    EXPECT_TRUE(dhcpOption(out[0], 50).empty());
    EXPECT_EQ(net.stack->dhcpState(), vxip::DhcpState::Renewing);
    net.receive(udpFrame(kOurMac, kRouterMac, kRouterIp, kOurIp, 67, 68,
                         dhcpServer(vxip::kDhcpAck, get32(out[0], 42 + 4), kOurIp, kOurMac, serverOptions(100))));
    EXPECT_EQ(net.stack->dhcpState(), vxip::DhcpState::Bound);
}

TEST(Stack, AnswersArpForItsOwnAddressOnly) {
    Net net;
    net.upFixed();
    // Padded to the Ethernet minimum, and with the IEEE 802 hardware type.
    Bytes request = ethernet(kBroadcast, kPeerMac, 0x0806, arp(1, kPeerMac, kPeerIp, {}, kOurIp));
    request[15] = 6;
    request.resize(60, 0xFF);
    net.receive(request);
    std::vector<Bytes> out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(checkFrame(out[0]), "");
    EXPECT_EQ(out[0], ethernet(kPeerMac, kOurMac, 0x0806, arp(2, kOurMac, kOurIp, kPeerMac, kPeerIp)));

    net.receive(ethernet(kBroadcast, kPeerMac, 0x0806, arp(1, kPeerMac, kPeerIp, {}, kOurIp + 1)));
    Bytes truncated = ethernet(kBroadcast, kPeerMac, 0x0806, arp(1, kPeerMac, kPeerIp, {}, kOurIp));
    truncated.pop_back();
    net.receive(truncated);
    Bytes otherStation = request;
    otherStation[5] = 0x34;
    net.receive(otherStation);
    EXPECT_TRUE(net.take().empty());
    EXPECT_EQ(net.stack->count(Rx::ArpOther), 1u);
    EXPECT_EQ(net.stack->count(Rx::DropArp), 1u);
    EXPECT_EQ(net.stack->count(Rx::DropNotForUs), 1u);
}

TEST(Stack, HoldsADatagramUntilItsNextHopAnswersArp) {
    Net net;
    vxip::Config fixed;
    fixed.address = kOurIp;
    fixed.subnetMask = kMask;
    fixed.gateway = kRouterIp;
    net.stack->linkUp(kOurMac.data(), fixed, net.now);
    const int s = net.stack->openSocket();
    const uint8_t addme[] = {'A', 'D', 'D', 'M', 'E'};
    // Off the subnet: through the router.
    ASSERT_EQ(net.stack->sendTo(s, 0xC0000207, 80, addme, 5, net.now), 5);
    std::vector<Bytes> out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], ethernet(kBroadcast, kOurMac, 0x0806, arp(1, kOurMac, kOurIp, {}, kRouterIp)));

    net.receive(ethernet(kOurMac, kRouterMac, 0x0806, arp(2, kRouterMac, kRouterIp, kOurMac, kOurIp)));
    out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(checkFrame(out[0]), "");
    EXPECT_TRUE(std::equal(kRouterMac.begin(), kRouterMac.end(), out[0].begin()));
    EXPECT_EQ(get32(out[0], 30), 0xC0000207u);
    EXPECT_EQ(get16(out[0], 34), net.stack->localPort(s));
    EXPECT_EQ(get16(out[0], 36), 80);
    EXPECT_EQ(Bytes(out[0].begin() + 42, out[0].end()), Bytes(addme, addme + 5));

    // Known now: the next goes at once. A neighbour that never answers
    // costs its datagram after three requests a second apart.
    ASSERT_EQ(net.stack->sendTo(s, kRouterIp, 9780, addme, 5, net.now), 5);
    EXPECT_EQ(net.take().size(), 1u);
    ASSERT_EQ(net.stack->sendTo(s, kPeerIp, 80, addme, 5, net.now), 5);
    net.advance(2950);
    EXPECT_EQ(net.take().size(), 3u);
    EXPECT_EQ(net.stack->tx().unresolved, 0u);
    net.advance(50);
    EXPECT_EQ(net.stack->tx().unresolved, 1u);
    EXPECT_TRUE(net.take().empty());
}

TEST(Stack, AnswersEchoRequestsAddressedToItAlone) {
    Net net;
    net.upFixed();
    const Bytes data = {'p', 'i', 'n', 'g', 0, 1, 2};
    net.receive(ethernet(kOurMac, kPeerMac, 0x0800, ipv4(1, kPeerIp, kOurIp, icmpEcho(8, 77, 3, data))));
    std::vector<Bytes> out = net.take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(checkFrame(out[0]), "");
    EXPECT_TRUE(std::equal(kPeerMac.begin(), kPeerMac.end(), out[0].begin()));
    EXPECT_EQ(get32(out[0], 26), kOurIp);
    EXPECT_EQ(get32(out[0], 30), kPeerIp);
    EXPECT_EQ(Bytes(out[0].begin() + 34, out[0].end()), icmpEcho(0, 77, 3, data));

    Bytes badSum = ethernet(kOurMac, kPeerMac, 0x0800, ipv4(1, kPeerIp, kOurIp, icmpEcho(8, 77, 3, data)));
    badSum.back() ^= 1;
    net.receive(badSum);
    net.receive(ethernet(kBroadcast, kPeerMac, 0x0800, ipv4(1, kPeerIp, 0x0A4000FF, icmpEcho(8, 1, 1, data))));
    net.receive(ethernet(kOurMac, kPeerMac, 0x0800, ipv4(1, kPeerIp, kOurIp, icmpEcho(0, 1, 1, data))));
    EXPECT_TRUE(net.take().empty());
    EXPECT_EQ(net.stack->count(Rx::DropIcmp), 3u);
}

TEST(Stack, QueuesDatagramsForTheirSocketAndDropsWhatItCannotTake) {
    Net net;
    net.upFixed();
    const int s = net.stack->openSocket();
    const uint8_t addme[] = {'A', 'D', 'D', 'M', 'E'};
    ASSERT_EQ(net.stack->sendTo(s, kRouterIp, 80, addme, 5, net.now), 5);
    const uint16_t port = net.stack->localPort(s);
    ASSERT_NE(port, 0);
    auto to = [&](uint16_t p, const Bytes& data, bool checksum = true) {
        return udpFrame(kOurMac, kRouterMac, kRouterIp, kOurIp, 80, p, data, checksum);
    };

    // melonDS rounds lengths up: the IP header's length counts, not the frame's.
    Bytes padded = to(port, {7, 0, 0, 0});
    padded.insert(padded.end(), {0xFF, 0xFF});
    net.receive(padded);
    net.receive(to(port, {1, 2, 3, 4, 5, 6}, false));  // no checksum is fine
    uint8_t buffer[4] = {};
    uint32_t from = 0;
    uint16_t fromPort = 0;
    EXPECT_EQ(net.stack->receiveFrom(s, buffer, 4, &from, &fromPort), 4);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(from, kRouterIp);
    EXPECT_EQ(fromPort, 80);
    EXPECT_EQ(net.stack->receiveFrom(s, buffer, 4, &from, &fromPort), 4) << "the rest is discarded";
    EXPECT_EQ(buffer[3], 4);
    EXPECT_EQ(net.stack->receiveFrom(s, buffer, 4, &from, &fromPort), -1);

    Bytes badSum = to(port, {1, 2, 3});
    badSum.back() ^= 0x10;
    net.receive(badSum);
    net.receive(to(port + 1, {1}));
    Bytes fragment = to(port, {1});
    fragment[20] = 0x20;  // more fragments
    fragment[24] = 0, fragment[25] = 0;
    put16(fragment, 24, vxip::internetChecksum(fragment.data() + 14, 20));
    net.receive(fragment);
    Bytes longer = to(port, {1});
    put16(longer, 16, static_cast<uint16_t>(get16(longer, 16) + 1));
    net.receive(longer);
    EXPECT_EQ(net.stack->count(Rx::DropUdpChecksum), 1u);
    EXPECT_EQ(net.stack->count(Rx::DropNoSocket), 1u);
    EXPECT_EQ(net.stack->count(Rx::DropFragment), 1u);
    EXPECT_EQ(net.stack->count(Rx::DropIp), 1u) << "total length past the frame";

    // A header with options (no-ops) is read past them.
    Bytes withOptions = to(port, {9});
    withOptions.insert(withOptions.begin() + 34, {1, 1, 1, 0});
    withOptions[14] = 0x46;
    put16(withOptions, 16, static_cast<uint16_t>(get16(withOptions, 16) + 4));
    put16(withOptions, 24, 0);
    put16(withOptions, 24, vxip::internetChecksum(withOptions.data() + 14, 24));
    net.receive(withOptions);
    EXPECT_EQ(net.stack->receiveFrom(s, buffer, 4, &from, &fromPort), 1);
    EXPECT_EQ(buffer[0], 9);

    for (int i = 0; i < vxip::kRxBuffers + 2; ++i) net.receive(to(port, {1}));
    EXPECT_EQ(net.stack->count(Rx::DropQueueFull), 2u);
    // Closing gives the buffers back.
    net.stack->closeSocket(s);
    const int again = net.stack->openSocket();
    ASSERT_EQ(net.stack->sendTo(again, kRouterIp, 80, addme, 5, net.now), 5);
    EXPECT_NE(net.stack->localPort(again), 0);
    for (int i = 0; i < vxip::kRxBuffers; ++i) net.receive(to(net.stack->localPort(again), {1}));
    EXPECT_EQ(net.stack->count(Rx::DropQueueFull), 2u);
    EXPECT_EQ(net.take().size(), 2u) << "only the two ADDMEs";
}

TEST(Stack, SendsNothingWithoutAnAddressOrToBroadcasts) {
    Net net;
    const int s = net.stack->openSocket();
    const uint8_t addme[] = {'A', 'D', 'D', 'M', 'E'};
    EXPECT_EQ(net.stack->sendTo(s, kRouterIp, 80, addme, 5, net.now), vxip::kSendNoAddress);
    net.upFixed();
    EXPECT_EQ(net.stack->sendTo(s + 1, kRouterIp, 80, addme, 5, net.now), vxip::kSendBadSocket);
    EXPECT_EQ(net.stack->sendTo(s, kRouterIp, 80, addme, vxip::kMaxDatagram + 1, net.now), vxip::kSendBadLength);
    EXPECT_EQ(net.stack->sendTo(s, 0xFFFFFFFF, 80, addme, 5, net.now), 5);
    EXPECT_EQ(net.stack->sendTo(s, 0x0A4000FF, 80, addme, 5, net.now), 5);
    EXPECT_EQ(net.stack->tx().refused, 2u);
    EXPECT_TRUE(net.take().empty());
    // A full transmit ring fails the send, as the simulated handheld's full queue does.
    net.refuse = true;
    EXPECT_EQ(net.stack->sendTo(s, kRouterIp, 80, addme, 5, net.now), vxip::kSendNoRoom);
    EXPECT_EQ(net.stack->tx().emitFailed, 1u);
    // Frames that arrive while the link is down are counted, not read.
    net.stack->linkDown();
    net.receive(udpFrame(kOurMac, kRouterMac, kRouterIp, kOurIp, 80, net.stack->localPort(s), {1}));
    EXPECT_EQ(net.stack->count(Rx::DropDown), 1u);
}

}  // namespace
