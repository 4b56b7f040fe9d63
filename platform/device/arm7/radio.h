// The radio, as the co-processor sees it at 0x04800000: power, bring-up from
// the firmware's wireless area, the baseband and RF chips, channels, one
// transmit at a time from MAC RAM, and the receive ring. No 802.11 here: the
// frames it moves are bytes (net/wlan.h knows what they mean).
#ifndef VX_DEVICE_ARM7_RADIO_H
#define VX_DEVICE_ARM7_RADIO_H

#include <stddef.h>
#include <stdint.h>

#include "firmware.h"

namespace vxradio {

// The firmware's wireless area and stored slots, read over the serial bus.
// False when the wireless area's CRC does not hold.
bool readFirmware(uint8_t* area, size_t areaLength, vxwlan::AccessPoint* slots, int& usable);

// Bring-up in steps a frame apart (the oscillator and the RF chip want
// milliseconds to settle): call once a frame until it returns true.
bool bringUp(const uint8_t* area, size_t areaLength, const vxwlan::RadioFirmware& fw);
// Once a frame while up: the radio stays awake.
void keepAwake();

void tune(const uint8_t* area, size_t areaLength, int channel);
// The network the receive filter lets through; null for none (searching).
void setNetwork(const uint8_t* bssid, uint16_t aid);
// A WEP key for the frames to come (null: none), its length 5, 13 or 16.
void setKey(const uint8_t* key, uint8_t length, uint8_t code);

// A frame (802.11 header onwards, no FCS) into MAC RAM and on air. False
// while the previous one is still going.
bool transmit(const uint8_t* frame, size_t length, bool wep);
// Polled: the transmit in flight has ended, or has taken `limit` polls and
// was given up. True while one is still in flight.
bool transmitting();
void transmitFrame();  // counts a frame towards a transmit's time-out

// Takes the next received frame off the ring, 802.11 header onwards, into
// `out` with its length as the radio reports it; false when the ring is
// empty. A frame longer than `capacity` is skipped (`tooLong`).
bool receive(uint8_t* out, size_t capacity, size_t& length, bool& tooLong);

// What the interrupt line says: returns and clears the radio's requests.
uint16_t takeInterrupts();

struct Counters {
    uint32_t sent, failed, timedOut, received, skipped, ringResets, wakeUps;
};
const Counters& counters();

}  // namespace vxradio

#endif
