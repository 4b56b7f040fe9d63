#include "state_records.h"

#include <cstddef>

std::ostream& operator<<(std::ostream& os, const vxProtocol& r) {
    return os << "{X=" << r.X << ", Y=" << r.Y << ", userID=" << r.userID << "}";
}

namespace vxtest {

namespace {

void putLe(std::vector<uint8_t>& out, size_t at, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t getLe(const std::vector<uint8_t>& in, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | in[at + i];
    return static_cast<int32_t>(v);
}

}  // namespace

std::vector<uint8_t> encodeId(int32_t id) {
    std::vector<uint8_t> out(4);
    putLe(out, 0, id);
    return out;
}

std::vector<uint8_t> encodeState(const vxProtocol& record) {
    std::vector<uint8_t> out(sizeof(vxProtocol));
    putLe(out, offsetof(vxProtocol, X), record.X);
    putLe(out, offsetof(vxProtocol, Y), record.Y);
    putLe(out, offsetof(vxProtocol, userID), record.userID);
    return out;
}

std::optional<vxProtocol> decodeState(const std::vector<uint8_t>& bytes) {
    if (bytes.size() != sizeof(vxProtocol)) return std::nullopt;
    return vxProtocol{getLe(bytes, offsetof(vxProtocol, X)), getLe(bytes, offsetof(vxProtocol, Y)),
                      getLe(bytes, offsetof(vxProtocol, userID))};
}

}  // namespace vxtest
