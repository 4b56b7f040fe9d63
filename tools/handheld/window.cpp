#include "window.h"

#include <SDL/SDL.h>

#include <cstdlib>
#include <cstring>

#include "nds.h"

namespace vxhandheld {

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 384;

uint32_t keyBit(SDLKey key) {
    switch (key) {
    case SDLK_UP:
        return KEY_UP;
    case SDLK_DOWN:
        return KEY_DOWN;
    case SDLK_LEFT:
        return KEY_LEFT;
    case SDLK_RIGHT:
        return KEY_RIGHT;
    case SDLK_x:
        return KEY_A;
    case SDLK_z:
        return KEY_B;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return KEY_START;
    case SDLK_BACKSPACE:
        return KEY_SELECT;
    case SDLK_a:
        return KEY_L;
    case SDLK_s:
        return KEY_R;
    case SDLK_q:
        return KEY_X;
    case SDLK_w:
        return KEY_Y;
    default:
        return 0;
    }
}

}  // namespace

Window::~Window() {
    if (open_) SDL_Quit();
}

bool Window::open(int scale, const std::string& title, std::string& error) {
    // Without this SDL falls back to drawing in the terminal when the X
    // server cannot be reached; a user's own choice still wins.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) != 0) {
        error = std::string("cannot start the display: ") + SDL_GetError();
        return false;
    }
    open_ = true;
    scale_ = scale;
    // Named before it maps, so nobody ever sees the window untitled.
    SDL_WM_SetCaption(title.c_str(), title.c_str());
    screen_ = SDL_SetVideoMode(kWidth * scale, kHeight * scale, 32, SDL_SWSURFACE);
    if (!screen_) {
        error = std::string("cannot open the window: ") + SDL_GetError();
        return false;
    }
    return true;
}

void Window::present(const std::vector<uint8_t>& rgb) {
    if (!screen_ || rgb.size() < size_t(kWidth) * kHeight * 3) return;
    if (SDL_MUSTLOCK(screen_) && SDL_LockSurface(screen_) != 0) return;
    const SDL_PixelFormat* format = screen_->format;
    const int bpp = format->BytesPerPixel;
    const size_t rowBytes = size_t(kWidth) * scale_ * bpp;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = static_cast<uint8_t*>(screen_->pixels) + size_t(y * scale_) * screen_->pitch;
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
            const Uint32 pixel = SDL_MapRGB(format, p[0], p[1], p[2]);
            for (int sx = 0; sx < scale_; ++sx) {
                uint8_t* out = row + size_t(x * scale_ + sx) * bpp;
                switch (bpp) {
                case 4:
                    std::memcpy(out, &pixel, 4);
                    break;
                case 2: {
                    const Uint16 narrow = Uint16(pixel);
                    std::memcpy(out, &narrow, 2);
                    break;
                }
                case 3:
                    // Byte order of a 24-bit surface follows the masks.
                    for (int b = 0; b < 3; ++b)
                        out[b] = uint8_t(pixel >> (8 * (SDL_BYTEORDER == SDL_LIL_ENDIAN ? b : 2 - b)));
                    break;
                default:
                    *out = uint8_t(pixel);
                    break;
                }
            }
        }
        // The other rows of a scaled-up line are copies of its first.
        for (int sy = 1; sy < scale_; ++sy) std::memcpy(row + size_t(sy) * screen_->pitch, row, rowBytes);
    }
    if (SDL_MUSTLOCK(screen_)) SDL_UnlockSurface(screen_);
    SDL_Flip(screen_);
}

bool Window::poll() {
    SDL_Event event;
    bool running = true;
    // A key pressed and released between two polls still counts as held for
    // one frame, so a quick tap is never lost; so does a click.
    uint32_t pressed = 0;
    bool clicked = false;
    // Window coordinates to the lower screen's pixels; false above it.
    auto place = [this](int wx, int wy) {
        const int x = wx / scale_, y = wy / scale_ - kHeight / 2;
        if (x < 0 || x >= kWidth || y < 0 || y >= kHeight / 2) return false;
        pen_.x = x;
        pen_.y = y;
        return true;
    };
    bool onScreen = pen_.down;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            running = false;
            break;
        case SDL_KEYDOWN:
            if (event.key.keysym.sym == SDLK_ESCAPE) running = false;
            held_ |= keyBit(event.key.keysym.sym);
            pressed |= keyBit(event.key.keysym.sym);
            break;
        case SDL_KEYUP:
            held_ &= ~keyBit(event.key.keysym.sym);
            break;
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button != SDL_BUTTON_LEFT) break;
            button_ = true;
            onScreen = place(event.button.x, event.button.y);
            clicked = clicked || onScreen;
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT) button_ = false;
            break;
        case SDL_MOUSEMOTION:
            if (button_) onScreen = place(event.motion.x, event.motion.y);
            break;
        case SDL_ACTIVEEVENT:
            // Keys released while the window had no focus never send a key-up.
            if ((event.active.state & SDL_APPINPUTFOCUS) && !event.active.gain) held_ = 0, button_ = false;
            break;
        default:
            break;
        }
    }
    keys_ = held_ | pressed;
    pen_.down = (button_ && onScreen) || clicked;
    return running;
}

}  // namespace vxhandheld
