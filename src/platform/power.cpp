#include "platform/power.h"

#include "platform/bus_connection.h"

#include <atomic>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kProgram[] = "Quillory Vozir";

constexpr int kReplyTimeoutMs = 2000;

// Asks logind for a blocking sleep and idle inhibitor; -1 when there is no logind.
int take_inhibitor(const std::string& why) {
    GDBusConnection* bus = open_system_bus(nullptr, nullptr);
    if (!bus)
        return -1;
    int fd = -1;
    GUnixFDList* fds = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
        "Inhibit", g_variant_new("(ssss)", "sleep:idle", kProgram, why.c_str(), "block"),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, kReplyTimeoutMs, nullptr, &fds, nullptr,
        nullptr);
    if (reply) {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        if (fds && index >= 0 && index < g_unix_fd_list_get_length(fds))
            fd = g_unix_fd_list_get(fds, index, nullptr);
        g_variant_unref(reply);
    }
    if (fds)
        g_object_unref(fds);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
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
