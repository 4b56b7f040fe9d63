#include "ipstack.h"

#include <string.h>

#include "netbytes.h"

namespace vxip {
namespace {

constexpr uint8_t kBroadcastMac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kZeroMac[6] = {};
constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoUdp = 17;
constexpr uint32_t kArpBody = 28;
constexpr uint32_t kUdpAt = kEthHeader + kIpHeader;  // UDP header in a frame we build
constexpr uint32_t kPayloadAt = kUdpAt + kUdpHeader;
constexpr uint16_t kFirstPort = 49152;  // the dynamic range
// Longer leases are renewed as if they were this long, so that every time
// stays well inside the 32-bit millisecond clock's half range.
constexpr uint32_t kLongestLeaseSeconds = 2000000;
constexpr uint32_t kShortestLeaseSeconds = 10;

bool multicastMac(const uint8_t* mac) { return (mac[0] & 1) != 0; }
bool multicastIp(uint32_t a) { return a >= 0xE0000000; }  // class D and E
bool loopbackIp(uint32_t a) { return (a >> 24) == 127; }

// Passed its time, with wrap-around: the difference is read as signed.
bool reached(uint32_t now, uint32_t when) { return static_cast<int32_t>(now - when) >= 0; }

bool contiguousMask(uint32_t m) { return m != 0 && ((~m + 1) & ~m) == 0; }

uint32_t naturalMask(uint32_t a) {
    if (a < 0x80000000) return 0xFF000000;
    if (a < 0xC0000000) return 0xFFFF0000;
    return 0xFFFFFF00;
}

bool usableHost(uint32_t a) { return a != 0 && a != 0xFFFFFFFF && !multicastIp(a) && !loopbackIp(a); }

uint32_t pseudoSum(uint32_t source, uint32_t destination, uint8_t protocol, uint32_t length) {
    return (source >> 16) + (source & 0xFFFF) + (destination >> 16) + (destination & 0xFFFF) + protocol + length;
}

// A header's options, if any, must at least be well-formed: single-byte
// end and no-op, the rest with a length that fits.
bool optionsWellFormed(const uint8_t* p, uint32_t n) {
    uint32_t i = 0;
    while (i < n) {
        if (p[i] == 0) return true;
        if (p[i] == 1) {
            ++i;
            continue;
        }
        if (i + 1 >= n || p[i + 1] < 2 || p[i + 1] > n - i) return false;
        i += p[i + 1];
    }
    return true;
}

}  // namespace

const char* rxName(Rx outcome) {
    static const char* const names[] = {
        "arp answered", "arp learnt", "arp other",  "delivered",  "echo answered", "dhcp taken",
        "down",         "length",     "not for us", "type",       "arp",           "ip",
        "ip checksum",  "fragment",   "no address", "not our ip", "protocol",      "udp",
        "udp checksum", "no socket",  "queue full", "too large",  "icmp",          "dhcp",
    };
    static_assert(sizeof names / sizeof names[0] == static_cast<int>(Rx::Count));
    const int i = static_cast<int>(outcome);
    return i >= 0 && i < static_cast<int>(Rx::Count) ? names[i] : "?";
}

void Stack::init(EmitFrame emit, void* context) {
    // Member by member: the object is too large for a temporary on a small stack.
    memset(mac_, 0, sizeof mac_);
    emit_ = emit;
    context_ = context;
    up_ = false;
    config_ = Config{};
    ipId_ = 0;
    nextPort_ = kFirstPort;
    dhcp_ = DhcpState::Off;
    xidSeed_ = 0;
    xid_ = offered_ = server_ = dhcpDeadline_ = dhcpTries_ = 0;
    leaseStart_ = renewAt_ = rebindAt_ = expireAt_ = 0;
    memset(arp_, 0, sizeof arp_);
    for (Held& h : held_) h.used = false;
    for (int i = 0; i < kRxBuffers; ++i) buffers_[i].next = static_cast<int16_t>(i + 1 < kRxBuffers ? i + 1 : -1);
    freeBuffer_ = 0;
    for (Socket& s : sockets_) s = Socket{false, 0, -1, -1};
    memset(rx_, 0, sizeof rx_);
    received_ = 0;
    tx_ = TxCounters{};
}

void Stack::linkUp(const uint8_t mac[6], const Config& fixed, uint32_t now) {
    linkDown();
    up_ = true;
    if (memcmp(mac, mac_, 6) != 0) {
        memcpy(mac_, mac, 6);
        // Another station may have used the same ports and exchange numbers
        // before a restart; start ours where its hardware address says.
        nextPort_ = static_cast<uint16_t>(kFirstPort + ((mac[4] << 8 | mac[5]) & 0x0FFF));
        xidSeed_ ^= get32(mac + 2);
    }
    if (fixed.address != 0) {
        config_ = fixed;
        if (!contiguousMask(config_.subnetMask)) config_.subnetMask = naturalMask(config_.address);
        dhcp_ = DhcpState::Fixed;
        return;
    }
    dhcpTries_ = 0;
    startDhcp(now);
}

void Stack::linkDown() {
    up_ = false;
    dhcp_ = DhcpState::Off;
    config_ = Config{};
    for (Held& h : held_) {
        if (h.used) ++tx_.unresolved;
        h.used = false;
    }
    memset(arp_, 0, sizeof arp_);
}

bool Stack::hasAddress() const { return up_ && config_.address != 0; }

bool Stack::isBroadcast(uint32_t a) const {
    if (a == 0xFFFFFFFF) return true;
    const uint32_t m = config_.subnetMask;
    return config_.address != 0 && m != 0 && (a & m) == (config_.address & m) && (a | m) == 0xFFFFFFFF;
}

uint32_t Stack::nextHop(uint32_t destination) const {
    const uint32_t m = config_.subnetMask;
    if ((destination & m) == (config_.address & m) || config_.gateway == 0) return destination;
    return config_.gateway;
}

// ---- receiving

void Stack::receive(const uint8_t* frame, uint32_t length, uint32_t now) {
    ++received_;
    if (!up_) return tally(Rx::DropDown);
    if (frame == nullptr || length < kEthHeader || length > kFrameMax) return tally(Rx::DropLength);
    const bool broadcast = memcmp(frame, kBroadcastMac, 6) == 0;
    if (!broadcast && memcmp(frame, mac_, 6) != 0) return tally(Rx::DropNotForUs);
    const uint16_t type = get16(frame + 12);
    if (type == kTypeArp) return receiveArp(frame + kEthHeader, length - kEthHeader, now);
    if (type == kTypeIpv4) return receiveIp(frame, length, now);
    tally(Rx::DropType);
}

void Stack::receiveArp(const uint8_t* p, uint32_t n, uint32_t now) {
    // Padding after the body is normal; only the fixed fields count.
    if (n < kArpBody) return tally(Rx::DropArp);
    const uint16_t hardware = get16(p);
    const uint16_t operation = get16(p + 6);
    if ((hardware != 1 && hardware != 6) || get16(p + 2) != kTypeIpv4 || p[4] != 6 || p[5] != 4 ||
        (operation != 1 && operation != 2))
        return tally(Rx::DropArp);
    const uint8_t* senderMac = p + 8;
    const uint32_t sender = get32(p + 14);
    const uint32_t target = get32(p + 24);
    if (multicastMac(senderMac)) return tally(Rx::DropArp);
    const bool forUs = hasAddress() && target == config_.address && sender != config_.address;
    if (usableHost(sender)) learn(sender, senderMac, forUs, now);
    if (!forUs) return tally(Rx::ArpOther);
    if (operation == 2) return tally(Rx::ArpLearnt);
    sendArp(2, senderMac, sender);
    tally(Rx::ArpAnswered);
}

void Stack::receiveIp(const uint8_t* frame, uint32_t length, uint32_t now) {
    const uint8_t* ip = frame + kEthHeader;
    const uint32_t n = length - kEthHeader;
    if (n < kIpHeader) return tally(Rx::DropIp);
    const uint32_t headerLength = (ip[0] & 0x0Fu) * 4;
    const uint32_t total = get16(ip + 2);
    if ((ip[0] >> 4) != 4 || headerLength < kIpHeader || headerLength > n || total < headerLength || total > n)
        return tally(Rx::DropIp);
    if (internetChecksum(ip, headerLength) != 0) return tally(Rx::DropIpChecksum);
    const uint16_t fragment = get16(ip + 6);
    if ((fragment & 0x2000) != 0 || (fragment & 0x1FFF) != 0) return tally(Rx::DropFragment);
    if (!optionsWellFormed(ip + kIpHeader, headerLength - kIpHeader)) return tally(Rx::DropIp);
    const uint8_t protocol = ip[9];
    const uint32_t source = get32(ip + 12);
    const uint32_t destination = get32(ip + 16);
    if (source == 0xFFFFFFFF || multicastIp(source)) return tally(Rx::DropIp);
    const uint8_t* payload = ip + headerLength;
    const uint32_t payloadLength = total - headerLength;
    const bool toUs = hasAddress() && destination == config_.address;
    if (!hasAddress()) {
        // Only the DHCP answers that bring the address get through.
        if (protocol != kProtoUdp || payloadLength < kUdpHeader || get16(payload + 2) != kDhcpClientPort)
            return tally(Rx::DropNoAddress);
    } else if (!toUs && !isBroadcast(destination)) {
        return tally(Rx::DropNotOurIp);
    }
    if (protocol == kProtoUdp) return receiveUdp(payload, payloadLength, source, destination, now);
    if (protocol == kProtoIcmp) return receiveIcmp(frame, payload, payloadLength, source, toUs);
    tally(Rx::DropProtocol);
}

void Stack::receiveUdp(const uint8_t* udp, uint32_t n, uint32_t source, uint32_t destination, uint32_t now) {
    if (n < kUdpHeader) return tally(Rx::DropUdp);
    const uint32_t udpLength = get16(udp + 4);
    if (udpLength < kUdpHeader || udpLength > n) return tally(Rx::DropUdp);
    if (get16(udp + 6) != 0 &&
        checksumFinish(checksumAdd(pseudoSum(source, destination, kProtoUdp, udpLength), udp, udpLength)) != 0)
        return tally(Rx::DropUdpChecksum);
    const uint16_t sourcePort = get16(udp);
    const uint16_t port = get16(udp + 2);
    const uint8_t* data = udp + kUdpHeader;
    const uint32_t dataLength = udpLength - kUdpHeader;
    if (port == kDhcpClientPort && sourcePort == kDhcpServerPort) return receiveDhcp(data, dataLength, now);
    if (!hasAddress()) return tally(Rx::DropNoAddress);
    int s = 0;
    while (s < kSockets && !(sockets_[s].open && sockets_[s].port == port && port != 0)) ++s;
    if (s == kSockets) return tally(Rx::DropNoSocket);
    if (dataLength > kMaxDatagram) return tally(Rx::DropTooLarge);
    if (freeBuffer_ < 0) return tally(Rx::DropQueueFull);
    const int16_t b = freeBuffer_;
    RxBuffer& buffer = buffers_[b];
    freeBuffer_ = buffer.next;
    buffer.next = -1;
    buffer.length = static_cast<uint16_t>(dataLength);
    buffer.address = source;
    buffer.port = sourcePort;
    if (dataLength > 0) memcpy(buffer.data, data, dataLength);
    Socket& socket = sockets_[s];
    if (socket.tail >= 0) buffers_[socket.tail].next = b;
    else socket.head = b;
    socket.tail = b;
    tally(Rx::Delivered);
}

void Stack::receiveIcmp(const uint8_t* frame, const uint8_t* icmp, uint32_t n, uint32_t source, bool toUs) {
    // Echo requests to a broadcast address go unanswered, as do those whose
    // answer would go to no single host.
    if (!toUs || n < 8 || n > kEthMtu - kIpHeader || !usableHost(source) || multicastMac(frame + 6))
        return tally(Rx::DropIcmp);
    if (icmp[0] != 8 || icmp[1] != 0 || internetChecksum(icmp, n) != 0) return tally(Rx::DropIcmp);
    uint8_t* reply = out_ + kEthHeader + kIpHeader;
    memcpy(reply, icmp, n);
    reply[0] = 0;
    put16(reply + 2, 0);
    put16(reply + 2, internetChecksum(reply, n));
    writeIpHeader(out_ + kEthHeader, kProtoIcmp, config_.address, source, n);
    // Straight back to the hardware address it came from: no look-up needed.
    uint8_t to[6];
    memcpy(to, frame + 6, 6);
    emitFrame(out_, to, kTypeIpv4, kEthHeader + kIpHeader + n);
    tally(Rx::EchoAnswered);
}

void Stack::receiveDhcp(const uint8_t* data, uint32_t n, uint32_t now) {
    if (dhcp_ != DhcpState::Selecting && dhcp_ != DhcpState::Requesting && dhcp_ != DhcpState::Renewing &&
        dhcp_ != DhcpState::Rebinding)
        return tally(Rx::DropDhcp);
    DhcpReply reply;
    if (!parseDhcpReply(data, n, reply) || reply.xid != xid_ || memcmp(reply.clientMac, mac_, 6) != 0)
        return tally(Rx::DropDhcp);
    if (dhcp_ == DhcpState::Selecting) {
        if (reply.type != kDhcpOffer || !usableHost(reply.yourAddress) || reply.serverId == 0)
            return tally(Rx::DropDhcp);
        offered_ = reply.yourAddress;
        server_ = reply.serverId;
        dhcp_ = DhcpState::Requesting;
        sendDhcp(kDhcpRequest, now);
        return tally(Rx::DhcpTaken);
    }
    if (reply.type == kDhcpNak) {
        // Whatever we asked for is not ours: start over, within the same tries.
        if (dhcp_ != DhcpState::Requesting) linkUp(mac_, Config{}, now);
        else startDhcp(now);
        return tally(Rx::DhcpTaken);
    }
    const uint32_t expected = dhcp_ == DhcpState::Requesting ? offered_ : config_.address;
    if (reply.type != kDhcpAck || reply.yourAddress != expected) return tally(Rx::DropDhcp);
    bind(reply, now);
    tally(Rx::DhcpTaken);
}

// ---- the DHCP client

void Stack::startDhcp(uint32_t now) {
    dhcp_ = DhcpState::Selecting;
    xidSeed_ = xidSeed_ * 1664525u + 1013904223u + now;
    xid_ = xidSeed_;
    offered_ = server_ = 0;
    sendDhcp(kDhcpDiscover, now);
}

void Stack::sendDhcp(uint8_t type, uint32_t now) {
    DhcpRequest rq;
    rq.type = type;
    rq.xid = xid_;
    memcpy(rq.mac, mac_, 6);
    if (dhcp_ == DhcpState::Requesting) {
        rq.requestedAddress = offered_;
        rq.serverId = server_;
    } else if (dhcp_ == DhcpState::Renewing || dhcp_ == DhcpState::Rebinding) {
        rq.clientAddress = config_.address;
    }
    const uint32_t payload = buildDhcpRequest(rq, out_ + kPayloadAt);
    if (dhcp_ == DhcpState::Renewing) {
        // A renewal goes to the server that granted the lease, like any datagram.
        const uint32_t length = frameUdp(out_, config_.address, server_, kDhcpClientPort, kDhcpServerPort, payload);
        sendIp(out_, length, server_, now);
    } else {
        const uint32_t length = frameUdp(out_, rq.clientAddress, 0xFFFFFFFF, kDhcpClientPort, kDhcpServerPort, payload);
        emitFrame(out_, kBroadcastMac, kTypeIpv4, length);
    }
    if (dhcp_ == DhcpState::Renewing || dhcp_ == DhcpState::Rebinding) {
        dhcpDeadline_ = now + kDhcpRenewRetryMs;
        return;
    }
    ++dhcpTries_;
    dhcpWait(now);
}

// Exponential back-off, shorter than a desktop's: the player is waiting.
void Stack::dhcpWait(uint32_t now) {
    uint32_t wait = kDhcpFirstWaitMs;
    for (uint32_t i = 1; i < dhcpTries_ && wait < kDhcpLongestWaitMs; ++i) wait *= 2;
    dhcpDeadline_ = now + (wait < kDhcpLongestWaitMs ? wait : kDhcpLongestWaitMs);
}

void Stack::bind(const DhcpReply& ack, uint32_t now) {
    const uint32_t address = ack.yourAddress;
    if (address != config_.address) {
        memset(arp_, 0, sizeof arp_);
        for (Held& h : held_) {
            if (h.used) ++tx_.unresolved;
            h.used = false;
        }
    }
    config_.address = address;
    config_.subnetMask = ack.hasMask && contiguousMask(ack.subnetMask) ? ack.subnetMask : naturalMask(address);
    const uint32_t m = config_.subnetMask;
    // A router off our subnet could never be reached.
    config_.gateway =
        usableHost(ack.router) && (ack.router & m) == (address & m) && ack.router != address ? ack.router : 0;
    config_.dns[0] = ack.dns[0];
    config_.dns[1] = ack.dns[1];
    dhcp_ = DhcpState::Bound;
    leaseStart_ = now;
    if (!ack.hasLease || ack.leaseSeconds == 0xFFFFFFFF) {
        renewAt_ = rebindAt_ = expireAt_ = 0;  // for ever
        return;
    }
    uint32_t lease = ack.leaseSeconds;
    if (lease > kLongestLeaseSeconds) lease = kLongestLeaseSeconds;
    if (lease < kShortestLeaseSeconds) lease = kShortestLeaseSeconds;
    uint32_t renew = ack.hasRenew && ack.renewSeconds < lease ? ack.renewSeconds : lease / 2;
    uint32_t rebind = ack.hasRebind && ack.rebindSeconds < lease ? ack.rebindSeconds : lease / 8 * 7;
    if (rebind < renew) rebind = renew;
    if (renew == 0) renew = 1;
    renewAt_ = renew * 1000;
    rebindAt_ = rebind * 1000;
    expireAt_ = lease * 1000;
}

void Stack::tick(uint32_t now) {
    if (!up_) return;
    for (ArpEntry& e : arp_) {
        if (e.state == 1 && reached(now, e.stamp + kArpRetryMs)) {
            if (e.tries >= kArpTries) {
                for (Held& h : held_) {
                    if (h.used && h.nextHop == e.address) {
                        h.used = false;
                        ++tx_.unresolved;
                    }
                }
                e.state = 0;
            } else {
                ++e.tries;
                e.stamp = now;
                sendArp(1, kZeroMac, e.address);
            }
        } else if (e.state == 2 && reached(now, e.stamp + kArpLifetimeMs)) {
            e.state = 0;
        }
    }
    const uint32_t leaseAge = now - leaseStart_;
    switch (dhcp_) {
    case DhcpState::Selecting:
    case DhcpState::Requesting:
        if (!reached(now, dhcpDeadline_)) break;
        if (dhcpTries_ >= kDhcpTries) {
            dhcp_ = DhcpState::Failed;
            break;
        }
        sendDhcp(dhcp_ == DhcpState::Selecting ? kDhcpDiscover : kDhcpRequest, now);
        break;
    case DhcpState::Bound:
        if (renewAt_ == 0 || leaseAge < renewAt_) break;
        dhcp_ = DhcpState::Renewing;
        xidSeed_ = xidSeed_ * 1664525u + 1013904223u + now;
        xid_ = xidSeed_;
        sendDhcp(kDhcpRequest, now);
        break;
    case DhcpState::Renewing:
    case DhcpState::Rebinding:
        if (leaseAge >= expireAt_) {
            // The lease ran out unrenewed: the address is no longer ours.
            linkUp(mac_, Config{}, now);
        } else if (dhcp_ == DhcpState::Renewing && leaseAge >= rebindAt_) {
            dhcp_ = DhcpState::Rebinding;
            sendDhcp(kDhcpRequest, now);
        } else if (reached(now, dhcpDeadline_)) {
            sendDhcp(kDhcpRequest, now);
        }
        break;
    case DhcpState::Off:
    case DhcpState::Failed:
    case DhcpState::Fixed:
        break;
    }
}

// ---- ARP

Stack::ArpEntry* Stack::findArp(uint32_t address) {
    for (ArpEntry& e : arp_) {
        if (e.state != 0 && e.address == address) return &e;
    }
    return nullptr;
}

// A free entry, else the oldest known one, else the oldest still asking
// (whose held datagrams then go).
Stack::ArpEntry* Stack::newArp(uint32_t address) {
    ArpEntry* pick = nullptr;
    for (ArpEntry& e : arp_) {
        if (e.state == 0) {
            pick = &e;
            break;
        }
        if (pick == nullptr || (e.state == 2 && pick->state != 2) ||
            (e.state == pick->state && static_cast<int32_t>(e.stamp - pick->stamp) < 0))
            pick = &e;
    }
    if (pick->state == 1) {
        for (Held& h : held_) {
            if (h.used && h.nextHop == pick->address) {
                h.used = false;
                ++tx_.unresolved;
            }
        }
    }
    memset(pick, 0, sizeof *pick);
    pick->address = address;
    return pick;
}

void Stack::learn(uint32_t address, const uint8_t* mac, bool create, uint32_t now) {
    ArpEntry* e = findArp(address);
    if (e == nullptr) {
        if (!create) return;
        e = newArp(address);
    }
    memcpy(e->mac, mac, 6);
    e->state = 2;
    e->stamp = now;
    for (Held& h : held_) {
        if (!h.used || h.nextHop != address) continue;
        h.used = false;
        emitFrame(h.frame, mac, kTypeIpv4, h.length);
    }
}

void Stack::sendArp(uint16_t operation, const uint8_t* targetMac, uint32_t target) {
    uint8_t frame[kEthHeader + kArpBody];
    uint8_t* p = frame + kEthHeader;
    put16(p, 1);
    put16(p + 2, kTypeIpv4);
    p[4] = 6;
    p[5] = 4;
    put16(p + 6, operation);
    memcpy(p + 8, mac_, 6);
    put32(p + 14, config_.address);
    memcpy(p + 18, targetMac, 6);
    put32(p + 24, target);
    emitFrame(frame, operation == 1 ? kBroadcastMac : targetMac, kTypeArp, sizeof frame);
}

// ---- sending

bool Stack::emitFrame(uint8_t* frame, const uint8_t* destination, uint16_t type, uint32_t length) {
    memcpy(frame, destination, 6);
    memcpy(frame + 6, mac_, 6);
    put16(frame + 12, type);
    if (emit_ != nullptr && emit_(context_, frame, length)) {
        ++tx_.frames;
        return true;
    }
    ++tx_.emitFailed;
    return false;
}

void Stack::writeIpHeader(uint8_t* ip, uint8_t protocol, uint32_t source, uint32_t destination, uint32_t payload) {
    ip[0] = 0x45;
    ip[1] = 0;
    put16(ip + 2, static_cast<uint16_t>(kIpHeader + payload));
    put16(ip + 4, ++ipId_);
    put16(ip + 6, 0x4000);  // don't fragment
    ip[8] = 64;
    ip[9] = protocol;
    put16(ip + 10, 0);
    put32(ip + 12, source);
    put32(ip + 16, destination);
    put16(ip + 10, internetChecksum(ip, kIpHeader));
}

uint32_t Stack::frameUdp(uint8_t* frame, uint32_t source, uint32_t destination, uint16_t sourcePort,
                         uint16_t destinationPort, uint32_t payload) {
    uint8_t* udp = frame + kUdpAt;
    const uint32_t udpLength = kUdpHeader + payload;
    put16(udp, sourcePort);
    put16(udp + 2, destinationPort);
    put16(udp + 4, static_cast<uint16_t>(udpLength));
    put16(udp + 6, 0);
    uint16_t sum = checksumFinish(checksumAdd(pseudoSum(source, destination, kProtoUdp, udpLength), udp, udpLength));
    put16(udp + 6, sum == 0 ? 0xFFFF : sum);  // 0 would mean "none"
    writeIpHeader(frame + kEthHeader, kProtoUdp, source, destination, udpLength);
    return kEthHeader + kIpHeader + udpLength;
}

// Sends now if the next hop's hardware address is known; otherwise holds the
// frame and asks for it. Returns -1 when the frame can go neither way.
int Stack::sendIp(uint8_t* frame, uint32_t length, uint32_t destination, uint32_t now) {
    const uint32_t hop = nextHop(destination);
    ArpEntry* e = findArp(hop);
    if (e != nullptr && e->state == 2) return emitFrame(frame, e->mac, kTypeIpv4, length) ? 0 : -1;
    Held* slot = nullptr;
    for (Held& h : held_) {
        if (!h.used) {
            slot = &h;
            break;
        }
    }
    if (slot == nullptr) {
        ++tx_.heldFull;
        return -1;
    }
    const bool ask = e == nullptr;
    if (ask) {
        e = newArp(hop);
        e->state = 1;
        e->tries = 1;
        e->stamp = now;
    }
    slot->used = true;
    slot->nextHop = hop;
    slot->length = length;
    memcpy(slot->frame, frame, length);
    if (ask) sendArp(1, kZeroMac, hop);
    return 0;
}

// ---- sockets

int Stack::openSocket() {
    for (int s = 0; s < kSockets; ++s) {
        if (!sockets_[s].open) {
            sockets_[s] = Socket{true, 0, -1, -1};
            return s;
        }
    }
    return -1;
}

bool Stack::closeSocket(int s) {
    if (!isOpen(s)) return false;
    Socket& socket = sockets_[s];
    while (socket.head >= 0) {
        const int16_t b = socket.head;
        socket.head = buffers_[b].next;
        buffers_[b].next = freeBuffer_;
        freeBuffer_ = b;
    }
    socket = Socket{false, 0, -1, -1};
    return true;
}

uint16_t Stack::freePort() {
    for (;;) {
        const uint16_t port = nextPort_;
        nextPort_ = static_cast<uint16_t>(nextPort_ == 0xFFFF || nextPort_ < kFirstPort ? kFirstPort : nextPort_ + 1);
        bool used = false;
        for (const Socket& s : sockets_) used = used || (s.open && s.port == port);
        // At most kSockets ports are taken, so this ends within kSockets + 1 turns.
        if (!used && port >= kFirstPort) return port;
    }
}

int Stack::sendTo(int s, uint32_t address, uint16_t port, const uint8_t* data, uint32_t length, uint32_t now) {
    if (!isOpen(s)) return kSendBadSocket;
    if (!hasAddress()) return kSendNoAddress;
    if (length > kMaxDatagram || (data == nullptr && length > 0)) return kSendBadLength;
    if (sockets_[s].port == 0) sockets_[s].port = freePort();
    // Only single hosts elsewhere: no broadcasts (a socket would need asking
    // for them), no multicast, nothing back to ourselves. The datagram is
    // taken and goes nowhere, as a host's socket reports such failures later.
    if (!usableHost(address) || isBroadcast(address) || address == config_.address) {
        ++tx_.refused;
        return static_cast<int>(length);
    }
    if (length > 0) memcpy(out_ + kPayloadAt, data, length);
    const uint32_t frameLength = frameUdp(out_, config_.address, address, sockets_[s].port, port, length);
    return sendIp(out_, frameLength, address, now) < 0 ? kSendNoRoom : static_cast<int>(length);
}

int Stack::receiveFrom(int s, uint8_t* out, uint32_t room, uint32_t* address, uint16_t* port) {
    if (!hasDatagram(s)) return -1;
    Socket& socket = sockets_[s];
    const int16_t b = socket.head;
    RxBuffer& buffer = buffers_[b];
    socket.head = buffer.next;
    if (socket.head < 0) socket.tail = -1;
    const uint32_t n = buffer.length < room ? buffer.length : room;
    if (n > 0 && out != nullptr) memcpy(out, buffer.data, n);
    if (address != nullptr) *address = buffer.address;
    if (port != nullptr) *port = buffer.port;
    buffer.next = freeBuffer_;
    freeBuffer_ = b;
    return static_cast<int>(n);
}

}  // namespace vxip
