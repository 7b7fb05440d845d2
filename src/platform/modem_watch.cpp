#include "platform/modem_watch.h"

#include <algorithm>
#include <gio/gio.h>
#include <glib-unix.h>
#include <map>
#include <set>
#include <signal.h>

namespace platform {

namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kRoot[] = "/org/freedesktop/ModemManager1";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr char kVoice[] = "org.freedesktop.ModemManager1.Modem.Voice";
constexpr char kCall[] = "org.freedesktop.ModemManager1.Call";
constexpr int kReplyTimeoutMs = 10000;

// At most `max` bytes of UTF-8 text, cut at a character boundary.
std::string clipped(const char* text, std::size_t max) {
    std::size_t size = 0;
    while (size <= max && text[size])
        ++size;
    if (size <= max)
        return std::string(text, size);
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text, end);
}

bool is_type(GVariant* value, const char* type) {
    return value && g_variant_is_of_type(value, G_VARIANT_TYPE(type));
}

std::string error_text(const GError* error) {
    return error && error->message ? clipped(error->message, 200) : std::string("unknown error");
}

} // namespace

struct ModemWatch::Impl {
    struct Call {
        std::string modem;
        int32_t state{mm_call_state_unknown};
        int32_t direction{mm_call_direction_unknown};
        std::string number;
        uint64_t order{0};
        bool wants_fetch{false};
        // Known from before ModemManager restarted, not confirmed by the new instance yet.
        bool held_over{false};
        // Its properties were asked for and the answer (or a failure) came.
        bool known{false};
    };
    // One property request in flight; `impl` is only touched when it was not cancelled.
    struct Request {
        Impl* impl;
        std::string path;
    };

    Impl(ModemWatchListener& listener, ModemWatchOptions options)
        : listener(listener), options(options), loop(g_main_loop_new(nullptr, FALSE)),
          bus_cancel(g_cancellable_new()) {}

    ~Impl() {
        forget_owner();
        drop_bus(false);
        g_cancellable_cancel(bus_cancel);
        remove_source(retry_source);
        remove_source(grace_source);
        remove_source(enumerate_source);
        // Cancelled requests complete on the loop; let them go before the memory does.
        for (int turn = 0; turn < 1000 && g_main_context_pending(nullptr); ++turn)
            g_main_context_iteration(nullptr, FALSE);
        g_object_unref(bus_cancel);
        g_main_loop_unref(loop);
    }

    static void remove_source(guint& id) {
        if (id)
            g_source_remove(id);
        id = 0;
    }

    // Each condition is told once (by its key) until it clears.
    void notice_once(const std::string& text) { notice_once(text, text); }
    void notice_once(const std::string& key, const std::string& text) {
        if (noticed.insert(key).second)
            listener.on_notice(text);
    }

    // The bus.

    void connect() {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
        if (!address) {
            no_bus(error);
            g_clear_error(&error);
            return;
        }
        g_dbus_connection_new_for_address(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, bus_cancel, &Impl::connected_cb, this);
        g_free(address);
    }

    void no_bus(const GError* error) {
        notice_once("no system bus", "no system bus (" + error_text(error) + "); waiting for it");
        retry_source = g_timeout_add(guint(std::max(options.retry_ms, 10)), &Impl::retry_cb, this);
    }

    static gboolean retry_cb(gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->retry_source = 0;
        impl->connect();
        return G_SOURCE_REMOVE;
    }

    static void connected_cb(GObject*, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
        if (!connection && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            g_error_free(error);
            return;
        }
        auto* impl = static_cast<Impl*>(data);
        if (!connection) {
            impl->no_bus(error);
            g_error_free(error);
            return;
        }
        impl->use_bus(connection);
    }

    void use_bus(GDBusConnection* connection) {
        noticed.erase("no system bus");
        noticed.erase("lost the system bus");
        bus = connection;
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        closed_handler = g_signal_connect(bus, "closed", G_CALLBACK(&Impl::closed_cb), this);
        name_watch =
            g_bus_watch_name_on_connection(bus, kService, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                           &Impl::appeared_cb, &Impl::vanished_cb, this, nullptr);
    }

