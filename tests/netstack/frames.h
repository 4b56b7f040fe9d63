// Frames as the stack's peers would send them, written field by field here
// rather than with the stack's own builders, and a stack whose emitted frames
// are kept for the test to read.
#ifndef VX_TESTS_NETSTACK_FRAMES_H
#define VX_TESTS_NETSTACK_FRAMES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame_bytes.h"
#include "ipstack.h"

namespace nettest {

using frametest::Bytes;
using frametest::kBroadcast;
using frametest::kOurMac;
using frametest::kRouterMac;
using frametest::Mac;

constexpr Mac kPeerMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};

constexpr uint32_t kOurIp = 0x0A400010;     // 10.64.0.16
constexpr uint32_t kRouterIp = 0x0A400001;  // 10.64.0.1, also the DHCP server
constexpr uint32_t kPeerIp = 0x0A400007;
constexpr uint32_t kMask = 0xFFFFFF00;

void put16(Bytes& b, size_t at, uint16_t v);
void put32(Bytes& b, size_t at, uint32_t v);
uint16_t get16(const Bytes& b, size_t at);
uint32_t get32(const Bytes& b, size_t at);

Bytes ethernet(const Mac& to, const Mac& from, uint16_t type, const Bytes& payload);
Bytes arp(uint16_t operation, const Mac& senderMac, uint32_t sender, const Mac& targetMac, uint32_t target);
// An IPv4 packet with a correct header checksum.
Bytes ipv4(uint8_t protocol, uint32_t from, uint32_t to, const Bytes& payload);
// A UDP datagram (header and data) with its checksum, or 0 for none.
Bytes udp(uint32_t from, uint32_t to, uint16_t fromPort, uint16_t toPort, const Bytes& data, bool checksum = true);
Bytes icmpEcho(uint8_t type, uint16_t id, uint16_t sequence, const Bytes& data);
// A server's DHCP message; `options` is appended after the message type and
// before the end option.
Bytes dhcpServer(uint8_t type, uint32_t xid, uint32_t yourAddress, const Mac& client, const Bytes& options);
// The standard options of melonDS's answers: server id, lease, mask, router, DNS.
Bytes serverOptions(uint32_t lease = 86400);

// A whole frame carrying UDP from `from` to `to`.
Bytes udpFrame(const Mac& toMac, const Mac& fromMac, uint32_t from, uint32_t to, uint16_t fromPort, uint16_t toPort,
               const Bytes& data, bool checksum = true);
Bytes dhcpFrame(uint8_t type, uint32_t xid, uint32_t yourAddress, const Bytes& options);

// Checks an emitted frame the way a receiver would: Ethernet, then an IPv4
// header with its checksum and lengths, then a UDP or ICMP checksum. Empty
// when all is well, else what is wrong.
std::string checkFrame(const Bytes& frame);

// A DHCP option's data in a client's message, or empty when absent.
Bytes dhcpOption(const Bytes& frame, uint8_t code);

struct Net {
    std::unique_ptr<vxip::Stack> stack = std::make_unique<vxip::Stack>();
    std::vector<Bytes> sent;
    bool refuse = false;
    uint32_t now = 0;

    Net();
    // From a copy of exactly the frame's length: a vector's spare capacity
    // would hide a read past the end from the sanitizer.
    void receive(const Bytes& frame);
    void advance(uint32_t ms);  // in the 50 ms steps the handheld's timer takes
    // Up with a fixed address (10.64.0.16/24, router 10.64.0.1), the router's
    // hardware address already known.
    void upFixed();
    std::vector<Bytes> take();
};

}  // namespace nettest

#endif
