#include "join.h"

using namespace vxdevice;

namespace vxwlan {

namespace {

bool sameSsid(const Network& n, const AccessPoint& ap) {
    if (n.ssidLength != ap.ssidLength) return false;
    for (size_t i = 0; i < n.ssidLength; ++i)
        if (n.ssid[i] != ap.ssid[i]) return false;
    return true;
}

// A network the station can join for a stored slot: an infrastructure
// network with the slot's name, WEP exactly when the slot has a key, no WPA,
// and the radio's rates among its own.
bool fits(const Network& n, const AccessPoint& ap) {
    if (!sameSsid(n, ap) || n.wpa || !n.slowRates) return false;
    if ((n.capability & kCapabilityEss) == 0 || (n.capability & kCapabilityIbss) != 0) return false;
    return ((n.capability & kCapabilityPrivacy) != 0) == (ap.wepMode != 0);
}

}  // namespace

void Join::start(const uint8_t* mac, uint16_t channels, const AccessPoint* stored, int count, uint32_t searchFrames) {
    const uint32_t joins = joins_;
    const uint32_t iv = iv_;
    uint32_t drops[kDropCount];
    for (int i = 0; i < kDropCount; ++i) drops[i] = drops_[i];
    *this = Join{};
    joins_ = joins, iv_ = iv;
    for (int i = 0; i < kDropCount; ++i) drops_[i] = drops[i];

    for (size_t i = 0; i < kMacLength; ++i) mac_[i] = mac[i];
    channels_ = channels & 0x7FFE;
    stored_ = stored;
    storedCount_ = stored != nullptr && count > 0 ? count : 0;
    searchFrames_ = searchFrames;
    searchLeft_ = searchFrames;
    if (storedCount_ == 0) {
        status_ = kAssocCannotConnect;
        return;
    }
    search();
}

void Join::search() {
    status_ = kAssocSearching;
    chosen_ = false;
    ap_ = nullptr;
    aid_ = 0;
    dwell_ = 0;
    if (channels_ == 0) return;  // only the time-out is left
    nextChannel();
}

void Join::nextChannel() {
    for (int i = 0; i < 14; ++i) {
        channel_ = channel_ % 14 + 1;
        if (channels_ & (1u << channel_)) break;
    }
    dwell_ = 0;
    probe();
}

// Any network may answer; the stored names are matched on what comes back.
void Join::probe() { queue(buildProbeRequest(out_, sizeof out_, mac_, "", 0)); }

void Join::authenticate() {
    status_ = kAssocAuthenticating;
    wait_ = 0;
    queue(buildAuthentication(out_, sizeof out_, mac_, bssid_));
}

void Join::associate() {
    status_ = kAssocAssociating;
    wait_ = 0;
    const uint16_t capability = kCapabilityEss | (ap_->wepMode != 0 ? kCapabilityPrivacy : 0);
    queue(buildAssocRequest(out_, sizeof out_, mac_, bssid_, ap_->ssid, ap_->ssidLength, capability, kListenInterval));
}

// A step ran out of attempts or was refused: back to searching, with what
// is left of the search.
void Join::failed() {
    if (searchLeft_ == 0) {
        status_ = kAssocCannotConnect;
        chosen_ = false;
        outLength_ = 0;
        return;
    }
    search();
}

void Join::queue(size_t length) { outLength_ = length; }

Drop Join::count(Drop why) {
    if (why != kDropNone && why < kDropCount) ++drops_[why];
    return why;
}

void Join::frame() {
    switch (status_) {
    case kAssocSearching:
        if (searchLeft_ > 0) --searchLeft_;
        if (searchLeft_ == 0) {
            status_ = kAssocCannotConnect;
            outLength_ = 0;
        } else if (channels_ != 0 && ++dwell_ >= kDwellFrames) {
            nextChannel();
        }
        break;
    case kAssocAuthenticating:
    case kAssocAssociating:
        if (++wait_ < kReplyFrames) break;
        if (++attempts_ >= kAttempts) {
            failed();
        } else if (status_ == kAssocAuthenticating) {
            authenticate();
        } else {
            associate();
        }
        break;
    case kAssocAcquiringDhcp:
        if (++idle_ >= kKeepAliveFrames) {
            idle_ = 0;
            queue(buildNullData(out_, sizeof out_, mac_, bssid_));
        }
        break;
    default:
        break;
    }
}

size_t Join::takeManagement(const uint8_t*& frame) {
    const size_t n = outLength_;
    outLength_ = 0;
    frame = out_;
    return n;
}

Drop Join::receive(const uint8_t* frame, size_t length, uint8_t* eth, size_t capacity, size_t& ethLength) {
    ethLength = 0;
    Header h;
    if (Drop why = parseHeader(frame, length, h)) return count(why);
    if (h.type == kManagement) return count(management(h));
    if (!joined()) return count(kDropUnexpected);
    if (Drop why = dataToEthernet(h, mac_, bssid_, eth, capacity, ethLength)) return count(why);
    // The access point sends a frame again when it missed our
    // acknowledgement; the copy carries the retry bit and the same number.
    if ((h.control & kRetry) != 0 && h.sequence == lastSequence_) {
        ethLength = 0;
        return count(kDropDuplicate);
    }
    lastSequence_ = h.sequence;
    return kDropNone;
}

Drop Join::management(const Header& h) {
    if (h.subtype == kBeacon || h.subtype == kProbeResponse) {
        Network n;
        if (Drop why = parseNetwork(h, n)) return why;
        if (status_ != kAssocSearching) return chosen_ && sameMac(n.bssid, bssid_) ? kDropNone : kDropForeign;
        for (int i = 0; i < storedCount_; ++i) {
            if (!fits(n, stored_[i])) continue;
            for (size_t b = 0; b < kMacLength; ++b) bssid_[b] = n.bssid[b];
            ap_ = &stored_[i];
            chosen_ = true;
            if (n.channel >= 1 && n.channel <= 14 && (channels_ & (1u << n.channel))) channel_ = n.channel;
            attempts_ = 0;
            authenticate();
            return kDropNone;
        }
        return kDropForeign;
    }
    // Everything else comes from the chosen network, to this station.
    if (!chosen_ || !sameMac(h.addr2, bssid_) || !sameMac(h.addr1, mac_)) return kDropForeign;
    switch (h.subtype) {
    case kAuthentication: {
        AuthReply a;
        if (Drop why = parseAuthentication(h, a)) return why;
        if (status_ != kAssocAuthenticating || a.algorithm != 0 || a.sequence != 2) return kDropUnexpected;
        if (a.status != 0) {
            failed();
        } else {
            attempts_ = 0;
            associate();
        }
        return kDropNone;
    }
    case kAssocResponse: {
        AssocReply a;
        if (Drop why = parseAssocResponse(h, a)) return why;
        if (status_ != kAssocAssociating) return kDropUnexpected;
        if (a.status != 0 || a.aid == 0 || a.aid > 2007) {
            failed();
            return kDropNone;
        }
        aid_ = a.aid;
        status_ = kAssocAcquiringDhcp;
        idle_ = 0;
        lastSequence_ = 0xFFFF;
        ++joins_;
        return kDropNone;
    }
    case kDeauthentication:
    case kDisassociation: {
        uint16_t reason = 0;
        if (Drop why = parseReason(h, reason)) return why;
        // Lost: join the same network again, with a fresh search behind it.
        searchLeft_ = searchFrames_;
        attempts_ = 0;
        aid_ = 0;
        authenticate();
        return kDropNone;
    }
    default:
        return kDropKind;
    }
}

size_t Join::send(const uint8_t* eth, size_t ethLength, uint8_t* out, size_t capacity) {
    if (!joined()) return 0;
    const bool wep = ap_->wepMode != 0;
    // A new IV for every protected frame.
    const size_t n = ethernetToData(eth, ethLength, mac_, bssid_, wep, wep ? ++iv_ : 0, out, capacity);
    if (n != 0) idle_ = 0;
    return n;
}

}  // namespace vxwlan
