#include "frames.h"

#include <algorithm>
#include <string>

namespace nettest {
namespace {

uint32_t sumWords(const Bytes& b, size_t from, size_t length, uint32_t sum = 0) {
    for (size_t i = 0; i < length; i += 2) {
        sum += static_cast<uint32_t>(b[from + i] << 8);
        if (i + 1 < length) sum += b[from + i + 1];
    }
    return sum;
}

uint16_t finish(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

uint32_t pseudo(uint32_t from, uint32_t to, uint8_t protocol, size_t length) {
    return (from >> 16) + (from & 0xFFFF) + (to >> 16) + (to & 0xFFFF) + protocol + static_cast<uint32_t>(length);
}

bool emit(void* context, const uint8_t* frame, uint32_t length) {
    auto* net = static_cast<Net*>(context);
    if (net->refuse) return false;
    net->sent.emplace_back(frame, frame + length);
    return true;
}

}  // namespace

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, static_cast<uint16_t>(v >> 16));
    put16(b, at + 2, static_cast<uint16_t>(v));
}
uint16_t get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) << 8 | b.at(at + 1)); }
uint32_t get32(const Bytes& b, size_t at) { return static_cast<uint32_t>(get16(b, at)) << 16 | get16(b, at + 2); }

Bytes ethernet(const Mac& to, const Mac& from, uint16_t type, const Bytes& payload) {
    Bytes f(to.begin(), to.end());
    f.insert(f.end(), from.begin(), from.end());
    f.push_back(static_cast<uint8_t>(type >> 8));
    f.push_back(static_cast<uint8_t>(type));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes arp(uint16_t operation, const Mac& senderMac, uint32_t sender, const Mac& targetMac, uint32_t target) {
    Bytes b(28);
    put16(b, 0, 1);
    put16(b, 2, 0x0800);
    b[4] = 6;
    b[5] = 4;
    put16(b, 6, operation);
    std::copy(senderMac.begin(), senderMac.end(), b.begin() + 8);
    put32(b, 14, sender);
    std::copy(targetMac.begin(), targetMac.end(), b.begin() + 18);
    put32(b, 24, target);
    return b;
}

Bytes ipv4(uint8_t protocol, uint32_t from, uint32_t to, const Bytes& payload) {
    Bytes b(20);
    b[0] = 0x45;
    put16(b, 2, static_cast<uint16_t>(20 + payload.size()));
    put16(b, 4, 0x1234);
    b[8] = 64;
    b[9] = protocol;
    put32(b, 12, from);
    put32(b, 16, to);
    put16(b, 10, finish(sumWords(b, 0, 20)));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes udp(uint32_t from, uint32_t to, uint16_t fromPort, uint16_t toPort, const Bytes& data, bool checksum) {
    Bytes b(8);
    put16(b, 0, fromPort);
    put16(b, 2, toPort);
    put16(b, 4, static_cast<uint16_t>(8 + data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (checksum) {
        uint16_t sum = finish(sumWords(b, 0, b.size(), pseudo(from, to, 17, b.size())));
        put16(b, 6, sum == 0 ? 0xFFFF : sum);
    }
    return b;
}

Bytes icmpEcho(uint8_t type, uint16_t id, uint16_t sequence, const Bytes& data) {
    Bytes b(8);
    b[0] = type;
    put16(b, 4, id);
    put16(b, 6, sequence);
    b.insert(b.end(), data.begin(), data.end());
    put16(b, 2, finish(sumWords(b, 0, b.size())));
    return b;
}

Bytes dhcpServer(uint8_t type, uint32_t xid, uint32_t yourAddress, const Mac& client, const Bytes& options) {
    Bytes b(240);
    b[0] = 2;
    b[1] = 1;
    b[2] = 6;
    put32(b, 4, xid);
    put32(b, 16, yourAddress);
    put32(b, 20, kRouterIp);
    std::copy(client.begin(), client.end(), b.begin() + 28);
    put32(b, 236, 0x63825363);
    b.insert(b.end(), {53, 1, type});
    b.insert(b.end(), options.begin(), options.end());
    b.push_back(255);
    return b;
}

Bytes serverOptions(uint32_t lease) {
    Bytes o = {54, 4, 0, 0, 0, 0, 51, 4, 0, 0, 0, 0, 1, 4, 255, 255, 255, 0, 3, 4, 10, 64, 0, 1, 6, 4, 10, 64, 0, 2};
    put32(o, 2, kRouterIp);
    put32(o, 8, lease);
    return o;
}

Bytes udpFrame(const Mac& toMac, const Mac& fromMac, uint32_t from, uint32_t to, uint16_t fromPort, uint16_t toPort,
               const Bytes& data, bool checksum) {
    return ethernet(toMac, fromMac, 0x0800, ipv4(17, from, to, udp(from, to, fromPort, toPort, data, checksum)));
}

Bytes dhcpFrame(uint8_t type, uint32_t xid, uint32_t yourAddress, const Bytes& options) {
    return udpFrame(kBroadcast, kRouterMac, kRouterIp, 0xFFFFFFFF, 67, 68,
                    dhcpServer(type, xid, yourAddress, kOurMac, options));
}

std::string checkFrame(const Bytes& f) {
    if (f.size() < 14 || f.size() > vxip::kFrameMax) return "frame length " + std::to_string(f.size());
    if (!std::equal(kOurMac.begin(), kOurMac.end(), f.begin() + 6)) return "source is not our hardware address";
    const uint16_t type = get16(f, 12);
    if (type == 0x0806) return f.size() == 42 ? "" : "ARP frame of " + std::to_string(f.size()) + " bytes";
    if (type != 0x0800) return "type " + std::to_string(type);
    if (f.size() < 34 || f[14] != 0x45) return "IPv4 header";
    const size_t total = get16(f, 16);
    if (total + 14 != f.size()) return "IPv4 total length " + std::to_string(total);
    if (finish(sumWords(f, 14, 20)) != 0) return "IPv4 header checksum";
    const uint8_t protocol = f[23];
    if (protocol == 1) return finish(sumWords(f, 34, total - 20)) == 0 ? "" : "ICMP checksum";
    if (protocol != 17) return "protocol " + std::to_string(protocol);
    const size_t length = get16(f, 38);
    if (length != total - 20) return "UDP length " + std::to_string(length);
    if (get16(f, 40) == 0) return "UDP without a checksum";
    return finish(sumWords(f, 34, length, pseudo(get32(f, 26), get32(f, 30), 17, length))) == 0 ? "" : "UDP checksum";
}

Bytes dhcpOption(const Bytes& f, uint8_t code) {
    size_t i = 42 + 240;
    while (i < f.size() && f[i] != 255) {
        if (f[i] == 0) {
            ++i;
            continue;
        }
        if (i + 1 >= f.size()) break;
        const size_t n = f[i + 1];
        if (f[i] == code && i + 2 + n <= f.size()) return Bytes(f.begin() + i + 2, f.begin() + i + 2 + n);
        i += 2 + n;
    }
    return {};
}

Net::Net() { stack->init(emit, this); }

void Net::receive(const Bytes& frame) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[frame.size()]);
    std::copy(frame.begin(), frame.end(), exact.get());
    stack->receive(exact.get(), static_cast<uint32_t>(frame.size()), now);
}

void Net::advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 50) {
        now += 50;
        stack->tick(now);
    }
}

void Net::upFixed() {
    vxip::Config fixed;
    fixed.address = kOurIp;
    fixed.subnetMask = kMask;
    fixed.gateway = kRouterIp;
    stack->linkUp(kOurMac.data(), fixed, now);
    // The router introduces itself.
    receive(ethernet(kOurMac, kRouterMac, 0x0806, arp(2, kRouterMac, kRouterIp, kOurMac, kOurIp)));
    sent.clear();
}

std::vector<Bytes> Net::take() {
    std::vector<Bytes> out;
    out.swap(sent);
    return out;
}

}  // namespace nettest
