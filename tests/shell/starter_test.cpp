// Start-up: the splash at once, the language and the main form half a second later, and the
// message boxes that end a start that cannot go on.

#include "controller/controller_env.h"
#include "controller/document.h"
#include "foundation/registry.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/messages.h"
#include "shell/application.h"
#include "shell/message_box.h"
#include "shell/starter.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"
#include "support/watchdog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;
using shell::Application;
using shell::Starter;
using testing_support::Inspection;

namespace {

namespace fs = std::filesystem;

const char* splash_source =
    "node FormSplash { id \"frmSplash\" node { type \"node\" id \"logo\" } }";
const char* main_source = "node FormMain { id \"frmMain\" color outside_color = #203040 }";

struct Message {
    std::u16string text;
    std::u16string caption;
};

class StarterTest : public ::testing::Test {
protected:
    StarterTest() {
        platform::set_locale_for_testing("en_US");
        shell::set_message_box_hook_for_testing(
            [this](const std::u16string& text, const std::u16string& caption) {
                messages.push_back({text, caption});
            });
        fs::create_directories(app() / "skins");
        testing_support::write_test_skin(app() / "skins", "splash.skin", splash_source);
        testing_support::write_test_skin(app() / "skins", "default.skin", main_source);
        std::ofstream(app() / "english.lng") << "NoSkins=No skins, please reinstall\n";
    }
    ~StarterTest() override {
        shell::set_message_box_hook_for_testing({});
        platform::set_locale_for_testing("");
        platform::use_fake_clock(false);
    }

    fs::path app() const { return m_world.root() / "app"; }
    Starter::Paths paths() const {
        Starter::Paths p;
        p.splash_skin = (app() / "skins" / "splash.skin").u16string();
        p.main_skin = (app() / "skins" / "default.skin").u16string();
        p.languages = app().u16string();
        return p;
    }

    // Dispatches what is queued; false with the exit code when WM_QUIT came.
    bool pump(int* exit_code = nullptr) {
        platform::Message message;
        while (platform::peek_message(message)) {
            if (message.message == platform::WM_QUIT) {
                if (exit_code)
                    *exit_code = int(message.wparam);
                return false;
            }
            platform::dispatch_message(message);
        }
        return true;
    }
    // Starts, lets the half second pass and expects the start to end with status 1 and the one
    // message box saying `text`, with nothing half-built shown.
    void expect_failed_start(const std::u16string& text) {
        platform::use_fake_clock(true, 5000);
        controller::Document document;
        Starter starter(m_application, document, u"", paths());
        platform::advance_fake_clock(510);
        int exit_code = -1;
        EXPECT_FALSE(pump(&exit_code));
        EXPECT_EQ(exit_code, 1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, text);
        EXPECT_EQ(messages[0].caption, u"Quillory Vozir");
        EXPECT_TRUE(starter.failed() && !starter.loaded() && !starter.main_form());
        // The splash stays until the loop ends.
        EXPECT_EQ(m_application.form_stack().top_form(), starter.splash_form());
    }

