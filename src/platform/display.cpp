#include "platform/display.h"

#include "platform/display_shm.h"
#include "platform/input_script.h"
#include "platform/number.h"
#include "platform/png_writer.h"
#include "platform/system_paths.h"
#include "platform/utf.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <SDL2/SDL_vulkan.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace {

// The screens are designed for 240 x 320 pixels at 96 dots per inch; the window shows them
// doubled (192 dots per inch, the skins' hi-res look) unless told otherwise.
constexpr int32_t design_width = 240;
constexpr int32_t design_height = 320;
constexpr int32_t design_dpi = 96;
constexpr int32_t default_dpi = 192;
// While a test feeds input through a file, the headless wait looks at it this often.
constexpr uint32_t script_wait_slice_ms = 20;

bool env_flag(const char* name) {
    const char* value = std::getenv(name);
    return value && *value && std::strcmp(value, "0") != 0;
}

bool headless_driver() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

bool ends_with_png(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (auto& c : tail)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

// A GPU the renderer could use: a DRM render node. Without one, an OpenGL renderer would be
// Mesa's software rasteriser, which costs far more memory than SDL's own software renderer.
bool has_render_node() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
        if (entry.path().filename().string().rfind("renderD", 0) == 0)
            return true;
    }
    return false;
}

// The X server's density where SDL cannot tell it (no monitor sizes through RandR, as on a
// virtual server): the desktop's Xft.dpi setting, else the screen's size in millimetres. Xlib is
// SDL's own (already loaded by its X driver, and left so); 0 when there is no answer.
float x_server_dpi() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return 0;
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib)
        return 0;
    using Open = void* (*)(const char*);
    using Close = int (*)(void*);
    using Resources = char* (*)(void*);
    using Screen = int (*)(void*);
    using Measure = int (*)(void*, int);
    const auto open = reinterpret_cast<Open>(dlsym(xlib, "XOpenDisplay"));
    const auto close = reinterpret_cast<Close>(dlsym(xlib, "XCloseDisplay"));
    const auto resources = reinterpret_cast<Resources>(dlsym(xlib, "XResourceManagerString"));
    const auto screen = reinterpret_cast<Screen>(dlsym(xlib, "XDefaultScreen"));
    const auto pixels = reinterpret_cast<Measure>(dlsym(xlib, "XDisplayHeight"));
    const auto millimetres = reinterpret_cast<Measure>(dlsym(xlib, "XDisplayHeightMM"));
    float dpi = 0;
    void* display =
        open && close && resources && screen && pixels && millimetres ? open(name) : nullptr;
    if (display) {
        if (const char* text = resources(display)) {
            // Lines of "name:\tvalue".
            std::string_view lines(text);
            while (!lines.empty()) {
                const size_t end = std::min(lines.find('\n'), lines.size());
                std::string_view line = lines.substr(0, end);
                lines.remove_prefix(std::min(end + 1, lines.size()));
                if (line.rfind("Xft.dpi:", 0) != 0)
                    continue;
                line.remove_prefix(8);
                while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                    line.remove_prefix(1);
                while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
                    line.remove_suffix(1);
                if (const auto value = parse_number<float>(line))
                    dpi = *value;
            }
        }
        const int number = screen(display);
        const int height_mm = millimetres(display, number);
        if (!(dpi > 0) && height_mm > 0)
            dpi = float(pixels(display, number)) * 25.4f / float(height_mm);
        close(display);
    }
    return dpi > 0 && dpi < 2000 ? dpi : 0;
}

// The desktop's integer scale factor (2 on a high-density display), from the display's
// reported density.
int32_t display_scale() {
    float vertical = 0;
    if (SDL_GetDisplayDPI(0, nullptr, nullptr, &vertical) != 0 || vertical <= 0) {
        const char* driver = SDL_GetCurrentVideoDriver();
        vertical = driver && std::strcmp(driver, "x11") == 0 ? x_server_dpi() : 0;
    }
    return vertical >= 168.0f ? 2 : 1;
}

