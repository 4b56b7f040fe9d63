// What the simulation sees of the library's calls: at the start of each, a
// check that the calling processor may make it; the "Call" and "Console"
// entries of its trace; the end of a run for a call the device would not
// survive. On the device all of it compiles to nothing.
#ifndef VX_LIBRARY_HOOKS_H
#define VX_LIBRARY_HOOKS_H

#ifdef VX_DEVICE

#define VX_LIB_CALL(only, name) ((void)0)
#define VX_LIB_TRACE(...) ((void)0)
#define VX_LIB_CONSOLE_LINE(text, length) ((void)0)
#define VX_LIB_FATAL(...) ((void)0)

#else

namespace vxlib {

enum class Caller { Any, Main, Co };

// Ends the run when a processor other than `only` makes call `name`. A call
// is no poll: the register reads inside it and around it are never taken
// for a spin on one register.
class CallScope {
public:
    CallScope(Caller only, const char* name);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

void traceCall(const char* format, ...) __attribute__((format(printf, 1, 2)));
void traceConsoleLine(const char* text, int length);
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vxlib

#define VX_LIB_CALL(only, name) const ::vxlib::CallScope vxCallScope_(::vxlib::Caller::only, name)
#define VX_LIB_TRACE(...) ::vxlib::traceCall(__VA_ARGS__)
#define VX_LIB_CONSOLE_LINE(text, length) ::vxlib::traceConsoleLine(text, length)
#define VX_LIB_FATAL(...) ::vxlib::fatal(__VA_ARGS__)

#endif

#endif
