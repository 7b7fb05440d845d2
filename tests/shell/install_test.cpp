// The build installed into a prefix of its own, as `cmake --install` does for users and
// packages: the files land where desktops look for them, the desktop files pass their
// validators, and the installed programs run from there with the data under share/quillory.

#include "platform/clock.h"
#include "platform/registry_notifications.h"
#include "platform/registry_store.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string desktop_id = QV_DESKTOP_ID;

struct Result {
    int status{-1};
    std::string out;
};

// Runs a shell command line, standard error joined to the captured output.
Result run(const std::string& command) {
    Result result;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            result.out.append(buffer, got);
        const int status = pclose(pipe);
        result.status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool have_tool(const std::string& name) {
    return run("command -v " + name + " >/dev/null").status == 0;
}

bool under_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

// Installs the build tree into a fresh prefix, as a user or a package build would.
class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Result installed =
            run(quoted(QV_CMAKE_COMMAND) + " --install " + quoted(QV_BUILD_DIR) + " --prefix " +
                quoted(prefix().string()));
        ASSERT_EQ(installed.status, 0) << installed.out;
    }

    // A blank in the prefix: the desktop entry must quote the path.
    fs::path prefix() const { return m_root / "a prefix"; }
    fs::path data() const { return prefix() / "share/quillory"; }
    fs::path desktop_file() const {
        return prefix() / "share/applications" / (desktop_id + ".desktop");
    }
    fs::path metainfo_file() const {
        return prefix() / "share/metainfo" / (desktop_id + ".metainfo.xml");
    }
    fs::path icon_file() const {
        return prefix() / "share/icons/hicolor/scalable/apps" / (desktop_id + ".svg");
    }

    testing_support::TempDir m_root;
};

// The value of `key` in the desktop entry's group `group`.
std::string desktop_value(const std::string& text, const std::string& group,
                          const std::string& key) {
    const size_t start = text.find("[" + group + "]\n");
    if (start == std::string::npos)
        return {};
    const size_t end = text.find("\n[", start + 1);
    const std::string section = text.substr(start, end == std::string::npos ? end : end - start);
    std::smatch m;
    if (std::regex_search(section, m, std::regex("\n" + key + "=([^\n]*)")))
        return m[1].str();
    return {};
}

// A desktop entry's string value as the desktop reads it (\\ \s \n \t \r unescaped).
std::string unescaped(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

// The process running `program` (0: none). Only this test's own prefix runs it.
pid_t process_running(const fs::path& program) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code ignored;
        if (fs::read_symlink(entry.path() / "exe", ignored) == program)
            return pid_t(std::stol(name));
    }
    return 0;
}

bool shows_form(const std::string& shown, const std::string& form_id) {
    return shown.find("\"type\": \"form\", \"id\": \"" + form_id + "\"") != std::string::npos;
}

// The visible form tree the program writes, once it shows the form (or after 30 s).
std::string wait_for_form(const fs::path& inspect, const std::string& form_id) {
    std::string shown;
    for (int waited = 0; waited < 30000; waited += 50) {
        shown = read_text(inspect);
        if (shows_form(shown, form_id))
            break;
        platform::sleep_ms(50);
    }
    return shown;
}

// Kills the program this test started, if it still runs at the end.
class EndsProcess {
public:
    EndsProcess(pid_t pid, fs::path program) : m_pid(pid), m_program(std::move(program)) {}
    ~EndsProcess() {
        if (process_running(m_program) == m_pid)
            kill(m_pid, SIGKILL);
    }
    EndsProcess(const EndsProcess&) = delete;
    EndsProcess& operator=(const EndsProcess&) = delete;

private:
    pid_t m_pid;
    fs::path m_program;
};

} // namespace

