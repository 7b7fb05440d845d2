#pragma once

// Watching ModemManager's voice calls on the system bus. The watch follows the modems that
// have a Voice interface (modems without one are ignored) and the calls each lists, with their
// state, direction and number, and reports the whole list of calls whenever it changes. It never
// waits for the bus: every request is asynchronous, and the watch runs on its own main loop.
//
// ModemManager restarting is followed by its name changing owner: the calls known are kept for
// a grace period, then replaced by what the new instance reports (or dropped when none comes
// back in time). Without a system bus, or without ModemManager, the watch says so once and keeps
// waiting. What the bus delivers is never trusted: values of the wrong type are ignored, texts
// are clipped, and the numbers of modems, calls and requests in flight are capped.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// ModemManager's call states.
enum : int32_t {
    mm_call_state_unknown = 0,
    mm_call_state_dialing = 1,
    mm_call_state_ringing_out = 2,
    mm_call_state_ringing_in = 3,
    mm_call_state_active = 4,
    mm_call_state_held = 5,
    mm_call_state_waiting = 6,
    mm_call_state_terminated = 7,
};
// ModemManager's call directions.
enum : int32_t {
    mm_call_direction_unknown = 0,
    mm_call_direction_incoming = 1,
    mm_call_direction_outgoing = 2,
};

struct ModemCall {
    std::string path;  // the call's object path
    std::string modem; // the modem's object path
    int32_t state{mm_call_state_unknown};
    int32_t direction{mm_call_direction_unknown};
    std::string number; // UTF-8, at most max_number_bytes
    bool operator==(const ModemCall&) const = default;
};

class ModemWatchListener {
public:
    virtual ~ModemWatchListener() = default;
    // Every call known now, in the order they were first seen.
    virtual void on_calls(const std::vector<ModemCall>& calls) = 0;
    // A line worth a log entry; each condition is reported once until it clears.
    virtual void on_notice(const std::string& text) = 0;
};

struct ModemWatchOptions {
    int grace_ms{10000}; // calls kept after ModemManager went away
    int retry_ms{5000};  // the system bus is tried again after this long
    std::size_t max_modems{8};
    std::size_t max_calls{16};
    std::size_t max_requests{32}; // property requests in flight
};

inline constexpr std::size_t max_number_bytes = 255;

class ModemWatch {
public:
    explicit ModemWatch(ModemWatchListener& listener, ModemWatchOptions options = {});
    ~ModemWatch();
    ModemWatch(const ModemWatch&) = delete;
    ModemWatch& operator=(const ModemWatch&) = delete;

    // Watches until SIGINT or SIGTERM arrives (or quit() is called), then returns.
    void run();
    void quit();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace platform
