#include "platform/desktop_bus.h"

#include "platform/bus_connection.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace platform {

namespace {

// Calls on the session bus made from one thread, whose replies and signals arrive in a main
// context of its own, run by dispatch(). The link is made on first use.
class BusLink {
public:
    enum class State { None, Connecting, Ready, Failed };
    using Reply = std::function<void(GVariant* reply, const GError* error)>;
    using Signal = std::function<void(const char* member, GVariant* parameters)>;

    explicit BusLink(std::function<void()> on_ready)
        : m_context(g_main_context_new()), m_cancel(g_cancellable_new()),
          m_on_ready(std::move(on_ready)) {}

    ~BusLink() {
        m_closing = true;
        if (m_connection && m_subscription)
            g_dbus_connection_signal_unsubscribe(m_connection, m_subscription);
        g_cancellable_cancel(m_cancel);
        // Cancelled requests still come back through the context; run them out so none is
        // left pointing here. Should one never come, the context is left to it, unrun.
        for (int round = 0; round < 400 && m_pending > 0; ++round) {
            if (!g_main_context_iteration(m_context, FALSE))
                g_usleep(5000);
        }
        while (g_main_context_iteration(m_context, FALSE)) {
        }
        if (m_connection) {
            // Closing a local socket is quick; it leaves nothing behind in any main context.
            g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
            g_object_unref(m_connection);
        }
        g_object_unref(m_cancel);
        if (m_pending == 0)
            g_main_context_unref(m_context);
    }
    BusLink(const BusLink&) = delete;
    BusLink& operator=(const BusLink&) = delete;

    State state() const { return m_state; }
    const std::string& failure() const { return m_failure; }
    bool waiting() const { return m_pending > 0; }
    GDBusConnection* connection() const { return m_connection; }

    void connect() {
        if (m_state != State::None)
            return;
        g_main_context_push_thread_default(m_context);
        const bool started = start_opening_session_bus(m_cancel, &BusLink::connected, this);
        g_main_context_pop_thread_default(m_context);
        if (!started) {
            m_state = State::Failed;
            m_failure = "no session bus";
            return;
        }
        m_state = State::Connecting;
        ++m_pending;
    }

    // Signals of one interface from one service (its well-known name).
    void subscribe(const char* sender, const char* interface_name, Signal handler) {
        if (!m_connection || m_subscription)
            return;
        m_signal = std::move(handler);
        g_main_context_push_thread_default(m_context);
        m_subscription = g_dbus_connection_signal_subscribe(
            m_connection, sender, interface_name, nullptr, nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, &BusLink::signalled, this, nullptr);
        g_main_context_pop_thread_default(m_context);
    }

    // `parameters` may be floating; it is consumed. The reply is checked against `reply_type`
    // by GDBus: a reply of another shape arrives as an error.
    void call(const char* destination, const char* path, const char* interface_name,
              const char* method, GVariant* parameters, const char* reply_type, Reply done,
              GUnixFDList* fds = nullptr) {
        auto* pending = new Pending{this, std::move(done), fds != nullptr};
        ++m_pending;
        g_main_context_push_thread_default(m_context);
        if (fds)
            g_dbus_connection_call_with_unix_fd_list(
                m_connection, destination, path, interface_name, method, parameters,
                G_VARIANT_TYPE(reply_type), G_DBUS_CALL_FLAGS_NONE, call_timeout_ms, fds, m_cancel,
                &BusLink::replied, pending);
        else
            g_dbus_connection_call(m_connection, destination, path, interface_name, method,
                                   parameters, G_VARIANT_TYPE(reply_type), G_DBUS_CALL_FLAGS_NONE,
                                   call_timeout_ms, m_cancel, &BusLink::replied, pending);
        g_main_context_pop_thread_default(m_context);
    }

