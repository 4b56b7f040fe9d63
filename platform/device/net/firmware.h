// What the radio learns from the firmware flash: the wireless area of its
// header (MAC, allowed channels, RF chip type, the values bring-up loads, the
// per-channel tables) and the three stored access-point slots. The bytes are
// read over the serial bus by the driver; everything here only looks at them.
#ifndef VX_DEVICE_NET_FIRMWARE_H
#define VX_DEVICE_NET_FIRMWARE_H

#include <stddef.h>
#include <stdint.h>

namespace vxwlan {

// The header bytes the radio needs: 0000-01FF.
constexpr size_t kWirelessAreaBytes = 0x200;
constexpr uint32_t kFirmwareUserSettingsField = 0x020;  // their offset / 8
constexpr size_t kSlotBytes = 0x100;
constexpr int kSlots = 3;

// The wireless area's CRC over its stated length, which must lie within the
// bytes read.
bool wirelessAreaValid(const uint8_t* fw, size_t length);

// Where slot `index` (0-2) lies in the flash, from the user-settings offset
// in the header: 400, 300 and 200 bytes below it. 0 when the header names no
// sensible place.
uint32_t slotAddress(const uint8_t* fw, size_t length, int index);

enum RfType : uint8_t { kRfType2 = 2, kRfType3 = 3 };

struct RadioFirmware {
    uint8_t mac[6] = {};
    uint16_t channels = 0;  // bit n: channel n allowed (1-14)
    uint8_t rfType = kRfType2;
    uint16_t rfControl = 0;       // the value for W_RF_CNT
    uint16_t config[16] = {};     // W+146 ... W+150, in firmware order
    uint8_t baseband[0x69] = {};  // BB[00..68]
};
bool parseRadioFirmware(const uint8_t* fw, size_t length, RadioFirmware& out);

// One transfer to the baseband or RF chip. For the RF chip, `value` is the
// whole serial word on type 2, and index/data on type 3.
struct ChipWrite {
    enum Chip : uint8_t { kBaseband, kRf } chip;
    uint8_t index;
    uint32_t value;
};

// The RF chip's initial words, in the firmware's order. Returns how many
// were written to `out` (at most `max`).
int rfInitWrites(const uint8_t* fw, size_t length, ChipWrite* out, int max);
// What tunes the radio to `channel` (1-14). Returns how many, 0 when the
// channel or the tables are unusable.
int channelWrites(const uint8_t* fw, size_t length, int channel, ChipWrite* out, int max);

struct AccessPoint {
    char ssid[33] = {};
    uint8_t ssidLength = 0;
    uint8_t wepMode = 0;  // 0 none; else the key length code 1-3 (5, 13, 16 bytes)
    uint8_t wepKey[16] = {};
    uint8_t wepKeyLength = 0;
    // Network order, 0 = automatic.
    uint32_t ip = 0, gateway = 0, subnetMask = 0, dns1 = 0, dns2 = 0;
};

enum SlotState : uint8_t { kSlotUsable, kSlotBadCrc, kSlotUnused };
// A slot is usable when its CRC holds, it is not marked deleted and it
// names an SSID.
SlotState parseSlot(const uint8_t* slot, size_t length, AccessPoint& out);

}  // namespace vxwlan

#endif
