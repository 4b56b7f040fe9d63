// Programs built as loadable modules: each has its own globals and its own
// main, and binds its platform calls to this library.
#include <dlfcn.h>

#include "machine.h"

namespace vxsim {

bool loadProgramModule(const std::string& path, ProgramImage& out, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = "cannot load program " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    void* entry = dlsym(handle, "main");
    if (!entry) {
        error = "program " + path + " has no main";
        dlclose(handle);
        return false;
    }
    ProgramImage image;
    auto slash = path.find_last_of('/');
    image.name = slash == std::string::npos ? path : path.substr(slash + 1);
    image.entry = reinterpret_cast<int (*)(int, char**)>(entry);
    image.ipMalloc = reinterpret_cast<void* (*)(int)>(dlsym(handle, "sgIP_malloc"));
    image.ipFree = reinterpret_cast<void (*)(void*)>(dlsym(handle, "sgIP_free"));
    // The module stays loaded for the life of the process: its code may be
    // parked on a processor thread.
    out = image;
    return true;
}

}  // namespace vxsim
