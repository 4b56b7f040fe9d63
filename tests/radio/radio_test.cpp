// The radio's pure half on the host: the firmware's wireless area and slots,
// 802.11 frames and their Ethernet II form, and the join steps frame by frame.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "air.h"
#include "firmware.h"
#include "join.h"

using namespace airtest;
using namespace vxwlan;

namespace {

Header parsed(const Bytes& f) {
    Header h;
    EXPECT_EQ(parseHeader(f.data(), f.size(), h), kDropNone);
    return h;
}

AccessPoint stored(const std::string& ssid, uint8_t wep = 0) {
    AccessPoint ap;
    const Bytes key(13, 0x42);
    EXPECT_EQ(parseSlot(slot(ssid, 0, wep, key).data(), kSlotBytes, ap), kSlotUsable);
    return ap;
}

// A station on its way through the steps, with what it last put on air.
struct Station {
    Join join;
    AccessPoint aps[2] = {stored("melonAP"), stored("home", 6)};
    uint8_t eth[1600];
    size_t ethLength = 0;

    void start(uint16_t channels = 0x3FFE) { join.start(kOurMac.data(), channels, aps, 2, vxdevice::kSearchFrames); }
    Drop hear(const Bytes& f) { return join.receive(f.data(), f.size(), eth, sizeof eth, ethLength); }
    Bytes sent() {
        const uint8_t* f = nullptr;
        Bytes out(join.takeManagement(f));
        if (!out.empty()) std::memcpy(out.data(), f, out.size());
        return out;
    }
    uint8_t sentKind() {
        const uint8_t* f = nullptr;
        return join.takeManagement(f) != 0 ? static_cast<uint8_t>(f[0] >> 4) : 0xFF;
    }
    void frames(uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) join.frame();
    }
    void joinMelonAp() {
        start();
        hear(beacon(kAp, "melonAP", 6));
        hear(authReply(kAp, 0));
        hear(assocReply(kAp, 0, 1));
        sent();
    }
};

uint8_t subtypeOf(const Bytes& f) { return f.empty() ? 0xFF : static_cast<uint8_t>(f[0] >> 4); }

}  // namespace

TEST(Firmware, Crc16IsTheFirmwaresReflectedA001) {
    const char* text = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    EXPECT_EQ(crc16(p, 9, 0), 0xBB3D);
    EXPECT_EQ(crc16(p, 9, 0xFFFF), 0x4B37);
}

TEST(Firmware, SlotsAreUsableOnlyWithCrcStateAndName) {
    AccessPoint ap;
    Bytes good = slot("home", 0, 0, {}, {192, 168, 1, 20}, 24);
    ASSERT_EQ(parseSlot(good.data(), good.size(), ap), kSlotUsable);
    EXPECT_STREQ(ap.ssid, "home");
    EXPECT_EQ(ap.ssidLength, 4);
    EXPECT_EQ(ap.wepMode, 0);
    const uint8_t ip[4] = {192, 168, 1, 20}, mask[4] = {255, 255, 255, 0};
    EXPECT_EQ(std::memcmp(&ap.ip, ip, 4), 0) << "stored bytes stay in network order";
    EXPECT_EQ(std::memcmp(&ap.subnetMask, mask, 4), 0);
    EXPECT_EQ(ap.gateway, 0u) << "automatic";

    good[0x41] ^= 1;
    EXPECT_EQ(parseSlot(good.data(), good.size(), ap), kSlotBadCrc);
    const Bytes deleted = slot("home", 0xFF), unnamed = slot("");
    EXPECT_EQ(parseSlot(deleted.data(), deleted.size(), ap), kSlotUnused) << "a deleted slot keeps a valid CRC";
    EXPECT_EQ(parseSlot(unnamed.data(), unnamed.size(), ap), kSlotUnused);
    EXPECT_EQ(parseSlot(good.data(), 0xFF, ap), kSlotBadCrc) << "truncated";

    const Bytes key = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const Bytes text13 = slot("w", 0, 6, key), hex5 = slot("w", 0, 1, key), odd = slot("w", 0, 4, key);
    ASSERT_EQ(parseSlot(text13.data(), kSlotBytes, ap), kSlotUsable);
    EXPECT_EQ(ap.wepMode, 2);
    EXPECT_EQ(ap.wepKeyLength, 13);
    EXPECT_EQ(ap.wepKey[12], 13);
    EXPECT_EQ(ap.wepKey[13], 0) << "nothing beyond the key's length";
    ASSERT_EQ(parseSlot(hex5.data(), kSlotBytes, ap), kSlotUsable);
    EXPECT_EQ(ap.wepKeyLength, 5);
    EXPECT_EQ(parseSlot(odd.data(), kSlotBytes, ap), kSlotUnused) << "a WEP mode with no key size";
}

