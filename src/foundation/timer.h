#pragma once

// One-shot timers run on the UI thread by the CActiveScheduler. Delays are in seconds.

#include "foundation/active.h"

#include <cstdint>
#include <memory>

namespace foundation {

class Timer;

class TimerListener {
public:
    virtual ~TimerListener() = default;
    virtual void on_timer(Timer& timer) = 0;
};

// The active object behind a Timer; kept by the scheduler's timer list while armed.
class TimerActive final : public CActive {
public:
    explicit TimerActive(Timer& owner) : m_owner(owner) {}
    ~TimerActive() override = default;

    uint32_t due() const { return m_due; }
    void set_due(uint32_t ticks) { m_due = ticks; }

protected:
    void RunL() override;
    void DoCancel() override;

private:
    Timer& m_owner;
    uint32_t m_due{0};
};

class Timer {
public:
    explicit Timer(TimerListener& listener);
    explicit Timer(TimerListener* listener);
    virtual ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Arms the timer for `seconds` from now (rounded to milliseconds), replacing an earlier due
    // time. A delay of 0 or less completes at once; on_timer still runs later, from the loop,
    // never inside after().
    void after(double seconds);
    void cancel();
    [[nodiscard]] bool is_active() const;

private:
    friend class TimerActive;
    std::unique_ptr<TimerActive> m_active;
    TimerListener* m_listener;
};

} // namespace foundation
