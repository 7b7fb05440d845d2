#pragma once

// Desktop services on the session bus, spoken to through GDBus without ever waiting for the bus:
// every request returns at once, and what comes back (replies, signals) is handled only inside
// dispatch(), on the thread that calls it, which the caller does from its own timer while
// busy() says something is under way. The bus is found as bus_connection.h finds it; no bus is
// ever started. User-interface thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// What a desktop notification tells its owner; called from dispatch() only.
class NotificationListener {
public:
    virtual ~NotificationListener() = default;
    // The user chose one of the notification's actions.
    virtual void notification_action(const std::string& key) = 0;
    // The notification went away: 1 expired, 2 dismissed by the user, 3 closed by us, 4 other.
    virtual void notification_closed(uint32_t reason) = 0;
    // No session bus or no notification service: nothing will be shown. Told once.
    virtual void notifications_unavailable(const std::string& reason) = 0;
};

struct NotificationContent {
    std::string app_name;
    std::string icon; // a themed icon name; empty: the program's own
    std::string summary;
    std::string body;
    std::vector<std::pair<std::string, std::string>> actions; // key, label
    std::string desktop_entry; // without ".desktop"; empty: the program's own
};

// One notification of org.freedesktop.Notifications, shown, replaced in place (the same id) and
// closed. Requests made while one is under way are merged: only the latest content goes out
// after it, so a slow service never piles requests up.
class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows the notification, or replaces the one shown.
    virtual void show(const NotificationContent& content) = 0;
    virtual void close() = 0;
    virtual void dispatch() = 0;
    // Requests or a shown notification are under way: keep calling dispatch().
    virtual bool busy() const = 0;
    // The server's id of the notification shown; 0 without one.
    virtual uint32_t id() const = 0;
};

std::unique_ptr<Notifier> open_notifier(NotificationListener& listener);

// Shows a file selected in its folder: the file manager's org.freedesktop.FileManager1
// ShowItems, or else the desktop portal's OpenURI.OpenDirectory (the folder alone).
class ItemShower {
public:
    enum class State { Idle, Busy, Shown, Failed };
    virtual ~ItemShower() = default;
    // Starts showing (ends any request under way).
    virtual void show(const std::string& path) = 0;
    virtual void dispatch() = 0;
    virtual State state() const = 0;
    // Why it failed, for the log.
    virtual const std::string& failure() const = 0;
};

std::unique_ptr<ItemShower> open_item_shower();

} // namespace platform
