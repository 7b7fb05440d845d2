#include "platform/bus_connection.h"

#include "platform/xdg_folders.h"

#include <cstdlib>
#include <sys/stat.h>

namespace platform {

namespace {

constexpr auto kFlags = GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);

GDBusConnection* connect_to(const char* address, GCancellable* cancel, GError** error) {
    GDBusConnection* connection =
        g_dbus_connection_new_for_address_sync(address, kFlags, nullptr, cancel, error);
    if (connection)
        g_dbus_connection_set_exit_on_close(connection, FALSE);
    return connection;
}

} // namespace

std::string session_bus_address() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    const std::string runtime = runtime_dir();
    if (runtime.empty())
        return {};
    const std::string socket = runtime + "/bus";
    struct stat status {};
    if (::stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode))
        return {};
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

GDBusConnection* open_session_bus(GCancellable* cancel, GError** error) {
    const std::string address = session_bus_address();
    return address.empty() ? nullptr : connect_to(address.c_str(), cancel, error);
}

GDBusConnection* open_system_bus(GCancellable* cancel, GError** error) {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, cancel, error);
    if (!address)
        return nullptr;
    GDBusConnection* connection = connect_to(address, cancel, error);
    g_free(address);
    return connection;
}

bool start_opening_session_bus(GCancellable* cancel, GAsyncReadyCallback done, gpointer data) {
    const std::string address = session_bus_address();
    if (address.empty())
        return false;
    g_dbus_connection_new_for_address(address.c_str(), kFlags, nullptr, cancel, done, data);
    return true;
}

} // namespace platform
