// Latency of a posted message from the post to its window procedure.

#include "platform/messages.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Same thread: post, take and dispatch.
void BM_PostToDispatchSameThread(benchmark::State& state) {
    int handled = 0;
    auto window = platform::create_window([&](platform::WindowHandle, uint32_t, platform::WParam,
                                              platform::LParam) -> platform::LResult {
        ++handled;
        return 0;
    });
    platform::Message message;
    for (auto _ : state) {
        platform::post_message(window, platform::WM_USER, 0, 0);
        platform::get_message(message);
        platform::dispatch_message(message);
    }
    benchmark::DoNotOptimize(handled);
    platform::destroy_window(window);
}
BENCHMARK(BM_PostToDispatchSameThread);

// Another thread posts to a loop blocked in get_message; the time runs from the post to the
// window procedure.
void BM_PostToDispatchCrossThread(benchmark::State& state) {
    std::atomic<platform::WindowHandle> window{0};
    std::atomic<int64_t> delivered_ns{0};
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        window =
            platform::create_window([&](platform::WindowHandle, uint32_t message, platform::WParam,
                                        platform::LParam) -> platform::LResult {
                if (message == platform::WM_USER)
                    delivered_ns = Clock::now().time_since_epoch().count();
                return 0;
            });
        platform::Message message;
        while (platform::get_message(message)) {
            platform::dispatch_message(message);
            if (stop)
                break;
        }
    });
    while (window == 0)
        std::this_thread::yield();
    for (auto _ : state) {
        delivered_ns = 0;
        int64_t posted = Clock::now().time_since_epoch().count();
        platform::post_message(window, platform::WM_USER, 0, 0);
        while (delivered_ns == 0)
            std::this_thread::yield();
        state.SetIterationTime(double(delivered_ns - posted) * 1e-9);
    }
    stop = true;
    platform::post_message(window, platform::WM_USER + 1, 0, 0);
    loop.join();
}
BENCHMARK(BM_PostToDispatchCrossThread)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
