#include "firmware.h"

#include "wlan.h"

namespace vxwlan {

namespace {

// Wireless area offsets.
constexpr size_t kCrc = 0x02A, kCrcLength = 0x02C, kMac = 0x036, kChannels = 0x03C, kRfTypeAt = 0x040, kRfBits = 0x041,
                 kRfCount = 0x042, kRfChannelRegs = 0x043, kConfig = 0x044, kBaseband = 0x064, kRfInit = 0x0CE,
                 kType2Channels = 0x0F2, kType2Gain = 0x146, kType2TxGain = 0x154;
constexpr uint8_t kGainRegister = 0x1E;  // BB[1E]: receive gain, per channel
constexpr uint32_t kRfTxControl = 9;     // type 2 RF[09]: transmit control
constexpr uint32_t kInternalGain = 1u << 16;
constexpr uint32_t kGainFromRf = 1u << 15;

// Slot offsets.
constexpr size_t kSlotSsid = 0x40, kSlotKey = 0x80, kSlotIp = 0xC0, kSlotGateway = 0xC4, kSlotDns1 = 0xC8,
                 kSlotDns2 = 0xCC, kSlotMask = 0xD0, kSlotWep = 0xE6, kSlotState = 0xE7, kSlotCrc = 0xFE;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
// Four bytes in flash order, which is network order, kept as they lie.
uint32_t asStored(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t word(const uint8_t* p, size_t bytes) {
    uint32_t w = 0;
    for (size_t i = 0; i < bytes; ++i) w |= static_cast<uint32_t>(p[i]) << (8 * i);
    return w;
}

size_t rfEntryBytes(const uint8_t* fw) { return ((fw[kRfBits] & 0x3F) + 7u) / 8u; }

int push(ChipWrite* out, int max, int n, ChipWrite::Chip chip, uint8_t index, uint32_t value) {
    if (n < max) out[n] = ChipWrite{chip, index, value};
    return n + 1;
}

}  // namespace

bool wirelessAreaValid(const uint8_t* fw, size_t length) {
    if (fw == nullptr || length < kType2TxGain + 14) return false;
    const size_t covered = le16(fw + kCrcLength);
    if (covered == 0 || covered > length - kCrcLength) return false;
    return crc16(fw + kCrcLength, covered, 0) == le16(fw + kCrc);
}

uint32_t slotAddress(const uint8_t* fw, size_t length, int index) {
    if (fw == nullptr || length < kFirmwareUserSettingsField + 2 || index < 0 || index >= kSlots) return 0;
    const uint32_t settings = static_cast<uint32_t>(le16(fw + kFirmwareUserSettingsField)) * 8;
    // The flash holds 256 KB at most, and the slots lie above the header.
    if (settings < 0x1000 || settings > 0x40000 - 0x200) return 0;
    return settings - 0x400 + static_cast<uint32_t>(index) * kSlotBytes;
}

bool parseRadioFirmware(const uint8_t* fw, size_t length, RadioFirmware& out) {
    out = RadioFirmware{};
    if (!wirelessAreaValid(fw, length)) return false;
    for (size_t i = 0; i < 6; ++i) out.mac[i] = fw[kMac + i];
    out.channels = le16(fw + kChannels) & 0x7FFE;
    out.rfType = fw[kRfTypeAt] == kRfType3 ? kRfType3 : kRfType2;
    out.rfControl = static_cast<uint16_t>((fw[kRfBits] + 0x80) & 0x17F);
    for (size_t i = 0; i < 16; ++i) out.config[i] = le16(fw + kConfig + 2 * i);
    for (size_t i = 0; i < sizeof out.baseband; ++i) out.baseband[i] = fw[kBaseband + i];
    return out.channels != 0;
}

int rfInitWrites(const uint8_t* fw, size_t length, ChipWrite* out, int max) {
    if (fw == nullptr || length <= kRfInit) return 0;
    const size_t count = fw[kRfCount];
    int n = 0;
    if (fw[kRfTypeAt] == kRfType3) {
        if (count > length - kRfInit) return 0;
        for (size_t i = 0; i < count; ++i)
            n = push(out, max, n, ChipWrite::kRf, static_cast<uint8_t>(i), fw[kRfInit + i]);
    } else {
        const size_t bytes = rfEntryBytes(fw);
        if (bytes == 0 || bytes > 4 || count * bytes > length - kRfInit) return 0;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t w = word(fw + kRfInit + i * bytes, bytes);
            n = push(out, max, n, ChipWrite::kRf, static_cast<uint8_t>(w >> 18 & 0x1F), w);
        }
    }
    return n < max ? n : max;
}

int channelWrites(const uint8_t* fw, size_t length, int channel, ChipWrite* out, int max) {
    if (fw == nullptr || channel < 1 || channel > 14 || length < kType2TxGain + 14) return 0;
    const size_t ch = static_cast<size_t>(channel);
    int n = 0;
    if (fw[kRfTypeAt] == kRfType3) {
        // After the initial values: a count of baseband tables, then the
        // tables (an index and 14 values each), then the RF tables.
        size_t at = kRfInit + fw[kRfCount];
        if (at >= length) return 0;
        const size_t basebandTables = fw[at++], rfTables = fw[kRfChannelRegs];
        if ((basebandTables + rfTables) * 15 > length - at) return 0;
        for (size_t i = 0; i < basebandTables; ++i, at += 15)
            n = push(out, max, n, ChipWrite::kBaseband, fw[at], fw[at + ch]);
        for (size_t i = 0; i < rfTables; ++i, at += 15) n = push(out, max, n, ChipWrite::kRf, fw[at], fw[at + ch]);
    } else {
        const size_t bytes = 3;
        for (size_t i = 0; i < 2; ++i) {
            const uint32_t w = word(fw + kType2Channels + 6 * (ch - 1) + 3 * i, bytes);
            n = push(out, max, n, ChipWrite::kRf, static_cast<uint8_t>(w >> 18 & 0x1F), w);
        }
        // Receive gain in the baseband unless the RF chip's transmit
        // control says the gain is its own.
        ChipWrite init[32];
        const int count = rfInitWrites(fw, length, init, 32);
        uint32_t txControl = 0;
        for (int i = 0; i < count; ++i)
            if (init[i].index == kRfTxControl) txControl = init[i].value;
        if ((txControl & kInternalGain) == 0) {
            n = push(out, max, n, ChipWrite::kBaseband, kGainRegister, fw[kType2Gain + ch - 1]);
        } else if ((txControl & kGainFromRf) == 0) {
            const uint32_t gain = fw[kType2TxGain + ch - 1] & 0x1Fu;
            n = push(out, max, n, ChipWrite::kRf, kRfTxControl, (txControl & ~(0x1Fu << 10)) | gain << 10);
        }
    }
    return n < max ? n : max;
}

SlotState parseSlot(const uint8_t* slot, size_t length, AccessPoint& out) {
    out = AccessPoint{};
    if (slot == nullptr || length < kSlotBytes) return kSlotBadCrc;
    if (crc16(slot, kSlotCrc, 0) != le16(slot + kSlotCrc)) return kSlotBadCrc;
    if (slot[kSlotState] == 0xFF) return kSlotUnused;
    size_t n = 0;
    while (n < kSsidMax && slot[kSlotSsid + n] != 0) ++n;
    if (n == 0) return kSlotUnused;
    for (size_t i = 0; i < n; ++i) out.ssid[i] = static_cast<char>(slot[kSlotSsid + i]);
    out.ssidLength = static_cast<uint8_t>(n);
    const uint8_t wep = slot[kSlotWep];
    if (wep != 0) {
        // 1-3 keys typed as hex digits, 5-7 as text: stored alike.
        static constexpr uint8_t kKeyBytes[4] = {0, 5, 13, 16};
        if ((wep & 3) == 0 || wep > 7) return kSlotUnused;
        out.wepMode = wep & 3;
        out.wepKeyLength = kKeyBytes[out.wepMode];
        for (size_t i = 0; i < out.wepKeyLength; ++i) out.wepKey[i] = slot[kSlotKey + i];
    }
    out.ip = asStored(slot + kSlotIp);
    out.gateway = asStored(slot + kSlotGateway);
    out.dns1 = asStored(slot + kSlotDns1);
    out.dns2 = asStored(slot + kSlotDns2);
    const uint8_t bits = slot[kSlotMask];
    if (bits >= 1 && bits <= 32) {
        const uint32_t host = bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits);
        out.subnetMask = __builtin_bswap32(host);
    }
    return kSlotUsable;
}

}  // namespace vxwlan
