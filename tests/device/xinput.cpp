// device_xinput DISPLAY ACTION...: one input event on an X display, for a
// debugger script to call between two stops of the emulated processor.
//   key-down KEY | key-up KEY     on the focused window (KEY as X names it: Right, Up...)
//   pointer-down X Y | pointer-up the first mouse button, at root position X, Y
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "xsession.h"

int main(int argc, char** argv) {
    const std::string action = argc >= 3 ? argv[2] : "";
    std::string error;
    auto x = argc >= 3 ? vxtest::XClient::open(argv[1], &error) : nullptr;
    if (!x) {
        std::fprintf(stderr, "usage: device_xinput DISPLAY key-down|key-up KEY | pointer-down X Y | pointer-up\n%s\n",
                     error.c_str());
        return 2;
    }
    Display* dpy = x->raw();
    bool ok = false;
    if ((action == "key-down" || action == "key-up") && argc == 4) {
        const KeySym sym = XStringToKeysym(argv[3]);
        ok = sym != NoSymbol && (action == "key-down" ? x->keyDown(sym) : x->keyUp(sym));
    } else if (action == "pointer-down" && argc == 5) {
        XTestFakeMotionEvent(dpy, -1, std::atoi(argv[3]), std::atoi(argv[4]), CurrentTime);
        ok = XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
    } else if (action == "pointer-up" && argc == 3) {
        ok = XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
    }
    XSync(dpy, False);
    if (!ok) std::fprintf(stderr, "device_xinput: cannot do '%s'\n", action.c_str());
    return ok ? 0 : 1;
}
