#include "wlan.h"

namespace vxwlan {

namespace {

constexpr uint8_t kBroadcast[kMacLength] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kSnap[6] = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00};
// 1 and 2 Mbit/s, both basic: all this radio sends and receives.
constexpr uint8_t kRates[2] = {0x82, 0x84};

enum Element : uint8_t {
    kSsid = 0,
    kRatesElement = 1,
    kDsParameter = 3,
    kRsn = 48,
    kExtendedRates = 50,
    kVendor = 221
};

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void copy(uint8_t* to, const uint8_t* from, size_t n) {
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
}

// Appends to a frame being built; remembers when it ran out of room.
struct Writer {
    uint8_t* out;
    size_t capacity;
    size_t length = 0;
    bool full = false;

    void byte(uint8_t b) {
        if (length < capacity) out[length++] = b;
        else full = true;
    }
    void le(uint16_t v) { byte(static_cast<uint8_t>(v)), byte(static_cast<uint8_t>(v >> 8)); }
    void bytes(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) byte(p[i]);
    }
    void header(uint16_t control, const uint8_t* a1, const uint8_t* a2, const uint8_t* a3) {
        le(control);
        le(0);  // duration: the radio fills it
        bytes(a1, kMacLength);
        bytes(a2, kMacLength);
        bytes(a3, kMacLength);
        le(0);  // sequence: the radio numbers the frame
    }
    void element(uint8_t id, const uint8_t* data, size_t n) {
        byte(id);
        byte(static_cast<uint8_t>(n));
        bytes(data, n);
    }
    size_t done() const { return full ? 0 : length; }
};

constexpr uint16_t control(FrameType type, uint8_t subtype, uint16_t flags) {
    return static_cast<uint16_t>(type << 2 | subtype << 4 | flags);
}

bool slowRate(uint8_t rate) {
    const uint8_t r = rate & 0x7F;
    return r == 2 || r == 4;
}

bool hasBody(const Header& h, FrameType type, uint8_t subtype, size_t minimum, Drop& why) {
    why = kDropNone;
    if (h.type != type || h.subtype != subtype) why = kDropKind;
    else if (h.bodyLength < minimum) why = kDropShort;
    return why == kDropNone;
}

}  // namespace

Drop parseHeader(const uint8_t* frame, size_t length, Header& out) {
    out = Header{};
    if (frame == nullptr || length < kHeaderLength) return kDropShort;
    out.control = le16(frame);
    if ((out.control & 3) != 0) return kDropVersion;
    out.type = static_cast<uint8_t>(out.control >> 2 & 3);
    out.subtype = static_cast<uint8_t>(out.control >> 4 & 15);
    if (out.type != kManagement && out.type != kData) return kDropKind;
    // Four addresses belong to bridges between access points; the QoS and
    // contention-free data kinds to networks this station never asks for.
    if ((out.control & (kToDs | kFromDs)) == (kToDs | kFromDs)) return kDropKind;
    if (out.type == kData && out.subtype != kDataPlain && out.subtype != kDataNull) return kDropKind;
    out.addr1 = frame + 4;
    out.addr2 = frame + 10;
    out.addr3 = frame + 16;
    out.sequence = le16(frame + 22);
    if ((out.control & kMoreFragments) != 0 || (out.sequence & 15) != 0) return kDropFragment;
    out.body = frame + kHeaderLength;
    out.bodyLength = length - kHeaderLength;
    return kDropNone;
}

Drop parseNetwork(const Header& h, Network& out) {
    out = Network{};
    if (h.type != kManagement || (h.subtype != kBeacon && h.subtype != kProbeResponse)) return kDropKind;
    if (h.bodyLength < 12) return kDropShort;
    copy(out.bssid, h.addr3, kMacLength);
    out.interval = le16(h.body + 8);
    out.capability = le16(h.body + 10);
    bool ratesNamed = false, slow = false;
    for (size_t at = 12; at < h.bodyLength;) {
        // A receiver may round the length up to a whole word: up to three
        // bytes that are no whole element end the list, more are malformed.
        const size_t left = h.bodyLength - at;
        if (left < 2 || left - 2 < h.body[at + 1]) {
            if (left < 4) break;
            return kDropElements;
        }
        const uint8_t id = h.body[at], n = h.body[at + 1];
        const uint8_t* data = h.body + at + 2;
        switch (id) {
        case kSsid:
            if (n > kSsidMax) return kDropElements;
            copy(reinterpret_cast<uint8_t*>(out.ssid), data, n);
            out.ssid[n] = '\0';
            out.ssidLength = n;
            break;
        case kRatesElement:
        case kExtendedRates:
            ratesNamed = true;
            for (uint8_t i = 0; i < n; ++i) slow = slow || slowRate(data[i]);
            break;
        case kDsParameter:
            if (n >= 1) out.channel = data[0];
            break;
        case kRsn:
            out.wpa = true;
            break;
        case kVendor:
            // Microsoft's OUI, type 1: WPA.
            if (n >= 4 && data[0] == 0x00 && data[1] == 0x50 && data[2] == 0xF2 && data[3] == 1) out.wpa = true;
            break;
        default:
            break;
        }
        at += 2 + static_cast<size_t>(n);
    }
    out.slowRates = !ratesNamed || slow;
    return kDropNone;
}

