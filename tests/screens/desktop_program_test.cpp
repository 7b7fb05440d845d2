// The real program, headless, on a private session bus with a mock notification server:
// started minimised by "record" it records without coming forward, shows the recording in a
// notification, and the notification's actions pause and stop it.

#include "platform/clock.h"
#include "support/session_mocks.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::MockSessionBus;
using testing_support::read_whole_file;
using testing_support::ScopedEnv;

namespace {

std::string top_form(const std::string& json) {
    const size_t at = json.rfind("{\"overlay\":");
    if (at == std::string::npos)
        return {};
    std::smatch m;
    static const std::regex form_id("\"type\": \"form\", \"id\": \"([^\"]*)\"");
    const std::string top = json.substr(at);
    return std::regex_search(top, m, form_id) ? m[1].str() : std::string();
}

bool wait_for(const std::function<bool()>& done, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (done())
            return true;
        platform::sleep_ms(20);
    }
    return false;
}

size_t records_in(const fs::path& folder) {
    size_t count = 0;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            count += entry.is_regular_file() ? 1 : 0;
    return count;
}

} // namespace

TEST(DesktopProgram, StartedMinimisedByRecordItRecordsInANotification) {
    testing_support::Watchdog watchdog(120);
    MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    testing_support::TempDir root;
    const std::string log = (root / "notifications.log").string();
    ASSERT_TRUE(bus.start_mock({"--template", "notification_daemon"},
                               "org.freedesktop.Notifications", log));
    fs::create_directories(root / "run");
    fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path inspect = root / "inspect.json";
    ScopedEnv env[] = {
        {"XDG_RUNTIME_DIR", (root / "run").string()},
        {"HOME", root.path().string()},
        {"XDG_DATA_HOME", (root / "data").string()},
        {"QUILLORY_CONFIG_DIR", (root / "config").string()},
        {"SDL_VIDEODRIVER", "offscreen"},
        {"QUILLORY_AUDIO", "file"},
        {"QUILLORY_AUDIO_IN", std::string(QV_SOURCE_DIR) + "/tests/data/controller/speech.wav"},
        {"QUILLORY_AUDIO_OUT", ""},
        {"QUILLORY_AUDIO_SPEED", "2"},
        {"XDG_DOCUMENTS_DIR", (root / "documents").string()},
        {"QUILLORY_CARDS", ""},
        {"QUILLORY_INSPECT", inspect.string()},
        // English texts whatever the user's languages; the settings store's key list.
        {"LANGUAGE", ""},
        {"LC_ALL", "C.UTF-8"},
        {"QUILLORY_KEY_BINDINGS", "registry"},
    };
    const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";
    const pid_t pid = fork();
    if (pid == 0) {
        execl(program.c_str(), program.c_str(), "--minimised", "record",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};

    // The recording form is on top, and the window stayed down.
    ASSERT_TRUE(wait_for([&] {
        return top_form(read_whole_file(inspect.string())) == "frmRecording";
    })) << read_whole_file(inspect.string());
    EXPECT_NE(read_whole_file(inspect.string()).find("\"window\": {\"minimised\": true"),
              std::string::npos)
        << read_whole_file(inspect.string());

    // The notification shows the elapsed time with Pause and Stop.
    ASSERT_TRUE(wait_for([&] {
        return read_whole_file(log).find(
                   "Notify \"Quillory Vozir\" 0 \"net.corvane.quillory\" \"Recording\" "
                   "\"0:00:0") != std::string::npos;
    })) << read_whole_file(log);
    EXPECT_NE(read_whole_file(log).find("[\"pause\", \"Pause\", \"stop\", \"Stop\"]"),
              std::string::npos)
        << read_whole_file(log);

    auto act = [&](const std::string& key) {
        bool ok = false;
        bus.python("o = bus.get_object('org.freedesktop.Notifications', "
                   "'/org/freedesktop/Notifications')\n"
                   "o.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us', "
                   "[dbus.UInt32(1), '" +
                       key + "'], dbus_interface='org.freedesktop.DBus.Mock')\n",
                   &ok);
        return ok;
    };
    ASSERT_TRUE(act("pause"));
    ASSERT_TRUE(wait_for([&] {
        return read_whole_file(log).find(
                   "Notify \"Quillory Vozir\" 1 \"net.corvane.quillory\" \"Paused\"") !=
               std::string::npos;
    })) << read_whole_file(log);
    ASSERT_TRUE(act("stop"));
    ASSERT_TRUE(wait_for([&] { return top_form(read_whole_file(inspect.string())) == "frmMain"; }))
        << read_whole_file(inspect.string());
    ASSERT_TRUE(wait_for([&] {
        return read_whole_file(log).find("CloseNotification 1") != std::string::npos;
    })) << read_whole_file(log);
    EXPECT_EQ(records_in(root / "documents/My Quillory"), 1u);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    reaper.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
