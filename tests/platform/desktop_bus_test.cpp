// The desktop's notification service and file manager, reached over a private session bus
// with mock services: what goes out, what comes back, and a bus or service that is not there.

#include "platform/clock.h"
#include "platform/desktop_bus.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using testing_support::MockSessionBus;
using testing_support::read_whole_file;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

struct Heard final : platform::NotificationListener {
    std::vector<std::string> actions;
    std::vector<uint32_t> closed;
    std::vector<std::string> unavailable;
    void notification_action(const std::string& key) override { actions.push_back(key); }
    void notification_closed(uint32_t reason) override { closed.push_back(reason); }
    void notifications_unavailable(const std::string& reason) override {
        unavailable.push_back(reason);
    }
};

// Dispatches until `done` or about five seconds.
template <typename Dispatch> bool until(Dispatch dispatch, const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        dispatch();
        if (done())
            return true;
        platform::sleep_ms(10);
    }
    return false;
}

const char* notifications = "org.freedesktop.Notifications";

std::string emit(const MockSessionBus& bus, const std::string& member, const std::string& signature,
                 const std::string& arguments) {
    bool ok = false;
    bus.python("o = bus.get_object('org.freedesktop.Notifications', "
               "'/org/freedesktop/Notifications')\n"
               "o.EmitSignal('org.freedesktop.Notifications', '" +
                   member + "', '" + signature + "', [" + arguments +
                   "], dbus_interface='org.freedesktop.DBus.Mock')\n",
               &ok);
    return ok ? "" : "emit failed";
}

platform::NotificationContent content(const std::string& body) {
    platform::NotificationContent c;
    c.app_name = "Quillory Vozir";
    c.icon = "quillory";
    c.summary = "Recording";
    c.body = body;
    c.actions = {{"pause", "Pause"}, {"stop", "Stop"}};
    return c;
}

} // namespace

TEST(DesktopNotifications, ShownReplacedActedOnAndClosed) {
    testing_support::Watchdog watchdog(60);
    MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    TempDir dir;
    const std::string log = (dir / "calls.log").string();
    ASSERT_TRUE(bus.start_mock({"--template", "notification_daemon"}, notifications, log));

    Heard heard;
    auto notifier = platform::open_notifier(heard);
    auto dispatch = [&] { notifier->dispatch(); };
    notifier->show(content("0:00:03"));
    ASSERT_TRUE(until(dispatch, [&] { return notifier->id() != 0; }));
    EXPECT_EQ(notifier->id(), 1u);
    EXPECT_NE(read_whole_file(log).find("Notify \"Quillory Vozir\" 0 \"quillory\" \"Recording\" "
                                        "\"0:00:03\" [\"pause\", \"Pause\", \"stop\", \"Stop\"]"),
              std::string::npos)
        << read_whole_file(log);

    // An update replaces the notification in place.
    notifier->show(content("0:00:06"));
    ASSERT_TRUE(until(dispatch, [&] {
        return read_whole_file(log).find("Notify \"Quillory Vozir\" 1 \"quillory\" \"Recording\" "
                                         "\"0:00:06\"") != std::string::npos;
    })) << read_whole_file(log);
    EXPECT_EQ(notifier->id(), 1u);

    // Another notification's action and a malformed signal change nothing; ours arrives.
    EXPECT_EQ(emit(bus, "ActionInvoked", "us", "dbus.UInt32(7), 'pause'"), "");
    EXPECT_EQ(emit(bus, "ActionInvoked", "ss", "'1', 'pause'"), "");
    EXPECT_EQ(emit(bus, "ActionInvoked", "us", "dbus.UInt32(1), 'stop'"), "");
    ASSERT_TRUE(until(dispatch, [&] { return !heard.actions.empty(); }));
    dispatch();
    EXPECT_EQ(heard.actions, std::vector<std::string>{"stop"});

    notifier->close();
    ASSERT_TRUE(until(dispatch, [&] { return !notifier->busy(); }));
    EXPECT_NE(read_whole_file(log).find("CloseNotification 1"), std::string::npos);
    EXPECT_TRUE(heard.closed.empty()) << "our own close is not news";

    // Shown again, then dismissed by the user.
    notifier->show(content("0:00:09"));
    ASSERT_TRUE(until(dispatch, [&] { return notifier->id() != 0; }));
    const uint32_t id = notifier->id();
    EXPECT_EQ(emit(bus, "NotificationClosed", "uu",
                   "dbus.UInt32(" + std::to_string(id) + "), dbus.UInt32(2)"),
              "");
    ASSERT_TRUE(until(dispatch, [&] { return !heard.closed.empty(); }));
    EXPECT_EQ(heard.closed, std::vector<uint32_t>{2});
    EXPECT_EQ(notifier->id(), 0u);
    EXPECT_TRUE(heard.unavailable.empty());
}

