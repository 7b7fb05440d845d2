#include "platform/call_audio.h"

#include "platform/bus_connection.h"

#include <algorithm>
#include <gio/gio.h>
#include <utility>

namespace platform {

namespace {

constexpr char kName[] = "org.mobian_project.CallAudio";
constexpr char kPath[] = "/org/mobian_project/CallAudio";
constexpr char kInterface[] = "org.mobian_project.CallAudio";
constexpr int kReplyTimeoutMs = 3000;

} // namespace

// The helper thread's own connection, and what cancels a request when the object goes.
struct CallAudio::Bus {
    Bus() : cancel(g_cancellable_new()) {}
    ~Bus() {
        if (connection)
            g_object_unref(connection);
        g_object_unref(cancel);
    }
    GDBusConnection* connection{nullptr};
    GCancellable* cancel;
};

CallAudio::CallAudio() : m_bus(std::make_unique<Bus>()) {}

CallAudio::~CallAudio() {
    {
        std::lock_guard guard(m_mutex);
        m_stop = true;
    }
    g_cancellable_cancel(m_bus->cancel);
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CallAudio::set_speaker(bool on) {
    std::lock_guard guard(m_mutex);
    m_wanted = on;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_changed.notify_all();
}

CallAudio::Outcome CallAudio::last_outcome() const {
    std::lock_guard guard(m_mutex);
    return m_outcome;
}

unsigned CallAudio::completed() const {
    std::lock_guard guard(m_mutex);
    return m_completed;
}

bool CallAudio::pending() const {
    std::lock_guard guard(m_mutex);
    return m_sending || m_wanted.has_value();
}

std::vector<std::string> CallAudio::take_notices() {
    std::lock_guard guard(m_mutex);
    return std::exchange(m_notices, {});
}

// Under the lock.
void CallAudio::notice(const std::string& key, const std::string& text) {
    if (std::find(m_told.begin(), m_told.end(), key) != m_told.end())
        return;
    m_told.push_back(key);
    m_notices.push_back(text);
}

void CallAudio::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || m_wanted.has_value(); });
        if (m_stop)
            return;
        const bool on = *m_wanted;
        m_wanted.reset();
        m_sending = true;
        lock.unlock();

        Outcome outcome = Outcome::Unavailable;
        std::string key;
        std::string said;
        GError* error = nullptr;
        if (m_bus->connection && g_dbus_connection_is_closed(m_bus->connection))
            g_clear_object(&m_bus->connection);
        if (!m_bus->connection)
            m_bus->connection = open_session_bus(m_bus->cancel, &error);
        if (!m_bus->connection) {
            key = "bus";
            said = "no session bus";
            if (error)
                said += " (" + std::string(error->message).substr(0, 200) + ")";
            said += "; the speaker setting is kept as a preference";
        } else {
            GVariant* reply = g_dbus_connection_call_sync(
                m_bus->connection, kName, kPath, kInterface, "EnableSpeaker",
                g_variant_new("(b)", on), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
                kReplyTimeoutMs, m_bus->cancel, &error);
            if (reply) {
                gboolean success = FALSE;
                g_variant_get(reply, "(b)", &success);
                g_variant_unref(reply);
                outcome = success ? Outcome::Switched : Outcome::Refused;
                if (!success) {
                    key = "refused";
                    said = "callaudiod could not switch the speaker";
                }
            } else {
                key = "callaudiod";
                said = "callaudiod is not reachable (" +
                       std::string(error ? error->message : "no answer").substr(0, 200) +
                       "); the speaker setting is kept as a preference";
            }
        }
        if (error)
            g_error_free(error);

        lock.lock();
        if (outcome == Outcome::Switched)
            m_told.clear();
        else
            notice(key, said);
        m_outcome = outcome;
        ++m_completed;
        m_sending = false;
    }
}

} // namespace platform
