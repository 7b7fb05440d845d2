#include "platform/power.h"

#include <atomic>
#include <dbus/dbus.h>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kProgram[] = "Quillory Vozir";

// Asks logind for a blocking sleep and idle inhibitor; -1 when there is no logind.
int take_inhibitor(const std::string& why) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
    if (!bus) {
        dbus_error_free(&error);
        return -1;
    }
    dbus_connection_set_exit_on_disconnect(bus, false);
    int fd = -1;
    DBusMessage* call =
        dbus_message_new_method_call("org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "Inhibit");
    if (call) {
        const char* what = "sleep:idle";
        const char* who = kProgram;
        const char* reason = why.c_str();
        const char* mode = "block";
        dbus_message_append_args(call, DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who,
                                 DBUS_TYPE_STRING, &reason, DBUS_TYPE_STRING, &mode,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, 2000, &error);
        if (reply) {
            int received = -1;
            if (dbus_message_get_args(reply, &error, DBUS_TYPE_UNIX_FD, &received,
                                      DBUS_TYPE_INVALID))
                fd = received;
            dbus_message_unref(reply);
        }
        dbus_message_unref(call);
    }
    dbus_error_free(&error);
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return fd;
}

std::atomic<InhibitorOpener> g_opener{nullptr};

int open_inhibitor(const std::string& why) {
    InhibitorOpener opener = g_opener.load();
    return opener ? opener(why) : take_inhibitor(why);
}

} // namespace

void set_inhibitor_opener(InhibitorOpener opener) {
    g_opener.store(opener);
}

AwakeInhibitor::AwakeInhibitor(const std::string& why) : m_fd(open_inhibitor(why)) {}

AwakeInhibitor::~AwakeInhibitor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

AwakeKeeper::AwakeKeeper(std::string why) : m_why(std::move(why)) {}

AwakeKeeper::~AwakeKeeper() {
    {
        std::lock_guard guard(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void AwakeKeeper::keep_awake() {
    std::lock_guard guard(m_mutex);
    if (m_wanted)
        return;
    m_wanted = true;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_changed.notify_all();
}

void AwakeKeeper::let_sleep() {
    std::lock_guard guard(m_mutex);
    if (!m_wanted)
        return;
    m_wanted = false;
    m_changed.notify_all();
}

bool AwakeKeeper::holding() const {
    std::lock_guard guard(m_mutex);
    return m_held;
}

void AwakeKeeper::run() {
    std::unique_ptr<AwakeInhibitor> inhibitor;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || m_wanted != (inhibitor != nullptr); });
        if (m_stop)
            break;
        lock.unlock();
        // The bus is asked without the lock, so the controller never waits for it.
        std::unique_ptr<AwakeInhibitor> changed;
        if (!inhibitor)
            changed = std::make_unique<AwakeInhibitor>(m_why);
        lock.lock();
        inhibitor = std::move(changed);
        m_held = inhibitor && inhibitor->active();
    }
    inhibitor.reset();
    m_held = false;
}

} // namespace platform