    testing_support::Watchdog m_watchdog{60, "Starter test"};
    controller_test::IsolatedWorld m_world;
    testing_support::ScopedEnv m_audio{"QUILLORY_AUDIO", "null"};
    Application m_application{u"Quillory Vozir", Application::Options{false}};
    std::vector<Message> messages;
};

TEST_F(StarterTest, FirstCommandLineRecordsAndLaterStartsTogglePause) {
    controller::Document document;
    {
        Starter starter(m_application, document, u"record", paths());
        EXPECT_EQ(m_application.delegate(), &starter);
        ASSERT_TRUE(document.is_recording());
        EXPECT_FALSE(starter.may_close());
        for (bool paused : {true, false}) {
            starter.on_other_instance_started(u"record");
            EXPECT_EQ(document.is_paused(), paused);
        }
        document.stop();
        EXPECT_TRUE(!document.is_recording() && starter.may_close());
    }
    EXPECT_EQ(m_application.delegate(), nullptr);
}

TEST_F(StarterTest, StartedForACallEndsAfterItUntilAnotherStartArrives) {
    controller::Document document;
    Starter starter(m_application, document, u"call", paths());
    EXPECT_TRUE(document.exit_after_call());
    starter.on_other_instance_started(u"call");
    EXPECT_TRUE(document.exit_after_call());
    starter.on_other_instance_started(u"");
    EXPECT_FALSE(document.exit_after_call());
}

TEST_F(StarterTest, SplashAtOnceMainFormHalfASecondLater) {
    platform::use_fake_clock(true, 5000);
    controller::Document document;
    Starter starter(m_application, document, u"", paths());
    skin::FormStack& stack = m_application.form_stack();
    ASSERT_NE(starter.splash_form(), nullptr);
    EXPECT_EQ(stack.top_form(), starter.splash_form());
    EXPECT_TRUE(stack.top_is_overlay());
    EXPECT_EQ(starter.splash_form()->id(), u"frmSplash");
    EXPECT_FALSE(m_application.game().windowed());

    platform::advance_fake_clock(450);
    ASSERT_TRUE(pump());
    EXPECT_TRUE(!starter.loaded() && stack.top_form() == starter.splash_form());

    platform::advance_fake_clock(60);
    ASSERT_TRUE(pump());
    ASSERT_TRUE(starter.loaded() && starter.main_form());
    EXPECT_TRUE(stack.top_form() == starter.main_form() && !stack.top_is_overlay());
    EXPECT_TRUE(!stack.contains(*starter.splash_form()) && stack.size() == 1);
    EXPECT_TRUE(starter.main_skin().text(u"NoSkins") == u"No skins, please reinstall" &&
                messages.empty());
}

TEST_F(StarterTest, AMissingMainSkinSaysNoSkinsInTheCurrentLanguageAndQuitsWithOne) {
    std::ofstream(app() / "russian.lng")
        << "NoSkins=\xD0\x9D\xD0\xB5\xD1\x82 \xD1\x81\xD0\xBA\xD0\xB8\xD0\xBD\xD0\xBE\xD0\xB2\n";
    ASSERT_TRUE(foundation::write_string(u"HKEY_CURRENT_USER\\Software\\Corvane\\Quillory Vozir",
                                         u"Language", u"russian"));
    fs::remove(app() / "skins" / "default.skin");
    expect_failed_start(u"\u041d\u0435\u0442 \u0441\u043a\u0438\u043d\u043e\u0432");
}

TEST_F(StarterTest, NoLanguageFileSaysSoInBothLanguagesAndQuitsWithOne) {
    fs::remove(app() / "english.lng");
    expect_failed_start(u"No languages, please reinstall\n"
                        u"\u041d\u0435 \u043d\u0430\u0439\u0434\u0435\u043d\u044b "
                        u"\u044f\u0437\u044b\u043a\u043e\u0432\u044b\u0435 "
                        u"\u0444\u0430\u0439\u043b\u044b, \u043d\u0443\u0436\u043d\u0430 "
                        u"\u043f\u0435\u0440\u0435\u0443\u0441\u0442\u0430\u043d\u043e"
                        u"\u0432\u043a\u0430\n");
}

TEST_F(StarterTest, ASplashSkinWithoutItsFormNamesSkinAndNodeAndQuits) {
    testing_support::write_test_skin(app() / "skins", "splash.skin", "node Other { }");
    controller::Document document;
    Starter starter(m_application, document, u"", paths());
    EXPECT_TRUE(starter.failed());
    int exit_code = -1;
    EXPECT_FALSE(pump(&exit_code));
    EXPECT_EQ(exit_code, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              u"The skin " + paths().splash_skin + u" has no node \"FormSplash\".");
    EXPECT_TRUE(m_application.form_stack().empty());
}

TEST_F(StarterTest, AMainSkinWithoutTheMainFormNamesSkinAndNode) {
    testing_support::write_test_skin(app() / "skins", "default.skin",
                                     "node FormMain { node { type \"gadget\" } }");
    expect_failed_start(u"The skin " + paths().main_skin +
                        u" has a node of the unknown type \"gadget\".");
}

TEST(StarterProgram, AMissingMainSkinEndsTheProgramWithStatusOne) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    // The program with the splash skin and its pictures beside it; no main skin.
    const fs::path app = root / "app";
    fs::create_directories(app / "skins/bin");
    fs::copy_file(fs::path(QV_BUILD_DIR) / "bin/quillory", app / "quillory");
    for (const auto& entry : fs::directory_iterator(fs::path(QV_BUILD_DIR) / "bin/skins/bin"))
        if (entry.path().filename() != "default.skin")
            fs::copy_file(entry.path(), app / "skins/bin" / entry.path().filename());
    std::ofstream(app / "english.lng") << "NoSkins=The skins are gone\n";
    testing_support::ProgramSession session(root / "home", app);
    session.env()["QUILLORY_AUDIO"] = "null";
    EXPECT_EQ(session.start()->wait_exit(30s), 1);
    const std::string said = testing_support::read_whole_file(session.log_file());
    EXPECT_NE(said.find("Quillory Vozir: The skins are gone"), std::string::npos) << said;
}

// The interface thread's waits so far (each sleep of the loop ends in one).
long interface_thread_waits(pid_t pid) {
    const std::string status =
        testing_support::read_whole_file("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("voluntary_ctxt_switches:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 24);
}

TEST(StarterProgram, ShowsTheSplashThenTheMainFormAndTellsTheInspectorThenSleeps) {
    testing_support::Watchdog watchdog(60);
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path());
    session.env()["QUILLORY_AUDIO"] = "null";
    session.env().erase("QUILLORY_INPUT"); // an input file is looked at every 20 ms
    const auto program = session.start();
    bool saw_splash = false;
    // At rest: the dimming behind the closed splash lifts over eight frames.
    ASSERT_TRUE(session.wait([&](const Inspection& i) {
        for (const auto& form : i.forms)
            saw_splash |= form.id == "frmSplash";
        return i.at("frmMain") && !i.moving;
    })) << session.last_json();
    EXPECT_TRUE(saw_splash);
    // The main form alone, over the whole 480 x 640 window.
    const Inspection& shown = session.inspect();
    ASSERT_EQ(shown.forms.size(), 1u) << session.last_json();
    EXPECT_EQ(std::tuple(shown.top()->x, shown.top()->y, shown.top()->w, shown.top()->h),
              std::tuple(0, 0, 480, 640));
    // Nothing moves and nothing records: the loop sleeps until input, a due timer or a message
    // (a second now and then for the storages; the old timers woke it 10 times a second).
    const long before = interface_thread_waits(program->pid());
    std::this_thread::sleep_for(3s);
    EXPECT_LE(interface_thread_waits(program->pid()) - before, 6);
    // A request to end still wakes it.
    EXPECT_EQ(program->terminate(10s), 0);
}

} // namespace
