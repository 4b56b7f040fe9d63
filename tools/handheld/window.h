// The viewer: an SDL window showing both screens, the keyboard as the keypad
// and the mouse's left button on the lower screen as the pen.
#ifndef VX_HANDHELD_WINDOW_H
#define VX_HANDHELD_WINDOW_H

#include <cstdint>
#include <string>
#include <vector>

struct SDL_Surface;

namespace vxhandheld {

class Window {
public:
    Window() = default;
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Opens a window of 256 x 384 pixels times `scale`. False with a reason.
    bool open(int scale, const std::string& title, std::string& error);

    // Shows an RGB888 image of 256 x 384 (top screen above bottom screen).
    void present(const std::vector<uint8_t>& rgb);

    // Drains pending events. Returns false once the user asked to quit.
    bool poll();

    // KEY_* bits of the keyboard keys held now.
    uint32_t keysHeld() const { return keys_; }

    // The pen: down, and where on the lower screen (pixels).
    struct Pen {
        bool down = false;
        int x = 0, y = 0;
    };
    Pen pen() const { return pen_; }

private:
    SDL_Surface* screen_ = nullptr;
    int scale_ = 1;
    uint32_t held_ = 0;
    uint32_t keys_ = 0;
    bool button_ = false;  // the left button held
    Pen pen_;
    bool open_ = false;
};

}  // namespace vxhandheld

#endif
