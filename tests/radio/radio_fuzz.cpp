// Random and mutated 802.11 frames through the station's receive side: the
// header, the management bodies, data to Ethernet II, and the join steps in
// each state. Each frame sits in a buffer of exactly its length, so the
// sanitizers see any read past it. After every frame: one outcome, and an
// Ethernet frame only when nothing was dropped, within its slot and
// addressed as the 802.11 frame was. Mutated firmware areas and slots go
// through their parsers on the side.
//
//   radio_fuzz [FRAMES [SEED]]   prints the count, the time and the outcomes
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "air.h"
#include "firmware.h"
#include "join.h"

using namespace airtest;
using namespace vxwlan;

namespace {

std::mt19937_64 rng;

uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }

std::vector<Bytes> seeds() {
    Bytes wep = dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, Bytes(40, 0x45), kProtected);
    wep.insert(wep.begin() + 24, {1, 2, 3, 0});
    Bytes probeReply = beacon(kAp, "melonAP", 6);
    probeReply[0] = kProbeResponse << 4;
    return {
        beacon(kAp, "melonAP", 6),
        beacon(kOtherAp, "home", 11, true, {0xDD, 6, 0x00, 0x50, 0xF2, 1, 1, 0}),
        probeReply,
        authReply(kAp, 0),
        assocReply(kAp, 0, 1),
        deauth(kAp, 7),
        deauth(kAp, 3, kDisassociation),
        dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, Bytes(60, 0x45)),
        dataFromAp(kBroadcast, kAp, kRouterMac, 0x0806, Bytes(28, 0x01)),
        dataFromAp(kBroadcast, kAp, kOurMac, 0x0806, Bytes(28, 0x01)),
        dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, Bytes(1500, 0x45)),
        wep,
    };
}

Bytes mutate(Bytes f) {
    const uint32_t edits = 1 + below(4);
    for (uint32_t e = 0; e < edits; ++e) {
        switch (below(6)) {
        case 0:
            if (!f.empty()) f[below(static_cast<uint32_t>(f.size()))] ^= static_cast<uint8_t>(1u << below(8));
            break;
        case 1:
            if (!f.empty()) f[below(static_cast<uint32_t>(f.size()))] = static_cast<uint8_t>(rng());
            break;
        case 2:
            f.resize(below(static_cast<uint32_t>(f.size()) + 1));
            break;
        case 3:
            for (uint32_t i = below(8); i > 0; --i) f.push_back(static_cast<uint8_t>(rng()));
            break;
        case 4:
            // Frame control and the element lengths matter most.
            if (f.size() > 1) f[below(2)] = static_cast<uint8_t>(rng());
            break;
        default:
            if (f.size() > 37) f[36 + below(2)] = static_cast<uint8_t>(rng());
            break;
        }
    }
    return f;
}

Bytes randomFrame() {
    Bytes f(below(64));
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    if (f.size() >= 2 && below(2)) f[0] &= 0xFC;  // a valid version, more often
    return f;
}

bool fail(uint64_t frame, const char* what) {
    std::printf("frame %llu: %s\n", static_cast<unsigned long long>(frame), what);
    return false;
}

// Stations in each state the frames can find them in.
struct Stations {
    AccessPoint aps[2];
    Join join[3];

    Stations() {
        const Bytes a = slot("melonAP"), b = slot("home", 0, 1, {1, 2, 3, 4, 5});
        parseSlot(a.data(), a.size(), aps[0]);
        parseSlot(b.data(), b.size(), aps[1]);
        reset();
    }
    void feed(Join& j, const Bytes& f) {
        uint8_t eth[1600];
        size_t n = 0;
        j.receive(f.data(), f.size(), eth, sizeof eth, n);
    }
    void reset() {
        for (auto& j : join) j.start(kOurMac.data(), 0x3FFE, aps, 2, vxdevice::kSearchFrames);
        feed(join[1], beacon(kAp, "melonAP", 6));
        feed(join[2], beacon(kAp, "melonAP", 6));
        feed(join[2], authReply(kAp, 0));
        feed(join[2], assocReply(kAp, 0, 1));
    }
};

}  // namespace

int main(int argc, char** argv) {
    const uint64_t frames = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    rng.seed(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 14);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Bytes> valid = seeds();
    const Bytes area2 = wirelessArea(2), area3 = wirelessArea(3), goodSlot = slot("melonAP", 0, 6, Bytes(13, 7));
    Stations st;
    uint64_t outcomes[kDropCount] = {}, delivered = 0, firmwareChecks = 0;

    for (uint64_t i = 0; i < frames; ++i) {
        const uint32_t kind = below(10);
        const Bytes f = kind < 2 ? randomFrame() : mutate(valid[below(static_cast<uint32_t>(valid.size()))]);
        Join& j = st.join[below(3)];
        std::vector<uint8_t> eth(1 + below(1600));  // slots of every size
        size_t n = 0;
        const Drop why = j.receive(f.empty() ? nullptr : f.data(), f.size(), eth.data(), eth.size(), n);
        if (why >= kDropCount) return fail(i, "an outcome out of range"), 1;
        ++outcomes[why];
        if (n != 0) {
            ++delivered;
            if (why != kDropNone) return fail(i, "a dropped frame was delivered"), 1;
            if (n > eth.size() || n < 14 || n > 14 + 1500) return fail(i, "an Ethernet length out of range"), 1;
            if (std::memcmp(eth.data(), f.data() + 4, 6) != 0) return fail(i, "delivered to another address"), 1;
        }
        // The body parsers on their own, whatever the frame's kind.
        Header h;
        if (parseHeader(f.data(), f.size(), h) == kDropNone) {
            Network net;
            AuthReply auth;
            AssocReply assoc;
            uint16_t reason;
            if (parseNetwork(h, net) == kDropNone && (net.ssidLength > 32 || net.ssid[net.ssidLength] != 0))
                return fail(i, "an SSID out of bounds"), 1;
            parseAuthentication(h, auth);
            parseAssocResponse(h, assoc);
            parseReason(h, reason);
        }
        if (below(8) == 0) j.frame();
        if (below(5000) == 0) st.reset();

        if (i % 16 == 0) {
            // A mutated firmware area or slot, cut to its mutated length.
            const Bytes& base = below(3) == 0 ? goodSlot : below(2) ? area2 : area3;
            const Bytes m = mutate(base);
            RadioFirmware fw;
            AccessPoint ap;
            ChipWrite w[16];
            parseRadioFirmware(m.data(), m.size(), fw);
            rfInitWrites(m.data(), m.size(), w, 16);
            channelWrites(m.data(), m.size(), static_cast<int>(below(16)), w, 16);
            slotAddress(m.data(), m.size(), static_cast<int>(below(4)));
            if (parseSlot(m.data(), m.size(), ap) == kSlotUsable && (ap.ssidLength == 0 || ap.wepKeyLength > 16))
                return fail(i, "a usable slot without a name or with an oversized key"), 1;
            ++firmwareChecks;
        }
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu frames in %.2f s (%llu delivered as Ethernet), %llu firmware areas and slots\n",
                static_cast<unsigned long long>(frames), seconds, static_cast<unsigned long long>(delivered),
                static_cast<unsigned long long>(firmwareChecks));
    static const char* const names[kDropCount] = {"taken",     "short",      "version",  "kind",     "foreign",
                                                  "elements",  "llc",        "too long", "fragment", "echo",
                                                  "duplicate", "unexpected", "ring full"};
    for (int k = 0; k < kDropCount; ++k)
        std::printf("  %-10s %llu\n", names[k], static_cast<unsigned long long>(outcomes[k]));
    return 0;
}
