#pragma once

// While one lives, every new thread asks for a stack no system can give, so no thread can be
// made; `applied()` is false where the default thread attributes cannot be changed.

#include <cstddef>
#include <pthread.h>

namespace testing_support {

class NoNewThreads {
public:
    NoNewThreads() {
        pthread_getattr_default_np(&m_saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, size_t(1) << 46);
        m_applied = pthread_setattr_default_np(&huge) == 0;
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads() { lift(); }
    NoNewThreads(const NoNewThreads&) = delete;
    NoNewThreads& operator=(const NoNewThreads&) = delete;

    bool applied() const { return m_applied; }
    // Threads can be made again from here on.
    void lift() {
        if (m_lifted)
            return;
        m_lifted = true;
        pthread_setattr_default_np(&m_saved);
        pthread_attr_destroy(&m_saved);
    }

private:
    pthread_attr_t m_saved;
    bool m_applied{false};
    bool m_lifted{false};
};

} // namespace testing_support
