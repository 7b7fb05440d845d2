#pragma once

// Audio a stream lost without a word, found from the source's clock. At every look the caller
// gives the frames the source should have made by then (from a clock) and the frames known to
// have come (delivered, plus what is on its way); their difference is the lag.
//
// Delivery late by scheduling only adds to the lag, and a late burst takes it back down; the
// lag's floor (its least over a stretch of time) is what the stream keeps back for good, and
// a loss lifts that floor for good. The clocks of the source and of this machine drift apart,
// which moves the floor slowly either way. So time (the clock's frames) is cut into slots,
// each keeping the least lag seen in it; a loss is the floor of the last window (eight slots)
// standing above the floor of the window before it by more than a tolerance, unless the floor
// is still coming down within the last window (a backlog being caught up with). Scheduling
// makes slot floors fall back as well as rise, while a loss and a source that keeps falling
// behind only lift them: the tolerance is the larger of a least one plus what the clocks may
// drift in two windows, and twice the most a slot floor fell below an earlier one within the
// last window or the older half of the one before. What the floor rose by is what was lost;
// the window before a loss is then forgotten, so that it is counted once, a window after it
// happened, and a source that keeps losing is counted window by window.
//
// A burst whose looks all fall in one slot counts as its lowest look; a stall with no looks
// leaves slots empty, and nothing is decided while a half of the last window is empty. Memory
// is fixed: no allocation per look. Not thread-safe: one thread looks.

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

class StreamGaps {
public:
    static constexpr size_t kSlotsPerWindow = 8;
    static constexpr int64_t kDriftPpm = 500; // the clock drift allowed for

    // `window_ms`: how long a loss must persist before it is counted (it is counted one to two
    // windows after it happened); `least_ms`: the least loss counted. Nothing is found before.
    void set_rate(uint32_t samples_per_sec, uint32_t window_ms, uint32_t least_ms = 2);
    // The stream starts (again): no look before this one counts.
    void restart();

    // Frames found missing since the previous look; 0 when none.
    uint64_t look(int64_t expected, int64_t produced);

private:
    struct Slot {
        int64_t floor{0};
        bool seen{false};
    };
    struct Range {
        int64_t low{0};
        int64_t drop{0}; // the most a floor fell below an earlier one
        bool seen{false};
    };
    // Slots [from, from + count) counted back from the newest complete slot (0).
    Range floors(size_t from, size_t count) const;
    uint64_t judge();
    void advance();

    int64_t m_slot_frames{0};
    int64_t m_least_tolerance{0};
    // Complete slots, newest first: m_slots[(m_newest - i) % size] is i slots back.
    std::array<Slot, 2 * kSlotsPerWindow> m_slots{};
    size_t m_newest{0};
    size_t m_filled{0}; // complete slots since the (re)start or the last loss
    Slot m_current;
    int64_t m_current_index{0};
    bool m_started{false};
};

} // namespace platform
