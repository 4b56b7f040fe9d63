// Shared by the library stand-ins: the calls the programs make into the
// handheld's library, which act on the machine through its devices.
#ifndef VXSIM_LIBRARY_H
#define VXSIM_LIBRARY_H

#include <optional>
#include <string>

#include "machine_impl.h"

namespace vxsim {

// hw::enterCall, then the machine the call acts on.
inline Machine::Impl& enter(const char* name, std::optional<Cpu> only = std::nullopt) {
    hw::enterCall(name, only);
    return *gMachine;
}

inline void traceCall(Machine::Impl& m, const std::string& text) { m.trace(m.cur, TraceKind::Call, text); }

}  // namespace vxsim

#endif