    static void closed_cb(GDBusConnection*, gboolean, GError*, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->forget_owner();
        impl->drop_bus(true);
        impl->notice_once("lost the system bus", "lost the system bus; waiting for it");
        impl->retry_source =
            g_timeout_add(guint(std::max(impl->options.retry_ms, 10)), &Impl::retry_cb, impl);
    }

    void drop_bus(bool) {
        if (!bus)
            return;
        if (name_watch)
            g_bus_unwatch_name(name_watch);
        name_watch = 0;
        if (closed_handler)
            g_signal_handler_disconnect(bus, closed_handler);
        closed_handler = 0;
        g_object_unref(bus);
        bus = nullptr;
    }

    // ModemManager's name.

    static void appeared_cb(GDBusConnection*, const gchar*, const gchar* name_owner,
                            gpointer data) {
        static_cast<Impl*>(data)->appeared(name_owner ? name_owner : "");
    }

    static void vanished_cb(GDBusConnection*, const gchar*, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->forget_owner();
        if (impl->bus)
            impl->notice_once("ModemManager is not running; waiting for it");
    }

    void appeared(const std::string& name_owner) {
        if (name_owner.empty() || name_owner == owner)
            return;
        forget_owner();
        noticed.erase("ModemManager is not running; waiting for it");
        owner = name_owner;
        owner_cancel = g_cancellable_new();
        // Signals first, so that nothing that changes while the modems are listed is missed.
        subscription = g_dbus_connection_signal_subscribe(
            bus, owner.c_str(), nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &Impl::signal_cb, this, nullptr);
        enumerate();
    }

    // ModemManager went away (or the bus did): what was known of its calls is kept for the
    // grace period, in case it comes back with them.
    void forget_owner() {
        if (owner.empty())
            return;
        if (subscription && bus)
            g_dbus_connection_signal_unsubscribe(bus, subscription);
        subscription = 0;
        g_cancellable_cancel(owner_cancel);
        g_object_unref(owner_cancel);
        owner_cancel = nullptr;
        owner.clear();
        requests = 0;
        remove_source(enumerate_source);
        modems.clear();
        modem_calls.clear();
        for (auto& [path, call] : calls) {
            call.wants_fetch = false;
            call.held_over = true;
        }
        if (!calls.empty() && !grace_source)
            grace_source =
                g_timeout_add(guint(std::max(options.grace_ms, 0)), &Impl::grace_cb, this);
    }

    static gboolean grace_cb(gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->grace_source = 0;
        for (auto it = impl->calls.begin(); it != impl->calls.end();)
            it = it->second.held_over ? impl->calls.erase(it) : std::next(it);
        impl->report();
        return G_SOURCE_REMOVE;
    }

    void enumerate() {
        ++requests;
        g_dbus_connection_call(bus, owner.c_str(), kRoot, kObjectManager, "GetManagedObjects",
                               nullptr, G_VARIANT_TYPE("(a{oa{sa{sv}}})"),
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, kReplyTimeoutMs, owner_cancel,
                               &Impl::objects_cb, this);
    }

    static gboolean enumerate_again_cb(gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->enumerate_source = 0;
        if (!impl->owner.empty())
            impl->enumerate();
        return G_SOURCE_REMOVE;
    }

