#include "foundation/active_scheduler.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/threads.h"
#include "foundation/timer.h"
#include "platform/clock.h"
#include "platform/messages.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <list>
#include <mutex>

namespace foundation {

namespace {
std::atomic<CActiveScheduler*> g_instance{nullptr};

// The window timer is aimed at most this far ahead; a timer due later is reached in steps, the
// due times being looked at again at each.
constexpr int32_t longest_aim_ms = 1000000;
constexpr int32_t coalesce_ms = 25;

std::u16string id_text(const CActive& object) {
    return to_text(long(object.id()));
}
} // namespace

struct CActiveScheduler::State {
    CriticalSection lock;
    std::atomic<int32_t> active_counter{0};
    std::deque<CActive*> ready;     // under lock
    std::list<TimerActive*> timers; // UI thread only
    platform::WindowHandle window{0};
    std::u16string window_name;
};

CActiveScheduler::CActiveScheduler(const std::u16string& class_name)
    : m_state(std::make_unique<State>()) {
    CActiveScheduler* expected = nullptr;
    if (!g_instance.compare_exchange_strong(expected, this))
        fatal_error(u"CActiveScheduler::CActiveScheduler()", u"Singleton is already instantiated");
    m_state->window_name = u"CActive" + class_name;
    m_state->window =
        platform::create_window([this](platform::WindowHandle, uint32_t message, platform::WParam,
                                       platform::LParam) -> platform::LResult {
            if (message == wake_message)
                process_actives();
            else if (message == platform::WM_TIMER)
                check_timers();
            return 0;
        });
}

CActiveScheduler::~CActiveScheduler() {
    int32_t count = m_state->active_counter.load();
    if (count != 0)
        fatal_error(u"", u"Some active objects still live while scheduler is terminating "
                         u"active_counter=" +
                             to_text(long(count)));
    platform::destroy_window(m_state->window);
    {
        std::lock_guard guard(m_state->lock);
        m_state->ready.clear();
    }
    m_state->timers.clear();
    CActiveScheduler* expected = this;
    g_instance.compare_exchange_strong(expected, nullptr);
}

CActiveScheduler* CActiveScheduler::instance() {
    return g_instance.load(std::memory_order_acquire);
}

void CActiveScheduler::set_active(CActive& object) {
    if (object.is_active())
        fatal_error(u"CActiveScheduler::set_active()",
                    u"Object " + id_text(object) + u" is already active");
    object.m_active.store(true, std::memory_order_release);
    interlocked_increment(m_state->active_counter);
}

void CActiveScheduler::notify(CActive& object) {
    if (!object.is_active())
        fatal_error(u"CActiveScheduler::notify()",
                    u"Active object " + id_text(object) + u" is not active");
    std::lock_guard guard(m_state->lock);
    m_state->ready.push_back(&object);
    platform::post_message(m_state->window, wake_message, 0, 0);
}

void CActiveScheduler::process_actives() {
    for (;;) {
        CActive* object;
        {
            std::lock_guard guard(m_state->lock);
            if (m_state->ready.empty())
                return;
            object = m_state->ready.front();
            m_state->ready.pop_front();
        }
        if (!object->is_active())
            fatal_error(u"CActiveScheduler::process_actives()",
                        u"Active object " + id_text(*object) + u" is not marked active");
        object->m_active.store(false, std::memory_order_release);
        interlocked_decrement(m_state->active_counter);
        object->RunL();
    }
}

void CActiveScheduler::cancel(CActive& object) {
    object.DoCancel();
    bool consumed_wake = false;
    for (;;) {
        {
            std::lock_guard guard(m_state->lock);
            auto found = std::find(m_state->ready.begin(), m_state->ready.end(), &object);
            if (found != m_state->ready.end()) {
                m_state->ready.erase(found);
                object.m_active.store(false, std::memory_order_release);
                interlocked_decrement(m_state->active_counter);
                break;
            }
        }
        platform::Message message;
        if (!platform::get_message(message, m_state->window, wake_message, wake_message)) {
            // The quit belongs to the main loop: put it back.
            platform::post_quit_message(int(message.wparam));
            break;
        }
        consumed_wake = true;
    }
    if (consumed_wake)
        platform::post_message(m_state->window, wake_message, 0, 0);
}

void CActiveScheduler::add_timer(TimerActive& timer) {
    m_state->timers.push_back(&timer);
    check_timers();
}

void CActiveScheduler::check_timers() {
    platform::kill_timer(m_state->window, window_timer_id);
    uint32_t now = platform::tick_count();
    int32_t nearest = INT32_MAX;
    // On the real clock, timers due within a few milliseconds of one that is due now run with
    // it: timers of different periods fall into step and wake the thread together.
    int32_t early = 1;
    if (!platform::fake_clock_in_use())
        for (const TimerActive* timer : m_state->timers)
            if (int32_t(timer->due() - now) < 1)
                early = coalesce_ms;
    for (auto it = m_state->timers.begin(); it != m_state->timers.end();) {
        TimerActive* timer = *it;
        int32_t remaining = int32_t(timer->due() - now);
        if (remaining < early) {
            it = m_state->timers.erase(it);
            notify(*timer);
        } else {
            nearest = std::min(nearest, remaining);
            ++it;
        }
    }
    if (nearest != INT32_MAX)
        platform::set_timer(m_state->window, window_timer_id,
                            uint32_t(std::min(nearest, longest_aim_ms)));
}

int32_t CActiveScheduler::active_count() const {
    return m_state->active_counter.load();
}

uint32_t CActiveScheduler::window() const {
    return m_state->window;
}

const std::u16string& CActiveScheduler::window_name() const {
    return m_state->window_name;
}

} // namespace foundation
