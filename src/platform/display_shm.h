#pragma once

// Frames shown on a Wayland surface through shared memory, without any graphics API.
//
// Where the compositor takes RGB 5-6-5 pixels, the back buffer is itself the shared buffer the
// compositor reads: nothing is copied or converted. While the compositor still reads the last
// frame, the next one is drawn in a second buffer, made then and brought up to date where it
// lacks the last frames (the rectangles that changed since it was shown), and given back once
// things are quiet again. Elsewhere the back
// buffer is private and its changed rectangles are converted into 8-8-8 buffers. Either way
// the commit names the changed rectangles as damage, and a frame waits for the compositor's
// frame callback of the one before (at most hold_ms), so frames never come faster than the
// screen shows them.
//
// The surface's size in points and its buffer scale stay with its owner (SDL); the buffers
// have the surface's size in device pixels. User-interface thread only. Used by display.cpp
// alone: no Wayland type shows here.

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// Rows of RGB 5-6-5 pixels from the top, `pitch` bytes apart.
struct ShmFrame {
    uint16_t* pixels{nullptr};
    int32_t width{0};
    int32_t height{0};
    int32_t pitch{0};
};

struct ShmArea {
    int32_t x{0};
    int32_t y{0};
    int32_t width{0};
    int32_t height{0};
};

class ShmPresenter {
public:
    // How long a frame waits for the compositor's callback before it is shown anyway (a hidden
    // window gets none).
    static constexpr uint32_t hold_ms = 250;

    // For a wl_display and its wl_surface; none when the compositor offers no shared memory
    // or the first buffer cannot be made.
    static std::unique_ptr<ShmPresenter> create(void* wl_display, void* wl_surface, int32_t width,
                                                int32_t height);
    ~ShmPresenter();
    ShmPresenter(const ShmPresenter&) = delete;
    ShmPresenter& operator=(const ShmPresenter&) = delete;

    // The buffer to draw the next frame in, holding the last frame; of the new size (all
    // black) when the size changed. Empty when no memory could be had.
    ShmFrame back_buffer(int32_t width, int32_t height);
    // The last frame drawn, as it is (for screenshots).
    ShmFrame last_frame() const;
    // Shows the rectangles of the back buffer that changed since the last call.
    void present(const std::vector<ShmArea>& areas);
    // Reads the compositor's answers, shows a waiting frame when it may go and gives back a
    // second buffer no longer needed. Returns in how many milliseconds it wants to be called
    // again (the caller's wait should be no longer), or -1 when it need not be.
    int32_t flush();
    // Whether the compositor takes 5-6-5 pixels as they are.
    bool native_format() const;

private:
    struct State;
    explicit ShmPresenter(std::unique_ptr<State> state);
    std::unique_ptr<State> m;
};

} // namespace platform
