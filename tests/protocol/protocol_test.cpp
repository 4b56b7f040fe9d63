// The state record as the server reads it off the wire.
#include <gtest/gtest.h>

#include <cstring>

#include "vxProtocol.h"

TEST(Protocol, RecordIsTwelveLittleEndianBytesInFieldOrder) {
    vxProtocol r{};
    r.X = 0x04030201;
    r.Y = -2;
    r.userID = 0x7f000009;
    unsigned char bytes[sizeof r];
    std::memcpy(bytes, &r, sizeof r);
    const unsigned char expected[12] = {0x01, 0x02, 0x03, 0x04, 0xfe, 0xff, 0xff, 0xff, 0x09, 0x00, 0x00, 0x7f};
    ASSERT_EQ(sizeof r, 12u);
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);
}
