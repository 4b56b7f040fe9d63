// For the tests' own programs that run on the simulated handheld.
#pragma once

namespace vxtest {

// A program's last act: vertical blanks for ever, serving its interrupts.
[[noreturn]] void idleForever();

}  // namespace vxtest
