#include "platform/command_line.h"
#include "platform/registry_notifications.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr RegistryRoot user = RegistryRoot::CurrentUser;

class RegistryStoreTest : public ::testing::Test {
protected:
    RegistryStoreTest() : m_env("QUILLORY_CONFIG_DIR", m_dir.path().string()) { registry_close(); }
    ~RegistryStoreTest() override { registry_close(); }

    TempDir m_dir;
    ScopedEnv m_env;
};

} // namespace

TEST_F(RegistryStoreTest, ValuesKeepTheirTypesAndNamesIgnoreCase) {
    const RegistryStamp stamp = registry_stamp();
    EXPECT_EQ(stamp, registry_stamp());
    ASSERT_TRUE(registry_write_dword(user, "Software\\Corvane", "Log", 7));
    EXPECT_NE(stamp, registry_stamp());
    ASSERT_TRUE(registry_write_string(user, "Software\\Corvane", "Path", "x"));
    uint32_t number = 0;
    std::string text = "default";
    EXPECT_TRUE(registry_read_dword(user, "software\\CORVANE\\", "log", number));
    EXPECT_EQ(number, 7u);
    // A value of another type reads as absent and leaves the output alone.
    EXPECT_FALSE(registry_read_string(user, "Software\\Corvane", "Log", text));
    EXPECT_EQ(text, "default");
    number = 99;
    EXPECT_FALSE(registry_read_dword(user, "Software\\Corvane", "Path", number));
    EXPECT_EQ(number, 99u);
    // Roots are separate.
    EXPECT_FALSE(
        registry_read_dword(RegistryRoot::LocalMachine, "Software\\Corvane", "Log", number));
    EXPECT_FALSE(registry_read_dword(RegistryRoot::None, "Software\\Corvane", "Log", number));
    ASSERT_TRUE(registry_write_string(user, "K", "z", std::string("ab\0cd", 5)));
    EXPECT_TRUE(registry_read_string(user, "K", "z", text));
    EXPECT_EQ(text, "ab");
    // Overwriting with another type replaces the value.
    ASSERT_TRUE(registry_write_string(user, "Software\\Corvane", "Log", ""));
    EXPECT_TRUE(registry_read_string(user, "Software\\Corvane", "Log", text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(registry_read_dword(user, "Software\\Corvane", "Log", number));
    EXPECT_TRUE(registry_delete_value(user, "Software\\Corvane", "Log"));
    EXPECT_FALSE(registry_delete_value(user, "Software\\Corvane", "Log"));
    EXPECT_EQ(registry_values(user, "Software\\Corvane").size(), 1u);
    // A folder that cannot be made fails without crashing.
    ScopedEnv unusable("QUILLORY_CONFIG_DIR", "/proc/no-such-place/quillory");
    registry_close();
    EXPECT_FALSE(registry_write_dword(user, "K", "v", 1));
    EXPECT_FALSE(registry_read_dword(user, "K", "v", number));
    EXPECT_EQ(number, 99u);
}

TEST_F(RegistryStoreTest, KilledWriterLosesNoCommittedValue) {
    Watchdog watchdog(120, "killed writer");
    ASSERT_TRUE(registry_create_key(user, "Kill"));
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipe_fds[0]);
        for (uint32_t i = 0;; ++i)
            if (!registry_write_dword(user, "Kill", "v" + std::to_string(i), i) ||
                write(pipe_fds[1], &i, sizeof i) != sizeof i)
                _exit(1);
    }
    close(pipe_fds[1]);
    uint32_t last = 0;
    for (int received = 0; received < 40; ++received)
        ASSERT_EQ(read(pipe_fds[0], &last, sizeof last), ssize_t(sizeof last));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    // Drain what the child reported before it died.
    for (uint32_t value; read(pipe_fds[0], &value, sizeof value) == ssize_t(sizeof value);)
        last = value;
    close(pipe_fds[0]);
    registry_close();
    for (uint32_t i = 0; i <= last; ++i) {
        uint32_t number = 0xFFFFFFFF;
        ASSERT_TRUE(registry_read_dword(user, "Kill", "v" + std::to_string(i), number)) << i;
        EXPECT_EQ(number, i);
    }
    EXPECT_TRUE(registry_write_dword(user, "Kill", "after", 1)) << "the store remains writable";
}