TEST_F(InstallTest, ProgramsDataAndDesktopFilesLandInThePrefix) {
    testing_support::Watchdog watchdog(120);
    for (const char* program : {"bin/quillory", "bin/quillory-cli"}) {
        EXPECT_EQ(access((prefix() / program).c_str(), X_OK), 0) << program;
    }
    for (const char* file :
         {"skins/bin/default.skin", "skins/bin/splash.skin", "skins/bin/record.bmp",
          "skins/bin/record@2x.bmp", "skins/bin/record@3x.bmp", "english.lng", "russian.lng",
          "keyboard.txt", "Voicbeep.wav", "RecEnd.wav", "help/english.html"}) {
        EXPECT_TRUE(fs::is_regular_file(data() / file)) << file;
    }
    // Only what the programs read: no skin sources or drawings, no sample skin; only programs
    // in bin/.
    const std::regex shipped(
        R"(skins|skins/bin|skins/bin/(?!sample)[a-z_]+\.skin|skins/bin/(?!sample)[a-z_]+(@[2-8]x)?\.bmp|)"
        R"([a-z]+\.lng|keyboard\.txt|Voicbeep\.wav|RecEnd\.wav|MarkTick\.wav|help|help/[a-z]+\.html|help/help\.css)");
    for (const auto& entry : fs::recursive_directory_iterator(data()))
        EXPECT_TRUE(std::regex_match(entry.path().lexically_relative(data()).string(), shipped))
            << entry.path();
    for (const auto& entry : fs::directory_iterator(prefix() / "bin"))
        EXPECT_TRUE(
            std::regex_match(entry.path().filename().string(), std::regex("quillory(-[a-z]+)?")))
            << entry.path();

    // The desktop entry starts the installed binary by its full path; its action records.
    const std::string entry = read_text(desktop_file());
    const std::string program = "\"" + (prefix() / "bin/quillory").string() + "\"";
    EXPECT_EQ(desktop_value(entry, "Desktop Entry", "Exec"), program);
    EXPECT_EQ(desktop_value(entry, "Desktop Entry", "Icon"), desktop_id);
    EXPECT_EQ(desktop_value(entry, "Desktop Entry", "Categories"), "AudioVideo;Audio;Recorder;");
    EXPECT_EQ(desktop_value(entry, "Desktop Entry", "X-Purism-FormFactor"), "Workstation;Mobile;");
    EXPECT_EQ(desktop_value(entry, "Desktop Entry", "Actions"), "Record;");
    EXPECT_EQ(desktop_value(entry, "Desktop Action Record", "Exec"), program + " record");
    EXPECT_EQ(desktop_value(entry, "Desktop Action Record", "Name"), "Record");

    // The metainfo names the desktop entry and the programs it installs.
    const std::string metainfo = read_text(metainfo_file());
    EXPECT_NE(metainfo.find("<id>" + desktop_id + "</id>"), std::string::npos);
    EXPECT_NE(metainfo.find("<launchable type=\"desktop-id\">" + desktop_id + ".desktop<"),
              std::string::npos);
    EXPECT_NE(metainfo.find("<binary>quillory</binary>"), std::string::npos);
    EXPECT_NE(metainfo.find("<binary>quillory-cli</binary>"), std::string::npos);
    // Its screenshots are the pictures of docs/screenshots, published under one address.
    const std::regex image("<image>[^<]*/([^/<]+)</image>");
    int images = 0;
    for (std::sregex_iterator it(metainfo.begin(), metainfo.end(), image), end; it != end; ++it) {
        ++images;
        if (fs::is_directory(std::string(QV_SOURCE_DIR) + "/docs/screenshots")) {
            EXPECT_TRUE(fs::is_regular_file(std::string(QV_SOURCE_DIR) + "/docs/screenshots/" +
                                            (*it)[1].str()))
                << (*it)[1];
        }
    }
    EXPECT_GE(images, 1);

    for (const char* tool : {"desktop-file-validate", "appstreamcli", "rsvg-convert"}) {
        if (!have_tool(tool)) {
            if (under_ci())
                FAIL() << tool << " is missing";
            GTEST_SKIP() << tool << " is missing; the validators did not run";
        }
    }
    // Hints are fine; warnings and errors are not.
    const Result desktop = run("desktop-file-validate " + quoted(desktop_file().string()));
    EXPECT_EQ(desktop.status, 0) << desktop.out;
    EXPECT_EQ(desktop.out.find("error:"), std::string::npos) << desktop.out;
    EXPECT_EQ(desktop.out.find("warning:"), std::string::npos) << desktop.out;
    const Result appstream =
        run("appstreamcli validate --no-net " + quoted(metainfo_file().string()));
    EXPECT_EQ(appstream.status, 0) << appstream.out;
    EXPECT_NE(appstream.out.find("Validation was successful"), std::string::npos) << appstream.out;
    // The icon draws: a square picture.
    const fs::path png = m_root / "icon.png";
    const Result icon = run("rsvg-convert -w 64 -h 64 " + quoted(icon_file().string()) + " -o " +
                            quoted(png.string()));
    EXPECT_EQ(icon.status, 0) << icon.out;
    EXPECT_GT(fs::exists(png) ? fs::file_size(png) : 0, 100u);
}

