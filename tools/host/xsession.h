// A private X server (Xvfb) and a client connection that finds, drives and
// photographs another program's window, as a person at the screen would.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bounds.h"
#include "process.h"

struct _XDisplay;

namespace vxtest {

using XWindowId = unsigned long;  // an X Window
using KeySymbol = unsigned long;  // an X KeySym, e.g. XK_Up from <X11/keysym.h>

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // RGB888, rows top to bottom
    // (0, 0) is the top-left pixel; out of range gives {0, 0, 0}.
    std::array<uint8_t, 3> pixel(int x, int y) const;
};

// Where and what the lit pixels of a picture are: those with some channel
// above `threshold`, what a program has drawn on black.
struct Lit : Bounds {
    std::array<uint8_t, 3> brightest{};
    double centreX() const { return (minX + maxX) / 2.0; }
    double centreY() const { return (minY + maxY) / 2.0; }
};
Lit litPixels(const Image& image, int threshold = 40);

class Xvfb {
public:
    // Starts Xvfb on a free display (-screen 0 1024x768x24 -nolisten tcp) and
    // waits, within timeout, until it accepts connections.
    static std::unique_ptr<Xvfb> start(std::chrono::milliseconds timeout = std::chrono::seconds(15),
                                       std::string* error = nullptr);
    const std::string& display() const { return display_; }  // ":N"
    pid_t pid() const { return server_ ? server_->pid() : -1; }
    void stop();
    ~Xvfb();

    // Environment for a client of this server: DISPLAY and Mesa's software renderer.
    std::vector<std::string> clientEnv() const;

private:
    Xvfb() = default;
    std::unique_ptr<Process> server_;
    std::string display_;
};

class XClient {
public:
    static std::unique_ptr<XClient> open(const std::string& display, std::string* error = nullptr);
    ~XClient();
    _XDisplay* raw() const { return dpy_; }

    // The mapped top-level window of process pid (by _NET_WM_PID), else one
    // whose WM_CLASS or name is `name`; with width/height > 0 it must also
    // have that size. Returns 0 when none appears within timeout.
    XWindowId findWindow(pid_t pid, const std::string& name, std::chrono::milliseconds timeout, int width = 0,
                         int height = 0);
    bool windowSize(XWindowId w, int& width, int& height);
    // Screenshots `w` until `accept` takes one (left in `image`) or the time
    // runs out. Keys and focus must wait for a drawn picture: SDL maps its
    // window, then discards every event already queued before it returns
    // from opening it, so a key sent to a window that merely shows as mapped
    // can vanish.
    bool waitForPicture(XWindowId w, std::chrono::milliseconds timeout, const std::function<bool(const Image&)>& accept,
                        Image& image);
    // findWindow, then waitForPicture until something is lit (litPixels),
    // then focus, each step within timeout: a client's window ready for keys.
    // Returns 0 with the reason in `error` when a step fails.
    XWindowId waitForDrawnWindow(pid_t pid, const std::string& name, int width, int height,
                                 std::chrono::milliseconds timeout, std::string* error = nullptr);
    // Gives the window the keyboard focus and puts the pointer in it.
    bool focus(XWindowId w);
    bool keyDown(KeySymbol sym) { return key(sym, true); }
    bool keyUp(KeySymbol sym) { return key(sym, false); }
    // Key down, held for `hold` (at least a frame, or a client polling its
    // key state never sees it held), then up.
    bool holdKey(KeySymbol sym, std::chrono::milliseconds hold = std::chrono::milliseconds(80));
    // What a window manager's close button does: WM_DELETE_WINDOW.
    bool closeWindow(XWindowId w);
    bool resize(XWindowId w, int width, int height);
    bool screenshot(XWindowId w, Image& image, std::string* error = nullptr);
    void sync();

    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

private:
    XClient() = default;
    bool key(KeySymbol sym, bool down);
    _XDisplay* dpy_ = nullptr;
};

}  // namespace vxtest
