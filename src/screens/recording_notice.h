#pragma once

// The desktop notification of a running recording while the window is minimised or in the
// background: the elapsed time (refreshed every few seconds in the same notification), with the
// actions Pause or Resume, and Stop, which do what the recording form's buttons do. It goes
// away when the recording stops or the window comes forward; a notification the user dismissed
// stays away until the window has been forward again. Without a notification service the first
// attempt is logged and nothing more is tried. User-interface thread only.

#include "controller/document.h"
#include "foundation/timer.h"
#include "platform/desktop_bus.h"
#include "skin/properties.h"

#include <functional>
#include <memory>
#include <string>

namespace screens {

class RecordingNotice final : public controller::DocumentListener,
                              public platform::NotificationListener,
                              private foundation::TimerListener {
public:
    using NotifierMaker =
        std::function<std::unique_ptr<platform::Notifier>(platform::NotificationListener&)>;
    struct Hooks {
        NotifierMaker notifier;              // none: no notifications at all
        std::function<bool()> in_background; // the window is minimised or not in front
        std::function<void(bool on)> pause;  // the recording form's pause and resume
        std::function<void()> stop;          // the recording form's stop
    };

    // Refresh of the elapsed time, and how often the window's state is looked at while a
    // recording runs: a multiple of the recording form's update and the same as the Document's
    // check, so that the scheduler runs all three in one wake-up of the interface thread.
    static constexpr double refresh_interval = 3.0;
    static constexpr double watch_interval = 0.2;

    RecordingNotice(controller::Document& document, skin::Properties& texts, Hooks hooks);
    ~RecordingNotice() override;
    RecordingNotice(const RecordingNotice&) = delete;
    RecordingNotice& operator=(const RecordingNotice&) = delete;

    void on_document_event(controller::DocumentEvent event, int argument) override;
    void notification_action(const std::string& key) override;
    void notification_closed(uint32_t reason) override;
    void notifications_unavailable(const std::string& reason) override;

    // Whether the notification is wanted on screen now, and what it says.
    bool showing() const { return m_showing; }
    const platform::NotificationContent& content() const { return m_content; }
    // Looks at the recording and the window now (the timer does it every watch_interval).
    void check();

private:
    void on_timer(foundation::Timer& timer) override;
    platform::NotificationContent make_content() const;
    void hide();
    void arm();

    controller::Document& m_document;
    skin::Properties& m_texts;
    Hooks m_hooks;
    std::unique_ptr<platform::Notifier> m_notifier;
    platform::NotificationContent m_content;
    foundation::Timer m_timer{*this};
    double m_since_refresh{0.0};
    bool m_showing{false};
    bool m_dismissed{false};
    bool m_closed_by_server{false};
    bool m_unavailable{false};
};

} // namespace screens