// The display's stand-in for the Vulkan loader: beside the program in the build tree, in the
// private library folder when installed. Empty when there is none.
std::string vulkan_standin_path() {
    const std::filesystem::path program(executable_path());
    if (program.empty())
        return {};
    const std::filesystem::path folder = program.parent_path();
    std::error_code error;
    for (const auto& path :
         {folder / QV_VULKAN_STANDIN, folder / ".." / QV_STANDIN_LIBDIR / QV_VULKAN_STANDIN}) {
        if (std::filesystem::is_regular_file(path, error))
            return path.string();
    }
    return {};
}

// A Wayland compositor to talk to.
bool wayland_session() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* socket = std::getenv("WAYLAND_SOCKET");
    return (display && *display) || (socket && *socket);
}

LParam point_lparam(int32_t x, int32_t y) {
    return LParam((uint32_t(uint16_t(int16_t(y))) << 16) | uint16_t(int16_t(x)));
}

class SdlDisplay final : public Display {
public:
    ~SdlDisplay() override {
        if (m_attached)
            set_queue_wake_hook(nullptr);
        if (m_texture)
            SDL_DestroyTexture(m_texture);
        if (m_renderer)
            SDL_DestroyRenderer(m_renderer);
        const bool standin = m_shm != nullptr;
        m_shm.reset();
        if (m_window)
            SDL_DestroyWindow(m_window);
        if (standin)
            SDL_Vulkan_UnloadLibrary();
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    }

