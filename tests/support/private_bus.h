#pragma once

// A private D-Bus daemon for mocked services (python3-dbusmock); no installed service starts.

#include "support/process.h"
#include "support/temp_dir.h"

#include <memory>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace testing_support {

// Empty when dbus-daemon and python3-dbusmock are there; otherwise the first that is not.
std::string missing_dbus_tools();
#define QV_REQUIRE_DBUS_TOOLS() QV_SKIP_IF_MISSING(testing_support::missing_dbus_tools())

// /bin/sh -c "exec COMMAND" with extra environment entries ("NAME=value"); ended with SIGTERM
// (and reaped) with the object.
class Child {
public:
    Child() = default;
    Child(const std::string& command, const std::vector<std::string>& env) { start(command, env); }
    ~Child() { stop(15); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool start(const std::string& command, const std::vector<std::string>& env);
    void stop(int signal);
    bool alive() const { return m_process && m_process->running(); }

private:
    std::unique_ptr<Process> m_process;
};

// A dbus-daemon listening on a socket in `folder` (a temporary folder of its own when empty),
// with a connection for the test itself.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& folder = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ready() const { return m_connection != nullptr; }
    const std::string& address() const { return m_address; }
    bool name_owned(const std::string& name) const;
    // A method's reply (the caller unrefs it), or nullptr with the error in `error`.
    GVariant* call(const std::string& name, const std::string& path, const std::string& interface,
                   const std::string& method, GVariant* parameters,
                   std::string* error = nullptr) const;

    // Starts python3-dbusmock with a template file on this bus (as its system or session bus)
    // and waits for `name` to be owned.
    bool start_mock(Child& child, const std::string& template_file, const std::string& name,
                    bool system_bus, const std::string& parameters = "{}",
                    const std::string& log_file = "/dev/null") const;
    // The same with `arguments` (a template, or a name, path and interface), its calls logged
    // to `log`; it ends with the bus.
    bool start_mock(const std::vector<std::string>& arguments, const std::string& name,
                    const std::string& log);
    // Runs Python with the dbus module and `bus` connected to this bus; its standard output.
    std::string python(const std::string& code, bool* ok = nullptr) const;

private:
    std::unique_ptr<TempDir> m_own_folder;
    std::string m_address;
    Child m_daemon;
    std::vector<std::unique_ptr<Child>> m_mocks;
    GDBusConnection* m_connection{nullptr};
};

// A private bus that is this process's session bus (DBUS_SESSION_BUS_ADDRESS) while it lives.
class MockSessionBus : public PrivateBus {
public:
    MockSessionBus();
    const std::string& missing() const { return m_missing; } // empty when the bus is up

private:
    std::string m_missing;
    std::unique_ptr<ScopedEnv> m_env;
};

} // namespace testing_support

// Skips the test (or fails it under CI=true) when the bus or its mocks cannot be had.
#define QV_REQUIRE_SESSION_MOCKS(bus) QV_SKIP_IF_MISSING((bus).missing())
