#include "air.h"

#include "wlan.h"

namespace airtest {

namespace {

void le16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void mac(Bytes& b, const Mac& m) { b.insert(b.end(), m.begin(), m.end()); }
void word24(Bytes& b, size_t at, uint32_t w) {
    for (int i = 0; i < 3; ++i) b[at + i] = static_cast<uint8_t>(w >> (8 * i));
}

}  // namespace

Bytes management(uint8_t subtype, const Mac& to, const Mac& from, const Mac& bssid, const Bytes& body) {
    Bytes f;
    le16(f, static_cast<uint16_t>(subtype << 4));
    le16(f, 0);
    mac(f, to);
    mac(f, from);
    mac(f, bssid);
    le16(f, 0x0120);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

Bytes beacon(const Mac& bssid, const std::string& ssid, int channel, bool privacy, const Bytes& extra) {
    Bytes body(8, 0x11);  // timestamp
    le16(body, 128);
    le16(body, static_cast<uint16_t>(vxwlan::kCapabilityEss | (privacy ? vxwlan::kCapabilityPrivacy : 0)));
    body.push_back(0);
    body.push_back(static_cast<uint8_t>(ssid.size()));
    body.insert(body.end(), ssid.begin(), ssid.end());
    body.insert(body.end(), {1, 2, 0x82, 0x84, 3, 1, static_cast<uint8_t>(channel)});
    body.insert(body.end(), extra.begin(), extra.end());
    return management(vxwlan::kBeacon, kBroadcast, bssid, bssid, body);
}

Bytes authReply(const Mac& bssid, uint16_t status, uint16_t sequence) {
    Bytes body;
    le16(body, 0);
    le16(body, sequence);
    le16(body, status);
    return management(vxwlan::kAuthentication, kOurMac, bssid, bssid, body);
}

Bytes assocReply(const Mac& bssid, uint16_t status, uint16_t aid) {
    Bytes body;
    le16(body, 0x0021);
    le16(body, status);
    le16(body, static_cast<uint16_t>(0xC000 | aid));
    body.insert(body.end(), {1, 2, 0x82, 0x84});
    return management(vxwlan::kAssocResponse, kOurMac, bssid, bssid, body);
}

Bytes deauth(const Mac& bssid, uint16_t reason, uint8_t subtype) {
    Bytes body;
    le16(body, reason);
    return management(subtype, kOurMac, bssid, bssid, body);
}

Bytes dataFromAp(const Mac& to, const Mac& bssid, const Mac& source, uint16_t type, const Bytes& payload,
                 uint16_t extraControl, uint16_t sequence) {
    Bytes f;
    le16(f, static_cast<uint16_t>(0x0008 | vxwlan::kFromDs | extraControl));
    le16(f, 0);
    mac(f, to);
    mac(f, bssid);
    mac(f, source);
    le16(f, sequence);
    f.insert(f.end(),
             {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type)});
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes wirelessArea(uint8_t rfType) {
    Bytes a(0x200, 0);
    put16(a, 0x20, 0x3FC0);  // user settings at 1FE00
    put16(a, 0x2C, 0x138);
    std::copy(kOurMac.begin(), kOurMac.end(), a.begin() + 0x36);
    put16(a, 0x3C, 0x3FFE);
    a[0x40] = rfType;
    for (int i = 0; i < 16; ++i) put16(a, 0x44 + 2 * i, static_cast<uint16_t>(0x1000 + i));
    for (int i = 0; i < 0x69; ++i) a[0x64 + i] = static_cast<uint8_t>(i);
    if (rfType == 2) {
        a[0x41] = 0x18, a[0x42] = 12, a[0x43] = 1;
        // Registers 0-11; RF[09] with its gain external (bit 16 clear).
        for (uint32_t r = 0; r < 12; ++r) word24(a, 0xCE + 3 * r, r << 18 | 0x100 | r);
        for (uint32_t ch = 1; ch <= 14; ++ch) {
            word24(a, 0xF2 + 6 * (ch - 1), 5u << 18 | ch << 8);
            word24(a, 0xF5 + 6 * (ch - 1), 6u << 18 | ch);
            a[0x146 + ch - 1] = static_cast<uint8_t>(0xB0 + ch);
            a[0x154 + ch - 1] = static_cast<uint8_t>(ch);
        }
    } else {
        a[0x41] = 0x94, a[0x42] = 0x29, a[0x43] = 2;
        for (int i = 0; i < 0x29; ++i) a[0xCE + i] = static_cast<uint8_t>(0x80 + i);
        size_t at = 0xCE + 0x29;
        a[at++] = 2;  // baseband tables
        const uint8_t tables[4][2] = {{0x1E, 0x10}, {0x26, 0x20}, {0x01, 0x40}, {0x02, 0x60}};
        for (const auto& t : tables) {
            a[at] = t[0];
            for (int ch = 1; ch <= 14; ++ch) a[at + ch] = static_cast<uint8_t>(t[1] + ch);
            at += 15;
        }
    }
    put16(a, 0x2A, vxwlan::crc16(a.data() + 0x2C, 0x138, 0));
    return a;
}

Bytes slot(const std::string& ssid, uint8_t state, uint8_t wep, const Bytes& key, const std::array<uint8_t, 4>& ip,
           uint8_t maskBits) {
    Bytes s(0x100, 0);
    std::copy(ssid.begin(), ssid.end(), s.begin() + 0x40);
    std::copy(key.begin(), key.end(), s.begin() + 0x80);
    std::copy(ip.begin(), ip.end(), s.begin() + 0xC0);
    s[0xD0] = maskBits;
    s[0xE6] = wep;
    s[0xE7] = state;
    put16(s, 0xFE, vxwlan::crc16(s.data(), 0xFE, 0));
    return s;
}

}  // namespace airtest
