#pragma once

// The real program, started headless with the file sound devices, driven through its test input
// file and watched through its inspector and picture files. Controls are found by id in the
// inspector's description of the top form.

#include "platform/clock.h"
#include "support/temp_dir.h"
#include "support/test_fonts.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace screens_test {

namespace fs = std::filesystem;

inline std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The sample records of tests/data/screens/records (made with quillory-cli from speech) into
// folder, a day apart, newest first: "Team meeting: launch plan", Anna Petrova's call, the
// outgoing call, "Idea: garden bench", "Shopping list".
inline void copy_sample_records(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy(fs::path(QV_TEST_DATA) / "screens" / "records", folder, fs::copy_options::recursive);
    const char* oldest_first[] = {"shopping.mp3", "bench.mp3", "Outgoing/restaurant.mp3",
                                  "Incoming/anna.mp3", "meeting.mp3"};
    const auto now = fs::file_time_type::clock::now();
    for (size_t i = 0; i < std::size(oldest_first); ++i)
        fs::last_write_time(folder / oldest_first[i],
                            now - std::chrono::hours(24 * (std::size(oldest_first) - i)));
}

struct Box {
    int x{0}, y{0}, w{0}, h{0};
    bool shown{false};
};

class ProgramRunner {
public:
    // root: a scratch folder that receives the program's files; extra: more environment.
    explicit ProgramRunner(const fs::path& root,
                           std::vector<std::pair<std::string, std::string>> extra = {})
        : m_inspect(root / "inspect.json"), m_input(root / "input.txt"),
          m_picture(root / "screen.png") {
        fs::create_directories(root / "run");
        fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(m_input).flush();
        std::vector<std::pair<std::string, std::string>> env{
            {"XDG_RUNTIME_DIR", (root / "run").string()},
            {"QUILLORY_CONFIG_DIR", (root / "config").string()},
            {"SDL_VIDEODRIVER", "offscreen"},
            {"QUILLORY_AUDIO", "file"},
            {"QUILLORY_AUDIO_IN", std::string(QV_SOURCE_DIR) + "/tests/data/controller/speech.wav"},
            {"QUILLORY_AUDIO_OUT", ""},
            {"QUILLORY_AUDIO_SPEED", "4"},
            {"XDG_DOCUMENTS_DIR", (root / "documents").string()},
            {"QUILLORY_CARDS", ""},
            {"QUILLORY_SCREEN", "480x640"},
            {"QUILLORY_DPI", "192"},
            // The desktop's key bindings are never touched.
            {"QUILLORY_KEY_BINDINGS", "registry"},
            // English texts and dates whatever the machine's locale and zone; the tests' own
            // fonts; the desktop's settings untouched.
            {"LC_ALL", "C"},
            {"LANGUAGE", ""},
            {"TZ", "UTC"},
            {"FONTCONFIG_FILE", testing_support::test_fonts_file()},
            {"GSETTINGS_BACKEND", "memory"},
            {"QUILLORY_INSPECT", m_inspect.string()},
            {"QUILLORY_INPUT", m_input.string()},
            {"QUILLORY_SCREENSHOT", m_picture.string()}};
        env.insert(env.end(), extra.begin(), extra.end());
        for (const auto& [name, value] : env)
            m_set.push_back(std::make_unique<testing_support::ScopedEnv>(name.c_str(), value));
        const std::string program = std::string(QV_BUILD_DIR) + "/bin/quillory";
        m_pid = fork();
        if (m_pid == 0) {
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~ProgramRunner() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    ProgramRunner(const ProgramRunner&) = delete;
    ProgramRunner& operator=(const ProgramRunner&) = delete;

    // Ends the program as a desktop would; its exit status.
    int terminate() {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const fs::path& picture() const { return m_picture; }
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

    // The first control with this id in text.
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

    // Every text of the labels and buttons of text, in order.
    static std::vector<std::string> texts(const std::string& text) {
        std::vector<std::string> found;
        static const std::regex pattern("\"text\": \"((?:[^\"\\\\]|\\\\.)*)\"");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
             it != std::sregex_iterator(); ++it)
            found.push_back((*it)[1].str());
        return found;
    }

    static int row_count(const std::string& text) {
        int count = 0;
        for (size_t at = text.find("{\"index\": "); at != std::string::npos;
             at = text.find("{\"index\": ", at + 1))
            ++count;
        return count;
    }

    // Waits (polling the inspector file) until done holds of the top form outside a transition;
    // the time limit only ends a test that has failed.
    bool wait(const std::function<bool(const std::string& top)>& done, int ms = 30000) const {
        for (int waited = 0; waited < ms; waited += 20) {
            const std::string t = top();
            if (!t.empty() && json().find("\"transition\": false") != std::string::npos && done(t))
                return true;
            platform::sleep_ms(20);
        }
        return false;
    }

    bool wait_form(const std::string& id) const {
        return wait([&](const std::string& t) { return top_id(t) == id; });
    }

    bool wait_shown(const std::string& id) const {
        return wait([&](const std::string& t) { return box(t, id).shown; });
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

    // Taps the list row (or menu item) of the top form that shows text.
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
    fs::path m_inspect, m_input, m_picture;
    std::vector<std::unique_ptr<testing_support::ScopedEnv>> m_set;
    pid_t m_pid{-1};
};

} // namespace screens_test
