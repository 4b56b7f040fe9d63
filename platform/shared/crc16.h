// The CRC-16 the handheld's firmware and cartridge header store: reflected
// polynomial 0xA001, with the initial value each use names.
#ifndef VX_SHARED_CRC16_H
#define VX_SHARED_CRC16_H

#include <stddef.h>
#include <stdint.h>

namespace vxshared {

inline uint16_t crc16(const uint8_t* data, size_t length, uint16_t initial) {
    uint16_t crc = initial;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>(crc >> 1 ^ 0xA001) : crc >> 1;
    }
    return crc;
}

}  // namespace vxshared

#endif
