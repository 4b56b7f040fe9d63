// device_xkeys DISPLAY down|up KEY: one key event on the focused window of
// an X display (KEY as X names it: Right, Up, x...).
#include <X11/Xlib.h>

#include <cstdio>
#include <string>

#include "xsession.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: device_xkeys DISPLAY down|up KEY\n");
        return 2;
    }
    const std::string action = argv[2];
    const KeySym sym = XStringToKeysym(argv[3]);
    std::string error;
    auto x = vxtest::XClient::open(argv[1], &error);
    if (!x || sym == NoSymbol || (action != "down" && action != "up")) {
        std::fprintf(stderr, "device_xkeys: %s\n", x ? "bad key or action" : error.c_str());
        return 1;
    }
    return (action == "down" ? x->keyDown(sym) : x->keyUp(sym)) ? 0 : 1;
}
