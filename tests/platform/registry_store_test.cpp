#include "platform/command_line.h"
#include "platform/registry_notifications.h"
#include "platform/registry_store.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class RegistryStoreTest : public ::testing::Test {
protected:
    RegistryStoreTest() : m_env("QUILLORY_CONFIG_DIR", m_dir.path().string()) { registry_close(); }
    ~RegistryStoreTest() override { registry_close(); }

    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_env;
};

// Reads the text file written by a launched command, waiting for it to appear.
std::string wait_for_file(const fs::path& path, int seconds) {
    for (int i = 0; i < seconds * 50; ++i) {
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!text.empty())
            return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

} // namespace

TEST_F(RegistryStoreTest, ValuesKeepTheirTypesAndNamesIgnoreCase) {
    ASSERT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, "Software\\Corvane", "Log", 7));
    ASSERT_TRUE(registry_write_string(RegistryRoot::CurrentUser, "Software\\Corvane", "Path", "x"));
    uint32_t number = 0;
    std::string text = "default";
    EXPECT_TRUE(
        registry_read_dword(RegistryRoot::CurrentUser, "software\\CORVANE\\", "log", number));
    EXPECT_EQ(number, 7u);
    // A value of another type reads as absent and leaves the output alone.
    EXPECT_FALSE(registry_read_string(RegistryRoot::CurrentUser, "Software\\Corvane", "Log", text));
    EXPECT_EQ(text, "default");
    number = 99;
    EXPECT_FALSE(
        registry_read_dword(RegistryRoot::CurrentUser, "Software\\Corvane", "Path", number));
    EXPECT_EQ(number, 99u);
    // Roots are separate.
    EXPECT_FALSE(
        registry_read_dword(RegistryRoot::LocalMachine, "Software\\Corvane", "Log", number));
    EXPECT_FALSE(registry_read_dword(RegistryRoot::None, "Software\\Corvane", "Log", number));
    ASSERT_TRUE(
        registry_write_string(RegistryRoot::CurrentUser, "K", "z", std::string("ab\0cd", 5)));
    EXPECT_TRUE(registry_read_string(RegistryRoot::CurrentUser, "K", "z", text));
    EXPECT_EQ(text, "ab");
    // Overwriting with another type replaces the value.
    ASSERT_TRUE(registry_write_string(RegistryRoot::CurrentUser, "Software\\Corvane", "Log", ""));
    EXPECT_TRUE(registry_read_string(RegistryRoot::CurrentUser, "Software\\Corvane", "Log", text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(
        registry_read_dword(RegistryRoot::CurrentUser, "Software\\Corvane", "Log", number));
}

TEST_F(RegistryStoreTest, ReadsCreateKeysAndSubkeysListDirectChildren) {
    uint32_t number = 5;
    EXPECT_FALSE(registry_key_exists(RegistryRoot::CurrentUser, "A\\B\\C"));
    EXPECT_FALSE(registry_read_dword(RegistryRoot::CurrentUser, "A\\B\\C", "missing", number));
    EXPECT_EQ(number, 5u);
    EXPECT_TRUE(registry_key_exists(RegistryRoot::CurrentUser, "A\\B\\C"));
    EXPECT_TRUE(registry_key_exists(RegistryRoot::CurrentUser, "a\\b"));
    ASSERT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, "A\\Zeta", "v", 1));
    ASSERT_TRUE(registry_create_key(RegistryRoot::CurrentUser, "A\\alpha"));
    EXPECT_EQ(registry_subkeys(RegistryRoot::CurrentUser, "A"),
              (std::vector<std::string>{"alpha", "B", "Zeta"}));
    EXPECT_TRUE(registry_subkeys(RegistryRoot::CurrentUser, "Nowhere").empty());
    EXPECT_FALSE(registry_key_exists(RegistryRoot::CurrentUser, "Nowhere"));
}

TEST_F(RegistryStoreTest, DeleteReportsWhetherTheValueExisted) {
    ASSERT_TRUE(registry_write_dword(RegistryRoot::LocalMachine, "K", "v", 1));
    EXPECT_TRUE(registry_delete_value(RegistryRoot::LocalMachine, "K", "v"));
    EXPECT_FALSE(registry_delete_value(RegistryRoot::LocalMachine, "K", "v"));
    uint32_t number = 0;
    EXPECT_FALSE(registry_read_dword(RegistryRoot::LocalMachine, "K", "v", number));
    auto values = registry_values(RegistryRoot::LocalMachine, "K");
    EXPECT_TRUE(values.empty());
}

