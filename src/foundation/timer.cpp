#include "foundation/timer.h"

#include "foundation/active_scheduler.h"
#include "foundation/log.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace foundation {

namespace {
CActiveScheduler& scheduler() {
    CActiveScheduler* scheduler = CActiveScheduler::instance();
    if (!scheduler)
        fatal_error(u"Timer::after()", u"No active scheduler");
    return *scheduler;
}

// The delay in whole milliseconds, kept inside the tick counter's signed range.
int32_t delay_ms(double seconds) {
    double ms = seconds * 1000.0 + 0.5;
    if (!(ms > -1e9)) // also catches NaN
        return -1000000000;
    return int32_t(std::trunc(std::min(ms, 1e9)));
}
} // namespace

void TimerActive::RunL() {
    if (m_owner.m_listener)
        m_owner.m_listener->on_timer(m_owner);
}

void TimerActive::DoCancel() {
    m_due = platform::tick_count();
    scheduler().check_timers();
}

Timer::Timer(TimerListener& listener) : Timer(&listener) {}

Timer::Timer(TimerListener* listener)
    : m_active(std::make_unique<TimerActive>(*this)), m_listener(listener) {}

Timer::~Timer() {
    cancel();
}

void Timer::after(double seconds) {
    m_active->cancel();
    m_active->set_due(platform::tick_count() + uint32_t(delay_ms(seconds)));
    CActiveScheduler& owner = scheduler();
    owner.set_active(*m_active);
    owner.add_timer(*m_active);
}

void Timer::cancel() {
    m_active->cancel();
}

bool Timer::is_active() const {
    return m_active->is_active();
}

} // namespace foundation
