#pragma once

// The cooperative scheduler of active objects. It has no loop of its own: completions are queued
// first-in first-out and signalled by a message (WM_USER + 5) posted to its hidden window, so the
// ordinary message loop of the thread that built it (the UI thread) runs them. All Timers share
// one window timer (id 1) aimed at the nearest due time.
// One scheduler per process; the application object owns it.

#include "foundation/active.h"

#include <cstdint>
#include <memory>
#include <string>

namespace foundation {

class TimerActive;

class CActiveScheduler {
public:
    static constexpr uint32_t wake_message = 0x0400 + 5;
    static constexpr uint32_t window_timer_id = 1;

    // Builds the hidden window on the calling thread. A second live scheduler is fatal.
    // `class_name` is the application's window class name; it only names the scheduler's window.
    explicit CActiveScheduler(const std::u16string& class_name = u"");
    // Fatal when active objects are still armed.
    virtual ~CActiveScheduler();
    CActiveScheduler(const CActiveScheduler&) = delete;
    CActiveScheduler& operator=(const CActiveScheduler&) = delete;

    // The process's scheduler, or null. Any thread.
    static CActiveScheduler* instance();

    void set_active(CActive& object);
    // Any thread.
    void notify(CActive& object);
    void cancel(CActive& object);
    // Runs the ready queue until it is empty (objects notified meanwhile included).
    void process_actives();

    // Timers (UI thread): add an armed timer object and re-aim the window timer.
    void add_timer(TimerActive& timer);
    // Notifies every timer that is due and aims the window timer at the nearest remaining one.
    void check_timers();

    int32_t active_count() const;
    uint32_t window() const;
    const std::u16string& window_name() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace foundation