TEST_F(RegistryStoreTest, StampChangesWithWritesFromThisAndOtherProcesses) {
    RegistryStamp first = registry_stamp();
    EXPECT_EQ(first, registry_stamp());
    ASSERT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, "K", "v", 1));
    RegistryStamp second = registry_stamp();
    EXPECT_NE(first, second);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = registry_write_dword(RegistryRoot::CurrentUser, "K", "v", 2);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(second, registry_stamp());
    uint32_t number = 0;
    EXPECT_TRUE(registry_read_dword(RegistryRoot::CurrentUser, "K", "v", number));
    EXPECT_EQ(number, 2u);
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceBothSucceed) {
    testing_support::Watchdog watchdog(120, "two writers");
    ASSERT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, "Shared", "start", 1));
    const int count = 150;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        for (int i = 0; i < count; ++i)
            failures += !registry_write_dword(RegistryRoot::CurrentUser, "Shared\\Child",
                                              "v" + std::to_string(i), uint32_t(i));
        _exit(failures == 0 ? 0 : 1);
    }
    int failures = 0;
    for (int i = 0; i < count; ++i)
        failures += !registry_write_string(RegistryRoot::CurrentUser, "Shared\\Parent",
                                           "v" + std::to_string(i), std::to_string(i));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(registry_values(RegistryRoot::CurrentUser, "Shared\\Child").size(), size_t(count));
    EXPECT_EQ(registry_values(RegistryRoot::CurrentUser, "Shared\\Parent").size(), size_t(count));
    uint32_t number = 0;
    EXPECT_TRUE(registry_read_dword(RegistryRoot::CurrentUser, "Shared\\Child", "v149", number));
    EXPECT_EQ(number, 149u);
}

TEST_F(RegistryStoreTest, KilledWriterLosesNoCommittedValue) {
    testing_support::Watchdog watchdog(120, "killed writer");
    ASSERT_TRUE(registry_create_key(RegistryRoot::CurrentUser, "Kill"));
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipe_fds[0]);
        for (uint32_t i = 0;; ++i) {
            if (!registry_write_dword(RegistryRoot::CurrentUser, "Kill", "v" + std::to_string(i),
                                      i))
                _exit(1);
            if (write(pipe_fds[1], &i, sizeof i) != sizeof i)
                _exit(1);
        }
    }
    close(pipe_fds[1]);
    uint32_t last = 0;
    for (int received = 0; received < 40;) {
        ssize_t got = read(pipe_fds[0], &last, sizeof last);
        ASSERT_EQ(got, ssize_t(sizeof last));
        ++received;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    // Drain what the child reported before it died.
    uint32_t value;
    while (read(pipe_fds[0], &value, sizeof value) == ssize_t(sizeof value))
        last = value;
    close(pipe_fds[0]);
    registry_close();
    for (uint32_t i = 0; i <= last; ++i) {
        uint32_t number = 0xFFFFFFFF;
        ASSERT_TRUE(
            registry_read_dword(RegistryRoot::CurrentUser, "Kill", "v" + std::to_string(i), number))
            << i;
        EXPECT_EQ(number, i);
    }
    // The store remains writable.
    EXPECT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, "Kill", "after", 1));
}

