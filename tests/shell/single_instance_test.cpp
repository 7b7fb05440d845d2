#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/single_instance.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::SingleInstance;
namespace fs = std::filesystem;

namespace {

const std::string class_name = "ZuzivirClass_Quillory Vozir";

fs::path make_private(const fs::path& path) {
    fs::create_directories(path);
    chmod(path.c_str(), 0700);
    return path;
}

// The permission bits of a file, or -1 when there is none.
int mode_of(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? int(info.st_mode & 0777) : -1;
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

// Something that listens on the instance's socket, reads what comes and hangs up without an
// answer.
struct MuteListener {
    MuteListener() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, SingleInstance(class_name).socket_path().c_str(),
                     sizeof address.sun_path - 1);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd, 1), 0);
        reader = std::thread([this] {
            const int peer = accept(fd, nullptr, nullptr);
            char buffer[64];
            while (peer >= 0 && recv(peer, buffer, sizeof buffer, 0) > 0) {
            }
            close(peer);
        });
    }
    ~MuteListener() {
        reader.join();
        close(fd);
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::thread reader;
};

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
    const fs::path open = make_private(root / "open"), link = root / "link";
    chmod(open.c_str(), 0755);
    fs::create_directory_symlink(good, link);
    for (const fs::path& bad : {open, link, root / "missing"}) {
        testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", bad.string());
        EXPECT_EQ(platform::private_runtime_directory(), fallback.string()) << bad;
        EXPECT_EQ(mode_of(fallback), 0700);
    }
    // A fallback folder that is not private (another user made it first, or opened it up) is
    // not used: the user's own cache folder serves instead.
    chmod(fallback.c_str(), 0755);
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", open.string());
    testing_support::ScopedEnv cache("XDG_CACHE_HOME", (root / "cache").string());
    const fs::path in_cache = root / "cache" / ("quillory-" + std::to_string(geteuid()));
    EXPECT_EQ(platform::private_runtime_directory(), in_cache.string());
    EXPECT_EQ(mode_of(in_cache), 0700);
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
    EXPECT_EQ(std::vector({platform::file_name_for(class_name), platform::file_name_for("../x/y"),
                           platform::file_name_for("")}),
              std::vector<std::string>({"ZuzivirClass_Quillory_Vozir", "_.._x_y", "_"}));
}

// A private runtime folder; `primary` listens with `receiver`'s window once listen() ran.
class SingleInstanceSocket : public ::testing::Test {
protected:
    void listen() {
        ASSERT_EQ(primary.claim(u""), SingleInstance::Claim::Primary);
        ASSERT_TRUE(primary.listen(receiver.window));
        primary.release_lock();
    }
    testing_support::Watchdog watchdog{60};
    testing_support::TempDir root;
    testing_support::ScopedEnv runtime{"XDG_RUNTIME_DIR", make_private(root / "run").string()};
    Receiver receiver;
    SingleInstance primary{class_name};
};

TEST_F(SingleInstanceSocket, HandsOverWellFormedTextsAndIgnoresTheRest) {
    listen();
    EXPECT_TRUE(fs::is_socket(primary.socket_path()));
    EXPECT_EQ(mode_of(primary.socket_path()), 0600);
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
    EXPECT_EQ(serve_while([&] { return later.claim(u"record"); }),
              SingleInstance::Claim::HandedOver);
    EXPECT_FALSE(later.holds_lock());
    EXPECT_EQ(receiver.lines, (std::vector<std::u16string>{longest, u"record"}));
}

TEST_F(SingleInstanceSocket, AStalledPeerHoldsUpNoOneAndIsCutOff) {
    listen();
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
    pollfd wait{stalled, POLLIN, 0};
    EXPECT_EQ(poll(&wait, 1, 0), 0) << "the stalled peer was dropped before the other was served";
    // The stalled peer gets no more than its deadline: the listener closes on it, unserved.
    EXPECT_TRUE(serve_while([&] { return poll(&wait, 1, 10000) == 1; }));
    char answer = 0;
    EXPECT_EQ(recv(stalled, &answer, 1, MSG_DONTWAIT), 0);
    cut_off = true;
    trickle.join();
    close(stalled);
    EXPECT_EQ(receiver.lines, (std::vector<std::u16string>{u"record"}));
}

TEST_F(SingleInstanceSocket, AHandOverThatIsNotAcknowledgedIsNotTaken) {
    MuteListener mute;
    EXPECT_EQ(primary.claim(u"record"), SingleInstance::Claim::NotTaken);
    EXPECT_FALSE(primary.holds_lock());
}

