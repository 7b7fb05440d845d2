#include "platform/stream_gaps.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

using platform::StreamGaps;

constexpr int64_t kRate = 44100;

// A source handing over 100 ms periods for a minute, watched against this machine's clock.
struct Delivery {
    const char* name;
    int drift_ppm;  // the source's clock against this machine's
    int late_ms;    // each hand-over late by up to this much (scheduling)
    int stall_at_s; // from here, nothing comes for `stall_ms`, then the backlog at once
    int stall_ms;
    std::vector<std::pair<int, int>> lost; // (second, milliseconds) the source loses unsaid
    int found_ms;                          // what must be found, within a few milliseconds
};

std::vector<std::pair<int, int>> steady_loss() {
    std::vector<std::pair<int, int>> lost;
    for (int second = 20; second < 40; ++second)
        lost.emplace_back(second, 400);
    return lost;
}

int64_t lost_found(const Delivery& delivery, uint32_t seed) {
    StreamGaps gaps;
    gaps.set_rate(uint32_t(kRate), 3000, 20);
    const int64_t period = kRate / 10;
    uint32_t state = seed;
    double last_arrival = 0;
    int64_t handed = 0;
    int64_t found = 0;
    auto pending = delivery.lost;
    for (int64_t k = 1; k <= 600; ++k) {
        const double ready = double(k * period) / kRate / (1 + delivery.drift_ppm * 1e-6);
        state = state * 1664525u + 1013904223u;
        double arrival = ready + delivery.late_ms * 1e-3 * double(state >> 8) / double(1 << 24);
        const double stall_from = delivery.stall_at_s;
        const double stall_to = stall_from + delivery.stall_ms * 1e-3;
        if (ready >= stall_from && ready < stall_to)
            arrival = stall_to + 1e-4;
        arrival = std::max(arrival, last_arrival);
        last_arrival = arrival;
        handed += period;
        while (!pending.empty() && ready >= pending.front().first) {
            handed -= kRate * pending.front().second / 1000;
            pending.erase(pending.begin());
        }
        found += int64_t(gaps.look(int64_t(arrival * kRate), handed));
    }
    return found * 1000 / kRate;
}

class StreamGapsTest : public testing::TestWithParam<Delivery> {};

TEST_P(StreamGapsTest, FindsWhatTheSourceLostAndNothingElse) {
    const Delivery& delivery = GetParam();
    for (uint32_t seed : {1u, 2u, 3u}) {
        const int64_t found = lost_found(delivery, seed);
        // A floor under scheduling is found to within a fraction of how late hand-overs come.
        EXPECT_NEAR(found, delivery.found_ms, 3 + delivery.late_ms / 3) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Deliveries, StreamGapsTest,
    testing::Values(Delivery{"Steady", 0, 1, 0, 0, {}, 0},
                    Delivery{"JitteryAndDrifting", 400, 80, 0, 0, {}, 0},
                    Delivery{"SlowSource", -400, 80, 0, 0, {}, 0},
                    Delivery{"LateBurst", 100, 20, 20, 2500, {}, 0},
                    Delivery{"SmallLoss", 100, 1, 0, 0, {{20, 30}}, 30},
                    Delivery{"LossesUnderJitter", 300, 80, 0, 0, {{15, 300}, {40, 250}}, 550},
                    Delivery{"LossInAStall", 0, 20, 20, 1000, {{20, 400}}, 400},
                    // 40 % of every second for twenty seconds, as a source that cannot keep up.
                    Delivery{"SteadyLoss", 100, 20, 0, 0, steady_loss(), 8000}),
    [](const testing::TestParamInfo<Delivery>& info) { return std::string(info.param.name); });

} // namespace
