#include "foundation/threads.h"

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

} // namespace

TEST(Thread, StartThatCannotMakeAThreadReturnsFalse) {
    Counting thread;
    // Every new thread asks for a stack no system can give.
    pthread_attr_t saved, huge;
    pthread_getattr_default_np(&saved);
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t(1) << 46);
    const bool applied = pthread_setattr_default_np(&huge) == 0;
    pthread_attr_destroy(&huge);
    const bool started = applied && thread.start();
    const bool running = thread.running();
    thread.join();
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&saved);
    if (!applied)
        GTEST_SKIP() << "the default thread attributes cannot be changed here";
    EXPECT_FALSE(started);
    EXPECT_FALSE(running);
    EXPECT_EQ(thread.runs.load(), 0);
    // Once threads can be made again, the same object starts.
    ASSERT_TRUE(thread.start());
    thread.join();
    EXPECT_EQ(thread.runs.load(), 1);
}