TEST_F(RegistryStoreTest, DamagedDatabaseIsSetAsideAndReplaced) {
    struct Case {
        const char* name;
        std::string content;
        int age_seconds;
        bool set_aside;
    } cases[] = {
        {"not a database",
         [] {
             std::string text;
             for (int i = 0; i < 512; ++i)
                 text += "this is not a database ";
             return text;
         }(),
         0, true},
        // Cut short by a crash of the file system: not an empty store to start afresh in.
        {"empty since long ago", "", 3600, true},
        // Another process has only just created it.
        {"empty and new", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        registry_close();
        for (const auto& entry : fs::directory_iterator(m_dir.path()))
            fs::remove_all(entry.path());
        const fs::path database = registry_database_path();
        std::ofstream(database, std::ios::binary) << c.content;
        fs::last_write_time(database,
                            fs::file_time_type::clock::now() - std::chrono::seconds(c.age_seconds));
        registry_take_diagnostics();
        registry_take_set_aside();
        uint32_t number = 3;
        EXPECT_FALSE(registry_read_dword(RegistryRoot::CurrentUser, "K", "v", number));
        EXPECT_EQ(number, 3u);
        EXPECT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, "K", "v", 4));
        EXPECT_TRUE(registry_read_dword(RegistryRoot::CurrentUser, "K", "v", number));
        EXPECT_EQ(number, 4u);
        int aside = 0;
        for (const auto& entry : fs::directory_iterator(m_dir.path())) {
            if (entry.path().filename().string().find("registry.sqlite.corrupt-") == 0 &&
                entry.path().extension() != ".sqlite-wal") {
                std::ifstream in(entry.path(), std::ios::binary);
                std::string kept((std::istreambuf_iterator<char>(in)), {});
                aside += kept == c.content;
            }
        }
        EXPECT_EQ(aside, c.set_aside ? 1 : 0);
        // Said once for the screens, and in the diagnostics (standard error and the log).
        EXPECT_EQ(registry_take_set_aside(), c.set_aside);
        EXPECT_FALSE(registry_take_set_aside());
        auto messages = registry_take_diagnostics();
        if (c.set_aside) {
            ASSERT_FALSE(messages.empty());
            EXPECT_NE(messages.back().find("set aside"), std::string::npos);
        } else {
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST_F(RegistryStoreTest, UnusableFolderFailsWithoutCrashing) {
    testing_support::ScopedEnv env("QUILLORY_CONFIG_DIR", "/proc/no-such-place/quillory");
    registry_close();
    uint32_t number = 8;
    EXPECT_FALSE(registry_write_dword(RegistryRoot::CurrentUser, "K", "v", 1));
    EXPECT_FALSE(registry_read_dword(RegistryRoot::CurrentUser, "K", "v", number));
    EXPECT_EQ(number, 8u);
    registry_close();
}

TEST_F(RegistryStoreTest, NotificationLaunchesWhenItsConditionBecomesTrue) {
    testing_support::Watchdog watchdog(60, "notification");
    fs::path out = m_dir / "fired.txt";
    RegistryNotification n;
    n.name = "Quillory Vozir.Call";
    n.root = RegistryRoot::LocalMachine;
    n.key = "System\\State\\Phone";
    n.value_name = "Status";
    n.command = "/bin/sh -c \"echo fired >> '" + out.string() + "'\"";
    n.flags = RNAF_NONAMEONCMDLINE;
    n.condition = RegistryCondition::Equal;
    n.mask = 0x20000000;
    n.target = 0x20000000;
    ASSERT_EQ(registry_notify_app(n), uint32_t(REG_NOTIFY_OK));
    EXPECT_EQ(registry_notify_app(n), uint32_t(REG_NOTIFY_ALREADY_EXISTS));
    ASSERT_EQ(registry_notifications().size(), 1u);
    EXPECT_EQ(registry_notifications()[0].command, n.command);

    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x1));        // condition false
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Other", 0x20000000));  // another value
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x20000001)); // becomes true
    EXPECT_EQ(wait_for_file(out, 10), "fired\n");
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x20000003)); // stays true
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0));          // false again
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        std::ifstream in(out);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "fired\n");
    }
    EXPECT_EQ(registry_stop_notification(n.name), uint32_t(REG_NOTIFY_OK));
    EXPECT_EQ(registry_stop_notification(n.name), uint32_t(REG_NOTIFY_NOT_FOUND));
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x20000000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "fired\n");
}

TEST(CommandLineSplit, QuotesGroupAndBlanksSeparate) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(split_command_line("\"/opt/my app/quillory\" call"),
              (Words{"/opt/my app/quillory", "call"}));
    EXPECT_EQ(split_command_line("  a   \"\"  b "), (Words{"a", "", "b"}));
    EXPECT_EQ(split_command_line("   "), Words{});
    EXPECT_EQ(split_command_line(R"(a"b \"c\" \$\x"d \e)"), (Words{R"(ab "c" $\xd)", R"(\e)"}));
    EXPECT_EQ(split_command_line("a \"b"), std::nullopt);
    const std::string hostile = "x \"y\" $HOME \\z\t`w`";
    EXPECT_EQ(split_command_line(quote_command_word(hostile) + " next"), (Words{hostile, "next"}));
}

// Run only as a child of TwoProgramsWritingAtOnceBothSucceed: writes QV_WRITER_COUNT values
// under QV_WRITER_KEY.
TEST(RegistryStoreHelper, DISABLED_Writer) {
    const char* key = std::getenv("QV_WRITER_KEY");
    const char* count = std::getenv("QV_WRITER_COUNT");
    ASSERT_TRUE(key && count);
    for (int i = 0; i < std::atoi(count); ++i)
        ASSERT_TRUE(registry_write_dword(RegistryRoot::CurrentUser, key, "v" + std::to_string(i),
                                         uint32_t(i)));
}

TEST_F(RegistryStoreTest, TwoProgramsWritingAtOnceBothSucceed) {
    testing_support::Watchdog watchdog(120, "two programs");
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<pid_t> children;
    for (const char* key : {"Programs\\One", "Programs\\Two"}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("QV_WRITER_KEY", key, 1);
            setenv("QV_WRITER_COUNT", "100", 1);
            execl(self.c_str(), self.c_str(), "--gtest_also_run_disabled_tests",
                  "--gtest_filter=RegistryStoreHelper.DISABLED_Writer", "--gtest_brief=1",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(registry_values(RegistryRoot::CurrentUser, "Programs\\One").size(), 100u);
    EXPECT_EQ(registry_values(RegistryRoot::CurrentUser, "Programs\\Two").size(), 100u);
    EXPECT_EQ(registry_subkeys(RegistryRoot::CurrentUser, "Programs"),
              (std::vector<std::string>{"One", "Two"}));
}
