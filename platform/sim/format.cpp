#include "format.h"

#include <cinttypes>
#include <cstdio>

namespace vxsim {

std::string hex(uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*" PRIX32, digits, value);
    return buf;
}

}  // namespace vxsim
