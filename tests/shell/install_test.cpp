// The build installed into a prefix of its own, as `cmake --install` does for users and
// packages: the files land where desktops look for them, the desktop files pass their
// validators, and the installed programs run from there with the data under share/quillory.

#include "platform/registry_notifications.h"
#include "platform/registry_store.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <csignal>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::CommandResult;
using testing_support::read_whole_file;
using testing_support::run_command;

namespace {

const std::string desktop_id = QV_DESKTOP_ID;

// Installs the build tree into a fresh prefix, as a user or a package build would.
class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        const CommandResult installed = run_command(
            {QV_CMAKE_COMMAND, "--install", QV_BUILD_DIR, "--prefix", prefix().string()});
        ASSERT_EQ(installed.status, 0) << installed.output;
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

    testing_support::TempDir m_root;
};

// The value of `key` in the desktop entry's group `group`.
std::string desktop_value(const std::string& text, const std::string& group,
                          const std::string& key) {
    const size_t start = text.find("[" + group + "]\n");
    const std::string section =
        start == std::string::npos ? "" : text.substr(start, text.find("\n[", start + 1) - start);
    std::smatch m;
    return std::regex_search(section, m, std::regex("\n" + key + "=([^\n]*)")) ? m[1].str() : "";
}

// A desktop entry's string value as the desktop reads it (\\ \s \n \t \r unescaped).
std::string unescaped(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i] == '\\' && i + 1 < value.size() ? value[++i] : '\0';
        out += c == 's'   ? ' '
               : c == 'n' ? '\n'
               : c == 't' ? '\t'
               : c == 'r' ? '\r'
               : c        ? c
                          : value[i];
    }
    return out;
}

// The process running `program` (0: none). Only this test's own prefix runs it.
pid_t process_running(const fs::path& program) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            fs::read_symlink(entry.path() / "exe", ignored) == program)
            return pid_t(std::stol(name));
    }
    return 0;
}

double seconds_of(const fs::path& audio) {
    const CommandResult length = run_command({"soxi", "-D", audio.string()});
    return length.status == 0 ? std::stod(length.output) : -1;
}

} // namespace

TEST_F(InstallTest, ProgramsDataAndDesktopFilesLandInThePrefix) {
    testing_support::Watchdog watchdog(120);
    for (const char* program : {"bin/quillory", "bin/quillory-cli"})
        EXPECT_EQ(access((prefix() / program).c_str(), X_OK), 0) << program;
    for (const char* file :
         {"skins/bin/default.skin", "skins/bin/splash.skin", "skins/bin/record.bmp",
          "skins/bin/record@1.5x.bmp", "skins/bin/record@2x.bmp", "skins/bin/record@3x.bmp",
          "english.lng", "russian.lng", "keyboard.txt", "Voicbeep.wav", "RecEnd.wav",
          "help/english.html"})
        EXPECT_TRUE(fs::is_regular_file(data() / file)) << file;
    // Only what the programs read: no skin sources or drawings, no sample skin; only programs
    // in bin/.
    const std::regex shipped(
        R"(skins|skins/bin|skins/bin/(?!sample)[a-z_]+\.skin|skins/bin/(?!sample)[a-z_]+(@[1-8](\.5)?x)?\.bmp|)"
        R"([a-z]+\.lng|keyboard\.txt|Voicbeep\.wav|RecEnd\.wav|MarkTick\.wav|help|help/[a-z]+\.html|help/help\.css)");
    for (const auto& entry : fs::recursive_directory_iterator(data()))
        EXPECT_TRUE(std::regex_match(entry.path().lexically_relative(data()).string(), shipped))
            << entry.path();
    for (const auto& entry : fs::directory_iterator(prefix() / "bin"))
        EXPECT_TRUE(
            std::regex_match(entry.path().filename().string(), std::regex("quillory(-[a-z]+)?")))
            << entry.path();
    // The display's stand-in for the Vulkan loader, where the program looks for it.
    EXPECT_TRUE(fs::is_regular_file(prefix() / QV_STANDIN_LIBDIR / QV_VULKAN_STANDIN));

    // The desktop entry and its action start the installed binary by its full path, quoted.
    const std::string entry = read_whole_file(desktop_file());
    const std::string program = "\"" + (prefix() / "bin/quillory").string() + "\"";
    EXPECT_EQ(desktop_value(entry, "Desktop Entry", "Exec"), program);
    EXPECT_EQ(desktop_value(entry, "Desktop Action Record", "Exec"), program + " record");

    // The metainfo names the desktop entry and the programs it installs.
    const std::string metainfo = read_whole_file(metainfo_file());
    for (const std::string& part :
         {"<id>" + desktop_id + "</id>",
          "<launchable type=\"desktop-id\">" + desktop_id + ".desktop<",
          std::string("<binary>quillory</binary>"), std::string("<binary>quillory-cli</binary>")})
        EXPECT_NE(metainfo.find(part), std::string::npos) << part;
    // Its screenshots are the pictures of docs/screenshots, published under one address.
    const std::regex image("<image>[^<]*/([^/<]+)</image>");
    int images = 0;
    for (std::sregex_iterator it(metainfo.begin(), metainfo.end(), image), end; it != end; ++it) {
        ++images;
        const fs::path shots = fs::path(QV_SOURCE_DIR) / "docs/screenshots";
        EXPECT_TRUE(!fs::is_directory(shots) || fs::is_regular_file(shots / (*it)[1].str()))
            << (*it)[1];
    }
    EXPECT_GE(images, 1);

    QV_SKIP_IF_MISSING(testing_support::missing_program(
        {"desktop-file-validate", "appstreamcli", "rsvg-convert"}));
    // Hints are fine; warnings and errors are not.
    const CommandResult desktop = run_command({"desktop-file-validate", desktop_file().string()});
    EXPECT_TRUE(desktop.status == 0 && desktop.output.find("error:") == std::string::npos &&
                desktop.output.find("warning:") == std::string::npos)
        << desktop.output;
    const CommandResult appstream =
        run_command({"appstreamcli", "validate", "--no-net", metainfo_file().string()});
    EXPECT_EQ(appstream.status, 0) << appstream.output;
    // The icon draws: a square picture.
    const fs::path png = m_root / "icon.png";
    const CommandResult icon = run_command(
        {"rsvg-convert", "-w", "64", "-h", "64",
         (prefix() / "share/icons/hicolor/scalable/apps" / (desktop_id + ".svg")).string(), "-o",
         png.string()});
    EXPECT_EQ(icon.status, 0) << icon.output;
    EXPECT_GT(fs::exists(png) ? fs::file_size(png) : 0, 100u);
}