Drop parseAuthentication(const Header& h, AuthReply& out) {
    out = AuthReply{};
    Drop why;
    if (!hasBody(h, kManagement, kAuthentication, 6, why)) return why;
    out.algorithm = le16(h.body);
    out.sequence = le16(h.body + 2);
    out.status = le16(h.body + 4);
    return kDropNone;
}

Drop parseAssocResponse(const Header& h, AssocReply& out) {
    out = AssocReply{};
    Drop why;
    if (!hasBody(h, kManagement, kAssocResponse, 6, why)) return why;
    out.capability = le16(h.body);
    out.status = le16(h.body + 2);
    out.aid = le16(h.body + 4) & 0x3FFF;
    return kDropNone;
}

Drop parseReason(const Header& h, uint16_t& reason) {
    reason = 0;
    if (h.type != kManagement || (h.subtype != kDeauthentication && h.subtype != kDisassociation)) return kDropKind;
    if (h.bodyLength < 2) return kDropShort;
    reason = le16(h.body);
    return kDropNone;
}

size_t buildProbeRequest(uint8_t* out, size_t capacity, const uint8_t* own, const char* ssid, size_t ssidLength) {
    if (ssidLength > kSsidMax) return 0;
    Writer w{out, capacity};
    w.header(control(kManagement, kProbeRequest, 0), kBroadcast, own, kBroadcast);
    w.element(kSsid, reinterpret_cast<const uint8_t*>(ssid), ssidLength);
    w.element(kRatesElement, kRates, sizeof kRates);
    return w.done();
}

// Open system: algorithm 0, first of the two transactions, status 0.
size_t buildAuthentication(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid) {
    Writer w{out, capacity};
    w.header(control(kManagement, kAuthentication, 0), bssid, own, bssid);
    w.le(0);
    w.le(1);
    w.le(0);
    return w.done();
}

size_t buildAssocRequest(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid, const char* ssid,
                         size_t ssidLength, uint16_t capability, uint16_t listenInterval) {
    if (ssidLength > kSsidMax) return 0;
    Writer w{out, capacity};
    w.header(control(kManagement, kAssocRequest, 0), bssid, own, bssid);
    w.le(capability);
    w.le(listenInterval);
    w.element(kSsid, reinterpret_cast<const uint8_t*>(ssid), ssidLength);
    w.element(kRatesElement, kRates, sizeof kRates);
    return w.done();
}

size_t buildDeauthentication(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid, uint16_t reason) {
    Writer w{out, capacity};
    w.header(control(kManagement, kDeauthentication, 0), bssid, own, bssid);
    w.le(reason);
    return w.done();
}

size_t buildNullData(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid) {
    Writer w{out, capacity};
    w.header(control(kData, kDataNull, kToDs), bssid, own, bssid);
    return w.done();
}

Drop dataToEthernet(const Header& h, const uint8_t* own, const uint8_t* bssid, uint8_t* out, size_t capacity,
                    size_t& length) {
    length = 0;
    if (h.type != kData || h.subtype != kDataPlain) return kDropKind;
    if ((h.control & (kToDs | kFromDs)) != kFromDs || !sameMac(h.addr2, bssid)) return kDropForeign;
    if (!isGroup(h.addr1) && !sameMac(h.addr1, own)) return kDropForeign;
    if (sameMac(h.addr3, own)) return kDropEcho;
    const uint8_t* body = h.body;
    size_t n = h.bodyLength;
    if ((h.control & kProtected) != 0) {
        if (n < kWepIvLength) return kDropShort;
        body += kWepIvLength;
        n -= kWepIvLength;
    }
    if (n < kLlcLength) return kDropShort;
    for (size_t i = 0; i < sizeof kSnap; ++i)
        if (body[i] != kSnap[i]) return kDropLlc;
    const uint16_t type = be16(body + 6);
    if (type < 0x0600) return kDropLlc;
    size_t payload = n - kLlcLength;
    // A receiver may round a frame's length up to a whole word; what lies
    // beyond 1500 by less than that is such padding, not payload.
    if (payload > kEthPayloadMax && payload - kEthPayloadMax < 4) payload = kEthPayloadMax;
    if (payload > kEthPayloadMax || capacity < kEthHeader + payload) return kDropTooLong;
    copy(out, h.addr1, kMacLength);
    copy(out + 6, h.addr3, kMacLength);
    out[12] = static_cast<uint8_t>(type >> 8);
    out[13] = static_cast<uint8_t>(type);
    copy(out + kEthHeader, body + kLlcLength, payload);
    length = kEthHeader + payload;
    return kDropNone;
}

size_t ethernetToData(const uint8_t* eth, size_t ethLength, const uint8_t* own, const uint8_t* bssid, bool wep,
                      uint32_t iv, uint8_t* out, size_t capacity) {
    if (eth == nullptr || ethLength < kEthHeader || ethLength > kEthHeader + kEthPayloadMax) return 0;
    if (be16(eth + 12) < 0x0600) return 0;
    Writer w{out, capacity};
    w.header(control(kData, kDataPlain, static_cast<uint16_t>(kToDs | (wep ? kProtected : 0))), bssid, own, eth);
    if (wep) {
        w.byte(static_cast<uint8_t>(iv));
        w.byte(static_cast<uint8_t>(iv >> 8));
        w.byte(static_cast<uint8_t>(iv >> 16));
        w.byte(0);  // key 0
    }
    w.bytes(kSnap, sizeof kSnap);
    w.bytes(eth + 12, ethLength - 12);  // type, then payload
    return w.done();
}

}  // namespace vxwlan
