// Address text and byte order of the handheld's socket layer.
#include <gtest/gtest.h>

#include <cstring>

#include "netstack/netinet/in.h"

namespace {

// The address as the four bytes the program's sockaddr_in holds.
uint32_t bytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t raw[4] = {a, b, c, d};
    uint32_t value;
    std::memcpy(&value, raw, 4);
    return value;
}

TEST(WifiInet, DottedQuadsBecomeNetworkOrderAddresses) {
    EXPECT_EQ(vxnet::inet_addr("127.0.0.1"), bytes(127, 0, 0, 1));
    EXPECT_EQ(vxnet::inet_addr("10.20.30.40"), bytes(10, 20, 30, 40));
    EXPECT_EQ(vxnet::inet_addr("0.0.0.0"), 0u);
    EXPECT_EQ(vxnet::inet_addr("255.255.255.254"), bytes(255, 255, 255, 254));
}

TEST(WifiInet, BadTextGivesInaddrNone) {
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.0.0.1", "1.2.3.4x", " 1.2.3.4", "1..2.3", "a.b.c.d",
                            "1.2.3.", "0001.2.3.4", "-1.2.3.4"}) {
        EXPECT_EQ(vxnet::inet_addr(bad), static_cast<unsigned long>(INADDR_NONE)) << '"' << bad << '"';
    }
    EXPECT_EQ(vxnet::inet_addr(nullptr), static_cast<unsigned long>(INADDR_NONE));
}

TEST(WifiInet, ByteOrderRoundTrips) {
    uint16_t port = vxnet::htons(0x1234);
    EXPECT_EQ(std::memcmp(&port, "\x12\x34", 2), 0);
    EXPECT_EQ(vxnet::ntohs(port), 0x1234);
    uint32_t word = vxnet::htonl(0x7F000002);
    EXPECT_EQ(word, bytes(127, 0, 0, 2));
    EXPECT_EQ(vxnet::ntohl(word), 0x7F000002u);
}

}  // namespace