TEST(Firmware, SlotsLieBelowTheUserSettings) {
    const Bytes area = wirelessArea(3);
    EXPECT_EQ(slotAddress(area.data(), area.size(), 0), 0x1FA00u);
    EXPECT_EQ(slotAddress(area.data(), area.size(), 2), 0x1FC00u);
    EXPECT_EQ(slotAddress(area.data(), area.size(), 3), 0u);
    Bytes blank(0x200, 0xFF);
    EXPECT_EQ(slotAddress(blank.data(), blank.size(), 0), 0u) << "an erased header names no place";
}

TEST(Firmware, WirelessAreaNeedsItsCrcAndGivesTheRadiosValues) {
    for (uint8_t type : {2, 3}) {
        Bytes area = wirelessArea(type);
        RadioFirmware fw;
        ASSERT_TRUE(parseRadioFirmware(area.data(), area.size(), fw)) << "type " << int(type);
        EXPECT_EQ(std::memcmp(fw.mac, kOurMac.data(), 6), 0);
        EXPECT_EQ(fw.channels, 0x3FFE);
        EXPECT_EQ(fw.rfType, type);
        EXPECT_EQ(fw.rfControl, type == 2 ? 0x0018 : 0x0114) << "bit count, and bit 8 from the firmware's bit 7";
        EXPECT_EQ(fw.config[15], 0x100F);
        EXPECT_EQ(fw.baseband[0x68], 0x68);
        area[0x100] ^= 0x40;
        EXPECT_FALSE(parseRadioFirmware(area.data(), area.size(), fw));
        EXPECT_FALSE(wirelessAreaValid(area.data(), 0x100)) << "the stated length runs past what was read";
    }
}

TEST(Firmware, ChannelsTuneBothRfTypes) {
    ChipWrite w[16];
    Bytes two = wirelessArea(2);
    ASSERT_EQ(channelWrites(two.data(), two.size(), 6, w, 16), 3);
    EXPECT_EQ(w[0].chip, ChipWrite::kRf);
    EXPECT_EQ(w[0].index, 5);
    EXPECT_EQ(w[0].value, 5u << 18 | 6u << 8);
    EXPECT_EQ(w[1].index, 6);
    EXPECT_EQ(w[2].chip, ChipWrite::kBaseband);
    EXPECT_EQ(w[2].index, 0x1E);
    EXPECT_EQ(w[2].value, 0xB6u) << "receive gain for channel 6";
    // With the gain inside the RF chip, its transmit control takes the value.
    two[0xCE + 3 * 9 + 2] |= 1;  // RF[09] bit 16
    ASSERT_EQ(channelWrites(two.data(), two.size(), 6, w, 16), 3);
    EXPECT_EQ(w[2].chip, ChipWrite::kRf);
    EXPECT_EQ(w[2].index, 9);
    EXPECT_EQ(w[2].value >> 10 & 0x1F, 6u);

    const Bytes three = wirelessArea(3);
    ASSERT_EQ(channelWrites(three.data(), three.size(), 6, w, 16), 4);
    EXPECT_EQ(w[0].chip, ChipWrite::kBaseband);
    EXPECT_EQ(w[0].index, 0x1E);
    EXPECT_EQ(w[0].value, 0x16u);
    EXPECT_EQ(w[3].chip, ChipWrite::kRf);
    EXPECT_EQ(w[3].index, 2);
    EXPECT_EQ(w[3].value, 0x66u);
    ChipWrite init[64];
    ASSERT_EQ(rfInitWrites(three.data(), three.size(), init, 64), 0x29);
    EXPECT_EQ(init[0x28].value, 0x80u + 0x28);

    EXPECT_EQ(channelWrites(three.data(), three.size(), 0, w, 16), 0);
    EXPECT_EQ(channelWrites(three.data(), three.size(), 15, w, 16), 0);
    Bytes tables = three;
    tables[0xCE + 0x29] = 40;  // more baseband tables than the area holds
    EXPECT_EQ(channelWrites(tables.data(), tables.size(), 6, w, 16), 0);
}

