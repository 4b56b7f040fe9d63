// A station's side of joining a stored network and staying on it, counted in
// frames (the driver calls frame() once a vertical blank): search the allowed
// channels with probe requests and an ear for beacons, authenticate (open
// system), associate, and carry data; each reply waited for a few frames and
// asked again a few times. On deauthentication or disassociation it joins
// the same network again.
//
// It touches no register: it says which channel and network the radio should
// be set to and hands out the management frame to send; the driver does the
// rest. The status steps are those Wifi_AssocStatus reports.
#ifndef VX_DEVICE_NET_JOIN_H
#define VX_DEVICE_NET_JOIN_H

#include "firmware.h"
#include "wifi_block.h"
#include "wlan.h"

namespace vxwlan {

// On each channel, after its probe request: longer than a beacon interval
// of 128 TU (131 ms), for access points that answer no probe request.
// Thirteen channels take 117 frames, so a search visits each at least once.
constexpr uint32_t kDwellFrames = 9;
constexpr uint32_t kReplyFrames = 6;         // for an authentication or association reply
constexpr uint32_t kAttempts = 4;            // requests per step before searching again
constexpr uint32_t kKeepAliveFrames = 1800;  // a null frame after 30 s without sending
constexpr size_t kManagementMax = 128;
constexpr uint16_t kListenInterval = 1;

class Join {
public:
    // A new search for any of the `count` stored networks, over the channels
    // whose bits are set in `channels` (bit n = channel n), given up after
    // `searchFrames` frames of searching. Without a network to look for it
    // cannot connect at once.
    void start(const uint8_t* mac, uint16_t channels, const AccessPoint* stored, int count, uint32_t searchFrames);
    // Once a frame.
    void frame();
    // A received frame (802.11 header onwards, FCS excluded). Data for the
    // station leaves as an Ethernet II frame in `eth` (`ethLength` > 0);
    // management replies move the steps on. Returns why it went no further.
    Drop receive(const uint8_t* frame, size_t length, uint8_t* eth, size_t capacity, size_t& ethLength);
    // An Ethernet II frame to send as a data frame while joined; returns the
    // 802.11 length in `out`, 0 when it cannot go.
    size_t send(const uint8_t* eth, size_t ethLength, uint8_t* out, size_t capacity);

    // The management frame waiting to go out, if any; taken once.
    size_t takeManagement(const uint8_t*& frame);

    uint32_t status() const { return status_; }
    bool joined() const { return status_ == vxdevice::kAssocAcquiringDhcp; }
    int channel() const { return channel_; }
    // The network being joined or joined, or null while searching.
    const uint8_t* bssid() const { return chosen_ ? bssid_ : nullptr; }
    const AccessPoint* network() const { return chosen_ ? ap_ : nullptr; }
    uint16_t aid() const { return aid_; }
    uint32_t joins() const { return joins_; }
    uint32_t drops(Drop why) const { return why < kDropCount ? drops_[why] : 0; }
    uint32_t searchFramesLeft() const { return searchLeft_; }

private:
    void search();
    void nextChannel();
    void probe();
    void authenticate();
    void associate();
    void failed();
    void queue(size_t length);
    Drop count(Drop why);
    Drop management(const Header& h);

    uint8_t mac_[kMacLength] = {};
    uint16_t channels_ = 0;
    const AccessPoint* stored_ = nullptr;
    int storedCount_ = 0;
    uint32_t searchFrames_ = 0;

    uint32_t status_ = vxdevice::kAssocDisconnected;
    int channel_ = 0;
    uint32_t searchLeft_ = 0, dwell_ = 0, wait_ = 0, attempts_ = 0, idle_ = 0;
    bool chosen_ = false;  // bssid_ and ap_ name the network
    uint8_t bssid_[kMacLength] = {};
    const AccessPoint* ap_ = nullptr;
    uint16_t aid_ = 0;
    uint32_t joins_ = 0;
    uint16_t lastSequence_ = 0xFFFF;
    uint32_t iv_ = 0;

    uint8_t out_[kManagementMax] = {};
    size_t outLength_ = 0;
    uint32_t drops_[kDropCount] = {};
};

}  // namespace vxwlan

#endif
