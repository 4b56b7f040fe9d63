#include "private_net.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace vxtest {
namespace {

std::string why(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

bool enterPrivateNetwork(std::string& error) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    // Root may lack the capabilities in a container; a user namespace
    // grants them for the new namespaces alone.
    bool asUser = geteuid() != 0;
    if (!asUser && unshare(CLONE_NEWNET) != 0) asUser = true;
    if (asUser) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            error = why("unshare (user namespaces unavailable?)");
            return false;
        }
        if (!writeFile("/proc/self/setgroups", "deny") ||
            !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
            !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
            error = why("cannot map the user into the new namespace");
            return false;
        }
    }
    // The new namespace's loopback starts down.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = why("socket");
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (!up) error = why("cannot bring loopback up");
    close(fd);
    return up;
}

}  // namespace vxtest
