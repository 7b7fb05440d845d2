#pragma once

// The program's one screen window: an SDL window showing a 16-bit RGB 5-6-5 back buffer through a
// streaming texture. Its input arrives as the window messages the main window procedure expects,
// posted to the window attached with attach():
//   pen       WM_LBUTTONDOWN / WM_LBUTTONUP / WM_MOUSEMOVE, lParam = y << 16 | x (back-buffer
//   pixels) keys      WM_KEYDOWN / WM_KEYUP with virtual-key codes; lParam bit 30 set on
//   auto-repeat
//             and on key-up, bit 31 set on key-up
//   text      WM_CHAR, one per UTF-16 unit
//   touch     the first finger on a touch screen as the pen (WM_LBUTTONDOWN / UP / MOUSEMOVE);
//             the mouse events SDL makes from touches are dropped
//   paste     WM_PASTE for Ctrl+V (the text is then read with clipboard_text())
//   select    EM_SETSEL for Ctrl+A while text input runs (select the whole text)
//   wheel     WM_MOUSEWHEEL, wParam high word the signed distance (120 a notch, positive away
//             from the user), lParam the pointer as for the pen
//   focus     WM_ACTIVATE with WA_ACTIVE or WA_INACTIVE
//   close     WM_CLOSE
//   size      WM_SETTINGCHANGE with wParam 0x3002 once the back buffer has the new size
// User-interface thread only, except where said.
//
// Environment: SDL_VIDEODRIVER=offscreen (or dummy) runs without a screen; QUILLORY_FULLSCREEN=1
// asks for full screen; QUILLORY_DPI replaces the reported dots per inch (192, doubled on a
// high-density desktop; 96 gives the design's 1x look); the window is the 240x320 design at
// that density (480x640 by default) unless QUILLORY_SCREEN=WIDTHxHEIGHT says otherwise;
// QUILLORY_SCREENSHOT and QUILLORY_INSPECT name the files the application writes when its
// forms settle. Without a GPU render node (or without a screen) frames are converted into the
// window's own surface, only where they changed; otherwise SDL's renderer shows them. On Wayland
// they go into the compositor's shared memory, only where they changed (display_shm.h), unless
// SDL_RENDER_DRIVER names a renderer or that cannot be had (then SDL's renderer, over EGL).

#include "platform/messages.h"
#include "platform/rect.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Virtual-key codes the display produces besides digits ('0'..'9') and letters ('A'..'Z').
enum : uint32_t {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_APPS = 0x5D,
    VK_F1 = 0x70, // F1..F12 follow in order
};

// wParam of WM_SETTINGCHANGE for a change of screen size or orientation.
constexpr WParam settingchange_reset = 0x3002;

// Borrowed pixels: rows from the top, pitch in bytes.
struct PixelBuffer {
    uint16_t* pixels{nullptr};
    int32_t width{0};
    int32_t height{0};
    int32_t pitch{0};
};

class Display {
public:
    // Opens the window (hidden from nothing: it is shown at once, or minimised when asked). None
    // when SDL's video cannot start; the reason goes to `error`.
    static std::unique_ptr<Display> open(const std::string& title_utf8,
                                         std::string* error = nullptr, bool minimised = false);
    virtual ~Display() = default;

    // Where input messages go. Also makes posts from other threads to the calling thread's queue
    // wake wait_events().
    virtual void attach(WindowHandle window) = 0;

    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual int32_t dots_per_inch() const = 0;
    // 0, 1, 2, 3 for 0, 90, 180, 270 degrees.
    virtual int32_t orientation() const = 0;
    // False while the window cannot be drawn (minimised); the frame is then skipped.
    virtual bool is_ready() const = 0;

    virtual PixelBuffer back_buffer() = 0;
    // Shows the back buffer.
    virtual void present() = 0;
    // Shows the rectangles of the back buffer that changed since the last present (the window
    // may show more of it).
    virtual void present(const std::vector<Rect>& areas) {
        if (!areas.empty())
            present();
    }
    // Writes the back buffer: PNG when the name ends in ".png", else a 24-bit BMP file.
    virtual bool save_screenshot(const std::string& path_utf8) = 0;
    // A modal message box over the window, answered with OK. False when none can be shown
    // (no screen).
    virtual bool message_box(const std::string& title_utf8, const std::string& text_utf8) = 0;
    // Whether frames are shown without a GPU: SDL's software renderer, the window's own surface
    // or Wayland's shared memory.
    virtual bool software_renderer() const = 0;

    // Turns waiting SDL events into messages; then, if there were none and nothing waits in the
    // thread's queue, waits up to timeout_ms for an event or a wake-up.
    virtual void wait_events(uint32_t timeout_ms) = 0;
    // Turns waiting SDL events into messages without waiting.
    virtual void poll_events() = 0;

    virtual void minimise() = 0;
    virtual void restore() = 0;
    virtual void set_full_screen(bool on) = 0;
    virtual void set_text_input(bool on) = 0;
    // Where text is being typed, in back-buffer pixels (input methods place their windows
    // beside it).
    virtual void set_text_input_area(int32_t, int32_t, int32_t, int32_t) {}
    // Whether text input is on, with the area last set.
    virtual bool text_input_area(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const {
        x = y = width = height = 0;
        return false;
    }
    // The clipboard's text as UTF-8; empty when there is none.
    virtual std::string clipboard_text() { return {}; }
};

// The virtual-key code for an SDL key code (0 when there is none).
uint32_t virtual_key_for(int32_t sdl_keycode);

// A modal message box without a parent window. Where none can be shown, the text goes to
// standard error and the result is false.
bool message_box(const std::string& title_utf8, const std::string& text_utf8);

// QUILLORY_INSPECT and QUILLORY_SCREENSHOT, or empty.
std::string inspect_path();
std::string screenshot_path();

} // namespace platform
