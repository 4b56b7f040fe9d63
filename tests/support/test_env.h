// How tests run this build's programs: with the failure-injection library
// preloaded, and with waits long enough for a sanitized build.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vxtest {

// How long a test waits on the programs of this build: `sanitized` under the
// sanitizers, which slow them several times over.
constexpr std::chrono::seconds patience([[maybe_unused]] std::chrono::seconds plain,
                                        [[maybe_unused]] std::chrono::seconds sanitized) {
#ifdef VX_SANITIZED
    return sanitized;
#else
    return plain;
#endif
}

// Environment entries that preload the failure-injection library into a real
// binary (and keep a sanitized binary's runtime content with the preload).
std::vector<std::string> injectionEnv(const std::vector<std::string>& settings = {}, bool graphics = true);

}  // namespace vxtest
