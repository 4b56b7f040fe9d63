#include "test_env.h"

#include "process.h"

namespace vxtest {

std::vector<std::string> injectionEnv(const std::vector<std::string>& settings, bool graphics) {
    return preloadEnv(binaryPath("libvx_inject.so"), settings, graphics);
}

}  // namespace vxtest
