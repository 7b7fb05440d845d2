#include "platform/stream_gaps.h"

#include <algorithm>

namespace platform {

void StreamGaps::set_rate(uint32_t samples_per_sec, uint32_t window_ms, uint32_t least_ms) {
    const int64_t window = int64_t(samples_per_sec) * window_ms / 1000;
    m_slot_frames = std::max<int64_t>(1, window / int64_t(kSlotsPerWindow));
    m_least_tolerance =
        int64_t(samples_per_sec) * least_ms / 1000 + 2 * window * kDriftPpm / 1'000'000;
    restart();
}

void StreamGaps::restart() {
    m_filled = 0;
    m_started = false;
}

StreamGaps::Range StreamGaps::floors(size_t from, size_t count) const {
    Range range;
    int64_t highest = 0;
    // Oldest first: a drop is a later floor below an earlier one.
    for (size_t i = from + count; i-- > from;) {
        const Slot& slot = m_slots[(m_newest + m_slots.size() - i) % m_slots.size()];
        if (!slot.seen)
            continue;
        if (range.seen) {
            range.low = std::min(range.low, slot.floor);
            range.drop = std::max(range.drop, highest - slot.floor);
            highest = std::max(highest, slot.floor);
        } else {
            range.low = highest = slot.floor;
            range.seen = true;
        }
    }
    return range;
}

void StreamGaps::advance() {
    m_newest = (m_newest + 1) % m_slots.size();
    m_slots[m_newest] = m_current;
    m_filled = std::min(m_filled + 1, m_slots.size());
    m_current = Slot{};
    ++m_current_index;
}

uint64_t StreamGaps::judge() {
    if (m_filled < m_slots.size())
        return 0;
    constexpr size_t half = kSlotsPerWindow / 2;
    const Range newer = floors(0, half);
    const Range older = floors(half, half);
    const Range before = floors(kSlotsPerWindow, kSlotsPerWindow);
    if (!newer.seen || !older.seen || !before.seen)
        return 0;
    const int64_t last_low = std::min(newer.low, older.low);
    // The noise before: the older half only, which a loss being judged has not reached yet.
    const Range last = floors(0, kSlotsPerWindow);
    const Range oldest = floors(kSlotsPerWindow + half, half);
    // Twice as much: a window's floor is one extreme look, which scatters further.
    const int64_t tolerance = std::max(m_least_tolerance, std::max(last.drop, oldest.drop) * 2);
    const int64_t rise = last_low - before.low;
    // A floor still coming down in the last window is a backlog being caught up with.
    if (rise <= tolerance || older.low - newer.low > tolerance)
        return 0;
    // Counted once: the window before the loss is forgotten.
    m_filled = kSlotsPerWindow;
    return uint64_t(rise);
}

uint64_t StreamGaps::look(int64_t expected, int64_t produced) {
    if (m_slot_frames == 0)
        return 0;
    const int64_t index = expected / m_slot_frames;
    const int64_t lag = expected - produced;
    uint64_t lost = 0;
    if (!m_started) {
        m_started = true;
        m_current = Slot{};
        m_current_index = index;
    } else if (index > m_current_index) {
        // Slots passed with no look stay empty; more than the memory holds are all empty.
        const int64_t passed = std::min<int64_t>(index - m_current_index, int64_t(m_slots.size()));
        for (int64_t i = 0; i < passed; ++i) {
            advance();
            lost += judge();
        }
        m_current_index = index;
    }
    m_current.floor = m_current.seen ? std::min(m_current.floor, lag) : lag;
    m_current.seen = true;
    return lost;
}

} // namespace platform