    static void objects_cb(GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            g_error_free(error);
            return;
        }
        auto* impl = static_cast<Impl*>(data);
        if (impl->requests > 0)
            --impl->requests;
        if (!reply) {
            impl->notice_once("no modem list",
                              "ModemManager did not list its modems (" + error_text(error) + ")");
            g_error_free(error);
            if (!impl->enumerate_source)
                impl->enumerate_source = g_timeout_add(guint(std::max(impl->options.retry_ms, 10)),
                                                       &Impl::enumerate_again_cb, impl);
            return;
        }
        impl->take_objects(reply);
        g_variant_unref(reply);
    }

    // The first full picture from this owner. Calls kept from before a restart stay until their
    // modem lists calls again or the grace period ends: a modem that has just come back may
    // not have loaded its calls yet.
    void take_objects(GVariant* reply) {
        noticed.erase("no modem list");
        modems.clear();
        modem_calls.clear();
        GVariant* objects = g_variant_get_child_value(reply, 0);
        GVariantIter iter;
        g_variant_iter_init(&iter, objects);
        const gchar* path = nullptr;
        GVariant* interfaces = nullptr;
        while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
            if (GVariant* voice =
                    g_variant_lookup_value(interfaces, kVoice, G_VARIANT_TYPE("a{sv}"))) {
                add_modem(path, voice, true);
                g_variant_unref(voice);
            }
            g_variant_unref(interfaces);
        }
        g_variant_unref(objects);
        for (auto it = calls.begin(); it != calls.end();)
            it = it->second.held_over || modems.count(it->second.modem) ? std::next(it)
                                                                        : calls.erase(it);
        settle_held_over();
        fetch_waiting();
        report();
    }

    // Modems and calls.

    void add_modem(const std::string& path, GVariant* voice_properties, bool refresh) {
        if (!modems.count(path)) {
            if (modems.size() >= options.max_modems) {
                notice_once("too many modems; ignoring the others");
                return;
            }
            modems.insert(path);
        }
        GVariant* list = g_variant_lookup_value(voice_properties, "Calls", nullptr);
        if (list && is_type(list, "ao"))
            set_modem_calls(path, list, refresh);
        else if (list)
            notice_once("ignoring a modem's Calls that is not a list of object paths");
        if (list)
            g_variant_unref(list);
    }

    // Calls kept from before a restart give way to what their modem lists now, once the
    // listed calls are known (so that a call carried on at a new path shows no gap); the grace
    // period ends when none is left.
    void settle_held_over() {
        for (auto it = calls.begin(); it != calls.end();) {
            bool gone = false;
            if (it->second.held_over) {
                auto listed = modem_calls.find(it->second.modem);
                gone = listed != modem_calls.end() && !listed->second.empty() &&
                       std::all_of(listed->second.begin(), listed->second.end(),
                                   [&](const std::string& path) {
                                       auto call = calls.find(path);
                                       return call == calls.end() || call->second.known;
                                   });
            }
            it = gone ? calls.erase(it) : std::next(it);
        }
        if (grace_source && std::none_of(calls.begin(), calls.end(),
                                         [](const auto& entry) { return entry.second.held_over; }))
            remove_source(grace_source);
    }

    void remove_modem(const std::string& path) {
        if (!modems.erase(path))
            return;
        modem_calls.erase(path);
        for (auto it = calls.begin(); it != calls.end();)
            it = it->second.modem == path ? calls.erase(it) : std::next(it);
    }

    // The modem's list of calls, as a whole ("ao"): calls not listed any more are forgotten,
    // new ones are asked for their properties (and, after a restart, listed ones again). An
    // empty list leaves the calls kept from before a restart to the grace period.
    void set_modem_calls(const std::string& modem, GVariant* list, bool refresh) {
        std::set<std::string>& listed = modem_calls[modem];
        listed.clear();
        GVariantIter iter;
        g_variant_iter_init(&iter, list);
        const gchar* path = nullptr;
        while (g_variant_iter_next(&iter, "&o", &path) && listed.size() <= options.max_calls)
            listed.insert(path);
        for (auto it = calls.begin(); it != calls.end();) {
            const bool gone =
                it->second.modem == modem && !listed.count(it->first) && !it->second.held_over;
            it = gone ? calls.erase(it) : std::next(it);
        }
        for (const auto& call : listed) {
            auto found = calls.find(call);
            if (found == calls.end())
                add_call(modem, call);
            else if (refresh || found->second.held_over)
                confirm(modem, found->first, found->second);
        }
        settle_held_over();
    }

    // A call known before is listed by the current instance: asked for its properties again.
    void confirm(const std::string& modem, const std::string& path, Call& call) {
        call.modem = modem;
        call.held_over = false;
        call.known = false;
        fetch(path, call);
    }

    void add_call(const std::string& modem, const std::string& path) {
        if (auto found = calls.find(path); found != calls.end()) {
            if (found->second.held_over) {
                confirm(modem, path, found->second);
                settle_held_over();
            }
            return;
        }
        if (calls.size() >= options.max_calls) {
            // Ended calls make room first; otherwise the newcomer is not followed.
            auto ended = std::find_if(calls.begin(), calls.end(), [](const auto& entry) {
                return entry.second.state == mm_call_state_terminated;
            });
            if (ended == calls.end()) {
                notice_once("too many calls; ignoring the others");
                return;
            }
            calls.erase(ended);
        }
        Call call;
        call.modem = modem;
        call.order = next_order++;
        auto& added = calls.emplace(path, call).first->second;
        fetch(path, added);
    }

    void fetch(const std::string& path, Call& call) {
        if (owner.empty())
            return;
        if (requests >= options.max_requests) {
            call.wants_fetch = true;
            return;
        }
        call.wants_fetch = false;
        ++requests;
        g_dbus_connection_call(bus, owner.c_str(), path.c_str(), kProperties, "GetAll",
                               g_variant_new("(s)", kCall), G_VARIANT_TYPE("(a{sv})"),
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, kReplyTimeoutMs, owner_cancel,
                               &Impl::properties_cb, new Request{this, path});
    }

    void fetch_waiting() {
        for (auto& [path, call] : calls) {
            if (requests >= options.max_requests)
                break;
            if (call.wants_fetch)
                fetch(path, call);
        }
    }

    static void properties_cb(GObject* source, GAsyncResult* result, gpointer data) {
        auto* request = static_cast<Request*>(data);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!reply && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            g_error_free(error);
            delete request;
            return;
        }
        Impl* impl = request->impl;
        if (impl->requests > 0)
            --impl->requests;
        if (auto found = impl->calls.find(request->path); found != impl->calls.end())
            found->second.known = true;
        if (reply) {
            GVariant* properties = g_variant_get_child_value(reply, 0);
            impl->apply_call_properties(request->path, properties);
            g_variant_unref(properties);
            g_variant_unref(reply);
        } else {
            // The call may be gone already; it stays as it was.
            g_error_free(error);
        }
        delete request;
        impl->settle_held_over();
        impl->fetch_waiting();
        impl->report();
    }

    // "State", "Direction" and "Number" from a dictionary of the call's properties ("a{sv}").
    void apply_call_properties(const std::string& path, GVariant* properties) {
        auto found = calls.find(path);
        if (found == calls.end())
            return;
        Call& call = found->second;
        GVariantIter iter;
        g_variant_iter_init(&iter, properties);
        const gchar* name = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_next(&iter, "{&sv}", &name, &value)) {
            const std::string key = name;
            if (key == "State" || key == "Direction") {
                if (is_type(value, "i"))
                    (key == "State" ? call.state : call.direction) = g_variant_get_int32(value);
                else
                    notice_once("ignoring a call " + key + " that is not a 32-bit integer");
            } else if (key == "Number") {
                if (is_type(value, "s"))
                    call.number = clipped(g_variant_get_string(value, nullptr), max_number_bytes);
                else
                    notice_once("ignoring a call Number that is not a string");
            }
            g_variant_unref(value);
        }
    }

    static void signal_cb(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface,
                          const gchar* member, GVariant* parameters, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        if (!path || !interface || !member)
            return;
        impl->on_signal(path, interface, member, parameters);
        impl->report();
    }

    void on_signal(const std::string& path, const std::string& interface, const std::string& member,
                   GVariant* parameters) {
        if (interface == kObjectManager && member == "InterfacesAdded") {
            if (!is_type(parameters, "(oa{sa{sv}})"))
                return notice_once("ignoring a malformed InterfacesAdded");
            const gchar* object = nullptr;
            GVariant* interfaces = nullptr;
            g_variant_get(parameters, "(&o@a{sa{sv}})", &object, &interfaces);
            if (GVariant* voice =
                    g_variant_lookup_value(interfaces, kVoice, G_VARIANT_TYPE("a{sv}"))) {
                add_modem(object, voice, false);
                g_variant_unref(voice);
            }
            g_variant_unref(interfaces);
        } else if (interface == kObjectManager && member == "InterfacesRemoved") {
            if (!is_type(parameters, "(oas)"))
                return notice_once("ignoring a malformed InterfacesRemoved");
            const gchar* object = nullptr;
            GVariant* names = nullptr;
            g_variant_get(parameters, "(&o@as)", &object, &names);
            GVariantIter iter;
            g_variant_iter_init(&iter, names);
            const gchar* name = nullptr;
            while (g_variant_iter_next(&iter, "&s", &name))
                if (std::string(name) == kVoice)
                    remove_modem(object);
            g_variant_unref(names);
        } else if (interface == kVoice && (member == "CallAdded" || member == "CallDeleted")) {
            if (!is_type(parameters, "(o)"))
                return notice_once("ignoring a malformed " + member);
            if (!modems.count(path))
                return;
            const gchar* call = nullptr;
            g_variant_get(parameters, "(&o)", &call);
            if (member == "CallAdded")
                add_call(path, call);
            else if (auto found = calls.find(call);
                     found != calls.end() && found->second.modem == path)
                calls.erase(found);
        } else if (interface == kCall && member == "StateChanged") {
            if (!is_type(parameters, "(iiu)"))
                return notice_once("ignoring a malformed StateChanged");
            auto found = calls.find(path);
            if (found == calls.end())
                return;
            int32_t old_state = 0, new_state = 0;
            guint32 reason = 0;
            g_variant_get(parameters, "(iiu)", &old_state, &new_state, &reason);
            found->second.state = new_state;
        } else if (interface == kProperties && member == "PropertiesChanged") {
            if (!is_type(parameters, "(sa{sv}as)"))
                return notice_once("ignoring a malformed PropertiesChanged");
            const gchar* changed_interface = nullptr;
            GVariant* changed = nullptr;
            GVariant* invalidated = nullptr;
            g_variant_get(parameters, "(&s@a{sv}@as)", &changed_interface, &changed, &invalidated);
            if (std::string(changed_interface) == kVoice && modems.count(path))
                add_modem(path, changed, false);
            else if (std::string(changed_interface) == kCall)
                apply_call_properties(path, changed);
            g_variant_unref(changed);
            g_variant_unref(invalidated);
        }
    }

    void report() {
        std::vector<std::pair<uint64_t, ModemCall>> ordered;
        ordered.reserve(calls.size());
        for (const auto& [path, call] : calls)
            ordered.push_back(
                {call.order, ModemCall{path, call.modem, call.state, call.direction, call.number}});
        std::sort(ordered.begin(), ordered.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<ModemCall> now;
        now.reserve(ordered.size());
        for (auto& entry : ordered)
            now.push_back(std::move(entry.second));
        // Before ModemManager was ever seen there is nothing to say.
        if (!reported_once && (owner.empty() || requests > 0) && now.empty())
            return;
        if (reported_once && now == reported)
            return;
        reported_once = true;
        reported = now;
        listener.on_calls(reported);
    }

    static gboolean quit_cb(gpointer data) {
        g_main_loop_quit(static_cast<Impl*>(data)->loop);
        return G_SOURCE_CONTINUE;
    }

    ModemWatchListener& listener;
    const ModemWatchOptions options;
    GMainLoop* loop;
    GCancellable* bus_cancel;
    GDBusConnection* bus{nullptr};
    gulong closed_handler{0};
    guint name_watch{0};
    guint subscription{0};
    GCancellable* owner_cancel{nullptr};
    std::string owner;
    guint retry_source{0};
    guint grace_source{0};
    guint enumerate_source{0};
    std::set<std::string> modems;
    // What each modem listed last (bounded like the calls).
    std::map<std::string, std::set<std::string>> modem_calls;
    std::map<std::string, Call> calls;
    uint64_t next_order{0};
    std::size_t requests{0};
    std::vector<ModemCall> reported;
    bool reported_once{false};
    std::set<std::string> noticed;
};

ModemWatch::ModemWatch(ModemWatchListener& listener, ModemWatchOptions options)
    : m_impl(std::make_unique<Impl>(listener, options)) {}

ModemWatch::~ModemWatch() = default;

void ModemWatch::run() {
    const guint term = g_unix_signal_add(SIGTERM, &Impl::quit_cb, m_impl.get());
    const guint interrupt = g_unix_signal_add(SIGINT, &Impl::quit_cb, m_impl.get());
    if (!m_impl->bus && !m_impl->retry_source)
        m_impl->connect();
    g_main_loop_run(m_impl->loop);
    g_source_remove(term);
    g_source_remove(interrupt);
}

void ModemWatch::quit() {
    g_main_loop_quit(m_impl->loop);
}

} // namespace platform
