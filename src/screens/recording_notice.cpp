#include "screens/recording_notice.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "screens/screen_formats.h"

namespace screens {

namespace {
const std::u16string program_name = u"Quillory Vozir";
} // namespace

RecordingNotice::RecordingNotice(controller::Document& document, skin::Properties& texts,
                                 Hooks hooks)
    : m_document(document), m_texts(texts), m_hooks(std::move(hooks)) {
    m_document.add_listener(this);
    if (m_document.is_recording())
        arm();
}

RecordingNotice::~RecordingNotice() {
    m_document.remove_listener(this);
    m_timer.cancel();
}

void RecordingNotice::arm() {
    if (m_hooks.notifier && !m_timer.is_active())
        m_timer.after(watch_interval);
}

void RecordingNotice::on_document_event(controller::DocumentEvent event, int) {
    using Code = controller::DocumentEvent;
    switch (event) {
    case Code::RecordingStarted:
    case Code::AppendStarted:
        m_dismissed = false;
        m_closed_by_server = false;
        arm();
        check();
        break;
    case Code::PauseChanged:
        // The new state at once, not at the next refresh.
        m_since_refresh = refresh_interval;
        check();
        break;
    case Code::Stopped:
    case Code::StorageFailed:
    case Code::WritingFailed:
    case Code::BufferLimit:
    case Code::SoundDeviceLost:
        check();
        break;
    default:
        break;
    }
}

platform::NotificationContent RecordingNotice::make_content() const {
    const bool paused = m_document.is_paused();
    platform::NotificationContent content;
    content.app_name = foundation::to_utf8(m_texts.text(u"skin_ProgramName", program_name));
    content.summary = foundation::to_utf8(paused ? m_texts.text(u"skin_Paused", u"Paused")
                                                 : m_texts.text(u"skin_Recording", u"Recording"));
    std::u16string body = format_time(m_document.recorded_seconds());
    if (!m_document.current().artist.empty())
        body += u" \u2014 " + m_document.current().artist;
    content.body = foundation::to_utf8(body);
    if (paused)
        content.actions.emplace_back("resume",
                                     foundation::to_utf8(m_texts.text(u"skin_Resume", u"Resume")));
    else
        content.actions.emplace_back("pause",
                                     foundation::to_utf8(m_texts.text(u"skin_Pause", u"Pause")));
    content.actions.emplace_back("stop", foundation::to_utf8(m_texts.text(u"skin_Stop", u"Stop")));
    return content;
}

void RecordingNotice::check() {
    const bool background = m_hooks.in_background && m_hooks.in_background();
    // Nobody sees the level meter of a window in the background: capture may wake less often.
    if (m_document.is_recording())
        m_document.set_capture_lively(!background);
    if (!background) {
        m_dismissed = false;
        m_closed_by_server = false;
    }
    const bool wanted = m_hooks.notifier && !m_unavailable && !m_dismissed &&
                        m_document.is_recording() && background;
    if (!wanted) {
        hide();
        return;
    }
    if (!m_notifier) {
        m_notifier = m_hooks.notifier(*this);
        if (!m_notifier) {
            m_unavailable = true;
            return;
        }
    }
    // Shown: refreshed every few seconds. Closed by the server: shown anew after as long, so a
    // server that closes at once is not asked again and again.
    if ((m_showing || m_closed_by_server) && m_since_refresh < refresh_interval)
        return;
    m_closed_by_server = false;
    platform::NotificationContent content = make_content();
    m_since_refresh = 0.0;
    if (m_showing && content.summary == m_content.summary && content.body == m_content.body &&
        content.actions == m_content.actions)
        return;
    m_content = std::move(content);
    m_showing = true;
    m_notifier->show(m_content);
}

void RecordingNotice::hide() {
    if (!m_showing)
        return;
    m_showing = false;
    if (m_notifier)
        m_notifier->close();
}

void RecordingNotice::on_timer(foundation::Timer&) {
    m_since_refresh += watch_interval;
    if (m_notifier)
        m_notifier->dispatch();
    check();
    // Watching goes on while a recording runs or the bus still has something to say.
    if (m_document.is_recording() || (m_notifier && m_notifier->busy()))
        m_timer.after(watch_interval);
}

void RecordingNotice::notification_action(const std::string& key) {
    foundation::log() << "RecordingNotice action " << std::string_view(key) << "\n";
    if (!m_document.is_recording())
        return;
    if (key == "pause" || key == "resume") {
        if (m_hooks.pause)
            m_hooks.pause(key == "pause");
    } else if (key == "stop") {
        if (m_hooks.stop)
            m_hooks.stop();
    }
}

void RecordingNotice::notification_closed(uint32_t reason) {
    if (!m_showing)
        return;
    m_showing = false;
    // Dismissed by the user: not again until the window has been forward. Gone otherwise
    // (expired, the server's own reasons): shown anew at the next look.
    if (reason == 2)
        m_dismissed = true;
    m_closed_by_server = true;
    m_since_refresh = 0.0;
}

void RecordingNotice::notifications_unavailable(const std::string& reason) {
    m_unavailable = true;
    m_showing = false;
    foundation::log() << "RecordingNotice: no notifications (" << std::string_view(reason) << ")\n";
}

} // namespace screens
