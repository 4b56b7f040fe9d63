// Random and mutated frames into the handheld's IPv4 stack. Each frame sits in
// a buffer of exactly its length, so the sanitizers see any read past it.
// After every frame: exactly one outcome counted, no answer to anything the
// stack dropped, and every frame it did send well-formed.
//
//   netstack_fuzz [FRAMES [SEED]]   prints the count, the time and the outcomes
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "frames.h"
#include "netbytes.h"

using namespace nettest;
using vxip::Rx;

namespace {

std::mt19937_64 rng;

uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }

// Random bytes come from a slice of one random block at a random place:
// drawing each byte afresh would make the unoptimised sanitizer build slow.
std::vector<uint8_t> noise;

void appendNoise(Bytes& f, uint32_t n) {
    const uint32_t at = below(static_cast<uint32_t>(noise.size()) - n);
    f.insert(f.end(), noise.begin() + at, noise.begin() + at + n);
}

// Valid frames of every kind the stack reads, to start mutations from.
std::vector<Bytes> seeds(uint32_t xid, uint16_t port) {
    const Bytes data = {'A', 'C', 'K', 0};
    Bytes optioned = udpFrame(kOurMac, kRouterMac, kRouterIp, kOurIp, 80, port, data);
    optioned.insert(optioned.begin() + 34, {7, 7, 4, 0, 0, 0, 0, 1});
    optioned[14] = 0x47;
    put16(optioned, 16, static_cast<uint16_t>(get16(optioned, 16) + 8));
    return {
        ethernet(kBroadcast, kPeerMac, 0x0806, arp(1, kPeerMac, kPeerIp, {}, kOurIp)),
        ethernet(kOurMac, kRouterMac, 0x0806, arp(2, kRouterMac, kRouterIp, kOurMac, kOurIp)),
        udpFrame(kOurMac, kRouterMac, kRouterIp, kOurIp, 80, port, data),
        udpFrame(kOurMac, kRouterMac, kRouterIp, kOurIp, 9780, port, Bytes(600, 0x5A), false),
        optioned,
        ethernet(kOurMac, kPeerMac, 0x0800, ipv4(1, kPeerIp, kOurIp, icmpEcho(8, 1, 2, Bytes(56, 0x11)))),
        dhcpFrame(vxip::kDhcpOffer, xid, kOurIp, serverOptions()),
        dhcpFrame(vxip::kDhcpAck, xid, kOurIp, serverOptions()),
        dhcpFrame(vxip::kDhcpNak, xid, 0, {}),
    };
}

// Puts the IPv4 header's checksum, and the UDP or ICMP one, right again
// where the mutated lengths still allow, so mutations reach the layers above.
void repairChecksums(Bytes& f) {
    if (f.size() < 34 || get16(f, 12) != 0x0800) return;
    const size_t header = (f[14] & 0x0Fu) * 4;
    if (header < 20 || 14 + header > f.size()) return;
    put16(f, 24, 0);
    put16(f, 24, vxip::internetChecksum(f.data() + 14, header));
    const size_t total = get16(f, 16);
    if (total < header || 14 + total > f.size()) return;
    const size_t at = 14 + header, length = total - header;
    if (f[23] == 1 && length >= 4) {
        put16(f, at + 2, 0);
        put16(f, at + 2, vxip::internetChecksum(f.data() + at, length));
    } else if (f[23] == 17 && length >= 8 && get16(f, at + 6) != 0) {
        const size_t udpLength = get16(f, at + 4);
        if (udpLength < 8 || udpLength > length) return;
        uint32_t sum = get16(f, 26) + get16(f, 28) + get16(f, 30) + get16(f, 32) + 17 + udpLength;
        put16(f, at + 6, 0);
        const uint16_t c = vxip::checksumFinish(vxip::checksumAdd(sum, f.data() + at, udpLength));
        put16(f, at + 6, c == 0 ? 0xFFFF : c);
    }
}

Bytes mutate(const Bytes& seed) {
    Bytes f = seed;
    const uint32_t edits = 1 + below(4);
    for (uint32_t e = 0; e < edits; ++e) {
        switch (below(6)) {
        case 0:  // a bit
            if (!f.empty()) f[below(static_cast<uint32_t>(f.size()))] ^= static_cast<uint8_t>(1u << below(8));
            break;
        case 1: {  // a byte, often a boundary value
            static const uint8_t edge[] = {0, 1, 2, 4, 5, 0x0F, 0x40, 0x45, 0x7F, 0x80, 0xFE, 0xFF};
            if (!f.empty())
                f[below(static_cast<uint32_t>(f.size()))] =
                    below(2) ? edge[below(sizeof edge)] : static_cast<uint8_t>(rng());
            break;
        }
        case 2: {  // a length field of IPv4, UDP or a DHCP option
            static const size_t fields[] = {16, 38, 14, 241, 42 + 241, 42 + 244};
            const size_t at = fields[below(6)];
            static const uint16_t values[] = {0, 1, 7, 8, 19, 20, 21, 28, 300, 576, 1480, 1500, 1501, 0xFFFF};
            if (at + 1 < f.size()) put16(f, at, values[below(sizeof values / sizeof values[0])]);
            break;
        }
        case 3:  // cut short
            f.resize(below(static_cast<uint32_t>(f.size()) + 1));
            break;
        case 4: {  // grown, perhaps past a frame
            appendNoise(f, below(2) ? below(8) : below(1600));
            break;
        }
        default:  // a 32-bit field anywhere set to an address that matters
            if (f.size() >= 4) {
                static const uint32_t addresses[] = {kOurIp, 0xFFFFFFFF, 0x0A4000FF, 0, kRouterIp, 0xE0000001};
                put32(f, below(static_cast<uint32_t>(f.size()) - 3), addresses[below(6)]);
            }
        }
    }
    if (below(2)) repairChecksums(f);
    return f;
}

