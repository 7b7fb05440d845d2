// Started minimised by "record", the program records in a notification whose actions work.

#include "support/private_bus.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing_support::Inspection;
using testing_support::read_whole_file;

TEST(DesktopProgram, StartedMinimisedByRecordItRecordsInANotification) {
    testing_support::Watchdog watchdog(120);
    testing_support::MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    testing_support::TempDir root;
    const std::string log = (root / "notifications.log").string();
    ASSERT_TRUE(bus.start_mock({"--template", "notification_daemon"},
                               "org.freedesktop.Notifications", log));
    testing_support::ProgramSession session(root.path());
    session.env()["QUILLORY_AUDIO_SPEED"] = "2";
    const auto program = session.start({"--minimised", "record"});
    ASSERT_TRUE(session.wait([](const Inspection& i) { return i.at("frmRecording"); }))
        << session.last_json();
    EXPECT_TRUE(session.inspect().minimised) << session.last_json();
    auto notified = [&](const std::string& text) {
        return testing_support::wait_for(
            [&] { return read_whole_file(log).find(text) != std::string::npos; });
    };
    ASSERT_TRUE(notified("Notify \"Quillory Vozir\" 0 \"net.corvane.quillory\" \"Recording\" "
                         "\"0:00:0"))
        << read_whole_file(log);
    EXPECT_TRUE(notified("[\"pause\", \"Pause\", \"stop\", \"Stop\"]")) << read_whole_file(log);
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
    ASSERT_TRUE(notified("Notify \"Quillory Vozir\" 1 \"net.corvane.quillory\" \"Paused\""))
        << read_whole_file(log);
    ASSERT_TRUE(act("stop"));
    ASSERT_TRUE(session.wait_form("frmMain")) << session.last_json();
    ASSERT_TRUE(notified("CloseNotification 1")) << read_whole_file(log);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(session.records_folder()), {}), 1);
    EXPECT_EQ(program->terminate(10s), 0);
}
