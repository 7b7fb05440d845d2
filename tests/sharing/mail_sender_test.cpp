// Sending without a mail program: a failing xdg-email leads to the record shown selected in its
// folder (a mock file manager on a private bus), and the outcome is told once.

#include "foundation/active_scheduler.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "sharing/send_mail.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace fs = std::filesystem;
using sharing::MailSender;
using sharing::SendOutcome;
using testing_support::MockSessionBus;
using testing_support::read_whole_file;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// A shower that reports what it was given and answers as told.
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

class MailSenderTest : public ::testing::Test {
protected:
    // A stand-in xdg-email that ends with `status`, first in PATH.
    void mail_program_exits(int status) {
        fs::create_directories(m_dir / "bin");
        std::ofstream(m_dir / "bin/xdg-email")
            << "#!/bin/sh\necho \"$@\" > \"$0.args\"\nexit " << status << "\n";
        fs::permissions(m_dir / "bin/xdg-email", fs::perms::owner_all);
    }

    std::optional<SendOutcome> send(MailSender& sender, const fs::path& record) {
        std::optional<SendOutcome> outcome;
        int told = 0;
        sender.set_listener([&](SendOutcome o, const std::u16string& path) {
            outcome = o;
            ++told;
            EXPECT_EQ(path, record.u16string());
        });
        EXPECT_TRUE(sender.send(record.u16string()));
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
    TempDir m_dir;
    ScopedEnv m_path{"PATH", (m_dir / "bin").string() + ":/usr/bin:/bin"};
    foundation::CActiveScheduler m_scheduler;
    std::vector<std::string> m_shown;
    fs::path m_record = m_dir / "My Quillory/Ada, 5 May.mp3";
};

} // namespace

TEST_F(MailSenderTest, WorkingMailProgramShowsNoFolder) {
    mail_program_exits(0);
    MailSender sender(fake(platform::ItemShower::State::Shown));
    EXPECT_EQ(send(sender, m_record), SendOutcome::MailProgram);
    EXPECT_TRUE(m_shown.empty());
    EXPECT_TRUE(fs::exists(m_dir / "bin/xdg-email.args"));
}

TEST_F(MailSenderTest, FailingMailProgramShowsTheFolderInstead) {
    mail_program_exits(3);
    MailSender sender(fake(platform::ItemShower::State::Shown));
    EXPECT_EQ(send(sender, m_record), SendOutcome::FolderShown);
    EXPECT_EQ(m_shown, std::vector<std::string>{m_record.string()});
}

TEST_F(MailSenderTest, NoMailProgramAndNoFolderIsNotPossible) {
    // No xdg-email in PATH at all, and nothing shows folders.
    ScopedEnv path("PATH", (m_dir / "empty").string());
    MailSender sender(fake(platform::ItemShower::State::Failed));
    EXPECT_EQ(send(sender, m_record), SendOutcome::NotPossible);
    EXPECT_EQ(m_shown.size(), 1u);
}

TEST_F(MailSenderTest, FileManagerOnTheSessionBusShowsTheRecord) {
    MockSessionBus bus;
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
    mail_program_exits(4);
    fs::create_directories(m_record.parent_path());
    std::ofstream(m_record) << "ID3";
    MailSender sender;
    EXPECT_EQ(send(sender, m_record), SendOutcome::FolderShown);
    EXPECT_NE(read_whole_file(log).find("ShowItems [\"file://" + m_dir.path().string() +
                                        "/My%20Quillory/Ada,%205%20May.mp3\"]"),
              std::string::npos)
        << read_whole_file(log);
}
