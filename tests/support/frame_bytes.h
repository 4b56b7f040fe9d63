// What the radio's and the IPv4 stack's host tests build their frames from:
// bytes, hardware addresses, and the addresses both sides of the handheld's
// link use in every test (its own, and melonDS's router).
#ifndef VX_TESTS_SUPPORT_FRAME_BYTES_H
#define VX_TESTS_SUPPORT_FRAME_BYTES_H

#include <array>
#include <cstdint>
#include <vector>

namespace frametest {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;

constexpr Mac kOurMac = {0x00, 0x09, 0xBF, 0x11, 0x22, 0x33};
constexpr Mac kRouterMac = {0x52, 0x55, 0x0A, 0x40, 0x00, 0x01};
constexpr Mac kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

}  // namespace frametest

#endif
