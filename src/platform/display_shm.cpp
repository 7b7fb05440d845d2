#include "platform/display_shm.h"

#include "platform/timing_trace.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace platform {

namespace {

// A buffer keeps at most this many rectangles it lacks; more become their bounding box.
constexpr size_t max_areas = 16;
// How long drawing waits for the compositor to let one of two buffers go: about a frame (a
// compositor lets a buffer go once it has copied it, or once the next one has replaced it).
constexpr auto release_wait = std::chrono::milliseconds(20);
// A second buffer not drawn in for this long is given back.
constexpr auto spare_lifetime = std::chrono::seconds(5);

using Clock = std::chrono::steady_clock;

void add_areas(std::vector<ShmArea>& to, const std::vector<ShmArea>& areas) {
    for (const ShmArea& a : areas) {
        if (std::none_of(to.begin(), to.end(), [&](const ShmArea& b) {
                return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
            }))
            to.push_back(a);
    }
    if (to.size() <= max_areas)
        return;
    int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (const ShmArea& a : to) {
        left = std::min(left, a.x);
        top = std::min(top, a.y);
        right = std::max(right, a.x + a.width);
        bottom = std::max(bottom, a.y + a.height);
    }
    to = {ShmArea{left, top, right - left, bottom - top}};
}

// One wl_buffer with its own memory.
struct Buffer {
    wl_buffer* buffer{nullptr};
    void* memory{nullptr};
    size_t size{0};
    int32_t stride{0};
    bool busy{false};           // the compositor reads it
    std::vector<ShmArea> stale; // where it lacks the last frame
    Clock::time_point used{};   // last drawn in

    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (memory)
            munmap(memory, size);
    }
    uint8_t* row(int32_t y) const { return static_cast<uint8_t*>(memory) + ptrdiff_t(y) * stride; }
};

void buffer_released(void* data, wl_buffer*) {
    static_cast<Buffer*>(data)->busy = false;
}
const wl_buffer_listener buffer_listener{buffer_released};

// Copies an area of 5-6-5 pixels into a buffer, as they are or as 8-8-8.
void copy_area(const ShmFrame& from, const ShmArea& a, Buffer& to, bool convert) {
    for (int32_t y = a.y; y < a.y + a.height; ++y) {
        const auto* source =
            reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(from.pixels) +
                                              ptrdiff_t(y) * from.pitch) +
            a.x;
        if (!convert) {
            std::memcpy(to.row(y) + ptrdiff_t(a.x) * 2, source, size_t(a.width) * 2);
            continue;
        }
        auto* out = reinterpret_cast<uint32_t*>(to.row(y)) + a.x;
        for (int32_t i = 0; i < a.width; ++i) {
            const uint32_t p = source[i];
            const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
            out[i] =
                0xFF000000u | (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
        }
    }
}

} // namespace

struct ShmPresenter::State {
    wl_display* display{nullptr};
    wl_event_queue* queue{nullptr};
    wl_display* display_wrapper{nullptr};
    wl_surface* surface{nullptr}; // the owner's surface, its events on our queue
    wl_registry* registry{nullptr};
    wl_shm* shm{nullptr};
    bool rgb565{false};
    wl_callback* frame_callback{nullptr};
    Clock::time_point last_commit{};
    int32_t width{0};
    int32_t height{0};
    std::array<std::unique_ptr<Buffer>, 2> buffers;
    size_t current{0};            // buffers of 5-6-5: the one holding the last frame
    std::vector<uint16_t> pixels; // buffers of 8-8-8: the back buffer (5-6-5)
    std::vector<ShmArea> damage;  // changed since the last commit
    bool waiting{false};          // a frame waits to be committed

    ~State() {
        buffers = {};
        if (frame_callback)
            wl_callback_destroy(frame_callback);
        if (shm)
            wl_shm_destroy(shm);
        if (registry)
            wl_registry_destroy(registry);
        if (surface)
            wl_proxy_wrapper_destroy(surface);
        if (display_wrapper)
            wl_proxy_wrapper_destroy(display_wrapper);
        if (queue) {
            wl_display_flush(display);
            wl_event_queue_destroy(queue);
        }
    }

    // A buffer of the frame's size (all black), in its own memory; none when memory cannot
    // be had.
    std::unique_ptr<Buffer> make_buffer() const {
        auto made = std::make_unique<Buffer>();
        made->stride = width * (rgb565 ? 2 : 4);
        made->size = size_t(made->stride) * size_t(height);
        const int fd = memfd_create("quillory-frame", MFD_CLOEXEC);
        if (fd < 0)
            return nullptr;
        void* memory = ftruncate(fd, off_t(made->size)) == 0
                           ? mmap(nullptr, made->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                           : MAP_FAILED;
        if (memory == MAP_FAILED) {
            close(fd);
            return nullptr;
        }
        made->memory = memory;
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(made->size));
        made->buffer =
            wl_shm_pool_create_buffer(pool, 0, width, height, made->stride,
                                      rgb565 ? WL_SHM_FORMAT_RGB565 : WL_SHM_FORMAT_XRGB8888);
        // The buffer keeps the memory; the compositor has its own mapping.
        wl_shm_pool_destroy(pool);
        close(fd);
        wl_buffer_add_listener(made->buffer, &buffer_listener, made.get());
        return made;
    }

