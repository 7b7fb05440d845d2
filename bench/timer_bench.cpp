// How late a Timer's listener runs when the loop is busy with other active objects.

#include "foundation/active_scheduler.h"
#include "foundation/timer.h"
#include "platform/clock.h"
#include "platform/messages.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Step-wise work as the directory scanner does it: each step burns `work` of processor time and
// arms a 1 ms Timer for the next.
class Busy : public foundation::TimerListener {
public:
    explicit Busy(std::chrono::microseconds work) : m_work(work), m_timer(*this) {}
    void start() { m_timer.after(0.001); }
    void stop() { m_timer.cancel(); }

    void on_timer(foundation::Timer&) override {
        auto until = Clock::now() + m_work;
        while (Clock::now() < until) {
        }
        m_timer.after(0.001);
    }

private:
    std::chrono::microseconds m_work;
    foundation::Timer m_timer;
};

struct Stamp : foundation::TimerListener {
    Clock::time_point fired;
    bool done{false};
    void on_timer(foundation::Timer&) override {
        fired = Clock::now();
        done = true;
    }
};

// range(0): the delay in ms; range(1): the busy work per 1 ms step in microseconds (0: idle loop).
void BM_TimerLateness(benchmark::State& state) {
    foundation::CActiveScheduler scheduler;
    const int delay_ms = int(state.range(0));
    Busy busy{std::chrono::microseconds(state.range(1))};
    if (state.range(1) > 0)
        busy.start();
    double total_late_ms = 0;
    double worst_late_ms = 0;
    for (auto _ : state) {
        Stamp stamp;
        foundation::Timer timer(stamp);
        auto armed = Clock::now();
        timer.after(delay_ms / 1000.0);
        platform::Message message;
        while (!stamp.done && platform::get_message(message))
            platform::dispatch_message(message);
        double late =
            std::chrono::duration<double, std::milli>(stamp.fired - armed).count() - delay_ms;
        total_late_ms += late;
        worst_late_ms = std::max(worst_late_ms, late);
        state.SetIterationTime(late / 1000.0);
    }
    busy.stop();
    platform::Message message;
    while (platform::peek_message(message))
        platform::dispatch_message(message);
    state.counters["late_ms_mean"] = total_late_ms / double(state.iterations());
    state.counters["late_ms_worst"] = worst_late_ms;
}
BENCHMARK(BM_TimerLateness)
    ->Args({20, 0})
    ->Args({20, 1000})
    ->Args({20, 5000})
    ->Args({200, 1000})
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
