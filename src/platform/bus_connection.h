#pragma once

// Connections to the message buses through GDBus. The session bus is found and reached without
// ever starting one: the bus DBUS_SESSION_BUS_ADDRESS names, or systemd's user bus at
// $XDG_RUNTIME_DIR/bus. (Left to itself, GDBus would try an X11 autolaunch, which starts a bus
// of its own.) Connections made here are private ones, closed by their owner without touching
// anyone else's, and never end the process when the bus goes away. For the platform layer's
// own use.

#include <gio/gio.h>
#include <string>

namespace platform {

// The session bus's address, or empty when there is none.
std::string session_bus_address();

// Opens a private connection to the session bus, waiting for it (on a thread that may wait).
// Null when there is no bus
// (`error` left unset) or it cannot be reached (`error` says why).
[[nodiscard]] GDBusConnection* open_session_bus(GCancellable* cancel, GError** error);

// Starts opening a private connection to the session bus in the thread-default main context;
// `done` is called there as g_dbus_connection_new_for_address calls it. False, and `done` is
// never called, when there is no bus.
[[nodiscard]] bool start_opening_session_bus(GCancellable* cancel, GAsyncReadyCallback done,
                                             gpointer data);

// Opens a private connection to the system bus, waiting for it. Null with `error` set when it
// cannot be reached.
[[nodiscard]] GDBusConnection* open_system_bus(GCancellable* cancel, GError** error);

} // namespace platform
