#pragma once

// Active objects: deferred work run by the CActiveScheduler on the user-interface thread.
// An object is armed with set_active(), completed with notify() (from any thread), and then run
// (RunL) from the message loop in the order of completion. Owners cancel() before deleting.

#include <atomic>
#include <cstdint>

namespace foundation {

class CActiveScheduler;

class CActive {
public:
    CActive();
    // Ends the process if the object is still active.
    virtual ~CActive();
    CActive(const CActive&) = delete;
    CActive& operator=(const CActive&) = delete;

    // Marks an outstanding request. UI thread only.
    void set_active();
    // Nothing when not active; otherwise DoCancel() and wait until the request has completed,
    // without RunL being called. UI thread only.
    void cancel();
    // Completes the outstanding request through the process's scheduler. Any thread.
    void notify();

    [[nodiscard]] bool is_active() const { return m_active.load(std::memory_order_acquire); }
    // A sequence number (from 1) used in diagnostic texts.
    uint32_t id() const { return m_id; }

protected:
    // Called by the scheduler on the UI thread; the object is inactive again when it runs, so it
    // may re-arm itself.
    virtual void RunL() = 0;
    // Must make the outstanding request complete: synchronously, or from another thread.
    virtual void DoCancel() = 0;

private:
    friend class CActiveScheduler;
    std::atomic<bool> m_active{false};
    uint32_t m_id;
};

} // namespace foundation
