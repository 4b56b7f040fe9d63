#include "xsession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

namespace vxtest {

namespace {

using Clock = std::chrono::steady_clock;

// A window that disappears under us (the client quit) must not end the test
// process the way Xlib's default handler would.
std::atomic<int> lastXError{0};
int recordXError(Display*, XErrorEvent* e) {
    lastXError = e->error_code ? e->error_code : 1;
    return 0;
}
void installErrorHandler() {
    static bool installed = [] {
        XSetErrorHandler(recordXError);
        return true;
    }();
    (void)installed;
}

bool checked(Display* dpy, const std::function<void()>& call) {
    XSync(dpy, False);
    lastXError = 0;
    call();
    XSync(dpy, False);
    return lastXError == 0;
}

int shiftOf(unsigned long mask) {
    int s = 0;
    if (!mask) return 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

uint8_t channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    unsigned long v = (pixel & mask) >> shiftOf(mask);
    unsigned long max = mask >> shiftOf(mask);
    return static_cast<uint8_t>(max == 255 ? v : (v * 255 + max / 2) / max);
}

}  // namespace

std::array<uint8_t, 3> Image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0};
    size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

std::unique_ptr<Xvfb> Xvfb::start(std::chrono::milliseconds timeout, std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<Xvfb> {
        if (error) *error = why;
        return nullptr;
    };
    // -displayfd lets the server pick a free display itself, so parallel
    // test processes never race for a number; -noreset keeps it from
    // resetting (and refusing connections) when its last client leaves.
    std::string why;
    auto server = Process::start(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, {}, &why);
    if (!server) return fail("cannot start Xvfb: " + why);
    const auto deadline = Clock::now() + timeout;
    auto number = waitForOutput(*server, std::regex("^([^\n]*)\n"), timeout);
    if (!server->running()) return fail("Xvfb exited early: " + server->wait(std::chrono::milliseconds(1000)).err);
    if (!number || number->empty()) return fail("Xvfb did not report a display in time: " + server->errSoFar());

    std::unique_ptr<Xvfb> x(new Xvfb);
    x->display_ = ":" + *number;
    x->server_ = std::move(server);
    while (Clock::now() < deadline) {
        if (Display* d = XOpenDisplay(x->display_.c_str())) {
            XCloseDisplay(d);
            return x;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fail("Xvfb on " + x->display_ + " accepts no connections");
}

std::vector<std::string> Xvfb::clientEnv() const {
    return {"DISPLAY=" + display_, "LIBGL_ALWAYS_SOFTWARE=1", "GALLIUM_DRIVER=llvmpipe", "SDL_VIDEODRIVER=x11"};
}

void Xvfb::stop() {
    if (!server_) return;
    server_->terminate(SIGTERM);
    server_->wait(std::chrono::milliseconds(5000));
    server_.reset();
}

Xvfb::~Xvfb() { stop(); }

std::unique_ptr<XClient> XClient::open(const std::string& display, std::string* error) {
    installErrorHandler();
    Display* d = XOpenDisplay(display.c_str());
    if (!d) {
        if (error) *error = "cannot open display " + display;
        return nullptr;
    }
    int ev, er, major, minor;
    if (!XTestQueryExtension(d, &ev, &er, &major, &minor)) {
        XCloseDisplay(d);
        if (error) *error = "display " + display + " has no XTest extension";
        return nullptr;
    }
    std::unique_ptr<XClient> c(new XClient);
    c->dpy_ = d;
    return c;
}

XClient::~XClient() {
    if (dpy_) XCloseDisplay(dpy_);
}

void XClient::sync() { XSync(dpy_, False); }

XWindowId XClient::findWindow(pid_t pid, const std::string& name, std::chrono::milliseconds timeout, int width,
                              int height) {
    Atom pidAtom = XInternAtom(dpy_, "_NET_WM_PID", False);
    auto matches = [&](Window w) {
        XWindowAttributes a;
        lastXError = 0;
        if (!XGetWindowAttributes(dpy_, w, &a) || lastXError) return false;
        if (a.map_state != IsViewable) return false;
        if (width > 0 && (a.width != width || a.height != height)) return false;
        bool found = false;
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (pid > 0 &&
            XGetWindowProperty(dpy_, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
                Success &&
            data) {
            if (format == 32 && count == 1) found = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
            XFree(data);
            if (found) return true;
        }
        if (name.empty()) return false;
        XClassHint hint{};
        if (XGetClassHint(dpy_, w, &hint)) {
            found = (hint.res_name && name == hint.res_name) || (hint.res_class && name == hint.res_class);
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            if (found) return true;
        }
        char* title = nullptr;
        if (XFetchName(dpy_, w, &title) && title) {
            found = name == title;
            XFree(title);
        }
        return found;
    };

    auto deadline = Clock::now() + timeout;
    do {
        Window root = DefaultRootWindow(dpy_), parent, *children = nullptr;
        unsigned n = 0;
        XWindowId result = 0;
        XSync(dpy_, False);
        if (XQueryTree(dpy_, root, &root, &parent, &children, &n)) {
            for (unsigned i = 0; i < n && !result; ++i)
                if (matches(children[i])) result = children[i];
            if (children) XFree(children);
        }
        if (result) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return 0;
}

bool XClient::windowSize(XWindowId w, int& width, int& height) {
    XWindowAttributes a;
    bool ok = checked(dpy_, [&] { XGetWindowAttributes(dpy_, w, &a); });
    if (!ok) return false;
    width = a.width;
    height = a.height;
    return true;
}

Lit litPixels(const Image& image, int threshold) {
    Lit lit;
    int best = -1;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            auto p = image.pixel(x, y);
            int sum = p[0] + p[1] + p[2];
            if (p[0] <= threshold && p[1] <= threshold && p[2] <= threshold) continue;
            lit.add(x, y);
            if (sum > best) {
                best = sum;
                lit.brightest = p;
            }
        }
    return lit;
}

bool XClient::waitForPicture(XWindowId w, std::chrono::milliseconds timeout,
                             const std::function<bool(const Image&)>& accept, Image& image) {
    const auto deadline = Clock::now() + timeout;
    do {
        if (screenshot(w, image) && accept(image)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
}

XWindowId XClient::waitForDrawnWindow(pid_t pid, const std::string& name, int width, int height,
                                      std::chrono::milliseconds timeout, std::string* error) {
    auto fail = [&](const std::string& why) -> XWindowId {
        if (error) *error = why;
        return 0;
    };
    const XWindowId w = findWindow(pid, name, timeout, width, height);
    if (!w) return fail("no " + std::to_string(width) + "x" + std::to_string(height) + " window appeared");
    Image drawn;
    if (!waitForPicture(
            w, timeout, [](const Image& i) { return litPixels(i).count > 0; }, drawn))
        return fail("the window never showed anything drawn");
    if (!focus(w)) return fail("cannot focus the window");
    return w;
}

bool XClient::focus(XWindowId w) {
    int width = 0, height = 0;
    if (!windowSize(w, width, height)) return false;
    return checked(dpy_, [&] {
        XWarpPointer(dpy_, None, w, 0, 0, 0, 0, width / 2, height / 2);
        XSetInputFocus(dpy_, w, RevertToPointerRoot, CurrentTime);
    });
}

bool XClient::key(KeySymbol sym, bool down) {
    KeyCode code = XKeysymToKeycode(dpy_, sym);
    if (!code) return false;
    XTestFakeKeyEvent(dpy_, code, down ? True : False, CurrentTime);
    XSync(dpy_, False);
    return true;
}

bool XClient::holdKey(KeySymbol sym, std::chrono::milliseconds hold) {
    if (!keyDown(sym)) return false;
    std::this_thread::sleep_for(hold);
    return keyUp(sym);
}

bool XClient::closeWindow(XWindowId w) {
    Atom protocols = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    Atom del = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = protocols;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(del);
    e.xclient.data.l[1] = CurrentTime;
    return checked(dpy_, [&] { XSendEvent(dpy_, w, False, NoEventMask, &e); });
}

bool XClient::resize(XWindowId w, int width, int height) {
    return checked(dpy_, [&] { XResizeWindow(dpy_, w, static_cast<unsigned>(width), static_cast<unsigned>(height)); });
}

bool XClient::screenshot(XWindowId w, Image& image, std::string* error) {
    int width = 0, height = 0;
    if (!windowSize(w, width, height)) {
        if (error) *error = "window is gone";
        return false;
    }
    XImage* img = nullptr;
    bool ok = checked(dpy_, [&] {
        img = XGetImage(dpy_, w, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
    });
    if (!ok || !img) {
        if (img) XDestroyImage(img);
        if (error) *error = "XGetImage failed";
        return false;
    }
    image.width = width;
    image.height = height;
    image.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(img, x, y);
            size_t i = (static_cast<size_t>(y) * width + x) * 3;
            image.rgb[i] = channel(p, img->red_mask);
            image.rgb[i + 1] = channel(p, img->green_mask);
            image.rgb[i + 2] = channel(p, img->blue_mask);
        }
    XDestroyImage(img);
    return true;
}

}  // namespace vxtest
