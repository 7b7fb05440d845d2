#include "platform/thread_priority.h"

#include <algorithm>
#include <gio/gio.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {
int nice_for(int priority) {
    // 1 highest .. 5 lowest
    static const int table[] = {-10, -5, 0, 5, 10};
    if (priority < 1)
        priority = 1;
    if (priority > 5)
        priority = 5;
    return table[priority - 1];
}

std::mutex g_tids_mutex;
std::map<std::thread::native_handle_type, pid_t> g_tids;
} // namespace

bool set_current_thread_priority(int priority) {
    pid_t tid = pid_t(syscall(SYS_gettid));
    {
        std::lock_guard lock(g_tids_mutex);
        g_tids[pthread_self()] = tid;
    }
    int value = nice_for(priority);
    if (value == 0)
        return true;
    return setpriority(PRIO_PROCESS, id_t(tid), value) == 0;
}

bool set_thread_priority(std::thread::native_handle_type thread, int priority) {
    pid_t tid = 0;
    {
        std::lock_guard lock(g_tids_mutex);
        auto it = g_tids.find(thread);
        if (it == g_tids.end())
            return false;
        tid = it->second;
    }
    return setpriority(PRIO_PROCESS, id_t(tid), nice_for(priority)) == 0;
}

namespace {

// The real-time priority asked for: low among real-time threads (sound servers run at 20 and
// above), far above every normal one.
constexpr int kRealtimePriority = 10;

GVariant* realtime_kit_call(GDBusConnection* bus, const char* method, GVariant* arguments) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1",
        "org.freedesktop.RealtimeKit1", method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, 1000,
        nullptr, &error);
    if (error)
        g_error_free(error);
    return reply;
}

// A property of RealtimeKit, or `fallback` when it cannot be read.
int64_t realtime_kit_property(GDBusConnection* bus, const char* name, int64_t fallback) {
    GVariant* reply =
        realtime_kit_call(bus, "org.freedesktop.DBus.Properties.Get",
                          g_variant_new("(ss)", "org.freedesktop.RealtimeKit1", name));
    if (!reply)
        return fallback;
    GVariant* inner = nullptr;
    g_variant_get(reply, "(v)", &inner);
    int64_t value = fallback;
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32))
        value = g_variant_get_int32(inner);
    else if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT64))
        value = g_variant_get_int64(inner);
    g_variant_unref(inner);
    g_variant_unref(reply);
    return value;
}

// RealtimeKit hands out real-time scheduling only to processes that bound their real-time CPU
// time; failing that it may still raise the nice value. Empty when it did neither.
std::string through_realtime_kit(pid_t tid) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!bus) {
        if (error)
            g_error_free(error);
        return {};
    }
    std::string how;
    const int64_t max_rttime = realtime_kit_property(bus, "RTTimeUSecMax", 200000);
    rlimit limit{};
    if (max_rttime > 0 && getrlimit(RLIMIT_RTTIME, &limit) == 0) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t(max_rttime));
        limit.rlim_max = limit.rlim_cur;
        setrlimit(RLIMIT_RTTIME, &limit);
    }
    const int priority = int(std::min<int64_t>(
        kRealtimePriority, realtime_kit_property(bus, "MaxRealtimePriority", kRealtimePriority)));
    if (GVariant* reply = realtime_kit_call(
            bus, "MakeThreadRealtime", g_variant_new("(tu)", guint64(tid), guint32(priority)))) {
        g_variant_unref(reply);
        how = "realtime by RealtimeKit";
    } else {
        const int nice = int(realtime_kit_property(bus, "MinNiceLevel", -11));
        if (GVariant* reply = realtime_kit_call(bus, "MakeThreadHighPriority",
                                                g_variant_new("(ti)", guint64(tid), nice))) {
            g_variant_unref(reply);
            how = "nice " + std::to_string(nice) + " by RealtimeKit";
        }
    }
    g_object_unref(bus);
    return how;
}

} // namespace

std::string make_current_thread_realtime() {
    const pid_t tid = pid_t(syscall(SYS_gettid));
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    if (sched_setscheduler(tid, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0)
        return "realtime";
    std::string how = through_realtime_kit(tid);
    if (!how.empty())
        return how;
    // As far up as the nice limit allows (RLIMIT_NICE: 20 - limit is the lowest nice value);
    // sound servers stop at -11.
    rlimit limit{};
    int lowest = -11;
    if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        lowest = std::max(lowest, 20 - int(std::min<rlim_t>(limit.rlim_cur, 40)));
    for (int nice = lowest; nice < 0; ++nice)
        if (setpriority(PRIO_PROCESS, id_t(tid), nice) == 0)
            return "nice " + std::to_string(nice);
    return "normal";
}

void set_current_thread_name(const std::string& name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

} // namespace platform