TEST(Frames, HeadersAStationDoesNotHandleAreRefused) {
    Header h;
    Bytes f = beacon(kAp, "x", 1);
    EXPECT_EQ(parseHeader(f.data(), 23, h), kDropShort);
    f[0] |= 1;
    EXPECT_EQ(parseHeader(f.data(), f.size(), h), kDropVersion);
    const Bytes ack = {0xD4, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(parseHeader(ack.data(), ack.size(), h), kDropKind) << "control frames";
    const Bytes bridged = dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, {1}, kToDs);
    EXPECT_EQ(parseHeader(bridged.data(), bridged.size(), h), kDropKind) << "four addresses";
    const Bytes fragment = dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, {1}, kMoreFragments);
    EXPECT_EQ(parseHeader(fragment.data(), fragment.size(), h), kDropFragment);
}

TEST(Frames, BeaconsNameTheirNetwork) {
    Network n;
    ASSERT_EQ(parseNetwork(parsed(beacon(kAp, "melonAP", 6)), n), kDropNone);
    EXPECT_STREQ(n.ssid, "melonAP");
    EXPECT_EQ(n.channel, 6);
    EXPECT_EQ(std::memcmp(n.bssid, kAp.data(), 6), 0);
    EXPECT_FALSE(n.wpa);
    EXPECT_TRUE(n.slowRates);

    const Bytes wpa = {0xDD, 6, 0x00, 0x50, 0xF2, 1, 1, 0}, rsn = {48, 2, 1, 0};
    ASSERT_EQ(parseNetwork(parsed(beacon(kAp, "a", 1, false, wpa)), n), kDropNone);
    EXPECT_TRUE(n.wpa);
    ASSERT_EQ(parseNetwork(parsed(beacon(kAp, "a", 1, false, rsn)), n), kDropNone);
    EXPECT_TRUE(n.wpa);

    // 802.11g only: 6, 12 and 24 Mbit/s.
    Bytes gOnly = beacon(kAp, "g", 1);
    const size_t rates = 24 + 12 + 3;
    gOnly[rates + 2] = 0x8C, gOnly[rates + 3] = 0x98;
    ASSERT_EQ(parseNetwork(parsed(gOnly), n), kDropNone);
    EXPECT_FALSE(n.slowRates);

    Bytes padded = beacon(kAp, "melonAP", 6, false, {0xFF, 0xFF});
    EXPECT_EQ(parseNetwork(parsed(padded), n), kDropNone) << "two bytes of rounding after the elements";
    EXPECT_EQ(parseNetwork(parsed(beacon(kAp, "a", 1, false, {7, 9, 0, 0})), n), kDropElements);
    EXPECT_EQ(parseNetwork(parsed(beacon(kAp, std::string(33, 'x'), 1)), n), kDropElements);
}

