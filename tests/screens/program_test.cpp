// The real program, headless, driven through its test input file and watched through its
// inspector file: record, stop, filter, play and delete with confirmation.

#include "platform/clock.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Box {
    int x{0}, y{0}, w{0}, h{0};
    bool shown{false};
};

class Program {
public:
    explicit Program(const fs::path& root)
        : m_root(root), m_inspect(root / "inspect.json"),
          m_input(root / "input.txt"), m_env{{"XDG_RUNTIME_DIR", (root / "run").string()},
                                             {"HOME", root.string()},
                                             {"XDG_DATA_HOME", (root / "data").string()},
                                             {"QUILLORY_CONFIG_DIR", (root / "config").string()},
                                             {"SDL_VIDEODRIVER", "offscreen"},
                                             {"QUILLORY_AUDIO", "file"},
                                             {"QUILLORY_AUDIO_IN",
                                              std::string(QV_SOURCE_DIR) +
                                                  "/tests/data/controller/speech.wav"},
                                             {"QUILLORY_AUDIO_OUT", ""},
                                             {"QUILLORY_AUDIO_SPEED", "4"},
                                             {"XDG_DOCUMENTS_DIR", (root / "documents").string()},
                                             {"QUILLORY_CARDS", ""},
                                             {"QUILLORY_INSPECT", m_inspect.string()},
                                             {"QUILLORY_INPUT", m_input.string()}} {
        fs::create_directories(root / "run");
        fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(m_input).flush();
        for (const auto& [name, value] : m_env)
            m_set.push_back(std::make_unique<testing_support::ScopedEnv>(name.c_str(), value));
        const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";
        m_pid = fork();
        if (m_pid == 0) {
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // Ends the program as a desktop would; its exit status.
    int terminate() {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string json() const { return read_text(m_inspect); }

    // The part of the inspector text that describes the top form.
    std::string top() const {
        const std::string text = json();
        const size_t at = text.rfind("{\"overlay\":");
        return at == std::string::npos ? std::string() : text.substr(at);
    }

    static std::string top_id(const std::string& top) {
        std::smatch m;
        static const std::regex form_id("\"type\": \"form\", \"id\": \"([^\"]*)\"");
        return std::regex_search(top, m, form_id) ? m[1].str() : std::string();
    }

    static Box box(const std::string& text, const std::string& id) {
        const std::regex pattern("\"id\": \"" + id +
                                 "\", \"rect\": \\[(-?\\d+), (-?\\d+), (\\d+), (\\d+)\\], "
                                 "\"shown\": (true|false)");
        std::smatch m;
        Box b;
        if (std::regex_search(text, m, pattern))
            b = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]),
                 m[5] == "true"};
        return b;
    }

    // The rows a list shows: their texts by item.
    static int row_count(const std::string& text) {
        int count = 0;
        for (size_t at = text.find("{\"index\": "); at != std::string::npos;
             at = text.find("{\"index\": ", at + 1))
            ++count;
        return count;
    }

    bool wait(const std::function<bool(const std::string& top)>& done, int ms = 8000) const {
        for (int waited = 0; waited < ms; waited += 20) {
            if (done(top()))
                return true;
            platform::sleep_ms(20);
        }
        return false;
    }

    bool wait_form(const std::string& id) const {
        return wait([&](const std::string& t) { return top_id(t) == id; });
    }

    void send(const std::string& line) { std::ofstream(m_input, std::ios::app) << line << "\n"; }

    // Taps the middle of a shown control of the top form.
    bool tap(const std::string& id) {
        const Box b = box(top(), id);
        if (!b.shown || b.w == 0)
            return false;
        send("tap " + std::to_string(b.x + b.w / 2) + " " + std::to_string(b.y + b.h / 2));
        return true;
    }