    ShmFrame frame_of(const Buffer& buffer) const {
        return ShmFrame{static_cast<uint16_t*>(buffer.memory), width, height, buffer.stride};
    }
    ShmFrame private_frame() { return ShmFrame{pixels.data(), width, height, width * 2}; }

    // New buffers of another size; the next commit shows all of it.
    bool resize(int32_t new_width, int32_t new_height) {
        buffers = {};
        width = new_width;
        height = new_height;
        current = 0;
        damage = {ShmArea{0, 0, width, height}};
        waiting = false;
        if (!rgb565) {
            pixels.assign(size_t(width) * size_t(height), 0);
            return true;
        }
        buffers[0] = make_buffer();
        return buffers[0] != nullptr;
    }

    // Takes what the compositor sent for our queue; waits up to timeout_ms for something.
    // Nothing once the connection has failed (SDL reports that).
    void read_events(int timeout_ms) {
        while (wl_display_prepare_read_queue(display, queue) != 0) {
            if (wl_display_dispatch_queue_pending(display, queue) < 0)
                return;
        }
        wl_display_flush(display);
        pollfd ready{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&ready, 1, timeout_ms) > 0)
            wl_display_read_events(display);
        else
            wl_display_cancel_read(display);
        wl_display_dispatch_queue_pending(display, queue);
    }

    // Waits up to `limit` for the compositor to let one of the buffers go.
    void wait_for_release(Clock::duration limit) {
        const auto start = Clock::now();
        const auto busy = [&] {
            return std::all_of(buffers.begin(), buffers.end(),
                               [](const auto& buffer) { return !buffer || buffer->busy; });
        };
        while (busy() && Clock::now() - start < limit) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                limit - (Clock::now() - start));
            read_events(int(std::max<int64_t>(1, left.count())));
        }
    }

    // The buffer the next frame may go to: the last one where the compositor has let it go,
    // else a second one (waiting about a frame for one of them; then the last one all the
    // same).
    size_t drawable_buffer() {
        read_events(0);
        if (!buffers[current]->busy)
            return current;
        const size_t other = 1 - current;
        if (!buffers[other]) {
            buffers[other] = make_buffer();
            if (!buffers[other])
                return current;
            buffers[other]->stale = {ShmArea{0, 0, width, height}};
        }
        if (buffers[other]->busy) {
            const int64_t start = timing_on() ? monotonic_us() : 0;
            wait_for_release(release_wait);
            if (start)
                timing_mark_at(start, "buffer-wait", monotonic_us() - start);
        }
        if (!buffers[current]->busy || buffers[other]->busy)
            return current;
        // Brought up to date from the last frame.
        for (const ShmArea& area : buffers[other]->stale)
            copy_area(frame_of(*buffers[current]), area, *buffers[other], false);
        buffers[other]->stale.clear();
        return other;
    }

    void commit() {
        Buffer* shown = nullptr;
        if (rgb565) {
            shown = buffers[current].get();
        } else {
            for (auto& buffer : buffers) {
                if (!buffer) {
                    buffer = make_buffer();
                    if (buffer)
                        buffer->stale = {ShmArea{0, 0, width, height}};
                }
                if (buffer && !buffer->busy) {
                    shown = buffer.get();
                    break;
                }
            }
            // Both are still read: the frame waits for one to come back.
            if (!shown)
                return;
            for (const ShmArea& area : shown->stale)
                copy_area(private_frame(), area, *shown, true);
            shown->stale.clear();
        }
        wl_surface_attach(surface, shown->buffer, 0, 0);
        for (const ShmArea& area : damage)
            wl_surface_damage_buffer(surface, area.x, area.y, area.width, area.height);
        damage.clear();
        if (frame_callback)
            wl_callback_destroy(frame_callback);
        frame_callback = wl_surface_frame(surface);
        static const wl_callback_listener frame_listener{
            [](void* data, wl_callback* callback, uint32_t) {
                auto* s = static_cast<State*>(data);
                wl_callback_destroy(callback);
                if (s->frame_callback == callback)
                    s->frame_callback = nullptr;
            }};
        wl_callback_add_listener(frame_callback, &frame_listener, this);
        wl_surface_commit(surface);
        shown->busy = true;
        waiting = false;
        last_commit = Clock::now();
        wl_display_flush(display);
    }
};