TEST_F(RegistryStoreTest, DamagedDatabaseIsSetAsideAndReplaced) {
    const struct {
        const char* name;
        std::string content;
        int age_seconds;
        bool set_aside;
    } cases[] = {
        {"not a database", std::string(12000, 'x'), 0, true},
        // Cut short by a crash of the file system: not an empty store to start afresh in.
        {"empty since long ago", "", 3600, true},
        // Another process has only just created it.
        {"empty and new", "", 0, false},
    };
    for (const auto& c : cases) {
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
        EXPECT_FALSE(registry_read_dword(user, "K", "v", number));
        EXPECT_EQ(number, 3u);
        EXPECT_TRUE(registry_write_dword(user, "K", "v", 4));
        EXPECT_TRUE(registry_read_dword(user, "K", "v", number));
        EXPECT_EQ(number, 4u);
        int aside = 0;
        for (const auto& entry : fs::directory_iterator(m_dir.path()))
            aside += entry.path().filename().string().starts_with("registry.sqlite.corrupt-") &&
                     entry.path().extension() != ".sqlite-wal" &&
                     read_whole_file(entry.path().string()) == c.content;
        EXPECT_EQ(aside, c.set_aside ? 1 : 0);
        // Said once for the screens, and in the diagnostics (standard error and the log).
        EXPECT_EQ(registry_take_set_aside(), c.set_aside);
        EXPECT_FALSE(registry_take_set_aside());
        auto messages = registry_take_diagnostics();
        EXPECT_EQ(!messages.empty() && messages.back().find("set aside") != std::string::npos,
                  c.set_aside);
    }
}

TEST_F(RegistryStoreTest, NotificationLaunchesWhenItsConditionBecomesTrue) {
    Watchdog watchdog(60, "notification");
    const std::string out = (m_dir / "fired.txt").string();
    const RegistryNotification n{.name = "Quillory Vozir.Call",
                                 .root = RegistryRoot::LocalMachine,
                                 .key = "System\\State\\Phone",
                                 .value_name = "Status",
                                 .command = "/bin/sh -c \"echo fired >> '" + out + "'\"",
                                 .flags = RNAF_NONAMEONCMDLINE,
                                 .condition = RegistryCondition::Equal,
                                 .mask = 0x20000000,
                                 .target = 0x20000000};
    ASSERT_EQ(registry_notify_app(n), uint32_t(REG_NOTIFY_OK));
    EXPECT_EQ(registry_notify_app(n), uint32_t(REG_NOTIFY_ALREADY_EXISTS));
    ASSERT_EQ(registry_notifications().size(), 1u);
    EXPECT_EQ(registry_notifications()[0].command, n.command);

    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x1));        // condition false
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Other", 0x20000000));  // another value
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x20000001)); // becomes true
    wait_for([&] { return !read_whole_file(out).empty(); }, 10000);
    EXPECT_EQ(read_whole_file(out), "fired\n");
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x20000003)); // stays true
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0));          // false again
    EXPECT_EQ(registry_stop_notification(n.name), uint32_t(REG_NOTIFY_OK));
    EXPECT_EQ(registry_stop_notification(n.name), uint32_t(REG_NOTIFY_NOT_FOUND));
    ASSERT_TRUE(registry_write_dword(n.root, n.key, "Status", 0x20000000)); // stopped
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(read_whole_file(out), "fired\n");
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

// Run only as a child of TwoProgramsWritingAtOnceBothSucceed.
TEST(RegistryStoreHelper, DISABLED_Writer) {
    const char* key = std::getenv("QV_WRITER_KEY");
    ASSERT_TRUE(key);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(registry_write_dword(user, key, "v" + std::to_string(i), uint32_t(i)));
}

TEST_F(RegistryStoreTest, TwoProgramsWritingAtOnceBothSucceed) {
    Watchdog watchdog(120, "two programs");
    const RegistryStamp stamp = registry_stamp();
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<pid_t> children;
    for (const char* key : {"Programs\\One", "Programs\\Two"}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("QV_WRITER_KEY", key, 1);
            execl(self.c_str(), self.c_str(), "--gtest_also_run_disabled_tests",
                  "--gtest_filter=RegistryStoreHelper.DISABLED_Writer", "--gtest_brief=1",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(registry_values(user, "Programs\\One").size(), 100u);
    EXPECT_EQ(registry_values(user, "Programs\\Two").size(), 100u);
    EXPECT_EQ(registry_subkeys(user, "Programs"), (std::vector<std::string>{"One", "Two"}));
    EXPECT_NE(stamp, registry_stamp()) << "other programs' writes change the stamp";
}