    // Taps the row of the top form whose text matches.
    bool tap_row_with(const std::string& text) {
        const std::string t = top();
        const size_t at = t.find("\"text\": \"" + text + "\"");
        if (at == std::string::npos)
            return false;
        const size_t row = t.rfind("\"row\":", at);
        if (row == std::string::npos)
            return false;
        std::smatch m;
        const std::string rest = t.substr(row);
        static const std::regex rect("\"rect\": \\[(-?\\d+), (-?\\d+), (\\d+), (\\d+)\\]");
        if (!std::regex_search(rest, m, rect))
            return false;
        send("tap " + std::to_string(std::stoi(m[1]) + std::stoi(m[3]) / 2) + " " +
             std::to_string(std::stoi(m[2]) + std::stoi(m[4]) / 2));
        return true;
    }

private:
    fs::path m_root, m_inspect, m_input;
    std::vector<std::pair<std::string, std::string>> m_env;
    std::vector<std::unique_ptr<testing_support::ScopedEnv>> m_set;
    pid_t m_pid{-1};
};

size_t files_in(const fs::path& folder) {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

} // namespace

TEST(ScreensProgram, RecordStopFilterPlayAndDeleteWithConfirmation) {
    testing_support::Watchdog watchdog(120);
    testing_support::TempDir root;
    const fs::path folder = root / "documents/My Quillory";
    fs::create_directories(folder);
    ASSERT_EQ(std::system(("sox -n -r 8000 -b 16 -c 1 '" + (folder / "Zed other.wav").string() +
                           "' synth 1 sine 440")
                              .c_str()),
              0);
    Program program(root.path());
    ASSERT_TRUE(program.wait([](const std::string& t) {
        return Program::top_id(t) == "frmMain" && Program::row_count(t) == 1;
    })) << program.json();

    ASSERT_TRUE(program.tap("btnRecord"));
    ASSERT_TRUE(program.wait_form("frmRecording")) << program.json();
    platform::sleep_ms(1000);
    ASSERT_TRUE(program.tap("btnClose"));
    ASSERT_TRUE(program.wait([](const std::string& t) {
        return Program::top_id(t) == "frmMain" && Program::row_count(t) == 2;
    })) << program.json();
    EXPECT_EQ(files_in(folder), 2u);

    // The keypad: 7 stands for p, q, r and s; "Zed other" has no such word start.
    ASSERT_TRUE(program.tap("btnFilter"));
    ASSERT_TRUE(
        program.wait([](const std::string& t) { return Program::box(t, "button7").shown; }));
    ASSERT_TRUE(program.tap("button7"));
    ASSERT_TRUE(program.wait([](const std::string& t) { return Program::row_count(t) == 1; }))
        << program.json();
    EXPECT_EQ(program.top().find("Zed other"), std::string::npos);

    // The new record plays to its end; the play button comes back.
    ASSERT_TRUE(program.tap_row_with("Record"));
    ASSERT_TRUE(program.wait_form("frmView")) << program.json();
    ASSERT_TRUE(program.wait([](const std::string& t) { return Program::box(t, "btnPlay").shown; }))
        << program.json();

    ASSERT_TRUE(program.tap("btnMenu"));
    ASSERT_TRUE(program.wait_form("frmMenu")) << program.json();
    ASSERT_TRUE(program.wait(
        [&](const std::string& t) { return t.find("\"Delete\"") != std::string::npos; }));
    ASSERT_TRUE(program.tap_row_with("Delete"));
    ASSERT_TRUE(program.wait_form("frmConfirmation")) << program.json();
    // The record is still there until OK.
    EXPECT_EQ(files_in(folder), 2u);
    ASSERT_TRUE(program.tap("btnOk"));
    ASSERT_TRUE(program.wait_form("frmMain")) << program.json();
    EXPECT_EQ(files_in(folder), 1u);
    EXPECT_TRUE(fs::exists(folder / "Zed other.wav"));
    // The deleted record waits in the desktop's trash, with the info naming its place.
    EXPECT_EQ(files_in(root / "data/Trash/files"), 1u);
    EXPECT_EQ(files_in(root / "data/Trash/info"), 1u);
    EXPECT_EQ(program.terminate(), 0);
}