    // A call whose answer does not matter; written out before this returns.
    void send_now(const char* destination, const char* path, const char* interface_name,
                  const char* method, GVariant* parameters) {
        if (!m_connection)
            return;
        GDBusMessage* message =
            g_dbus_message_new_method_call(destination, path, interface_name, method);
        g_dbus_message_set_body(message, parameters);
        g_dbus_message_set_flags(message, G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
        g_dbus_connection_send_message(m_connection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                       nullptr, nullptr);
        g_object_unref(message);
        g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
    }

    // Runs what has arrived; a bounded amount of work per call, so a flood of signals cannot
    // hold the caller.
    void dispatch() {
        for (int round = 0; round < 64; ++round)
            if (!g_main_context_iteration(m_context, FALSE))
                break;
    }

private:
    static constexpr int call_timeout_ms = 10000;

    struct Pending {
        BusLink* link;
        Reply done;
        bool with_fds;
    };

    static void connected(GObject*, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<BusLink*>(data);
        --self->m_pending;
        GError* error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
        if (self->m_closing) {
            if (connection)
                g_object_unref(connection);
            if (error)
                g_error_free(error);
            return;
        }
        if (!connection) {
            self->m_state = State::Failed;
            self->m_failure = std::string("cannot reach the session bus: ") +
                              (error && error->message ? error->message : "unknown failure");
        } else {
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            self->m_connection = connection;
            self->m_state = State::Ready;
        }
        if (error)
            g_error_free(error);
        if (self->m_on_ready)
            self->m_on_ready();
    }

    static void replied(GObject* source, GAsyncResult* result, gpointer data) {
        auto* pending = static_cast<Pending*>(data);
        BusLink* self = pending->link;
        --self->m_pending;
        GError* error = nullptr;
        GVariant* reply =
            pending->with_fds
                ? g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source),
                                                                  nullptr, result, &error)
                : g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!self->m_closing && pending->done)
            pending->done(reply, error);
        if (reply)
            g_variant_unref(reply);
        if (error)
            g_error_free(error);
        delete pending;
    }

    static void signalled(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                          const gchar* member, GVariant* parameters, gpointer data) {
        auto* self = static_cast<BusLink*>(data);
        if (!self->m_closing && self->m_signal && member && parameters)
            self->m_signal(member, parameters);
    }

    GMainContext* m_context;
    GCancellable* m_cancel;
    GDBusConnection* m_connection{nullptr};
    guint m_subscription{0};
    std::function<void()> m_on_ready;
    Signal m_signal;
    State m_state{State::None};
    std::string m_failure;
    int m_pending{0};
    bool m_closing{false};
};

std::string message_of(const GError* error) {
    return error && error->message ? error->message : "unknown failure";
}

// --- notifications ------------------------------------------------------------------------------

// The program's desktop entry and icon name, for notifications that name none.
#ifdef QV_DESKTOP_ID
constexpr const char* desktop_id = QV_DESKTOP_ID;
#else
constexpr const char* desktop_id = "net.corvane.quillory";
#endif

constexpr const char* notifications_name = "org.freedesktop.Notifications";
constexpr const char* notifications_path = "/org/freedesktop/Notifications";

class BusNotifier final : public Notifier {
public:
    explicit BusNotifier(NotificationListener& listener)
        : m_listener(listener), m_link([this] { pump(); }) {}

    ~BusNotifier() override {
        if (m_id != 0)
            m_link.send_now(notifications_name, notifications_path, notifications_name,
                            "CloseNotification", g_variant_new("(u)", m_id));
    }

    void show(const NotificationContent& content) override {
        m_wanted = content;
        m_want_shown = true;
        m_dirty = true;
        pump();
    }

    void close() override {
        m_want_shown = false;
        m_dirty = false;
        pump();
    }

    void dispatch() override {
        m_link.dispatch();
        if (m_failed && !m_told) {
            m_told = true;
            m_listener.notifications_unavailable(m_failure);
        }
    }

    bool busy() const override {
        return (m_failed && !m_told) ||
               (!m_failed && (m_in_flight || m_id != 0 || (m_want_shown && m_dirty))) ||
               m_link.waiting();
    }

    uint32_t id() const override { return m_id; }

private:
    void fail(const std::string& reason) {
        if (m_failed)
            return;
        m_failed = true;
        m_failure = reason;
    }

    void pump() {
        if (m_failed || m_in_flight)
            return;
        if (m_link.state() == BusLink::State::None) {
            if (!m_want_shown)
                return;
            m_link.connect();
        }
        if (m_link.state() == BusLink::State::Failed) {
            fail(m_link.failure());
            return;
        }
        if (m_link.state() != BusLink::State::Ready)
            return;
        m_link.subscribe(
            notifications_name, notifications_name,
            [this](const char* member, GVariant* parameters) { signalled(member, parameters); });
        if (m_want_shown && m_dirty) {
            m_dirty = false;
            m_in_flight = true;
            m_link.call(notifications_name, notifications_path, notifications_name, "Notify",
                        notify_parameters(), "(u)",
                        [this](GVariant* reply, const GError* error) { notified(reply, error); });
        } else if (!m_want_shown && m_id != 0) {
            const uint32_t id = m_id;
            m_id = 0;
            m_in_flight = true;
            m_link.call(notifications_name, notifications_path, notifications_name,
                        "CloseNotification", g_variant_new("(u)", id), "()",
                        [this](GVariant*, const GError*) {
                            m_in_flight = false;
                            pump();
                        });
        }
    }