TEST(Frames, DataCrossesBetween80211AndEthernet) {
    const Bytes payload = {0x45, 0, 0, 20, 1, 2, 3, 4};
    uint8_t eth[1600];
    size_t n = 0;
    ASSERT_EQ(dataToEthernet(parsed(dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, payload)), kOurMac.data(), kAp.data(),
                             eth, sizeof eth, n),
              kDropNone);
    ASSERT_EQ(n, 14 + payload.size());
    EXPECT_EQ(std::memcmp(eth, kOurMac.data(), 6), 0) << "destination";
    EXPECT_EQ(std::memcmp(eth + 6, kRouterMac.data(), 6), 0) << "source: the original sender";
    EXPECT_EQ(eth[12], 0x08);
    EXPECT_EQ(eth[13], 0x00);
    EXPECT_EQ(std::memcmp(eth + 14, payload.data(), payload.size()), 0);

    // And back: to the access point, with the final destination third.
    uint8_t air[1600];
    const size_t m = ethernetToData(eth, n, kOurMac.data(), kAp.data(), false, 0, air, sizeof air);
    ASSERT_EQ(m, 24 + 8 + payload.size());
    EXPECT_EQ(air[0], 0x08);
    EXPECT_EQ(air[1], 0x01) << "ToDS";
    EXPECT_EQ(std::memcmp(air + 4, kAp.data(), 6), 0);
    EXPECT_EQ(std::memcmp(air + 10, kOurMac.data(), 6), 0);
    EXPECT_EQ(std::memcmp(air + 16, kOurMac.data(), 6), 0);
    EXPECT_EQ(air[24], 0xAA);
    EXPECT_EQ(ethernetToData(eth, n, kOurMac.data(), kAp.data(), false, 0, air, m - 1), 0u) << "no room";
    EXPECT_EQ(ethernetToData(eth, 13, kOurMac.data(), kAp.data(), false, 0, air, sizeof air), 0u);
    Bytes big(14 + 1501, 0);
    big[12] = 0x08;
    EXPECT_EQ(ethernetToData(big.data(), big.size(), kOurMac.data(), kAp.data(), false, 0, air, sizeof air), 0u);

    const size_t w = ethernetToData(eth, n, kOurMac.data(), kAp.data(), true, 0x030201, air, sizeof air);
    ASSERT_EQ(w, m + 4);
    EXPECT_EQ(air[1], 0x41) << "ToDS and protected";
    EXPECT_EQ(air[24], 0x01);
    EXPECT_EQ(air[27], 0x00) << "key 0";
}

TEST(Frames, DataNotForThisStationIsDroppedWithItsReason) {
    uint8_t eth[1600];
    size_t n = 0;
    const auto drop = [&](const Bytes& f) {
        return dataToEthernet(parsed(f), kOurMac.data(), kAp.data(), eth, sizeof eth, n);
    };
    EXPECT_EQ(drop(dataFromAp(kOurMac, kOtherAp, kRouterMac, 0x0800, {1})), kDropForeign);
    EXPECT_EQ(drop(dataFromAp(kOtherAp, kAp, kRouterMac, 0x0800, {1})), kDropForeign);
    EXPECT_EQ(drop(dataFromAp(kBroadcast, kAp, kOurMac, 0x0806, {1})), kDropEcho) << "our own broadcast, repeated";
    EXPECT_EQ(drop(dataFromAp(kBroadcast, kAp, kRouterMac, 0x0100, {1})), kDropLlc) << "a length, not a type";
    Bytes notSnap = dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, {1});
    notSnap[24] = 0x42;
    EXPECT_EQ(drop(notSnap), kDropLlc);
    EXPECT_EQ(drop(dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, Bytes(1502, 0))), kDropNone) << "word rounding";
    EXPECT_EQ(n, 14u + 1500u);
    EXPECT_EQ(drop(dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, Bytes(1504, 0))), kDropTooLong);
    EXPECT_EQ(dataToEthernet(parsed(dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, Bytes(100, 0))), kOurMac.data(),
                             kAp.data(), eth, 100, n),
              kDropTooLong)
        << "no room in the receiver's slot";
    Bytes wep = dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, {9}, kProtected);
    wep.insert(wep.begin() + 24, {1, 2, 3, 0});
    ASSERT_EQ(drop(wep), kDropNone) << "the IV field skipped";
    EXPECT_EQ(eth[14], 9);
}

