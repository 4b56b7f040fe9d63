// Big-endian fields and the Internet checksum, as the IPv4 stack reads and
// writes them: byte by byte, so a field may sit at any alignment and the
// code runs the same on the handheld and on the host.
#ifndef VX_NET_NETBYTES_H
#define VX_NET_NETBYTES_H

#include <stddef.h>
#include <stdint.h>

namespace vxip {

inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// One's complement sum of big-endian 16-bit words; an odd last byte counts
// as the high half of a word. Only the last piece of a sum may be odd.
inline uint32_t checksumAdd(uint32_t sum, const uint8_t* data, size_t length) {
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (i < length) sum += static_cast<uint32_t>(data[i] << 8);
    // Fold now and then so that long data cannot overflow the 32 bits.
    return (sum & 0xFFFF) + (sum >> 16);
}

inline uint16_t checksumFinish(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

inline uint16_t internetChecksum(const uint8_t* data, size_t length) {
    return checksumFinish(checksumAdd(0, data, length));
}

}  // namespace vxip

#endif
