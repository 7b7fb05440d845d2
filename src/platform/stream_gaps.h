#pragma once

// Audio a capture stream lost without a word, found from the source's clock: at every look,
// the frames the source should have produced by then (from its clock) against those known to
// have been produced (delivered, plus what is on its way). Their difference moves with
// scheduling, by up to a period of the source, and slowly with the drift between two clocks;
// a loss moves it up for good. So a loss is the lowest difference over the last few looks
// standing above the lowest over the few looks before them by more than a tolerance, and what
// it stands above by is what was lost. The tolerance is the larger of a least one and most of
// the spread of the differences within either stretch: how far scheduling moves them there
// (a source that hands over whole periods at a time moves them by up to a period, and loses
// whole periods).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

class StreamGaps {
public:
    static constexpr size_t kLooks = 8; // looks in each of the two stretches compared

    explicit StreamGaps(int64_t least_tolerance_frames = 0)
        : m_least_tolerance(least_tolerance_frames) {}

    void set_least_tolerance(int64_t frames) { m_least_tolerance = frames; }
    // The stream starts (again): no look before this one counts.
    void restart() { m_count = 0; }

    // Frames found missing since the previous look; 0 when none.
    uint64_t look(int64_t expected, int64_t produced) {
        if (m_count == m_looks.size()) {
            std::copy(m_looks.begin() + 1, m_looks.end(), m_looks.begin());
            --m_count;
        }
        m_looks[m_count++] = expected - produced;
        if (m_count < m_looks.size())
            return 0;
        const auto [before, before_top] =
            std::minmax_element(m_looks.begin(), m_looks.begin() + kLooks);
        const auto [after, after_top] =
            std::minmax_element(m_looks.begin() + kLooks, m_looks.end());
        const int64_t spread = std::max(*before_top - *before, *after_top - *after);
        if (*after - *before <= std::max(m_least_tolerance, spread * 6 / 10))
            return 0;
        const int64_t lost = *after - *before;
        // Counted once: the looks before the loss are forgotten.
        std::copy(m_looks.begin() + kLooks, m_looks.end(), m_looks.begin());
        m_count = kLooks;
        return uint64_t(lost);
    }

private:
    int64_t m_least_tolerance;
    std::array<int64_t, 2 * kLooks> m_looks{};
    size_t m_count{0};
};

} // namespace platform
