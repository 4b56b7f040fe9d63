// The library (platform/library/) in the simulation: each processor's copy
// of its state, and its hooks into the trace and the checks of its calls.
#include <cstdarg>
#include <cstdio>

#include "hooks.h"
#include "locals.h"
#include "machine_impl.h"

namespace vxsim {

namespace {

// One copy per processor, as each processor's image has its own on the device.
vxlib::Locals gLocals[2];

std::string formatted(const char* format, va_list ap) {
    char small[160];
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

}  // namespace

// What the start-up code does to .bss on the device.
void clearLibraryLocals() {
    for (vxlib::Locals& l : gLocals) l = vxlib::Locals{};
}

}  // namespace vxsim

namespace vxlib {

using namespace vxsim;

Locals& locals() { return gLocals[idx(gMachine->cur)]; }

CallScope::CallScope(Caller only, const char* name) {
    Machine::Impl& m = callerMachine(name);
    if (only != Caller::Any) {
        const Cpu owner = only == Caller::Main ? Cpu::Main : Cpu::Co;
        if (m.cur != owner)
            hw::fatal(std::string(name) + "() belongs to " + cpuName(owner) + " but " + cpuName(m.cur) + " called it");
    }
    m.cpu(m.cur).lastValid = false;
}

CallScope::~CallScope() { gMachine->cpu(gMachine->cur).lastValid = false; }

void traceCall(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = formatted(format, ap);
    va_end(ap);
    hw::trace(TraceKind::Call, text);
}

void traceConsoleLine(const char* text, int length) {
    hw::trace(TraceKind::Console, std::string(text, static_cast<size_t>(length)));
}

void fatal(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = formatted(format, ap);
    va_end(ap);
    hw::fatal(text);
}

}  // namespace vxlib