    GVariant* notify_parameters() const {
        GVariantBuilder actions;
        g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
        for (const auto& [key, label] : m_wanted.actions) {
            g_variant_builder_add(&actions, "s", valid_utf8(key).c_str());
            g_variant_builder_add(&actions, "s", valid_utf8(label).c_str());
        }
        GVariantBuilder hints;
        g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
        // Stays after an action is chosen, and updates make no sound.
        g_variant_builder_add(&hints, "{sv}", "resident", g_variant_new_boolean(TRUE));
        g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
        const std::string entry =
            m_wanted.desktop_entry.empty() ? desktop_id : valid_utf8(m_wanted.desktop_entry);
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(entry.c_str()));
        return g_variant_new("(susssasa{sv}i)", valid_utf8(m_wanted.app_name).c_str(), m_id,
                             m_wanted.icon.empty() ? desktop_id : valid_utf8(m_wanted.icon).c_str(),
                             valid_utf8(m_wanted.summary).c_str(),
                             valid_utf8(m_wanted.body).c_str(), &actions, &hints, 0);
    }

    static std::string valid_utf8(const std::string& text) {
        if (g_utf8_validate(text.data(), gssize(text.size()), nullptr))
            return text;
        gchar* fixed = g_utf8_make_valid(text.data(), gssize(text.size()));
        std::string out(fixed);
        g_free(fixed);
        return out;
    }

    void notified(GVariant* reply, const GError* error) {
        m_in_flight = false;
        if (!reply) {
            fail("the notification service did not take the notification: " + message_of(error));
            return;
        }
        uint32_t id = 0;
        g_variant_get(reply, "(u)", &id);
        m_id = id;
        pump();
    }

    void signalled(const char* member, GVariant* parameters) {
        const std::string_view name(member);
        if (name == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            uint32_t id = 0;
            const gchar* key = nullptr;
            g_variant_get(parameters, "(u&s)", &id, &key);
            if (id != 0 && id == m_id && key)
                m_listener.notification_action(key);
        } else if (name == "NotificationClosed" &&
                   g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            uint32_t id = 0, reason = 0;
            g_variant_get(parameters, "(uu)", &id, &reason);
            if (id != 0 && id == m_id) {
                m_id = 0;
                m_listener.notification_closed(reason);
            }
        }
    }

    NotificationListener& m_listener;
    BusLink m_link;
    NotificationContent m_wanted;
    bool m_want_shown{false};
    bool m_dirty{false};
    bool m_in_flight{false};
    bool m_failed{false};
    bool m_told{false};
    std::string m_failure;
    uint32_t m_id{0};
};

// --- showing a file -----------------------------------------------------------------------------

class BusItemShower final : public ItemShower {
public:
    BusItemShower() : m_link([this] { start(); }) {}

    void show(const std::string& path) override {
        m_path = path;
        m_state = State::Busy;
        m_failure.clear();
        ++m_request;
        if (m_link.state() == BusLink::State::None)
            m_link.connect();
        start();
    }

    void dispatch() override { m_link.dispatch(); }
    State state() const override { return m_state; }
    const std::string& failure() const override { return m_failure; }

private:
    void start() {
        if (m_state != State::Busy)
            return;
        if (m_link.state() == BusLink::State::Failed) {
            m_state = State::Failed;
            m_failure = m_link.failure();
            return;
        }
        if (m_link.state() != BusLink::State::Ready)
            return;
        gchar* uri = g_filename_to_uri(m_path.c_str(), nullptr, nullptr);
        if (!uri) {
            m_state = State::Failed;
            m_failure = "not an absolute path";
            return;
        }
        const char* uris[] = {uri, nullptr};
        GVariant* parameters = g_variant_new("(^ass)", uris, "");
        g_free(uri);
        const uint64_t request = m_request;
        m_link.call("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                    "org.freedesktop.FileManager1", "ShowItems", parameters, "()",
                    [this, request](GVariant* reply, const GError* error) {
                        if (request != m_request)
                            return;
                        if (reply)
                            m_state = State::Shown;
                        else
                            open_directory("file manager: " + message_of(error));
                    });
    }

    // The portal opens the folder of the file whose descriptor it is given.
    void open_directory(const std::string& earlier) {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            m_state = State::Failed;
            m_failure = earlier + "; the file cannot be opened";
            return;
        }
        GUnixFDList* fds = g_unix_fd_list_new();
        const int index = g_unix_fd_list_append(fds, fd, nullptr);
        ::close(fd);
        if (index < 0) {
            g_object_unref(fds);
            m_state = State::Failed;
            m_failure = earlier + "; no descriptor to pass";
            return;
        }
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        const uint64_t request = m_request;
        m_link.call(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.OpenURI", "OpenDirectory",
            g_variant_new("(sha{sv})", "", index, &options), "(o)",
            [this, request, earlier](GVariant* reply, const GError* error) {
                if (request != m_request)
                    return;
                if (reply) {
                    m_state = State::Shown;
                } else {
                    m_state = State::Failed;
                    m_failure = earlier + "; portal: " + message_of(error);
                }
            },
            fds);
        g_object_unref(fds);
    }

    BusLink m_link;
    std::string m_path;
    State m_state{State::Idle};
    std::string m_failure;
    uint64_t m_request{0};
};

} // namespace

std::unique_ptr<Notifier> open_notifier(NotificationListener& listener) {
    return std::make_unique<BusNotifier>(listener);
}

std::unique_ptr<ItemShower> open_item_shower() {
    return std::make_unique<BusItemShower>();
}

} // namespace platform