TEST(Join, WithoutAStoredNetworkItCannotConnectAtOnce) {
    Join join;
    join.start(kOurMac.data(), 0x3FFE, nullptr, 0, vxdevice::kSearchFrames);
    EXPECT_EQ(join.status(), vxdevice::kAssocCannotConnect);
}

// The device must give up when the simulated handheld does, in frames.
TEST(Join, ASearchWithoutTheNetworkEndsAfterExactlyTheSearchFrames) {
    Station s;
    s.start();
    ASSERT_EQ(s.join.status(), vxdevice::kAssocSearching);
    std::set<int> channels;
    int probes = 0;
    for (uint32_t i = 1; i < vxdevice::kSearchFrames; ++i) {
        if (s.sentKind() == kProbeRequest) ++probes;
        channels.insert(s.join.channel());
        s.join.frame();
        ASSERT_EQ(s.join.status(), vxdevice::kAssocSearching) << "frame " << i;
    }
    s.join.frame();
    EXPECT_EQ(s.join.status(), vxdevice::kAssocCannotConnect);
    EXPECT_EQ(channels.size(), 13u) << "every allowed channel heard at least once";
    EXPECT_EQ(channels.count(14), 0u);
    EXPECT_GE(probes, 13);
    EXPECT_EQ(s.sent().size(), 0u) << "nothing more goes out";
    s.hear(beacon(kAp, "melonAP", 6));
    EXPECT_EQ(s.join.status(), vxdevice::kAssocCannotConnect) << "a late beacon changes nothing";
}

TEST(Join, AStoredNetworkIsJoinedStepByStep) {
    Station s;
    s.start();
    EXPECT_EQ(s.hear(beacon(kOtherAp, "elsewhere", 6)), kDropForeign);
    EXPECT_EQ(s.hear(beacon(kOtherAp, "home", 3)), kDropForeign) << "open, but the slot wants WEP";
    EXPECT_EQ(s.hear(beacon(kOtherAp, "melonAP", 2, false, {48, 2, 1, 0})), kDropForeign) << "WPA";
    EXPECT_EQ(s.join.status(), vxdevice::kAssocSearching);

    EXPECT_EQ(s.hear(beacon(kAp, "melonAP", 6)), kDropNone);
    EXPECT_EQ(s.join.status(), vxdevice::kAssocAuthenticating);
    EXPECT_EQ(s.join.channel(), 6);
    ASSERT_NE(s.join.bssid(), nullptr);
    EXPECT_EQ(std::memcmp(s.join.bssid(), kAp.data(), 6), 0);
    const Bytes auth = s.sent();
    ASSERT_EQ(auth.size(), 30u);
    EXPECT_EQ(subtypeOf(auth), kAuthentication);
    EXPECT_EQ(auth[26], 1) << "open system, first transaction";

    EXPECT_EQ(s.hear(authReply(kOtherAp, 0)), kDropForeign);
    EXPECT_EQ(s.hear(authReply(kAp, 0, 4)), kDropUnexpected) << "not the second transaction";
    EXPECT_EQ(s.hear(authReply(kAp, 0)), kDropNone);
    EXPECT_EQ(s.join.status(), vxdevice::kAssocAssociating);
    const Bytes assoc = s.sent();
    EXPECT_EQ(subtypeOf(assoc), kAssocRequest);
    EXPECT_EQ(assoc[28], 0);
    EXPECT_EQ(assoc[29], 7);
    EXPECT_EQ(std::string(assoc.begin() + 30, assoc.begin() + 37), "melonAP");

    EXPECT_EQ(s.hear(assocReply(kAp, 0, 1)), kDropNone);
    EXPECT_EQ(s.join.status(), vxdevice::kAssocAcquiringDhcp);
    EXPECT_TRUE(s.join.joined());
    EXPECT_EQ(s.join.aid(), 1);
    EXPECT_EQ(s.join.joins(), 1u);
    EXPECT_STREQ(s.join.network()->ssid, "melonAP");
}