TEST(DesktopNotifications, NoSessionBusIsToldOnce) {
    testing_support::Watchdog watchdog(30);
    TempDir dir;
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", "");
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    Heard heard;
    auto notifier = platform::open_notifier(heard);
    notifier->show(content("0:00:01"));
    notifier->dispatch();
    notifier->show(content("0:00:02"));
    notifier->dispatch();
    ASSERT_EQ(heard.unavailable.size(), 1u);
    EXPECT_EQ(heard.unavailable[0], "no session bus");
    EXPECT_FALSE(notifier->busy());
}

TEST(DesktopNotifications, BusWithoutTheServiceIsToldOnce) {
    testing_support::Watchdog watchdog(60);
    MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    Heard heard;
    auto notifier = platform::open_notifier(heard);
    notifier->show(content("0:00:01"));
    ASSERT_TRUE(until([&] { notifier->dispatch(); }, [&] { return !heard.unavailable.empty(); }));
    notifier->show(content("0:00:02"));
    until([&] { notifier->dispatch(); }, [&] { return !notifier->busy(); });
    EXPECT_EQ(heard.unavailable.size(), 1u);
    EXPECT_EQ(notifier->id(), 0u);
}

TEST(DesktopItemShower, FileManagerShowsTheFileSelected) {
    testing_support::Watchdog watchdog(60);
    MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    TempDir dir;
    const std::string log = (dir / "calls.log").string();
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
    auto shower = platform::open_item_shower();
    shower->show((dir / "My Quillory/Ada, 5 May.mp3").string());
    ASSERT_TRUE(until([&] { shower->dispatch(); },
                      [&] { return shower->state() != platform::ItemShower::State::Busy; }));
    EXPECT_EQ(shower->state(), platform::ItemShower::State::Shown) << shower->failure();
    EXPECT_NE(read_whole_file(log).find("ShowItems [\"file://" + dir.path().string() +
                                        "/My%20Quillory/Ada,%205%20May.mp3\"] \"\""),
              std::string::npos)
        << read_whole_file(log);
}

TEST(DesktopItemShower, WithoutFileManagerOrPortalItFails) {
    testing_support::Watchdog watchdog(60);
    MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    TempDir dir;
    std::ofstream(dir / "x.mp3") << "x";
    auto shower = platform::open_item_shower();
    shower->show((dir / "x.mp3").string());
    ASSERT_TRUE(until([&] { shower->dispatch(); },
                      [&] { return shower->state() != platform::ItemShower::State::Busy; }));
    EXPECT_EQ(shower->state(), platform::ItemShower::State::Failed);
    EXPECT_NE(shower->failure().find("file manager"), std::string::npos) << shower->failure();
    EXPECT_NE(shower->failure().find("portal"), std::string::npos) << shower->failure();
}

TEST(DesktopItemShower, WithoutFileManagerThePortalOpensTheFolder) {
    testing_support::Watchdog watchdog(60);
    MockSessionBus bus;
    QV_REQUIRE_SESSION_MOCKS(bus);
    TempDir dir;
    std::ofstream(dir / "x.mp3") << "x";
    const std::string log = (dir / "calls.log").string();
    ASSERT_TRUE(bus.start_mock({"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                "org.freedesktop.portal.OpenURI"},
                               "org.freedesktop.portal.Desktop", log));
    bool ok = false;
    bus.python("o = bus.get_object('org.freedesktop.portal.Desktop', "
               "'/org/freedesktop/portal/desktop')\n"
               "o.AddMethod('', 'OpenDirectory', 'sha{sv}', 'o', "
               "'ret = dbus.ObjectPath(\"/org/freedesktop/portal/desktop/request/1/q\")', "
               "dbus_interface='org.freedesktop.DBus.Mock')\n",
               &ok);
    ASSERT_TRUE(ok);
    auto shower = platform::open_item_shower();
    shower->show((dir / "x.mp3").string());
    ASSERT_TRUE(until([&] { shower->dispatch(); },
                      [&] { return shower->state() != platform::ItemShower::State::Busy; }));
    EXPECT_EQ(shower->state(), platform::ItemShower::State::Shown) << shower->failure();
    EXPECT_NE(read_whole_file(log).find("OpenDirectory \"\""), std::string::npos)
        << read_whole_file(log);
}
