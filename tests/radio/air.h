// Frames as an access point sends them, for the radio's host tests and fuzz
// case: beacons, the replies of joining, data with LLC/SNAP; and a firmware
// wireless area and access-point slot with valid CRCs.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "frame_bytes.h"

namespace airtest {

using frametest::Bytes;
using frametest::kBroadcast;
using frametest::kOurMac;
using frametest::kRouterMac;
using frametest::Mac;

constexpr Mac kAp = {0x00, 0xF0, 0x77, 0x77, 0x77, 0x77};
constexpr Mac kOtherAp = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

// Management frame: subtype, receiver, transmitter, BSSID, body.
Bytes management(uint8_t subtype, const Mac& to, const Mac& from, const Mac& bssid, const Bytes& body);
// A beacon of an open (or, with `privacy`, WEP) network, rates 1 and 2 Mbit/s
// plus `extra` elements.
Bytes beacon(const Mac& bssid, const std::string& ssid, int channel, bool privacy = false, const Bytes& extra = {});
Bytes authReply(const Mac& bssid, uint16_t status, uint16_t sequence = 2);
Bytes assocReply(const Mac& bssid, uint16_t status, uint16_t aid);
Bytes deauth(const Mac& bssid, uint16_t reason, uint8_t subtype = 12);
// Data from the access point (FromDS) to `to`, sent by `source`, LLC/SNAP
// with `type`, then the payload.
Bytes dataFromAp(const Mac& to, const Mac& bssid, const Mac& source, uint16_t type, const Bytes& payload,
                 uint16_t extraControl = 0, uint16_t sequence = 0x100);

// A wireless area (0x200 bytes) with the given RF type and a valid CRC.
Bytes wirelessArea(uint8_t rfType);
// A 256-byte slot with a valid CRC.
Bytes slot(const std::string& ssid, uint8_t state = 0x00, uint8_t wep = 0, const Bytes& key = {},
           const std::array<uint8_t, 4>& ip = {}, uint8_t maskBits = 0);

}  // namespace airtest
