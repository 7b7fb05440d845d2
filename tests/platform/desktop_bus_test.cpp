// The desktop's notifications and file manager over a private session bus with mock services.

#include "platform/desktop_bus.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace testing_support;
namespace fs = std::filesystem;

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

// Dispatches until `done` or five seconds have passed.
bool until(const std::function<void()>& dispatch, const std::function<bool()>& done) {
    return wait_for([&] { return dispatch(), done(); }, 5000);
}

const char* notifications = "org.freedesktop.Notifications";

bool emit(const MockSessionBus& bus, const std::string& member, const std::string& signature,
          const std::string& arguments) {
    bool ok = false;
    bus.python("o = bus.get_object('org.freedesktop.Notifications', "
               "'/org/freedesktop/Notifications')\n"
               "o.EmitSignal('org.freedesktop.Notifications', '" +
                   member + "', '" + signature + "', [" + arguments +
                   "], dbus_interface='org.freedesktop.DBus.Mock')\n",
               &ok);
    return ok;
}

platform::NotificationContent content(const std::string& body) {
    platform::NotificationContent c{"Quillory Vozir", "quillory", "Recording", body, {}, ""};
    c.actions = {{"pause", "Pause"}, {"stop", "Stop"}};
    return c;
}

} // namespace

// What goes out is witnessed with the whole program while recording; here, what comes back.
TEST(DesktopNotifications, OnlyOurOwnSignalsAreHeard) {
    Watchdog watchdog(60);
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

    // Another notification's action and a malformed signal change nothing; ours arrives.
    EXPECT_TRUE(emit(bus, "ActionInvoked", "us", "dbus.UInt32(7), 'pause'"));
    EXPECT_TRUE(emit(bus, "ActionInvoked", "ss", "'1', 'pause'"));
    EXPECT_TRUE(emit(bus, "ActionInvoked", "us", "dbus.UInt32(1), 'stop'"));
    ASSERT_TRUE(until(dispatch, [&] { return !heard.actions.empty(); }));
    dispatch();
    EXPECT_EQ(heard.actions, std::vector<std::string>{"stop"});

    notifier->close();
    ASSERT_TRUE(until(dispatch, [&] { return !notifier->busy(); }));
    EXPECT_TRUE(heard.closed.empty()) << "our own close is not news";

    // Shown again, then dismissed by the user.
    notifier->show(content("0:00:09"));
    ASSERT_TRUE(until(dispatch, [&] { return notifier->id() != 0; }));
    EXPECT_TRUE(emit(bus, "NotificationClosed", "uu",
                     "dbus.UInt32(" + std::to_string(notifier->id()) + "), dbus.UInt32(2)"));
    ASSERT_TRUE(until(dispatch, [&] { return !heard.closed.empty(); }));
    EXPECT_EQ(heard.closed, std::vector<uint32_t>{2});
    EXPECT_EQ(notifier->id(), 0u);
    EXPECT_TRUE(heard.unavailable.empty());
}

// Without a session bus, or without the service on it, the listener is told once.
TEST(DesktopNotifications, NoBusOrNoServiceIsToldOnce) {
    Watchdog watchdog(60);
    for (const bool with_bus : {false, true}) {
        SCOPED_TRACE(with_bus);
        TempDir dir;
        ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
        std::unique_ptr<ScopedEnv> no_bus;
        std::unique_ptr<MockSessionBus> bus;
        if (with_bus) {
            bus = std::make_unique<MockSessionBus>();
            QV_REQUIRE_SESSION_MOCKS(*bus);
        } else {
            no_bus = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", "");
        }
        Heard heard;
        auto notifier = platform::open_notifier(heard);
        auto dispatch = [&] { notifier->dispatch(); };
        notifier->show(content("0:00:01"));
        ASSERT_TRUE(until(dispatch, [&] { return !heard.unavailable.empty(); }));
        notifier->show(content("0:00:02"));
        until(dispatch, [&] { return !notifier->busy(); });
        ASSERT_EQ(heard.unavailable.size(), 1u);
        EXPECT_EQ(heard.unavailable[0] == "no session bus", !with_bus) << heard.unavailable[0];
        EXPECT_EQ(notifier->id(), 0u);
    }
}

TEST(DesktopItemShower, FileManagerOrElseThePortalShowsTheFile) {
    const struct {
        const char* name;
        std::vector<std::string> mock; // the mock's object, or none
        std::string method;            // added to the mock's main object
        std::string called;            // what the mock is called with
    } cases[] = {
        {"file manager",
         {"org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
          "org.freedesktop.FileManager1"},
         "'ShowItems', 'ass', '', ''",
         "ShowItems [\"file://{dir}/My%20Quillory/Ada,%205%20May.mp3\"] \"\""},
        {"portal",
         {"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
          "org.freedesktop.portal.OpenURI"},
         "'OpenDirectory', 'sha{sv}', 'o', "
         "'ret = dbus.ObjectPath(\"/org/freedesktop/portal/desktop/request/1/q\")'",
         "OpenDirectory \"\""},
        {"neither", {}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(60);
        MockSessionBus bus;
        QV_REQUIRE_SESSION_MOCKS(bus);
        TempDir dir;
        fs::create_directories(dir / "My Quillory");
        std::ofstream(dir / "My Quillory/Ada, 5 May.mp3") << "x";
        const std::string log = (dir / "calls.log").string();
        if (!c.mock.empty()) {
            ASSERT_TRUE(bus.start_mock(c.mock, c.mock[0], log));
            bool ok = false;
            bus.python("bus.get_object('" + c.mock[0] + "', '" + c.mock[1] + "').AddMethod('', " +
                           c.method + ", dbus_interface='org.freedesktop.DBus.Mock')\n",
                       &ok);
            ASSERT_TRUE(ok);
        }
        auto shower = platform::open_item_shower();
        shower->show((dir / "My Quillory/Ada, 5 May.mp3").string());
        ASSERT_TRUE(until([&] { shower->dispatch(); },
                          [&] { return shower->state() != platform::ItemShower::State::Busy; }));
        if (c.mock.empty()) {
            EXPECT_EQ(shower->state(), platform::ItemShower::State::Failed);
            EXPECT_NE(shower->failure().find("file manager"), std::string::npos);
            EXPECT_NE(shower->failure().find("portal"), std::string::npos) << shower->failure();
            continue;
        }
        EXPECT_EQ(shower->state(), platform::ItemShower::State::Shown) << shower->failure();
        std::string called = c.called;
        if (const size_t at = called.find("{dir}"); at != std::string::npos)
            called.replace(at, 5, dir.path().string());
        EXPECT_NE(read_whole_file(log).find(called), std::string::npos) << read_whole_file(log);
    }
}
