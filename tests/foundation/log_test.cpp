#include "foundation_fixture.h"

#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace foundation;

TEST_F(FoundationTest, FatalErrorEndsWithCodeZeroAndIsLoggedOnlyWithTheLogOn) {
    set_logging(false);
    log() << "nothing " << 1 << "\n";
    EXPECT_EXIT(fatal_error(u"place", u"message"), ::testing::ExitedWithCode(0), "Gluck");
    EXPECT_FALSE(std::ifstream(log_path()).good());
    set_logging(true);
    EXPECT_EXIT(fatal_error(u"Singleton::Singleton()", u"Singleton is already instantiated"),
                ::testing::ExitedWithCode(0),
                "Gluck: Singleton is already instantiated @ Singleton::Singleton\\(\\)");
    EXPECT_EQ(log_text(), "Gluck: Singleton is already instantiated @ Singleton::Singleton()\n");
}

TEST_F(FoundationTest, LogWritesUtf16WithByteOrderMarkAndNoHoleAfterATruncation) {
    set_logging(true);
    log() << "Thread::resume() result=" << -5 << " " << true << " " << false << " " << 2.5 << " "
          << u"\u00e9t\u00e9" << std::u16string(u" x") << "\n";
    EXPECT_EQ(log_bytes().substr(0, 4), std::string("\xFF\xFET\0", 4));
    EXPECT_EQ(log_text(), "Thread::resume() result=-5 true false 2.500000 \u00e9t\u00e9 x\n");
    // A second start empties the shared log while the first instance keeps writing to it.
    log() << "running instance, a long first line\n";
    std::filesystem::resize_file(log_path(), 0);
    log() << "after\n";
    EXPECT_EQ(log_bytes().size(), std::u16string(u"after\n").size() * 2);
}

TEST_F(FoundationTest, SwitchChangedByAnotherProcessTakesEffectAtOnce) {
    set_logging(false);
    log() << "before\n";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(write_dword(u"HKEY_CURRENT_USER\\Software\\Corvane", u"Log", 1) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    log() << "after\n";
    EXPECT_EQ(log_text(), "after\n");
}

TEST_F(FoundationTest, ThreadsLoggingWhileTheSwitchFlipsWriteWholeLines) {
    set_logging(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 300; ++i)
                log() << "line\n";
        });
    for (int i = 0; i < 5; ++i) {
        set_logging(i % 2 == 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    set_logging(true);
    for (auto& thread : threads)
        thread.join();
    log() << "end\n";
    const std::string text = log_text();
    // Whatever was written after the last truncation is whole lines.
    EXPECT_TRUE(text.ends_with("end\n"));
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line == "line" || line == "end") << line;
}

TEST_F(FoundationTest, DeferredStartAppendsUntilItIsTheInstanceThatRuns) {
    // What the running instance wrote is there before this process starts.
    {
        std::ofstream file(log_path(), std::ios::binary);
        const char16_t earlier[] = u"\uFEFFrunning instance\n";
        for (size_t i = 0; i + 1 < sizeof earlier / 2; ++i)
            file.put(char(earlier[i] & 0xFF)).put(char(earlier[i] >> 8));
    }
    set_logging(true);
    defer_log_start();
    log() << "second start\n";
    EXPECT_EQ(log_text(), "running instance\nsecond start\n") << "appended, not emptied";
    start_log_anew();
    EXPECT_EQ(log_text(), "second start\n") << "the instance that runs starts the log anew";
    EXPECT_EQ(log_bytes().substr(0, 2), "\xFF\xFE");
    log() << "after\n";
    EXPECT_EQ(log_text(), "second start\nafter\n");
    // Switching off and on empties the file again, as without the deferral.
    set_logging(false);
    log() << "lost\n";
    set_logging(true);
    log() << "again\n";
    EXPECT_EQ(log_text(), "again\n");
}