    bool start(const std::string& title, std::string* error, bool minimised) {
        // SDL_QUIT then comes only from the system (signals, log-out), never from the window.
        SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
        m_headless = headless_driver();
        if (const char* script = std::getenv("QUILLORY_INPUT"))
            m_input_script = InputScript(script);
        // In a Wayland session the window is a native Wayland client; X stays for X sessions
        // (and for Wayland sessions whose compositor refuses us, through Xwayland). The user's
        // own SDL_VIDEODRIVER still wins.
        if (const char* asked = std::getenv("SDL_VIDEODRIVER");
            (!asked || !*asked) && wayland_session())
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland,x11");
        // Desktops and phone shells match the window to its desktop entry (name, icon) by its
        // class, the Wayland app id; one the user chose for SDL stays. The program is still
        // single-threaded here.
        ::setenv("SDL_VIDEO_WAYLAND_WMCLASS", QV_DESKTOP_ID, 0);
        ::setenv("SDL_VIDEO_X11_WMCLASS", QV_DESKTOP_ID, 0);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
            return fail(error);
        const char* driver = SDL_GetCurrentVideoDriver();
        m_wayland = driver && std::strcmp(driver, "wayland") == 0;
        // Without a screen, or on X without a GPU, the 16-bit frame goes through SDL's software
        // renderer into the X server's shared memory (the user's own SDL_RENDER_DRIVER still
        // wins). On Wayland it goes into the compositor's shared memory (display_shm.h); where
        // that cannot be had, or where the user names a render driver, through SDL's renderer
        // (over EGL: Mesa's llvmpipe without a GPU).
        m_software = m_headless || (!m_wayland && !has_render_node());
        if (m_software && !std::getenv("SDL_RENDER_DRIVER")) {
            SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
            SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        }
        m_wake_event = SDL_RegisterEvents(1);
        // On X the desktop's density says how large a point is; a Wayland compositor scales
        // the window itself (its output scale comes as device pixels per point).
        m_desktop_scale = m_headless || m_wayland ? 1 : display_scale();
        m_dpi = default_dpi * m_desktop_scale;
        if (const char* dpi = std::getenv("QUILLORY_DPI")) {
            const auto value = parse_number<int32_t>(dpi);
            if (value && *value > 0 && *value < 2000) {
                m_dpi = *value;
                m_dpi_asked = true;
            }
        }
        int32_t width = design_width * m_dpi / design_dpi;
        int32_t height = design_height * m_dpi / design_dpi;
        if (const char* size = std::getenv("QUILLORY_SCREEN")) {
            // WIDTHxHEIGHT
            const std::string_view text(size);
            const size_t x = text.find('x');
            const auto w = parse_number<int32_t>(text.substr(0, x));
            const auto h =
                x == text.npos ? std::nullopt : parse_number<int32_t>(text.substr(x + 1));
            if (w && h && *w > 0 && *h > 0 && *w <= 8192 && *h <= 8192) {
                width = *w;
                height = *h;
            }
        }
        // Sizes are in points; the back buffer has the drawable's device pixels (twice as many
        // each way at output scale 2).
        uint32_t flags = SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI;
        if (env_flag("QUILLORY_FULLSCREEN"))
            flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        // Mapped iconic from the start, so that it never shows before going down.
        if (minimised)
            flags |= SDL_WINDOW_MINIMIZED;
        if (m_wayland && !std::getenv("SDL_RENDER_DRIVER"))
            m_window = shared_memory_window(title, width, height, flags);
        if (!m_window)
            m_window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED,
                                        SDL_WINDOWPOS_UNDEFINED, width, height, flags);
        if (!m_window)
            return fail(error);
        m_software = m_software || m_shm;
        // Drawn in software without Wayland, frames go straight into the window's own surface
        // (the X server's shared memory), converted and shown only where they changed.
        m_window_surface = m_software && !m_wayland && !std::getenv("SDL_RENDER_DRIVER") &&
                           SDL_GetWindowSurface(m_window);
        if (!m_window_surface && !m_shm) {
            m_renderer = SDL_CreateRenderer(m_window, -1, m_software ? SDL_RENDERER_SOFTWARE : 0);
            if (!m_renderer)
                m_renderer = SDL_CreateRenderer(m_window, -1, SDL_RENDERER_SOFTWARE);
            if (!m_renderer)
                return fail(error);
        }
        int w = 0, h = 0;
        drawable_size(w, h);
        return resize(w, h) || fail(error);
    }

    void attach(WindowHandle window) override {
        m_target = window;
        m_attached = true;
        uint32_t type = m_wake_event;
        set_queue_wake_hook([type] {
            SDL_Event event{};
            event.type = type;
            SDL_PushEvent(&event);
        });
    }

    int32_t width() const override { return m_width; }
    int32_t height() const override { return m_height; }
    // The density the skin is drawn for, in device pixels: 96 times the skin's scale. The
    // 240 x 320 design fills a phone's window about 360 points wide at 1.5 times and a desktop
    // window at 2 times (points on a desktop's own scale); times the output scale for device
    // pixels (3 on a phone at scale 2, 4 on a desktop at scale 2). QUILLORY_DPI says the density
    // of a point instead.
    int32_t dots_per_inch() const override {
        const int32_t device = device_scale() * m_desktop_scale;
        if (m_dpi_asked)
            return m_dpi * device_scale();
        const int32_t shorter =
            std::min(m_points_width, m_points_height) / std::max(1, m_desktop_scale);
        // Half steps of the design's size: 1, 1.5 or 2.
        const int32_t halves = std::clamp(2 * shorter / design_width, 2, 4);
        return design_dpi * halves * device / 2;
    }
    int32_t orientation() const override { return 0; }
    bool is_ready() const override {
        return (m_texture || (m_window_surface && !m_pixels.empty()) || (m_shm && m_width > 0)) &&
               !(SDL_GetWindowFlags(m_window) & SDL_WINDOW_MINIMIZED);
    }

    PixelBuffer back_buffer() override {
        if (m_shm) {
            const ShmFrame frame = m_shm->back_buffer(m_width, m_height);
            return PixelBuffer{frame.pixels, frame.width, frame.height, frame.pitch};
        }
        return PixelBuffer{m_pixels.data(), m_width, m_height, m_width * 2};
    }

    void present() override { present({Rect{0, 0, m_width, m_height}}); }

    void present(const std::vector<Rect>& areas) override {
        std::vector<SDL_Rect> rects;
        rects.reserve(areas.size());
        const Rect all{0, 0, m_width, m_height};
        for (const Rect& area : areas) {
            const Rect r = area.intersect(all);
            if (!r.empty())
                rects.push_back(SDL_Rect{r.left, r.top, r.width(), r.height()});
        }
        if (rects.empty())
            return;
        if (m_shm) {
            std::vector<ShmArea> changed;
            changed.reserve(rects.size());
            for (const SDL_Rect& r : rects)
                changed.push_back(ShmArea{r.x, r.y, r.w, r.h});
            m_shm->present(changed);
            return;
        }
        if (m_window_surface) {
            present_on_surface(rects);
            return;
        }
        if (!m_texture)
            return;
        for (const SDL_Rect& r : rects)
            SDL_UpdateTexture(m_texture, &r, m_pixels.data() + size_t(r.y) * m_width + r.x,
                              m_width * 2);
        // A renderer's buffers are swapped: the whole texture is drawn each time.
        SDL_RenderClear(m_renderer);
        SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
        SDL_RenderPresent(m_renderer);
    }

    bool save_screenshot(const std::string& path) override {
        if (!last_frame().pixels)
            return false;
        // Written beside and renamed over: a reader never sees half a picture.
        const std::string temporary = path + ".part";
        const bool saved = write_screenshot(temporary, ends_with_png(path));
        if (saved && std::rename(temporary.c_str(), path.c_str()) == 0)
            return true;
        std::remove(temporary.c_str());
        return false;
    }

    bool write_screenshot(const std::string& path, bool png) {
        const PixelBuffer frame = last_frame();
        if (png)
            return save_png(path, frame);

        SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
            frame.pixels, frame.width, frame.height, 16, frame.pitch, SDL_PIXELFORMAT_RGB565);
        if (!source)
            return false;
        SDL_Surface* wide = SDL_ConvertSurfaceFormat(source, SDL_PIXELFORMAT_BGR24, 0);
        SDL_FreeSurface(source);
        if (!wide)
            return false;
        bool saved = SDL_SaveBMP(wide, path.c_str()) == 0;
        SDL_FreeSurface(wide);
        return saved;
    }

    void wait_events(uint32_t timeout_ms) override {
        SDL_Event event;
        bool any = read_input_script();
        while (SDL_PollEvent(&event)) {
            translate(event);
            any = true;
        }
        // A frame waiting for the compositor is shown by its time at the latest (and a second
        // buffer no longer needed given back).
        const int32_t shm_due = m_shm ? m_shm->flush() : -1;
        if (shm_due >= 0)
            timeout_ms = std::min(timeout_ms, uint32_t(shm_due));
        if (any)
            return;
        Message waiting;
        if (peek_message(waiting, 0, 0, 0, false))
            return;
        if (m_headless) {
            // These drivers cannot wake a waiting SDL (it would poll every millisecond): wait
            // on the thread's queue, which signals wake too (TerminationWake).
            wait_message(!m_input_script.enabled() ? timeout_ms
                                                   : std::min(timeout_ms, script_wait_slice_ms));
            return;
        }
        // A test's input file is looked at as often as the headless wait does.
        if (!!m_input_script.enabled())
            timeout_ms = std::min(timeout_ms, script_wait_slice_ms);
        if (SDL_WaitEventTimeout(&event, int(std::min<uint32_t>(timeout_ms, INT32_MAX))))
            translate(event);
    }

    void poll_events() override {
        read_input_script();
        SDL_Event event;
        while (SDL_PollEvent(&event))
            translate(event);
        if (m_shm)
            m_shm->flush();
    }

    void minimise() override { SDL_MinimizeWindow(m_window); }
    void restore() override {
        SDL_RestoreWindow(m_window);
        SDL_RaiseWindow(m_window);
    }
    void set_full_screen(bool on) override {
        SDL_SetWindowFullscreen(m_window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    }
    bool message_box(const std::string& title, const std::string& text) override {
        if (m_headless)
            return false;
        return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title.c_str(), text.c_str(),
                                        m_window) == 0;
    }
    bool software_renderer() const override { return m_software; }
    void set_text_input(bool on) override {
        if (on)
            SDL_StartTextInput();
        else
            SDL_StopTextInput();
    }
    void set_text_input_area(int32_t x, int32_t y, int32_t width, int32_t height) override {
        m_text_area = {x, y, width, height};
        // SDL places it in points.
        const int32_t scale = device_scale();
        SDL_Rect area{x / scale, y / scale, std::max(0, width) / scale,
                      std::max(0, height) / scale};
        SDL_SetTextInputRect(&area);
    }
    bool text_input_area(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const override {
        x = m_text_area[0];
        y = m_text_area[1];
        width = m_text_area[2];
        height = m_text_area[3];
        return SDL_IsTextInputActive();
    }
    std::string clipboard_text() override {
        if (!SDL_HasClipboardText())
            return {};
        char* text = SDL_GetClipboardText();
        if (!text)
            return {};
        std::string out(text);
        SDL_free(text);
        return out;
    }

private:
    // On Wayland: a window that SDL makes for no graphics API (with the stand-in for the Vulkan
    // loader, so that it starts no EGL), whose frames go through shared memory. None (and
    // nothing loaded) where that cannot be had.
    SDL_Window* shared_memory_window(const std::string& title, int32_t width, int32_t height,
                                     uint32_t flags) {
        const std::string standin = vulkan_standin_path();
        if (standin.empty() || SDL_Vulkan_LoadLibrary(standin.c_str()) != 0)
            return nullptr;
        SDL_Window* window =
            SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width,
                             height, flags | SDL_WINDOW_VULKAN);
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        int pixels_wide = 0, pixels_high = 0;
        if (window)
            SDL_GetWindowSizeInPixels(window, &pixels_wide, &pixels_high);
        if (window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_WAYLAND)
            m_shm = ShmPresenter::create(info.info.wl.display, info.info.wl.surface, pixels_wide,
                                         pixels_high);
        if (m_shm)
            return window;
        if (window)
            SDL_DestroyWindow(window);
        SDL_Vulkan_UnloadLibrary();
        return nullptr;
    }

    // The last frame drawn.
    PixelBuffer last_frame() {
        if (m_shm) {
            const ShmFrame frame = m_shm->last_frame();
            return PixelBuffer{frame.pixels, frame.width, frame.height, frame.pitch};
        }
        if (m_pixels.empty())
            return {};
        return PixelBuffer{m_pixels.data(), m_width, m_height, m_width * 2};
    }

    // Converts the rectangles of the back buffer into the window's surface and shows them.
    void present_on_surface(const std::vector<SDL_Rect>& rects) {
        SDL_Surface* surface = SDL_GetWindowSurface(m_window);
        if (!surface || surface->w < m_width || surface->h < m_height)
            return;
        if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0)
            return;
        const int bytes = surface->format->BytesPerPixel;
        for (const SDL_Rect& r : rects) {
            auto* to = static_cast<uint8_t*>(surface->pixels) + ptrdiff_t(r.y) * surface->pitch +
                       ptrdiff_t(r.x) * bytes;
            SDL_ConvertPixels(r.w, r.h, SDL_PIXELFORMAT_RGB565,
                              m_pixels.data() + size_t(r.y) * m_width + r.x, m_width * 2,
                              surface->format->format, to, surface->pitch);
        }
        if (SDL_MUSTLOCK(surface))
            SDL_UnlockSurface(surface);
        SDL_UpdateWindowSurfaceRects(m_window, rects.data(), int(rects.size()));
    }

    bool fail(std::string* error) {
        if (error)
            *error = SDL_GetError();
        return false;
    }

    bool resize(int32_t width, int32_t height) {
        if (width < 1 || height < 1)
            return false;
        if (m_renderer) {
            SDL_Texture* texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_RGB565,
                                                     SDL_TEXTUREACCESS_STREAMING, width, height);
            if (!texture)
                return false;
            if (m_texture)
                SDL_DestroyTexture(m_texture);
            m_texture = texture;
        }
        m_width = width;
        m_height = height;
        // Shared memory has its own back buffers.
        if (!m_shm)
            m_pixels.assign(size_t(width) * size_t(height), 0);
        SDL_GetWindowSize(m_window, &m_points_width, &m_points_height);
        return true;
    }

    // The drawable in device pixels: the window's size in points times the output scale.
    void drawable_size(int& width, int& height) const {
        width = height = 0;
        if (!m_renderer)
            SDL_GetWindowSizeInPixels(m_window, &width, &height);
        else if (SDL_GetRendererOutputSize(m_renderer, &width, &height) != 0)
            width = height = 0;
        if (width < 1 || height < 1)
            SDL_GetWindowSize(m_window, &width, &height);
    }

    // Device pixels per point, whole (an output at 1.5 draws at 2 and the compositor reduces).
    int32_t device_scale() const {
        if (m_points_width < 1 || m_width <= m_points_width)
            return 1;
        return (m_width + m_points_width - 1) / m_points_width;
    }

    // A pointer position in points as a back-buffer pixel.
    LParam pointer_lparam(int32_t x, int32_t y) const {
        if (m_points_width > 0 && m_points_height > 0 &&
            (m_points_width != m_width || m_points_height != m_height)) {
            x = int32_t(int64_t(x) * m_width / m_points_width);
            y = int32_t(int64_t(y) * m_height / m_points_height);
        }
        return point_lparam(x, y);
    }

    // The window's drawable changed size (a resize, a turn, another output scale): a new back
    // buffer, and the forms are told.
    void drawable_changed() {
        int w = 0, h = 0;
        drawable_size(w, h);
        int pw = 0, ph = 0;
        SDL_GetWindowSize(m_window, &pw, &ph);
        if (w == m_width && h == m_height && pw == m_points_width && ph == m_points_height)
            return;
        if (w == m_width && h == m_height) {
            m_points_width = pw;
            m_points_height = ph;
            post(WM_SETTINGCHANGE, settingchange_reset, 0);
            return;
        }
        if (resize(w, h))
            post(WM_SETTINGCHANGE, settingchange_reset, 0);
    }

    void post(uint32_t message, WParam wparam, LParam lparam) {
        if (m_target)
            post_message(m_target, message, wparam, lparam);
    }

    // Posts the test input that arrived (see input_script.h). True when any event was posted.
    bool read_input_script() {
        bool any = false;
        for (const ScriptEvent& event : m_input_script.read_new()) {
            const LParam at = point_lparam(event.x, event.y);
            switch (event.kind) {
            case ScriptEvent::Kind::Down:
            case ScriptEvent::Kind::Tap:
                post(WM_MOUSEMOVE, 0, at);
                post(WM_LBUTTONDOWN, 1, at);
                if (event.kind == ScriptEvent::Kind::Tap)
                    post(WM_LBUTTONUP, 0, at);
                break;
            case ScriptEvent::Kind::Move:
                post(WM_MOUSEMOVE, 1, at);
                break;
            case ScriptEvent::Kind::Up:
                post(WM_LBUTTONUP, 0, at);
                break;
            case ScriptEvent::Kind::Finger: {
                if (m_width < 2 || m_height < 2)
                    continue;
                SDL_TouchFingerEvent f{};
                f.fingerId = SDL_FingerID(event.finger);
                f.x = float(event.x) / float(m_width - 1);
                f.y = float(event.y) / float(m_height - 1);
                finger(f, event.phase == ScriptEvent::Phase::Down ? SDL_FINGERDOWN
                          : event.phase == ScriptEvent::Phase::Up ? SDL_FINGERUP
                                                                  : SDL_FINGERMOTION);
                break;
            }
            case ScriptEvent::Kind::Resize:
                if (event.x < 1 || event.y < 1 || event.x > 8192 || event.y > 8192)
                    continue;
                SDL_SetWindowSize(m_window, event.x, event.y);
                break;
            case ScriptEvent::Kind::Text:
                for (char16_t unit : utf8_to_utf16(event.text, Utf8Errors::Replace))
                    post(WM_CHAR, unit, 1);
                break;
            case ScriptEvent::Kind::Key:
                post(WM_KEYDOWN, event.key, 1);
                post(WM_KEYUP, event.key, LParam(int32_t(0xC0000001u)));
                break;
            }
            any = true;
        }
        return any;
    }

    // The first finger down is the pen until it is lifted; other fingers are ignored.
    void finger(const SDL_TouchFingerEvent& f, uint32_t type) {
        const auto x = int32_t(std::lround(std::clamp(f.x, 0.0f, 1.0f) * float(m_width - 1)));
        const auto y = int32_t(std::lround(std::clamp(f.y, 0.0f, 1.0f) * float(m_height - 1)));
        if (type == SDL_FINGERDOWN) {
            if (m_finger_down)
                return;
            m_finger_down = true;
            m_finger = f.fingerId;
            post(WM_LBUTTONDOWN, 1, point_lparam(x, y));
            return;
        }
        if (!m_finger_down || f.fingerId != m_finger)
            return;
        if (type == SDL_FINGERUP) {
            m_finger_down = false;
            post(WM_LBUTTONUP, 0, point_lparam(x, y));
        } else {
            post(WM_MOUSEMOVE, 1, point_lparam(x, y));
        }
    }

    void translate(const SDL_Event& event) {
        switch (event.type) {
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.which == SDL_TOUCH_MOUSEID)
                break; // the finger events below carry touches
            if (event.button.button == SDL_BUTTON_LEFT)
                post(WM_LBUTTONDOWN, 1, pointer_lparam(event.button.x, event.button.y));
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.which == SDL_TOUCH_MOUSEID)
                break;
            if (event.button.button == SDL_BUTTON_LEFT)
                post(WM_LBUTTONUP, 0, pointer_lparam(event.button.x, event.button.y));
            break;
        case SDL_MOUSEMOTION:
            if (event.motion.which == SDL_TOUCH_MOUSEID)
                break;
            post(WM_MOUSEMOVE, (event.motion.state & SDL_BUTTON_LMASK) ? 1 : 0,
                 pointer_lparam(event.motion.x, event.motion.y));
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_v &&
                (event.key.keysym.mod & KMOD_CTRL) && SDL_IsTextInputActive()) {
                post(WM_PASTE, 0, 0);
                break;
            }
            if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_a &&
                (event.key.keysym.mod & KMOD_CTRL) && SDL_IsTextInputActive()) {
                post(EM_SETSEL, 0, -1);
                break;
            }
            uint32_t key = virtual_key_for(event.key.keysym.sym);
            if (key == 0)
                break;
            bool down = event.type == SDL_KEYDOWN;
            uint32_t flags = 1; // repeat count
            if (!down)
                flags |= 0xC0000000u;
            else if (event.key.repeat)
                flags |= 0x40000000u;
            post(down ? WM_KEYDOWN : WM_KEYUP, key, LParam(int32_t(flags)));
            break;
        }
        case SDL_FINGERDOWN:
        case SDL_FINGERUP:
        case SDL_FINGERMOTION:
            finger(event.tfinger, event.type);
            break;
        case SDL_MOUSEWHEEL: {
            int32_t distance = event.wheel.y * 120;
            if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
                distance = -distance;
            int32_t x = 0, y = 0;
            SDL_GetMouseState(&x, &y);
            if (distance != 0)
                post(WM_MOUSEWHEEL, WParam(uint32_t(uint16_t(int16_t(distance))) << 16),
                     pointer_lparam(x, y));
            break;
        }
        case SDL_TEXTINPUT: {
            // Typed text: malformed bytes are shown as U+FFFD.
            const std::u16string units = utf8_to_utf16(event.text.text, Utf8Errors::Replace);
            for (char16_t unit : units)
                post(WM_CHAR, unit, 1);
            break;
        }
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
            case SDL_WINDOWEVENT_FOCUS_GAINED:
            case SDL_WINDOWEVENT_RESTORED:
                post(WM_ACTIVATE, WA_ACTIVE, 0);
                break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
            case SDL_WINDOWEVENT_MINIMIZED:
                post(WM_ACTIVATE, WA_INACTIVE, 0);
                break;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
            case SDL_WINDOWEVENT_DISPLAY_CHANGED:
                drawable_changed();
                break;
            case SDL_WINDOWEVENT_CLOSE:
                post(WM_CLOSE, 0, 0);
                break;
            case SDL_WINDOWEVENT_EXPOSED:
                // The window lost its picture (uncovered, mapped again): the back buffer still
                // holds the last frame.
                if (is_ready())
                    present();
                break;
            default:
                break;
            }
            break;
        case SDL_QUIT:
            post(WM_ENDSESSION, 1, 0);
            break;
        default:
            break; // the wake-up event only ends the wait
        }
    }

    SDL_Window* m_window{nullptr};
    SDL_Renderer* m_renderer{nullptr};
    SDL_Texture* m_texture{nullptr};
    std::unique_ptr<ShmPresenter> m_shm; // Wayland's shared memory, when frames go through it
    bool m_window_surface{false};        // frames go into the window's surface, no renderer
    std::vector<uint16_t> m_pixels;
    int32_t m_width{0};
    bool m_finger_down{false};
    SDL_FingerID m_finger{0};
    int32_t m_height{0};
    int32_t m_dpi{default_dpi};
    bool m_dpi_asked{false};              // QUILLORY_DPI
    std::array<int32_t, 4> m_text_area{}; // where text is typed, as last set
    int32_t m_desktop_scale{1};           // an X desktop's own scale (points are its pixels)
    uint32_t m_wake_event{0};
    WindowHandle m_target{0};
    bool m_attached{false};
    bool m_headless{false};
    InputScript m_input_script;
    bool m_software{false};
    bool m_wayland{false};
    int32_t m_points_width{0};
    int32_t m_points_height{0};
};

} // namespace

