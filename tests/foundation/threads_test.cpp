#include "foundation/threads.h"
#include "support/no_threads.h"

#include <gtest/gtest.h>

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
    testing_support::NoNewThreads no_threads;
    const bool started = no_threads.applied() && thread.start();
    const bool running = thread.running();
    thread.join();
    no_threads.lift();
    if (!no_threads.applied())
        GTEST_SKIP() << "the default thread attributes cannot be changed here";
    EXPECT_FALSE(started);
    EXPECT_FALSE(running);
    EXPECT_EQ(thread.runs.load(), 0);
    // Once threads can be made again, the same object starts.
    ASSERT_TRUE(thread.start());
    thread.join();
    EXPECT_EQ(thread.runs.load(), 1);
}
