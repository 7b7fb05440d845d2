#include "controller/controller_env.h"
#include "controller/document.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "shell/application.h"
#include "shell/starter.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

using shell::Application;
using shell::Starter;

namespace {

class StarterTest : public ::testing::Test {
protected:
    void pump() {
        platform::Message message;
        while (platform::peek_message(message))
            platform::dispatch_message(message);
    }

    testing_support::Watchdog m_watchdog{60, "Starter test"};
    controller_test::IsolatedWorld m_world;
    testing_support::ScopedEnv m_audio{"QUILLORY_AUDIO", "null"};
    Application m_application{u"Quillory Vozir", Application::Options{false}};
};

TEST_F(StarterTest, FirstCommandLineRecordsAndLaterStartsTogglePause) {
    controller::Document document;
    {
        Starter starter(m_application, document, u"record");
        EXPECT_EQ(m_application.delegate(), &starter);
        ASSERT_TRUE(document.is_recording());
        EXPECT_FALSE(starter.may_close());

        starter.on_other_instance_started(u"record");
        EXPECT_TRUE(document.is_paused());
        starter.on_other_instance_started(u"record");
        EXPECT_FALSE(document.is_paused());

        document.stop();
        EXPECT_FALSE(document.is_recording());
        EXPECT_TRUE(starter.may_close());
    }
    EXPECT_EQ(m_application.delegate(), nullptr);
}

TEST_F(StarterTest, StartedForACallEndsAfterItUntilAnotherStartArrives) {
    controller::Document document;
    Starter starter(m_application, document, u"call");
    EXPECT_TRUE(document.exit_after_call());
    starter.on_other_instance_started(u"call");
    EXPECT_TRUE(document.exit_after_call());
    starter.on_other_instance_started(u"");
    EXPECT_FALSE(document.exit_after_call());
}

TEST_F(StarterTest, SecondLoadingStageRunsHalfASecondLater) {
    platform::use_fake_clock(true, 5000);
    {
        controller::Document document;
        Starter starter(m_application, document, u"");
        EXPECT_FALSE(document.is_recording());
        platform::advance_fake_clock(450);
        pump();
        EXPECT_FALSE(starter.loaded());
        platform::advance_fake_clock(60);
        pump();
        EXPECT_TRUE(starter.loaded());
    }
    platform::use_fake_clock(false);
}

} // namespace