Bytes randomFrame() {
    Bytes f;
    appendNoise(f, below(2) ? below(64) : below(1700));
    // Often addressed to us with a type the stack reads, or it stops at once.
    if (f.size() >= 14 && below(4) != 0) {
        std::copy(kOurMac.begin(), kOurMac.end(), f.begin());
        put16(f, 12, below(2) ? 0x0800 : 0x0806);
    }
    return f;
}

bool answers(Rx r) { return r == Rx::ArpAnswered || r == Rx::EchoAnswered || r == Rx::DhcpTaken; }

int fail(const std::string& what, uint64_t frame) {
    std::fprintf(stderr, "frame %llu: %s\n", static_cast<unsigned long long>(frame), what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t frames = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261208;
    rng.seed(seed);
    noise.resize(1 << 16);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    const auto start = std::chrono::steady_clock::now();

    Net net;
    int s = -1;
    uint32_t xid = 0;
    std::vector<Bytes> pool;
    uint64_t delivered = 0, drained = 0, sentFrames = 0;
    uint32_t before[static_cast<int>(Rx::Count)] = {};
    // Reads every datagram waiting; false when fewer were read than delivered.
    auto drain = [&] {
        uint8_t buffer[vxip::kMaxDatagram];
        uint32_t from = 0;
        uint16_t port = 0;
        for (int n; (n = net.stack->receiveFrom(s, buffer, sizeof buffer, &from, &port)) >= 0;) {
            if (n > static_cast<int>(vxip::kMaxDatagram)) return false;
            ++drained;
        }
        return drained == delivered;
    };
    for (uint64_t i = 0; i < frames; ++i) {
        // Every so often the link starts again, in turn with a fixed address
        // (everything open to the datagram paths), with DHCP waiting for an
        // offer, and waiting for the answer to its request.
        if (i % 5000 == 0) {
            if (s >= 0 && !drain()) return fail("delivered and read datagrams differ", i);
            if (s >= 0) net.stack->closeSocket(s);
            const uint64_t mode = i / 5000 % 3;
            if (mode == 0) {
                net.upFixed();
            } else {
                net.stack->linkUp(kOurMac.data(), vxip::Config{}, net.now);
                xid = get32(net.take().at(0), 42 + 4);
                if (mode == 2) net.receive(dhcpFrame(vxip::kDhcpOffer, xid, kOurIp, serverOptions()));
            }
            s = net.stack->openSocket();
            const uint8_t hello[] = {'A', 'D', 'D', 'M', 'E'};
            net.stack->sendTo(s, kRouterIp, 80, hello, 5, net.now);
            pool = seeds(xid, net.stack->localPort(s));
            net.take();
            for (int r = 0; r < static_cast<int>(Rx::Count); ++r) before[r] = net.stack->count(static_cast<Rx>(r));
        }
        const Bytes frame = below(5) == 0 ? randomFrame() : mutate(pool[below(static_cast<uint32_t>(pool.size()))]);
        const bool hadAddress = net.stack->hasAddress();
        net.receive(frame);

        int outcome = -1, changed = 0;
        for (int r = 0; r < static_cast<int>(Rx::Count); ++r) {
            const uint32_t c = net.stack->count(static_cast<Rx>(r));
            if (c != before[r]) outcome = r, changed += static_cast<int>(c - before[r]);
            before[r] = c;
        }
        if (changed != 1) return fail("counted " + std::to_string(changed) + " outcomes", i);
        const Rx r = static_cast<Rx>(outcome);
        if (r == Rx::Delivered) ++delivered;
        std::vector<Bytes> out = net.take();
        sentFrames += out.size();
        // An answer is one frame; anything else, including every drop, none.
        // (An ARP reply may release a held datagram; none is held here.)
        if (out.size() > (answers(r) ? 1u : 0u))
            return fail(std::to_string(out.size()) + " frames after \"" + vxip::rxName(r) + "\"", i);
        for (const Bytes& o : out) {
            const std::string wrong = checkFrame(o);
            if (!wrong.empty())
                return fail(std::string("sent a bad frame after \"") + vxip::rxName(r) + "\": " + wrong, i);
        }
        if (hadAddress && r == Rx::DhcpTaken && out.empty() && !net.stack->hasAddress())
            return fail("lost its address without asking again", i);
        // Read seldom enough that the receive buffers run out at times.
        if (i % 256 == 255 && !drain()) return fail("delivered and read datagrams differ", i);
        if (i % 64 == 63) {
            net.advance(50);
            sentFrames += net.take().size();
        }
    }
    uint64_t total = 0;
    for (int r = 0; r < static_cast<int>(Rx::Count); ++r) total += net.stack->count(static_cast<Rx>(r));
    if (total != net.stack->framesReceived()) return fail("outcomes do not add up to the frames", frames);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu frames (seed %llu) in %.2f s, %.0f frames/s; %llu frames sent\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(seed), seconds,
                static_cast<double>(frames) / seconds, static_cast<unsigned long long>(sentFrames));
    std::printf("outcomes:");
    for (int r = 0; r < static_cast<int>(Rx::Count); ++r)
        std::printf(" %s %u;", vxip::rxName(static_cast<Rx>(r)), net.stack->count(static_cast<Rx>(r)));
    std::printf("\n");
    return 0;
}
