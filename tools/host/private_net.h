// A network of the test's own: the test process moves into a new network
// namespace (inside a new user namespace when it is not root) before it
// starts any thread or child, so every program it runs afterwards binds and
// sends there. Only loopback exists: fixed ports cannot clash with other
// tests or a game being played, and nothing sent can leave the host.
#pragma once

#include <string>

namespace vxtest {

// False with the reason when the kernel refuses (user namespaces disabled);
// the process must have one thread.
bool enterPrivateNetwork(std::string& error);

}  // namespace vxtest
