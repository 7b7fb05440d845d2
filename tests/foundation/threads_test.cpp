#include "foundation/threads.h"

#include <atomic>
#include <gtest/gtest.h>
#include <pthread.h>

using namespace foundation;

namespace {

class Counting : public Thread {
public:
    std::atomic<int> runs{0};

protected:
    void run() override { ++runs; }
};

// Makes every new thread ask for a stack no system can give, for the life of the object.
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
    ~NoNewThreads() {
        pthread_setattr_default_np(&m_saved);
        pthread_attr_destroy(&m_saved);
    }
    bool applied() const { return m_applied; }

private:
    pthread_attr_t m_saved;
    bool m_applied{false};
};

} // namespace

TEST(Thread, StartThatCannotMakeAThreadReturnsFalse) {
    Counting thread;
    {
        NoNewThreads limit;
        if (!limit.applied())
            GTEST_SKIP() << "the default thread attributes cannot be changed here";
        EXPECT_FALSE(thread.start());
        EXPECT_FALSE(thread.running());
        thread.join();
    }
    EXPECT_EQ(thread.runs.load(), 0);
    // Once threads can be made again, the same object starts.
    ASSERT_TRUE(thread.start());
    thread.join();
    EXPECT_EQ(thread.runs.load(), 1);
}
