#include "platform/clock.h"

#include <atomic>
#include <time.h>

namespace platform {

namespace {
std::atomic<bool> g_fake{false};
std::atomic<uint32_t> g_fake_now{0};
} // namespace

uint32_t tick_count() {
    if (g_fake.load(std::memory_order_acquire))
        return g_fake_now.load(std::memory_order_acquire);
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void sleep_ms(uint32_t milliseconds) {
    timespec ts{};
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = long(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

void use_fake_clock(bool on, uint32_t start) {
    g_fake_now.store(start, std::memory_order_release);
    g_fake.store(on, std::memory_order_release);
}

bool fake_clock_in_use() {
    return g_fake.load(std::memory_order_acquire);
}

void advance_fake_clock(uint32_t milliseconds) {
    g_fake_now.fetch_add(milliseconds, std::memory_order_acq_rel);
}

} // namespace platform