TEST_F(SingleInstanceSocket, StartDuringStartUpWaitsForTheListener) {
    ASSERT_EQ(primary.claim(u""), SingleInstance::Claim::Primary);
    std::atomic<int> outcome{-1};
    std::thread second([&] { outcome = int(SingleInstance(class_name).claim(u"record")); });
    platform::sleep_ms(100);
    EXPECT_EQ(outcome.load(), -1); // still waiting: the first has no window yet
    ASSERT_TRUE(primary.listen(receiver.window));
    primary.release_lock();
    serve_while([&] {
        second.join();
        return true;
    });
    EXPECT_EQ(outcome.load(), int(SingleInstance::Claim::HandedOver));
    EXPECT_EQ(receiver.lines, (std::vector<std::u16string>{u"record"}));
}

TEST_F(SingleInstanceSocket, StaleSocketOfAnEndedInstanceIsReplaced) {
    std::string path;
    {
        SingleInstance first(class_name);
        ASSERT_EQ(first.claim(u""), SingleInstance::Claim::Primary);
        ASSERT_TRUE(first.listen(receiver.window));
        path = first.socket_path();
    }
    // A socket file with nobody listening, as a crash leaves it.
    close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    EXPECT_EQ(primary.claim(u"call"), SingleInstance::Claim::Primary);
    EXPECT_TRUE(primary.listen(receiver.window));
}

namespace {

// The program with the null sound devices (a recording of silence), its messages logged.
struct Program : testing_support::ProgramSession {
    explicit Program(const fs::path& root) : ProgramSession(root) {
        env()["QUILLORY_AUDIO"] = "null";
        env()["QUILLORY_TRACE_HANDOVER"] = "1";
        env()["TMPDIR"] = (root / "tmp").string();
        fs::create_directories(root / "tmp");
    }
    fs::path socket() const { return root() / "run/ZuzivirClass_Quillory_Vozir.socket"; }
    std::string said() const { return testing_support::read_whole_file(log_file()); }
    // The shared log (UTF-16 after its byte-order mark) as UTF-8.
    std::string shared_log() const {
        const std::string bytes = testing_support::read_whole_file(root() / "tmp/quillory.txt");
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
        return foundation::to_utf8(text);
    }
    // The size of the one record, once its audio has begun after the tag and the room kept
    // for it; the record's path.
    fs::path recording_with_audio() {
        uintmax_t tag = 0;
        fs::path record;
        testing_support::wait_for([&] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(records_folder(), error))
                record = entry.path();
            const uintmax_t size = record.empty() ? 0 : fs::file_size(record, error);
            tag = tag ? tag : size;
            return tag && size > tag + 2000;
        });
        return record;
    }
};

} // namespace

// A second start hands its word to the running instance and ends at once; the shared log keeps
// the running instance's lines; a hang-up ends the recording "record" started as TERM does,
// with its file completed.
TEST(SingleInstanceProgram, LaterStartsHandOverKeepTheLogAndAHangUpCompletesTheRecording) {
    testing_support::Watchdog watchdog(90);
    testing_support::TempDir root;
    Program program(root.path());
    ASSERT_EQ(
        program.cli({"reg", "set", "HKEY_CURRENT_USER\\Software\\Corvane", "Log", "--dword", "1"})
            .status,
        0);
    const auto first = program.start();
    ASSERT_TRUE(testing_support::wait_for([&] {
        return fs::exists(program.socket()) &&
               program.shared_log().find("WinMain2:") != std::string::npos;
    }));
    const std::string before = program.shared_log();
    ASSERT_EQ(before.rfind("WinMain:", 0), 0u) << before;
    for (const std::string word : {"record", "", "call", "bring-forward"}) {
        SCOPED_TRACE(word);
        const auto began = std::chrono::steady_clock::now();
        const auto second = program.start(word.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{word},
                                          root / "second.log");
        EXPECT_EQ(second->wait_exit(10s), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
        EXPECT_TRUE(testing_support::wait_for([&] {
            return program.said().find("command line: \"" + word + "\"") != std::string::npos;
        })) << program.said();
    }
    const std::string after = program.shared_log();
    EXPECT_TRUE(after.rfind(before, 0) == 0 &&
                after.find("cmd_line=bring-forward") != std::string::npos)
        << "the running instance's lines are kept:\n"
        << after;

    // "record" started a recording, so a close from the window would be refused; the system's
    // end is not. (A recording that got no audio at all would leave no file.)
    const fs::path record = program.recording_with_audio();
    first->signal(SIGHUP);
    EXPECT_EQ(first->wait_exit(10s), 0) << "the exit status of a TERM";
    EXPECT_FALSE(fs::exists(program.socket()));
    EXPECT_EQ(std::distance(fs::directory_iterator(program.records_folder()), {}), 1);
    EXPECT_TRUE(testing_support::read_whole_file(record).substr(0, 3) == "ID3" &&
                fs::file_size(record) > 1000)
        << "the recording was completed";
}

TEST(SingleInstanceProgram, AStartWhoseWordIsNotTakenFailsAndSaysSo) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    Program program(root.path());
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", (root / "run").string());
    MuteListener mute;
    EXPECT_EQ(program.start({"record"})->wait_exit(20s), 1);
    EXPECT_NE(program.said().find("did not take the command \"record\""), std::string::npos)
        << program.said();
}
