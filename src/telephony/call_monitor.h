#pragma once

// Watches the phone state for as long as it lives and tells its listener when a call begins and
// ends: it looks 0.1 s after it is made and then after every write to the registry store, where
// the provider keeps the state (every 0.1 s when the store cannot be watched). Also adds and
// removes the start-on-call notification, which makes the system start the program with a command
// line when the active-call bit of the phone's "Status" is set. UI thread only; a CActiveScheduler
// must exist.

#include "foundation/timer.h"
#include "telephony/phone_state.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {
class RegistryWatch;
}

namespace telephony {

class CallListener {
public:
    virtual ~CallListener() = default;
    // direction: Incoming, Outgoing, or Unknown for a call without telephony details.
    virtual void on_call_start(const std::u16string& name, const std::u16string& number,
                               CallDirection direction) = 0;
    virtual void on_call_stop() = 0;
};

class CallMonitorImpl final : public foundation::TimerListener {
public:
    explicit CallMonitorImpl(CallListener* observer);
    ~CallMonitorImpl() override;

    void set_observer(CallListener* observer) { m_observer = observer; }
    // The state seen at the last poll.
    [[nodiscard]] bool in_call() const { return m_in_call; }
    // The phone-state query, asked now.
    CallInfo current_call() const { return query_phone_state(); }

    void on_timer(foundation::Timer& timer) override;
    // Runs after every look at the phone state, for other values kept beside it.
    void set_after_look(std::function<void()> after) { m_after_look = std::move(after); }

private:
    void look();

    CallListener* m_observer;
    bool m_in_call{false};
    foundation::Timer m_timer;
    std::unique_ptr<platform::RegistryWatch> m_watch;
    std::function<void()> m_after_look;
};

// True when the notification was set up (or one of that name already exists).
[[nodiscard]] bool set_app_notification(const std::u16string& name, const std::u16string& command);
// True once the system's notification service was reached.
[[nodiscard]] bool stop_app_notification(const std::u16string& name);

} // namespace telephony