std::unique_ptr<Display> Display::open(const std::string& title, std::string* error,
                                       bool minimised) {
    auto display = std::make_unique<SdlDisplay>();
    if (!display->start(title, error, minimised))
        return nullptr;
    return display;
}

uint32_t virtual_key_for(int32_t key) {
    if (key >= SDLK_0 && key <= SDLK_9)
        return uint32_t('0' + (key - SDLK_0));
    if (key >= SDLK_a && key <= SDLK_z)
        return uint32_t('A' + (key - SDLK_a));
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return VK_F1 + uint32_t(key - SDLK_F1);
    switch (key) {
    case SDLK_BACKSPACE:
        return VK_BACK;
    case SDLK_TAB:
        return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
        return VK_MENU;
    case SDLK_ESCAPE:
    case SDLK_AC_BACK:
        return VK_ESCAPE;
    case SDLK_SPACE:
        return VK_SPACE;
    case SDLK_PAGEUP:
        return VK_PRIOR;
    case SDLK_PAGEDOWN:
        return VK_NEXT;
    case SDLK_END:
        return VK_END;
    case SDLK_HOME:
        return VK_HOME;
    case SDLK_LEFT:
        return VK_LEFT;
    case SDLK_UP:
        return VK_UP;
    case SDLK_RIGHT:
        return VK_RIGHT;
    case SDLK_DOWN:
        return VK_DOWN;
    case SDLK_INSERT:
        return VK_INSERT;
    case SDLK_DELETE:
        return VK_DELETE;
    case SDLK_APPLICATION:
    case SDLK_MENU:
        return VK_APPS;
    // The phone's volume keys arrive as F6 and F7.
    case SDLK_VOLUMEUP:
        return VK_F1 + 5;
    case SDLK_VOLUMEDOWN:
        return VK_F1 + 6;
    case SDLK_KP_MULTIPLY:
    case SDLK_ASTERISK:
        return VK_F1 + 7;
    case SDLK_HASH:
        return VK_F1 + 8;
    default:
        return 0;
    }
}

bool message_box(const std::string& title, const std::string& text) {
    if (!headless_driver() && SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title.c_str(),
                                                       text.c_str(), nullptr) == 0)
        return true;
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
    return false;
}

std::string inspect_path() {
    const char* path = std::getenv("QUILLORY_INSPECT");
    return path ? path : "";
}

std::string screenshot_path() {
    const char* path = std::getenv("QUILLORY_SCREENSHOT");
    return path ? path : "";
}

} // namespace platform