TEST_F(InstallTest, InstalledProgramsRunWithTheirDataFromThePrefix) {
    testing_support::Watchdog watchdog(150);
    using testing_support::ScopedEnv;
    for (const char* tool : {"soxi", "gio"}) {
        if (!have_tool(tool)) {
            if (under_ci())
                FAIL() << tool << " is missing";
            GTEST_SKIP() << tool << " is missing; the installed programs did not run";
        }
    }
    const fs::path home = m_root / "home";
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path records = home / "documents/My Quillory";
    const fs::path played = m_root / "played.wav";
    const fs::path inspect = m_root / "inspect.json";
    ScopedEnv config("QUILLORY_CONFIG_DIR", (home / "config").string());
    ScopedEnv documents("XDG_DOCUMENTS_DIR", (home / "documents").string());
    ScopedEnv cards("QUILLORY_CARDS", "");
    ScopedEnv runtime("XDG_RUNTIME_DIR", (home / "run").string());
    ScopedEnv audio("QUILLORY_AUDIO", "file");
    ScopedEnv audio_in("QUILLORY_AUDIO_IN",
                       std::string(QV_SOURCE_DIR) + "/tests/data/controller/speech.wav");
    ScopedEnv audio_out("QUILLORY_AUDIO_OUT", played.string());
    ScopedEnv video("SDL_VIDEODRIVER", "offscreen");
    ScopedEnv inspector("QUILLORY_INSPECT", inspect.string());
    const std::string cli = quoted((prefix() / "bin/quillory-cli").string());

    // The command-line twin records from the prefix; its chimes come from share/quillory.
    const Result recorded = run(cli + " record --seconds 1");
    ASSERT_EQ(recorded.status, 0) << recorded.out;
    const fs::path record = recorded.out.substr(0, recorded.out.find('\n'));
    EXPECT_EQ(record.parent_path(), records);
    ASSERT_TRUE(fs::is_regular_file(record)) << recorded.out;
    const Result length = run("soxi -D " + quoted(record.string()));
    ASSERT_EQ(length.status, 0) << length.out;
    EXPECT_NEAR(std::stod(length.out), 1.0, 0.3);
    const Result chimes = run("soxi -s " + quoted(played.string()));
    ASSERT_EQ(chimes.status, 0) << chimes.out;
    EXPECT_GT(std::stol(chimes.out), 1000) << "no chime was played";

    // Started from its desktop entry as a desktop does, the program finds its skins and
    // languages and shows the main form; with call recording on it registers the installed
    // binary for calls.
    const Result set = run(cli + " reg set 'HKEY_CURRENT_USER\\Software\\Corvane\\Quillory Vozir'"
                                 " AutoRecord --dword 1");
    ASSERT_EQ(set.status, 0) << set.out;
    const fs::path program = fs::canonical(prefix() / "bin/quillory");
    // The program must not keep the captured output open.
    const Result launched = run("gio launch " + quoted(desktop_file().string()) + " </dev/null >" +
                                quoted((m_root / "launched.txt").string()) + " 2>&1");
    ASSERT_EQ(launched.status, 0) << read_text(m_root / "launched.txt");
    pid_t pid = 0;
    for (int waited = 0; waited < 10000 && pid == 0; waited += 50) {
        pid = process_running(program);
        if (pid == 0)
            platform::sleep_ms(50);
    }
    ASSERT_NE(pid, 0) << "the desktop entry did not start " << program;
    EndsProcess ends(pid, program);
    const std::string main_form = wait_for_form(inspect, "frmMain");
    std::string command;
    platform::registry_close();
    for (int waited = 0; waited < 10000 && command.empty(); waited += 50) {
        for (const auto& notification : platform::registry_notifications())
            if (notification.name == "Quillory Vozir.Call")
                command = notification.command;
        if (command.empty())
            platform::sleep_ms(50);
    }
    platform::registry_close();

    // The entry's "Record" action hands "record" to the running program, which records.
    const std::string entry = read_text(desktop_file());
    const Result action = run(unescaped(desktop_value(entry, "Desktop Action Record", "Exec")));
    const std::string recording_form = wait_for_form(inspect, "frmRecording");
    platform::sleep_ms(500);
    kill(pid, SIGTERM);
    for (int waited = 0; waited < 20000 && process_running(program) == pid; waited += 50)
        platform::sleep_ms(50);
    const bool ended = process_running(program) != pid;

    ASSERT_TRUE(shows_form(main_form, "frmMain")) << main_form;
    // The title from the language file (not its key), the keypad's letters from its map.
    EXPECT_NE(main_form.find("\"text\": \"Quillory Vozir\""), std::string::npos) << main_form;
    EXPECT_NE(main_form.find("\"text\": \"pqrs\""), std::string::npos) << main_form;
    EXPECT_EQ(command, "\"" + program.string() + "\" call");
    EXPECT_EQ(action.status, 0) << action.out;
    EXPECT_TRUE(shows_form(recording_form, "frmRecording")) << recording_form;
    ASSERT_TRUE(ended) << "the program did not end on SIGTERM";
    // The recording the action started was completed when the program ended.
    size_t count = 0;
    for (const auto& file : fs::directory_iterator(records)) {
        ++count;
        if (file.path() == record)
            continue;
        const Result second = run("soxi -D " + quoted(file.path().string()));
        EXPECT_EQ(second.status, 0) << second.out;
        EXPECT_GT(std::stod(second.out), 0.2) << file.path();
    }
    EXPECT_EQ(count, 2u);
}

namespace {

std::string whole_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every environment variable of the program's own that the sources read has its row in the
// README's table, so that a user (or a test written later) can find what it does.
TEST(Readme, TheTableNamesEveryQuilloryVariableTheProgramReads) {
    const fs::path source = QV_SOURCE_DIR;
    const std::string readme = whole_file(source / "README.md");
    ASSERT_FALSE(readme.empty());
    const std::regex name("\"(QUILLORY_[A-Z0-9_]+)\"");
    size_t seen = 0;
    for (const auto& entry : fs::recursive_directory_iterator(source / "src")) {
        if (!entry.is_regular_file())
            continue;
        const std::string text = whole_file(entry.path());
        for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
            ++seen;
            const std::string row = "| `" + (*it)[1].str() + "`";
            EXPECT_NE(readme.find(row), std::string::npos)
                << (*it)[1].str() << " (read in " << entry.path().filename().string() << ")";
        }
    }
    EXPECT_GT(seen, 0u);
}

} // namespace
