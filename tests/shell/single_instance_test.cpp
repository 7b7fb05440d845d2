#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/registry_store.h"
#include "platform/single_instance.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using platform::SingleInstance;
namespace fs = std::filesystem;

namespace {

const std::string class_name = "ZuzivirClass_Quillory Vozir";

fs::path make_private(const fs::path& path) {
    fs::create_directories(path);
    chmod(path.c_str(), 0700);
    return path;
}

// A window on this thread that keeps the command lines it is given.
struct Receiver {
    std::vector<std::u16string> lines;
    platform::WindowHandle window =
        platform::create_window([this](platform::WindowHandle, uint32_t message, platform::WParam,
                                       platform::LParam lparam) -> platform::LResult {
            if (message != platform::WM_COPYDATA)
                return 0;
            const auto* data = reinterpret_cast<const platform::CopyData*>(lparam);
            const auto* bytes = static_cast<const uint8_t*>(data->bytes);
            std::u16string text;
            for (uint32_t i = 0; i + 1 < data->size; i += 2)
                text.push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
            lines.push_back(text);
            return 1;
        });
    ~Receiver() { platform::destroy_window(window); }
};

// Runs `work` on another thread while this thread serves its window; returns work's result.
template <typename Work> auto serve_while(Work work) {
    std::atomic<bool> done{false};
    decltype(work()) result{};
    std::thread worker([&] {
        result = work();
        done = true;
    });
    while (!done) {
        platform::Message message;
        while (platform::peek_message(message))
            platform::dispatch_message(message);
        platform::sleep_ms(1);
    }
    worker.join();
    return result;
}

std::string frame_with_size(uint32_t size, const std::string& payload) {
    std::string bytes = "QVCL";
    for (int i = 0; i < 4; ++i)
        bytes.push_back(char((size >> (8 * i)) & 0xFF));
    return bytes + payload;
}

} // namespace

