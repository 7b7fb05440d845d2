// Sending a record: the mail program gets the file's path whole, whatever its name; without a
// working mail program the record is shown selected in its folder (a mock file manager on a
// private bus), and the outcome is told once.

#include "foundation/active_scheduler.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "sharing/send_mail.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace fs = std::filesystem;
using sharing::MailSender;
using sharing::SendOutcome;
using testing_support::read_whole_file;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// A stand-in program folder/name that writes its arguments, one a line, to folder/name.args and
// ends with status.
void fake_program(const fs::path& folder, const std::string& name, int status = 0) {
    testing_support::write_script(folder / name, testing_support::arguments_recorder + "exit " +
                                                     std::to_string(status) + "\n");
}

// What the stand-in program wrote, once it has.
std::string arguments_of(const fs::path& program) {
    const fs::path args = program.string() + ".args";
    testing_support::wait_for([&] { return fs::exists(args); }, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return read_whole_file(args);
}

class SendByMail : public ::testing::Test {
protected:
    TempDir m_dir;
    const fs::path m_bin = m_dir / "bin";
    ScopedEnv m_path{"PATH", m_bin.string() + ":/usr/bin:/bin"};
};

// The desktop's own xdg-email hands each name whole to the default mail program (a stand-in
// for Thunderbird that keeps its arguments).
TEST_F(SendByMail, ThunderbirdThroughXdgEmailGetsEveryNameWhole) {
    if (!fs::exists("/usr/bin/xdg-email"))
        GTEST_SKIP() << "xdg-email is not installed";
    const fs::path apps = m_dir / "data/applications";
    fs::create_directories(apps);
    fake_program(m_bin, "thunderbird");
    testing_support::write_script(m_bin / "xdg-mime", "echo thunderbird.desktop\n");
    std::ofstream(apps / "thunderbird.desktop")
        << "[Desktop Entry]\nType=Application\nName=Thunderbird\nExec=thunderbird %u\n";
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "MATE");
    ScopedEnv data("XDG_DATA_HOME", (m_dir / "data").string());
    ScopedEnv data_dirs("XDG_DATA_DIRS", (m_dir / "data").string());
    ScopedEnv mailer("MAILER", "");
    unsetenv("MAILER");

    // Commas, blanks, quotes, shell and URL characters, and a name that is not UTF-8.
    for (const std::string name :
         {"Ada  two, 'quotes' \"x\".mp3", "semi;colon &amp *star? [x] $HOME.mp3",
          "Caf\xC3\xA9 \xE9 %41.mp3"}) {
        const fs::path record = m_dir / name;
        std::ofstream(record) << "ID3";
        fs::remove(m_bin / "thunderbird.args");
        ASSERT_TRUE(sharing::send_by_mail(foundation::from_utf8(record.string())));
        const std::string given = arguments_of(m_bin / "thunderbird");
        const std::string start = "-compose\nattachment='";
        ASSERT_EQ(given.rfind(start, 0), 0u) << given;
        const size_t end = given.find('\'', start.size());
        ASSERT_NE(end, std::string::npos) << given;
        const std::string url = given.substr(start.size(), end - start.size());
        EXPECT_EQ(url.find(','), std::string::npos) << "one attachment: " << url;
        EXPECT_EQ(url.rfind("file://", 0), 0u) << url;
        EXPECT_EQ(testing_support::percent_decoded(url.substr(7)), record.string()) << given;
    }
    // No mail program, or no path: a failure.
    ScopedEnv nowhere("PATH", m_dir.path().string());
    EXPECT_FALSE(sharing::send_by_mail(u"/tmp/a.mp3"));
    EXPECT_FALSE(sharing::send_by_mail(u""));
}

// A folder shower that notes what it was given and answers as told.
class FakeShower final : public platform::ItemShower {
public:
    FakeShower(std::vector<std::string>& shown, State answer) : m_shown(shown), m_answer(answer) {}
    void show(const std::string& path) override {
        m_shown.push_back(path);
        m_state = State::Busy;
    }
    void dispatch() override { m_state = m_answer; }
    State state() const override { return m_state; }
    const std::string& failure() const override { return m_failure; }

private:
    std::vector<std::string>& m_shown;
    State m_answer;
    State m_state{State::Idle};
    std::string m_failure{"fake"};
};

class MailSenderTest : public SendByMail {
protected:
    std::optional<SendOutcome> send(MailSender& sender) {
        std::optional<SendOutcome> outcome;
        int told = 0;
        sender.set_listener([&](SendOutcome o, const std::u16string& path) {
            outcome = o;
            ++told;
            EXPECT_EQ(path, m_record.u16string());
        });
        EXPECT_TRUE(sender.send(m_record.u16string()));
        for (int i = 0; i < 2000 && !outcome; ++i) {
            platform::Message message;
            while (platform::peek_message(message))
                platform::dispatch_message(message);
            if (!outcome)
                platform::wait_message(5);
        }
        EXPECT_EQ(told, outcome ? 1 : 0);
        EXPECT_FALSE(sender.busy());
        return outcome;
    }

    MailSender::ShowerMaker fake(platform::ItemShower::State answer) {
        return [this, answer] { return std::make_unique<FakeShower>(m_shown, answer); };
    }

    testing_support::Watchdog m_watchdog{60};
    foundation::CActiveScheduler m_scheduler;
    std::vector<std::string> m_shown;
    fs::path m_record = m_dir / "My Quillory/Ada, 5 May.mp3";
};

TEST_F(MailSenderTest, TheFolderIsShownOnlyWhenTheMailProgramFails) {
    using State = platform::ItemShower::State;
    struct Case {
        const char* what;
        int status; // of the mail program; -1 for none
        State shower;
        SendOutcome outcome;
        size_t shown;
    };
    const Case cases[] = {
        {"a working mail program", 0, State::Shown, SendOutcome::MailProgram, 0},
        {"a failing mail program", 3, State::Shown, SendOutcome::FolderShown, 1},
        {"neither", -1, State::Failed, SendOutcome::NotPossible, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_bin);
        std::optional<ScopedEnv> nowhere;
        if (c.status >= 0)
            fake_program(m_bin, "xdg-email", c.status);
        else
            nowhere.emplace("PATH", (m_dir / "empty").string());
        m_shown.clear();
        MailSender sender(fake(c.shower));
        EXPECT_EQ(send(sender), c.outcome);
        EXPECT_EQ(m_shown, std::vector<std::string>(c.shown, m_record.string()));
    }
}

TEST_F(MailSenderTest, FileManagerOnTheSessionBusShowsTheRecord) {
    testing_support::MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    const std::string log = (m_dir / "calls.log").string();
    ASSERT_TRUE(bus.start_mock({"org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                "org.freedesktop.FileManager1"},
                               "org.freedesktop.FileManager1", log));
    bool ok = false;
    bus.python("o = bus.get_object('org.freedesktop.FileManager1', "
               "'/org/freedesktop/FileManager1')\n"
               "o.AddMethod('', 'ShowItems', 'ass', '', '', "
               "dbus_interface='org.freedesktop.DBus.Mock')\n",
               &ok);
    ASSERT_TRUE(ok);
    fake_program(m_bin, "xdg-email", 4);
    fs::create_directories(m_record.parent_path());
    std::ofstream(m_record) << "ID3";
    MailSender sender;
    EXPECT_EQ(send(sender), SendOutcome::FolderShown);
    EXPECT_NE(read_whole_file(log).find("ShowItems [\"file://" + m_dir.path().string() +
                                        "/My%20Quillory/Ada,%205%20May.mp3\"]"),
              std::string::npos)
        << read_whole_file(log);
}

} // namespace
