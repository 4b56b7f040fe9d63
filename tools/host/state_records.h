// The game's datagrams as bytes: the 12-byte state record of the shared
// protocol header, and the little-endian identifier in the server's ACK.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "vxProtocol.h"

inline bool operator==(const vxProtocol& a, const vxProtocol& b) {
    return a.X == b.X && a.Y == b.Y && a.userID == b.userID;
}
std::ostream& operator<<(std::ostream& os, const vxProtocol& r);

namespace vxtest {

// Little-endian bytes of an identifier, as the clients read the ACK.
std::vector<uint8_t> encodeId(int32_t id);
// A record as the clients send it: the fields in order, little-endian.
std::vector<uint8_t> encodeState(const vxProtocol& record);
// The record in `bytes`, which must be exactly one record long.
std::optional<vxProtocol> decodeState(const std::vector<uint8_t>& bytes);

}  // namespace vxtest
