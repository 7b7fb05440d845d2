#pragma once

// A private D-Bus daemon for tests that talk to mocked services, and the child processes
// (mocks, programs under test) that use it. Nothing here touches the machine's own buses.

#include <functional>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace testing_support {

// Whether dbus-daemon and python3-dbusmock are there; `missing` names the first that is not.
bool dbus_tools_present(std::string& missing);
// For SetUp(): skips the test when a tool is missing, except under CI=true where it fails.
#define QV_REQUIRE_DBUS_TOOLS()                                                                    \
    do {                                                                                           \
        std::string missing_tool;                                                                  \
        if (!testing_support::dbus_tools_present(missing_tool)) {                                  \
            if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")               \
                FAIL() << missing_tool << " is needed for this test";                              \
            GTEST_SKIP() << missing_tool << " is not installed";                                   \
        }                                                                                          \
    } while (0)

// A child process started through /bin/sh -c "exec COMMAND" with extra environment entries
// ("NAME=value"); ended with SIGTERM (and reaped) with the object.
class Child {
public:
    Child() = default;
    Child(const std::string& command, const std::vector<std::string>& env) { start(command, env); }
    ~Child() { stop(15); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool start(const std::string& command, const std::vector<std::string>& env);
    void stop(int signal);
    bool alive() const;

private:
    int m_pid{0};
};

// Writes the configuration of a private session bus into folder (bus.conf) and returns its
// path: listening on `listen`, services only from folder/bus-services (none), so that no
// service installed on the machine (a real callaudiod, a file manager) is started for a name
// a test leaves unowned on purpose.
std::string write_bus_config(const std::string& folder, const std::string& listen);

// Polls `done` every 20 ms until it holds or the time is up.
bool wait_for(const std::function<bool()>& done, int milliseconds = 30000);

// A dbus-daemon listening on a socket in `folder`, with a connection for the test itself.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& folder);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ready() const { return m_connection != nullptr; }
    const std::string& address() const { return m_address; }
    GDBusConnection* connection() const { return m_connection; }
    bool name_owned(const std::string& name) const;

    // Starts python3-dbusmock with a template file on this bus (as its system or session bus)
    // and waits for `name` to be owned.
    bool start_mock(Child& child, const std::string& template_file, const std::string& name,
                    bool system_bus, const std::string& parameters = "{}",
                    const std::string& log_file = "/dev/null") const;

    // Calls a method and returns its reply (the caller unrefs it), or nullptr with the error in
    // `error`.
    GVariant* call(const std::string& name, const std::string& path, const std::string& interface,
                   const std::string& method, GVariant* parameters,
                   std::string* error = nullptr) const;

private:
    std::string m_address;
    std::string m_socket;
    Child m_daemon;
    GDBusConnection* m_connection{nullptr};
};

} // namespace testing_support