TEST_F(InstallTest, InstalledProgramsRunWithTheirDataFromThePrefix) {
    testing_support::Watchdog watchdog(150);
    QV_SKIP_IF_MISSING(testing_support::missing_program({"soxi", "gio"}));
    testing_support::ProgramSession session(m_root / "home", prefix() / "bin");
    // The command-line twin records from the prefix; its chimes come from share/quillory.
    const CommandResult recorded = session.cli({"record", "--seconds", "1"});
    ASSERT_EQ(recorded.status, 0) << recorded.output;
    const fs::path record = recorded.output.substr(0, recorded.output.find('\n'));
    EXPECT_EQ(record.parent_path(), session.records_folder());
    EXPECT_NEAR(seconds_of(record), 1.0, 0.3) << recorded.output;
    EXPECT_GT(seconds_of(session.playback_file()), 0.02) << "no chime was played";

    // Started from its desktop entry as a desktop does, the program finds its skins and
    // languages and shows the main form; with call recording on it registers the installed
    // binary for calls.
    ASSERT_EQ(session
                  .cli({"reg", "set", "HKEY_CURRENT_USER\\Software\\Corvane\\Quillory Vozir",
                        "AutoRecord", "--dword", "1"})
                  .status,
              0);
    const fs::path program = fs::canonical(prefix() / "bin/quillory");
    testing_support::Process launcher({"gio", "launch", desktop_file().string()}, session.env(),
                                      m_root / "launched.txt");
    ASSERT_EQ(launcher.wait_exit(30s), 0) << read_whole_file(m_root / "launched.txt");
    pid_t pid = 0;
    ASSERT_TRUE(testing_support::wait_for([&] { return (pid = process_running(program)); }, 10000))
        << "the desktop entry did not start " << program;
    struct Ender {
        pid_t pid;
        fs::path program;
        ~Ender() {
            if (process_running(program) == pid)
                kill(pid, SIGKILL);
        }
    } ender{pid, program};
    ASSERT_TRUE(session.wait_form("frmMain")) << session.last_json();
    // The title from the language file (not its key), the keypad's letters from its map.
    EXPECT_TRUE(session.inspect().top()->has_text("Quillory Vozir")) << session.last_json();
    EXPECT_TRUE(session.inspect().top()->has_text("pqrs")) << session.last_json();
    std::string command;
    {
        testing_support::ScopedEnv config("QUILLORY_CONFIG_DIR",
                                          session.env()["QUILLORY_CONFIG_DIR"]);
        platform::registry_close();
        testing_support::wait_for(
            [&] {
                for (const auto& notification : platform::registry_notifications())
                    if (notification.name == "Quillory Vozir.Call")
                        command = notification.command;
                return !command.empty();
            },
            10000);
        platform::registry_close();
    }
    EXPECT_EQ(command, "\"" + program.string() + "\" call");

    // The entry's "Record" action hands "record" to the running program, which records.
    const CommandResult action =
        run_command({"/bin/sh", "-c",
                     unescaped(desktop_value(read_whole_file(desktop_file()),
                                             "Desktop Action Record", "Exec"))},
                    session.env());
    EXPECT_EQ(action.status, 0) << action.output;
    EXPECT_TRUE(session.wait([](const testing_support::Inspection& i) {
        return i.at("frmRecording") && testing_support::seconds_shown(i, "frmElapsed") >= 1;
    })) << session.last_json();
}
