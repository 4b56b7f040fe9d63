// DHCP messages as a client writes and reads them (the UDP payload only).
#ifndef VX_NET_DHCP_H
#define VX_NET_DHCP_H

#include <stdint.h>

namespace vxip {

constexpr uint16_t kDhcpServerPort = 67;
constexpr uint16_t kDhcpClientPort = 68;
// The fixed part up to and including the magic cookie.
constexpr uint32_t kDhcpFixed = 240;
// Short messages are padded to the old fixed BOOTP size: some servers ignore
// anything shorter.
constexpr uint32_t kDhcpMinMessage = 300;
constexpr uint32_t kDhcpMaxBuilt = 320;

enum DhcpType : uint8_t {
    kDhcpDiscover = 1,
    kDhcpOffer = 2,
    kDhcpRequest = 3,
    kDhcpDecline = 4,
    kDhcpAck = 5,
    kDhcpNak = 6,
    kDhcpRelease = 7,
    kDhcpInform = 8,
};

// What a client takes from a server's message. Addresses in host order;
// zero where the option was absent (has* tells for the numbers).
struct DhcpReply {
    uint8_t type = 0;
    uint32_t xid = 0;
    uint32_t yourAddress = 0;
    uint8_t clientMac[6] = {};
    uint32_t serverId = 0;
    uint32_t subnetMask = 0;
    uint32_t router = 0;
    uint32_t dns[2] = {};
    uint32_t leaseSeconds = 0;
    uint32_t renewSeconds = 0;
    uint32_t rebindSeconds = 0;
    bool hasMask = false;
    bool hasLease = false;
    bool hasRenew = false;
    bool hasRebind = false;
};

// Reads a server's message (op 2, Ethernet addresses, the cookie, well-formed
// options with the lengths their codes require, a message type). False for
// anything else; `reply` is then unspecified.
bool parseDhcpReply(const uint8_t* data, uint32_t length, DhcpReply& reply);

// What a client's message carries; zero leaves an address out.
struct DhcpRequest {
    uint8_t type = kDhcpDiscover;
    uint32_t xid = 0;
    uint16_t secs = 0;
    uint8_t mac[6] = {};
    uint32_t clientAddress = 0;     // ciaddr: set only when renewing
    uint32_t requestedAddress = 0;  // option 50
    uint32_t serverId = 0;          // option 54
};

// Writes the message into `out` (room for kDhcpMaxBuilt bytes) and returns
// its length. A message without a client address asks for a broadcast reply;
// every one carries the client identifier and the parameter list (mask,
// router, name server).
uint32_t buildDhcpRequest(const DhcpRequest& request, uint8_t* out);

}  // namespace vxip

#endif
