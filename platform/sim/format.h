// Numbers as the trace and the diagnostics show them.
#ifndef VXSIM_FORMAT_H
#define VXSIM_FORMAT_H

#include <cstdint>
#include <string>

namespace vxsim {

// "0x" and upper-case hex digits, at least `digits` of them.
std::string hex(uint32_t value, int digits = 0);

}  // namespace vxsim

#endif
