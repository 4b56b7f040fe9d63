#include "dhcp.h"

#include <string.h>

#include "netbytes.h"

namespace vxip {
namespace {

constexpr uint32_t kCookie = 0x63825363;

enum Option : uint8_t {
    kOptPad = 0,
    kOptSubnetMask = 1,
    kOptRouter = 3,
    kOptDns = 6,
    kOptRequestedIp = 50,
    kOptLease = 51,
    kOptMessageType = 53,
    kOptServerId = 54,
    kOptParameterList = 55,
    kOptMaxSize = 57,
    kOptRenew = 58,
    kOptRebind = 59,
    kOptClientId = 61,
    kOptEnd = 255,
};

// Options whose length the client relies on: four bytes, or a multiple of four.
bool takeOption(uint8_t code, const uint8_t* p, uint32_t n, DhcpReply& r) {
    switch (code) {
    case kOptMessageType:
        if (n != 1) return false;
        r.type = p[0];
        return true;
    case kOptSubnetMask:
        if (n != 4) return false;
        r.subnetMask = get32(p);
        r.hasMask = true;
        return true;
    case kOptRouter:
        if (n == 0 || n % 4 != 0) return false;
        r.router = get32(p);
        return true;
    case kOptDns:
        if (n == 0 || n % 4 != 0) return false;
        r.dns[0] = get32(p);
        r.dns[1] = n >= 8 ? get32(p + 4) : 0;
        return true;
    case kOptServerId:
        if (n != 4) return false;
        r.serverId = get32(p);
        return true;
    case kOptLease:
    case kOptRenew:
    case kOptRebind: {
        if (n != 4) return false;
        const uint32_t v = get32(p);
        if (code == kOptLease) r.leaseSeconds = v, r.hasLease = true;
        if (code == kOptRenew) r.renewSeconds = v, r.hasRenew = true;
        if (code == kOptRebind) r.rebindSeconds = v, r.hasRebind = true;
        return true;
    }
    default:
        return true;  // not ours to read
    }
}

}  // namespace

bool parseDhcpReply(const uint8_t* data, uint32_t length, DhcpReply& reply) {
    reply = DhcpReply{};
    if (length < kDhcpFixed) return false;
    if (data[0] != 2 || data[1] != 1 || data[2] != 6) return false;
    if (get32(data + 236) != kCookie) return false;
    reply.xid = get32(data + 4);
    reply.yourAddress = get32(data + 16);
    memcpy(reply.clientMac, data + 28, 6);
    uint32_t i = kDhcpFixed;
    bool ended = false;
    while (i < length && !ended) {
        const uint8_t code = data[i++];
        if (code == kOptPad) continue;
        if (code == kOptEnd) {
            ended = true;
            break;
        }
        if (i >= length) return false;
        const uint32_t n = data[i++];
        if (n > length - i) return false;
        if (!takeOption(code, data + i, n, reply)) return false;
        i += n;
    }
    return reply.type != 0;
}

uint32_t buildDhcpRequest(const DhcpRequest& rq, uint8_t* out) {
    memset(out, 0, kDhcpMaxBuilt);
    out[0] = 1;  // request
    out[1] = 1;  // Ethernet
    out[2] = 6;
    put32(out + 4, rq.xid);
    put16(out + 8, rq.secs);
    // Without an address the answer must come as a broadcast; a renewal has one.
    put16(out + 10, rq.clientAddress == 0 ? 0x8000 : 0);
    put32(out + 12, rq.clientAddress);
    memcpy(out + 28, rq.mac, 6);
    put32(out + 236, kCookie);
    uint8_t* p = out + kDhcpFixed;
    *p++ = kOptMessageType;
    *p++ = 1;
    *p++ = rq.type;
    *p++ = kOptClientId;
    *p++ = 7;
    *p++ = 1;
    memcpy(p, rq.mac, 6);
    p += 6;
    if (rq.requestedAddress != 0) {
        *p++ = kOptRequestedIp;
        *p++ = 4;
        put32(p, rq.requestedAddress);
        p += 4;
    }
    if (rq.serverId != 0) {
        *p++ = kOptServerId;
        *p++ = 4;
        put32(p, rq.serverId);
        p += 4;
    }
    *p++ = kOptMaxSize;
    *p++ = 2;
    put16(p, 576);
    p += 2;
    *p++ = kOptParameterList;
    *p++ = 3;
    *p++ = kOptSubnetMask;
    *p++ = kOptRouter;
    *p++ = kOptDns;
    *p++ = kOptEnd;
    const uint32_t used = static_cast<uint32_t>(p - out);
    return used < kDhcpMinMessage ? kDhcpMinMessage : used;
}

}  // namespace vxip
