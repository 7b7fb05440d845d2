#include "platform/thread_priority.h"

#include <map>
#include <mutex>
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

} // namespace platform