std::unique_ptr<ShmPresenter> ShmPresenter::create(void* wl_display_pointer,
                                                   void* wl_surface_pointer, int32_t width,
                                                   int32_t height) {
    auto* display = static_cast<wl_display*>(wl_display_pointer);
    if (!display || !wl_surface_pointer || width < 1 || height < 1)
        return nullptr;
    auto state = std::make_unique<State>();
    state->display = display;
    state->queue = wl_display_create_queue(display);
    if (!state->queue)
        return nullptr;
    state->display_wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    state->surface = static_cast<wl_surface*>(wl_proxy_create_wrapper(wl_surface_pointer));
    if (!state->display_wrapper || !state->surface)
        return nullptr;
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(state->display_wrapper), state->queue);
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(state->surface), state->queue);
    state->registry = wl_display_get_registry(state->display_wrapper);
    static const wl_registry_listener registry_listener{
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            auto* s = static_cast<State*>(data);
            if (!s->shm && std::strcmp(interface, wl_shm_interface.name) == 0)
                s->shm =
                    static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry_add_listener(state->registry, &registry_listener, state.get());
    // The globals, then the formats the shared memory takes.
    if (wl_display_roundtrip_queue(display, state->queue) < 0 || !state->shm)
        return nullptr;
    static const wl_shm_listener shm_listener{[](void* data, wl_shm*, uint32_t format) {
        if (format == WL_SHM_FORMAT_RGB565)
            static_cast<State*>(data)->rgb565 = true;
    }};
    wl_shm_add_listener(state->shm, &shm_listener, state.get());
    if (wl_display_roundtrip_queue(display, state->queue) < 0 || !state->resize(width, height))
        return nullptr;
    return std::unique_ptr<ShmPresenter>(new ShmPresenter(std::move(state)));
}

ShmPresenter::ShmPresenter(std::unique_ptr<State> state) : m(std::move(state)) {}

ShmPresenter::~ShmPresenter() = default;

bool ShmPresenter::native_format() const {
    return m->rgb565;
}

ShmFrame ShmPresenter::back_buffer(int32_t width, int32_t height) {
    if (width < 1 || height < 1)
        return {};
    if ((width != m->width || height != m->height) && !m->resize(width, height))
        return {};
    if (!m->rgb565)
        return m->private_frame();
    if (!m->buffers[m->current])
        return {};
    m->current = m->drawable_buffer();
    m->buffers[m->current]->used = Clock::now();
    return m->frame_of(*m->buffers[m->current]);
}

ShmFrame ShmPresenter::last_frame() const {
    if (!m->rgb565)
        return ShmFrame{m->pixels.data(), m->width, m->height, m->width * 2};
    return m->buffers[m->current] ? m->frame_of(*m->buffers[m->current]) : ShmFrame{};
}

void ShmPresenter::present(const std::vector<ShmArea>& areas) {
    std::vector<ShmArea> changed;
    for (const ShmArea& a : areas) {
        const int32_t left = std::max(a.x, 0), top = std::max(a.y, 0);
        const int32_t right = std::min(a.x + a.width, m->width);
        const int32_t bottom = std::min(a.y + a.height, m->height);
        if (right > left && bottom > top)
            changed.push_back(ShmArea{left, top, right - left, bottom - top});
    }
    if (changed.empty() || (m->rgb565 && !m->buffers[m->current]))
        return;
    add_areas(m->damage, changed);
    for (size_t i = 0; i < m->buffers.size(); ++i) {
        // The buffer drawn in has them; the others lack them.
        if (m->buffers[i] && !(m->rgb565 && i == m->current))
            add_areas(m->buffers[i]->stale, changed);
    }
    m->waiting = true;
    flush();
}

int32_t ShmPresenter::flush() {
    m->read_events(0);
    // Quiet again: the second buffer goes back (it is drawn in only while the compositor holds
    // the first).
    int64_t due = -1;
    std::unique_ptr<Buffer>& spare = m->buffers[1 - m->current];
    // (One the compositor still holds is looked at again when it lets it go: its answer ends
    // the caller's wait.)
    if (m->rgb565 && spare && !spare->busy) {
        const auto idle = Clock::now() - spare->used;
        if (idle >= spare_lifetime)
            spare.reset();
        else
            due = std::chrono::duration_cast<std::chrono::milliseconds>(spare_lifetime - idle)
                      .count() +
                  1;
    }
    if (m->waiting) {
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m->last_commit)
                .count();
        if (!m->frame_callback || waited >= hold_ms)
            m->commit();
        if (m->waiting) {
            const int64_t left =
                m->frame_callback && waited < hold_ms ? hold_ms - waited : int64_t(hold_ms);
            due = due < 0 ? left : std::min(due, left);
        }
    }
    return int32_t(due);
}

} // namespace platform