TEST(Join, UnansweredRequestsAreRepeatedThenTheSearchGoesOn) {
    Station s;
    s.start();
    s.frames(20);
    const uint32_t left = s.join.searchFramesLeft();
    s.hear(beacon(kAp, "melonAP", 6));
    int requests = 0;
    for (uint32_t i = 0; i < kReplyFrames * kAttempts; ++i) {
        if (s.sentKind() == kAuthentication) ++requests;
        s.join.frame();
    }
    EXPECT_EQ(requests, static_cast<int>(kAttempts));
    EXPECT_EQ(s.join.status(), vxdevice::kAssocSearching);
    EXPECT_EQ(s.join.searchFramesLeft(), left) << "time spent joining is not search time";
    EXPECT_EQ(s.join.bssid(), nullptr);

    s.hear(beacon(kAp, "melonAP", 6));
    s.hear(authReply(kAp, 0));
    s.hear(assocReply(kAp, 17, 0));  // refused: too many stations
    EXPECT_EQ(s.join.status(), vxdevice::kAssocSearching);
    s.frames(left);
    EXPECT_EQ(s.join.status(), vxdevice::kAssocCannotConnect);
}

TEST(Join, DataFlowsOnlyWhileJoined) {
    Station s;
    s.start();
    const Bytes ip = dataFromAp(kOurMac, kAp, kRouterMac, 0x0800, {0x45, 1, 2, 3});
    EXPECT_EQ(s.hear(ip), kDropUnexpected);
    uint8_t out[1600];
    const uint8_t eth[20] = {0x52, 0x55, 0x0A, 0x40, 0, 1, 0, 9, 0xBF, 0x11, 0x22, 0x33, 0x08, 0x00, 0x45};
    EXPECT_EQ(s.join.send(eth, sizeof eth, out, sizeof out), 0u);

    s.joinMelonAp();
    EXPECT_EQ(s.hear(ip), kDropNone);
    EXPECT_EQ(s.ethLength, 14u + 4u);
    Bytes again = ip;
    again[1] |= kRetry >> 8;
    EXPECT_EQ(s.hear(again), kDropDuplicate);
    EXPECT_EQ(s.ethLength, 0u);
    EXPECT_EQ(s.join.drops(kDropDuplicate), 1u);
    EXPECT_EQ(s.join.send(eth, sizeof eth, out, sizeof out), 24u + 8u + 6u);

    s.frames(kKeepAliveFrames - 1);
    EXPECT_EQ(s.sent().size(), 0u);
    s.join.frame();
    const Bytes keepAlive = s.sent();
    ASSERT_EQ(keepAlive.size(), 24u);
    EXPECT_EQ(keepAlive[0], 0x48) << "null data after a long silence";
}

TEST(Join, ALostAssociationIsJoinedAgain) {
    Station s;
    s.joinMelonAp();
    EXPECT_EQ(s.hear(deauth(kOtherAp, 3)), kDropForeign);
    EXPECT_TRUE(s.join.joined());
    EXPECT_EQ(s.hear(deauth(kAp, 7, kDisassociation)), kDropNone);
    EXPECT_EQ(s.join.status(), vxdevice::kAssocAuthenticating);
    EXPECT_EQ(s.sentKind(), kAuthentication) << "straight back to the same network";
    s.hear(authReply(kAp, 0));
    s.hear(assocReply(kAp, 0, 2));
    EXPECT_EQ(s.join.status(), vxdevice::kAssocAcquiringDhcp);
    EXPECT_EQ(s.join.joins(), 2u);
    EXPECT_EQ(s.join.aid(), 2);
}
