#pragma once

// One running instance per user: a lock file taken with flock while an instance starts, and a
// hand-over socket on which the running instance receives the command lines of later starts.
// Both live in the user's runtime folder (below) and are named after the main window class.
// A later start sends its text and waits until the running instance's window procedure has
// taken it, as a copied-data message would.

#include "platform/messages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// What the window procedure receives with WM_COPYDATA (lParam points at it, valid only during
// the call): `data` is always 0, `bytes` holds `size` bytes of UTF-16 units.
struct CopyData {
    uintptr_t data{0};
    uint32_t size{0};
    const void* bytes{nullptr};
};

// The user's private runtime folder: $XDG_RUNTIME_DIR when it is a real folder owned by this
// user with mode 0700; otherwise "quillory-<uid>" under the temporary folder, made with mode
// 0700 and accepted only when it is a real folder (not a link) owned by this user with mode 0700;
// when that name is taken (another user made it first), "quillory-<uid>" in the user's cache
// folder ($XDG_CACHE_HOME or ~/.cache), on the same terms. Empty when no such folder can be had.
std::string private_runtime_directory();

// A name made safe for a file: letters, digits, '.', '-' and '_' kept, the rest '_'.
std::string file_name_for(const std::string& name);

class SingleInstance {
public:
    // The longest command line accepted, in bytes of UTF-16.
    static constexpr uint32_t max_message_bytes = 64 * 1024;

    enum class Claim {
        Primary,         // no running instance: this process holds the lock and starts
        HandedOver,      // a running instance took the text: this process ends
        NotTaken,        // a running instance got the text but did not say it took it: ends, failed
        NoPrivateFolder, // no folder only this user owns for the lock: the guard cannot work
        Unguarded,       // the lock could not be made: start without the guard
    };

    explicit SingleInstance(const std::string& class_name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Waits for the lock (an instance still starting holds it), then offers `text` (UTF-16 units)
    // to a running instance and waits up to 10 s for it to say it took it.
    Claim claim(const std::u16string& text);
    // Starts taking command lines for `window`: each is sent to it as WM_COPYDATA from the
    // listener's own thread (so it is dispatched by the window's thread), then acknowledged.
    // Connections are read side by side, each given 2 s for its whole message. False when the
    // socket cannot be made.
    bool listen(WindowHandle window);
    // Lets the lock go; later starts then find the listener. Nothing when not held.
    void release_lock();
    bool holds_lock() const;

    const std::string& socket_path() const;
    const std::string& lock_path() const;

    // Sends `bytes` as one hand-over message to the socket at `path` and waits up to
    // `timeout_ms` for the acknowledgement. For tests of the listener's checks.
    static bool send_raw(const std::string& path, const std::string& bytes, uint32_t timeout_ms);
    // The framing of one hand-over message.
    static std::string frame(const std::u16string& text);
    // The text of one whole hand-over message, read as the listener reads it; false when the
    // bytes are not exactly one message.
    static bool unframe(std::string_view message, std::u16string& text);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace platform
