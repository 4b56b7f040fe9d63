// 802.11 as a station on an open or WEP network needs it, with no register in
// sight: frame headers, the management bodies of searching and joining, data
// frames with LLC/SNAP turned into Ethernet II and back, and the firmware's
// wireless area and access-point slots. Built for the co-processor and for
// the host, where it is tested and fuzzed.
//
// Every parser takes a pointer and a length and reads nothing outside them;
// whatever does not fit what a station expects is refused with a reason.
#ifndef VX_DEVICE_NET_WLAN_H
#define VX_DEVICE_NET_WLAN_H

#include <stddef.h>
#include <stdint.h>

#include "crc16.h"

namespace vxwlan {

constexpr size_t kMacLength = 6;
constexpr size_t kHeaderLength = 24;  // management and plain data frames
constexpr size_t kLlcLength = 8;      // AA AA 03 00 00 00 + type
constexpr size_t kEthHeader = 14;
constexpr size_t kEthPayloadMax = 1500;
constexpr size_t kWepIvLength = 4;  // three IV bytes and the key number
constexpr size_t kSsidMax = 32;

// Frame control, as the 16-bit little-endian value.
enum FrameType : uint8_t { kManagement = 0, kControl = 1, kData = 2 };
enum Subtype : uint8_t {
    kAssocRequest = 0,
    kAssocResponse = 1,
    kProbeRequest = 4,
    kProbeResponse = 5,
    kBeacon = 8,
    kDisassociation = 10,
    kAuthentication = 11,
    kDeauthentication = 12,
    kDataPlain = 0,
    kDataNull = 4,
};
constexpr uint16_t kToDs = 1 << 8;
constexpr uint16_t kFromDs = 1 << 9;
constexpr uint16_t kMoreFragments = 1 << 10;
constexpr uint16_t kRetry = 1 << 11;
constexpr uint16_t kProtected = 1 << 14;  // the body is WEP-encrypted

constexpr uint16_t kCapabilityEss = 1 << 0;
constexpr uint16_t kCapabilityIbss = 1 << 1;
constexpr uint16_t kCapabilityPrivacy = 1 << 4;

// Why a received frame went no further; the driver counts each.
enum Drop : uint8_t {
    kDropNone = 0,
    kDropShort,       // shorter than its header or a fixed body field
    kDropVersion,     // protocol version other than 0
    kDropKind,        // a type or subtype a station does not handle
    kDropForeign,     // another network, or not addressed to this station
    kDropElements,    // an information element runs past the body
    kDropLlc,         // no LLC/SNAP header, or an Ethernet type below 0600
    kDropTooLong,     // more payload than an Ethernet frame carries
    kDropFragment,    // fragments are not reassembled
    kDropEcho,        // our own broadcast, repeated by the access point
    kDropDuplicate,   // a retry of a frame already taken
    kDropUnexpected,  // a reply to nothing asked, or from the wrong sender
    kDropRingFull,    // the main processor's receive ring had no room
    kDropCount
};

inline bool sameMac(const uint8_t* a, const uint8_t* b) {
    for (size_t i = 0; i < kMacLength; ++i)
        if (a[i] != b[i]) return false;
    return true;
}
inline bool isGroup(const uint8_t* mac) { return (mac[0] & 1) != 0; }

struct Header {
    uint16_t control = 0;
    uint8_t type = 0, subtype = 0;
    const uint8_t* addr1 = nullptr;  // receiver
    const uint8_t* addr2 = nullptr;  // transmitter
    const uint8_t* addr3 = nullptr;
    uint16_t sequence = 0;
    const uint8_t* body = nullptr;
    size_t bodyLength = 0;
};
// Management and data frames with three addresses; control frames and the
// four-address form are refused (kDropKind).
Drop parseHeader(const uint8_t* frame, size_t length, Header& out);

// A network heard in a beacon or a probe response.
struct Network {
    uint8_t bssid[kMacLength] = {};
    char ssid[kSsidMax + 1] = {};
    uint8_t ssidLength = 0;
    uint8_t channel = 0;  // 0 when the frame named none
    uint16_t capability = 0;
    uint16_t interval = 0;  // in units of 1024 us
    bool wpa = false;       // carries an RSN or WPA element: not joinable here
    bool slowRates = true;  // 1 or 2 Mbit/s among its rates (or no rates named)
};
Drop parseNetwork(const Header& h, Network& out);

struct AuthReply {
    uint16_t algorithm = 0, sequence = 0, status = 0;
};
Drop parseAuthentication(const Header& h, AuthReply& out);

struct AssocReply {
    uint16_t capability = 0, status = 0, aid = 0;  // aid without its two top bits
};
Drop parseAssocResponse(const Header& h, AssocReply& out);

// Deauthentication and disassociation: the reason code.
Drop parseReason(const Header& h, uint16_t& reason);

// Builders write a whole frame without FCS (the radio adds it) and return
// its length, or 0 when `capacity` is too small. Sequence numbers are left 0
// for the radio to fill.
size_t buildProbeRequest(uint8_t* out, size_t capacity, const uint8_t* own, const char* ssid, size_t ssidLength);
size_t buildAuthentication(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid);
size_t buildAssocRequest(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid, const char* ssid,
                         size_t ssidLength, uint16_t capability, uint16_t listenInterval);
size_t buildDeauthentication(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid, uint16_t reason);
size_t buildNullData(uint8_t* out, size_t capacity, const uint8_t* own, const uint8_t* bssid);

// A data frame from the access point (FromDS) of network `bssid` to `own` or
// to a group, turned into an Ethernet II frame in `out`: destination,
// source, type, payload. A protected body starts with the IV field, which is
// skipped (the radio has decrypted the rest). `length` is the Ethernet length.
Drop dataToEthernet(const Header& h, const uint8_t* own, const uint8_t* bssid, uint8_t* out, size_t capacity,
                    size_t& length);

// An Ethernet II frame from the main processor as a data frame to the
// access point (ToDS). With `wep` an IV field goes first (its three IV bytes
// from `iv`, key 0) and room for the radio's ICV is not counted here.
// Returns the 802.11 length, or 0 for a frame too short, too long, of a
// length-field type, or one that does not fit.
size_t ethernetToData(const uint8_t* eth, size_t ethLength, const uint8_t* own, const uint8_t* bssid, bool wep,
                      uint32_t iv, uint8_t* out, size_t capacity);

using vxshared::crc16;  // as the firmware stores it

}  // namespace vxwlan

#endif