TEST(SingleInstanceFolder, UsesOnlyAPrivateRuntimeFolder) {
    testing_support::TempDir root;
    testing_support::ScopedEnv tmp("TMPDIR", make_private(root / "tmp").string());
    fs::path fallback = root / "tmp" / ("quillory-" + std::to_string(geteuid()));

    fs::path good = make_private(root / "runtime");
    {
        testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", good.string());
        EXPECT_EQ(platform::private_runtime_directory(), good.string());
    }
    fs::path open = root / "open";
    fs::create_directories(open);
    chmod(open.c_str(), 0755);
    fs::path link = root / "link";
    fs::create_directory_symlink(good, link);
    for (const fs::path& bad : {open, link, root / "missing"}) {
        testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", bad.string());
        EXPECT_EQ(platform::private_runtime_directory(), fallback.string()) << bad;
        struct stat info {};
        ASSERT_EQ(lstat(fallback.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    // A fallback folder that is not private (another user made it first, or opened it up) is
    // not used: the user's own cache folder serves instead.
    chmod(fallback.c_str(), 0755);
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", open.string());
    testing_support::ScopedEnv cache("XDG_CACHE_HOME", (root / "cache").string());
    const fs::path in_cache = root / "cache" / ("quillory-" + std::to_string(geteuid()));
    EXPECT_EQ(platform::private_runtime_directory(), in_cache.string());
    struct stat info {};
    ASSERT_EQ(lstat(in_cache.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    {
        SingleInstance guard(class_name);
        EXPECT_EQ(guard.claim(u"record"), SingleInstance::Claim::Primary);
        EXPECT_EQ(fs::path(guard.lock_path()).parent_path(), in_cache);
    }
    // With that one not private either, the guard says it cannot work instead of going off.
    chmod(in_cache.c_str(), 0755);
    EXPECT_EQ(platform::private_runtime_directory(), "");
    SingleInstance guard(class_name);
    EXPECT_EQ(guard.claim(u"record"), SingleInstance::Claim::NoPrivateFolder);
}

TEST(SingleInstanceFolder, FileNamesAreSanitised) {
    EXPECT_EQ(platform::file_name_for("ZuzivirClass_Quillory Vozir"),
              "ZuzivirClass_Quillory_Vozir");
    EXPECT_EQ(platform::file_name_for("../x/y"), "_.._x_y");
    EXPECT_EQ(platform::file_name_for(""), "_");
}

TEST(SingleInstanceSocket, HandsOverWellFormedTextsAndIgnoresTheRest) {
    testing_support::Watchdog watchdog(30);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    Receiver receiver;
    SingleInstance primary(class_name);
    ASSERT_EQ(primary.claim(u""), SingleInstance::Claim::Primary);
    ASSERT_TRUE(primary.listen(receiver.window));
    primary.release_lock();
    struct stat info {};
    ASSERT_EQ(lstat(primary.socket_path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string path = primary.socket_path();
    const std::string rejected[] = {
        "QVCX" + SingleInstance::frame(u"record").substr(4),        // wrong magic
        frame_with_size(3, "abc"),                                  // odd size
        frame_with_size(SingleInstance::max_message_bytes + 2, ""), // too large
        frame_with_size(0xFFFFFFFEu, ""),                           // far too large
        frame_with_size(20, "short"),                               // ends early
        "QV",                                                       // no header
    };
    for (const auto& bytes : rejected)
        EXPECT_FALSE(serve_while([&] { return SingleInstance::send_raw(path, bytes, 5000); }));
    EXPECT_TRUE(receiver.lines.empty());

    std::u16string longest(SingleInstance::max_message_bytes / 2, u'x');
    EXPECT_TRUE(serve_while(
        [&] { return SingleInstance::send_raw(path, SingleInstance::frame(longest), 5000); }));
    SingleInstance later(class_name);
    auto claim = serve_while([&] { return later.claim(u"record"); });
    EXPECT_EQ(claim, SingleInstance::Claim::HandedOver);
    EXPECT_FALSE(later.holds_lock());
    ASSERT_EQ(receiver.lines.size(), 2u);
    EXPECT_EQ(receiver.lines[0], longest);
    EXPECT_EQ(receiver.lines[1], u"record");
}

TEST(SingleInstanceSocket, AStalledPeerHoldsUpNoOneAndIsCutOff) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    Receiver receiver;
    SingleInstance primary(class_name);
    ASSERT_EQ(primary.claim(u""), SingleInstance::Claim::Primary);
    ASSERT_TRUE(primary.listen(receiver.window));
    primary.release_lock();

    // A peer that sends a header and then a byte every 1.5 s, as long as it is let.
    int stalled = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, primary.socket_path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string message = SingleInstance::frame(u"stalled");
    ASSERT_EQ(send(stalled, message.data(), 9, MSG_NOSIGNAL), 9);
    std::atomic<bool> cut_off{false};
    std::thread trickle([&] {
        for (size_t at = 9; at < message.size() && !cut_off; ++at) {
            for (int i = 0; i < 150 && !cut_off; ++i)
                platform::sleep_ms(10);
            if (send(stalled, message.data() + at, 1, MSG_NOSIGNAL) != 1)
                break;
        }
    });

    // Meanwhile another start is served at once: the stalled peer is still connected then.
    SingleInstance later(class_name);
    EXPECT_EQ(serve_while([&] { return later.claim(u"record"); }),
              SingleInstance::Claim::HandedOver);
    EXPECT_EQ(receiver.lines, (std::vector<std::u16string>{u"record"}));
    pollfd wait{stalled, POLLIN, 0};
    EXPECT_EQ(poll(&wait, 1, 0), 0) << "the stalled peer was dropped before the other was served";

    // The stalled peer gets no more than its deadline: the listener closes on it, unserved.
    wait = {stalled, POLLIN, 0};
    const bool closed = serve_while([&] { return poll(&wait, 1, 10000) == 1; });
    EXPECT_TRUE(closed);
    char answer = 0;
    EXPECT_EQ(recv(stalled, &answer, 1, MSG_DONTWAIT), 0);
    cut_off = true;
    trickle.join();
    close(stalled);
    EXPECT_EQ(receiver.lines, (std::vector<std::u16string>{u"record"}));
}

TEST(SingleInstanceSocket, AHandOverThatIsNotAcknowledgedIsNotTaken) {
    testing_support::Watchdog watchdog(30);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    // Something listens on the socket, reads the text and hangs up without an answer.
    SingleInstance names(class_name);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, names.socket_path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::thread mute([&] {
        int fd = accept(listener, nullptr, nullptr);
        char buffer[64];
        while (fd >= 0 && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        close(fd);
    });
    SingleInstance later(class_name);
    EXPECT_EQ(later.claim(u"record"), SingleInstance::Claim::NotTaken);
    EXPECT_FALSE(later.holds_lock());
    mute.join();
    close(listener);
}

TEST(SingleInstanceSocket, StartDuringStartUpWaitsForTheListener) {
    testing_support::Watchdog watchdog(30);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    Receiver receiver;
    SingleInstance first(class_name);
    ASSERT_EQ(first.claim(u""), SingleInstance::Claim::Primary);
    std::atomic<int> outcome{-1};
    std::thread second([&] {
        SingleInstance later(class_name);
        outcome = int(later.claim(u"record"));
    });
    platform::sleep_ms(100);
    EXPECT_EQ(outcome.load(), -1); // still waiting: the first has no window yet
    ASSERT_TRUE(first.listen(receiver.window));
    first.release_lock();
    while (outcome.load() == -1) {
        platform::Message message;
        while (platform::peek_message(message))
            platform::dispatch_message(message);
        platform::sleep_ms(1);
    }
    second.join();
    EXPECT_EQ(outcome.load(), int(SingleInstance::Claim::HandedOver));
    EXPECT_EQ(receiver.lines, (std::vector<std::u16string>{u"record"}));
}

TEST(SingleInstanceSocket, StaleSocketOfAnEndedInstanceIsReplaced) {
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    Receiver receiver;
    std::string path;
    {
        SingleInstance first(class_name);
        ASSERT_EQ(first.claim(u""), SingleInstance::Claim::Primary);
        ASSERT_TRUE(first.listen(receiver.window));
        path = first.socket_path();
    }
    // A socket file with nobody listening, as a crash leaves it.
    int fd = open((path).c_str(), O_CREAT | O_WRONLY, 0600);
    close(fd);
    SingleInstance second(class_name);
    EXPECT_EQ(second.claim(u"call"), SingleInstance::Claim::Primary);
    EXPECT_TRUE(second.listen(receiver.window));
}

namespace {

struct Child {
    pid_t pid{-1};
    int stderr_fd{-1};
};

// Ends a child that a failed assertion left running.
struct Reaper {
    pid_t pid;
    ~Reaper() {
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
};

Child spawn(const std::vector<std::string>& arguments, bool capture_stderr) {
    std::vector<char*> argv;
    for (const auto& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_fds[2] = {-1, -1};
    if (capture_stderr) {
        EXPECT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    }
    Child child;
    EXPECT_EQ(posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (capture_stderr) {
        close(pipe_fds[1]);
        child.stderr_fd = pipe_fds[0];
    }
    return child;
}

// Reads the child's standard error until `wanted` appears or the time runs out.
bool read_until(int fd, std::string& seen, const std::string& wanted, int timeout_ms) {
    uint32_t start = platform::tick_count();
    while (seen.find(wanted) == std::string::npos) {
        int left = timeout_ms - int(platform::tick_count() - start);
        if (left <= 0)
            return false;
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, left) <= 0)
            return false;
        char buffer[512];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        seen.append(buffer, size_t(got));
    }
    return true;
}

int wait_exit(pid_t pid, int timeout_ms) {
    uint32_t start = platform::tick_count();
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (int(platform::tick_count() - start) > timeout_ms) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        platform::sleep_ms(5);
    }
}

} // namespace

TEST(SingleInstanceProgram, SecondStartHandsItsWordToTheRunningInstance) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    testing_support::ScopedEnv config("XDG_CONFIG_HOME", (root / "config").string());
    testing_support::ScopedEnv video("SDL_VIDEODRIVER", "offscreen");
    testing_support::ScopedEnv audio("SDL_AUDIODRIVER", "dummy");
    testing_support::ScopedEnv trace("QUILLORY_TRACE_HANDOVER", "1");
    testing_support::ScopedEnv settings("QUILLORY_CONFIG_DIR", (root / "config").string());
    testing_support::ScopedEnv documents("XDG_DOCUMENTS_DIR", (root / "documents").string());
    testing_support::ScopedEnv sound("QUILLORY_AUDIO", "null");
    const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";
    ASSERT_TRUE(fs::exists(program));

    Child first = spawn({program}, true);
    Reaper reaper{first.pid};
    fs::path socket = root / "run" / "ZuzivirClass_Quillory_Vozir.socket";
    uint32_t start = platform::tick_count();
    while (!fs::exists(socket) && platform::tick_count() - start < 20000)
        platform::sleep_ms(10);
    ASSERT_TRUE(fs::exists(socket));

    std::string seen;
    for (const auto& [word, expected] :
         {std::pair<std::string, std::string>{"record", "command line: \"record\""},
          {"", "command line: \"\""},
          {"call", "command line: \"call\""}}) {
        std::vector<std::string> arguments{program};
        if (!word.empty())
            arguments.push_back(word);
        uint32_t began = platform::tick_count();
        Child second = spawn(arguments, false);
        EXPECT_EQ(wait_exit(second.pid, 10000), 0) << word;
        EXPECT_LT(platform::tick_count() - began, 5000u) << word;
        EXPECT_TRUE(read_until(first.stderr_fd, seen, expected, 10000)) << seen;
    }
    // "record" started a recording, so a close from the window would be refused; the system's
    // end is not, and the recording's file is completed on the way out. (A recording that got
    // no audio at all would leave no file: wait until audio reaches it.)
    auto recorded_bytes = [&] {
        std::error_code error;
        uintmax_t size = 0;
        for (const auto& entry : fs::directory_iterator(root / "documents" / "My Quillory", error))
            size = std::max(size, entry.file_size(error));
        return size;
    };
    // The file starts with its tag and the room kept for it; audio comes after.
    start = platform::tick_count();
    while (recorded_bytes() == 0 && platform::tick_count() - start < 10000)
        platform::sleep_ms(20);
    const uintmax_t tag_bytes = recorded_bytes();
    while (recorded_bytes() < tag_bytes + 2000 && platform::tick_count() - start < 10000)
        platform::sleep_ms(20);
    kill(first.pid, SIGTERM);
    EXPECT_EQ(wait_exit(first.pid, 10000), 0);
    close(first.stderr_fd);
    EXPECT_FALSE(fs::exists(socket));
    std::vector<fs::path> records;
    for (const auto& entry : fs::directory_iterator(root / "documents" / "My Quillory"))
        records.push_back(entry.path());
    ASSERT_EQ(records.size(), 1u);
    std::ifstream record(records[0], std::ios::binary);
    char tag[3] = {};
    record.read(tag, 3);
    EXPECT_EQ(std::string(tag, 3), "ID3");
    EXPECT_GT(fs::file_size(records[0]), 1000u);
}

TEST(SingleInstanceProgram, AStartWhoseWordIsNotTakenFailsAndSaysSo) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    testing_support::ScopedEnv settings("QUILLORY_CONFIG_DIR", (root / "config").string());
    testing_support::ScopedEnv video("SDL_VIDEODRIVER", "offscreen");
    const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";
    ASSERT_TRUE(fs::exists(program));
    // What holds the socket reads the word and hangs up without taking it.
    SingleInstance names(class_name);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, names.socket_path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::thread mute([&] {
        int fd = accept(listener, nullptr, nullptr);
        char buffer[64];
        while (fd >= 0 && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        close(fd);
    });
    Child second = spawn({program, "record"}, true);
    Reaper reaper{second.pid};
    std::string said;
    EXPECT_TRUE(read_until(second.stderr_fd, said, "did not take the command \"record\"", 20000))
        << said;
    EXPECT_EQ(wait_exit(second.pid, 20000), 1);
    close(second.stderr_fd);
    mute.join();
    close(listener);
}

TEST(SingleInstanceProgram, HangUpEndsARecordingLikeTerm) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    testing_support::ScopedEnv config("XDG_CONFIG_HOME", (root / "config").string());
    testing_support::ScopedEnv video("SDL_VIDEODRIVER", "offscreen");
    testing_support::ScopedEnv audio("SDL_AUDIODRIVER", "dummy");
    testing_support::ScopedEnv settings("QUILLORY_CONFIG_DIR", (root / "config").string());
    testing_support::ScopedEnv documents("XDG_DOCUMENTS_DIR", (root / "documents").string());
    testing_support::ScopedEnv sound("QUILLORY_AUDIO", "null");
    const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";

    Child first = spawn({program, "record"}, false);
    Reaper reaper{first.pid};
    const fs::path folder = root / "documents" / "My Quillory";
    uint32_t start = platform::tick_count();
    auto recording = [&] {
        std::error_code error;
        return fs::is_directory(folder, error) && !fs::is_empty(folder, error);
    };
    while (!recording() && platform::tick_count() - start < 20000)
        platform::sleep_ms(10);
    ASSERT_TRUE(recording());
    platform::sleep_ms(1500);
    kill(first.pid, SIGHUP);
    EXPECT_EQ(wait_exit(first.pid, 10000), 0) << "the exit status of a TERM";
    std::vector<fs::path> records;
    for (const auto& entry : fs::directory_iterator(folder))
        records.push_back(entry.path());
    ASSERT_EQ(records.size(), 1u);
    std::ifstream record(records[0], std::ios::binary);
    char tag[3] = {};
    record.read(tag, 3);
    EXPECT_EQ(std::string(tag, 3), "ID3");
    EXPECT_GT(fs::file_size(records[0]), 1000u) << "the recording was completed";
}

TEST(SingleInstanceProgram, SecondStartKeepsTheSharedLog) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    fs::create_directories(root / "tmp");
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", make_private(root / "run").string());
    testing_support::ScopedEnv config("XDG_CONFIG_HOME", (root / "config").string());
    testing_support::ScopedEnv video("SDL_VIDEODRIVER", "offscreen");
    testing_support::ScopedEnv audio("SDL_AUDIODRIVER", "dummy");
    testing_support::ScopedEnv settings("QUILLORY_CONFIG_DIR", (root / "config").string());
    testing_support::ScopedEnv documents("XDG_DOCUMENTS_DIR", (root / "documents").string());
    testing_support::ScopedEnv sound("QUILLORY_AUDIO", "null");
    testing_support::ScopedEnv temp("TMPDIR", (root / "tmp").string());
    platform::registry_close();
    ASSERT_TRUE(foundation::write_dword(u"HKEY_CURRENT_USER\\Software\\Corvane", u"Log", 1));
    platform::registry_close();
    const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";
    const fs::path log_file = root / "tmp" / "quillory.txt";
    // The log as UTF-8 text.
    auto log_text = [&] {
        std::ifstream in(log_file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
        return foundation::to_utf8(text);
    };
    auto count = [](const std::string& text, const std::string& word) {
        int n = 0;
        for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
            ++n;
        return n;
    };

    Child first = spawn({program}, false);
    Reaper reaper{first.pid};
    uint32_t start = platform::tick_count();
    while (log_text().find("WinMain2:") == std::string::npos &&
           platform::tick_count() - start < 20000)
        platform::sleep_ms(10);
    const fs::path socket = root / "run" / "ZuzivirClass_Quillory_Vozir.socket";
    while (!fs::exists(socket) && platform::tick_count() - start < 20000)
        platform::sleep_ms(10);
    ASSERT_TRUE(fs::exists(socket));
    const std::string before = log_text();
    ASSERT_EQ(before.rfind("WinMain:", 0), 0u) << before;

    Child second = spawn({program, "bring-forward"}, false);
    EXPECT_EQ(wait_exit(second.pid, 10000), 0);
    const std::string after = log_text();
    EXPECT_EQ(after.rfind(before, 0), 0u) << "the running instance's lines are kept:\n" << after;
    EXPECT_EQ(count(after, "WinMain:"), 2) << after;
    EXPECT_NE(after.find("cmd_line=bring-forward"), std::string::npos) << after;

    kill(first.pid, SIGTERM);
    EXPECT_EQ(wait_exit(first.pid, 10000), 0);
}
