#include "platform/power.h"

#include <chrono>
#include <condition_variable>
#include <dbus/dbus.h>
#include <memory>
#include <mutex>
#include <thread>
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

// Holds an inhibitor while resets keep coming, and lets it go 30 s after the last one.
class IdleKeeper {
public:
    ~IdleKeeper() {
        {
            std::lock_guard guard(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void reset() {
        std::lock_guard guard(m_mutex);
        m_due = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_changed.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (!m_inhibitor) {
                lock.unlock();
                auto inhibitor = std::make_unique<AwakeInhibitor>("Recording or playing");
                lock.lock();
                m_inhibitor = std::move(inhibitor);
            }
            m_changed.wait_until(lock, m_due);
            if (std::chrono::steady_clock::now() >= m_due) {
                m_inhibitor.reset();
                m_changed.wait(
                    lock, [this] { return m_stop || m_due > std::chrono::steady_clock::now(); });
            }
        }
        m_inhibitor.reset();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::chrono::steady_clock::time_point m_due;
    std::unique_ptr<AwakeInhibitor> m_inhibitor;
    bool m_stop{false};
    std::thread m_thread;
};

} // namespace

AwakeInhibitor::AwakeInhibitor(const std::string& why) : m_fd(take_inhibitor(why)) {}

AwakeInhibitor::~AwakeInhibitor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void system_idle_timer_reset() {
    static IdleKeeper keeper;
    keeper.reset();
}

} // namespace platform
