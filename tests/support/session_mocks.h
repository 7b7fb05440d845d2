#pragma once

// A session bus of the test's own (never the machine's) with python3-dbusmock services on it.
// DBUS_SESSION_BUS_ADDRESS points at it while the object lives. A test that lacks dbus-daemon
// or dbusmock skips, or fails under CI=true.

#include "support/temp_dir.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class MockSessionBus {
public:
    MockSessionBus();
    ~MockSessionBus();
    MockSessionBus(const MockSessionBus&) = delete;
    MockSessionBus& operator=(const MockSessionBus&) = delete;

    // Empty when the bus is up; otherwise what is missing.
    const std::string& missing() const { return m_missing; }
    const std::string& address() const { return m_address; }

    // Starts "python3 -m dbusmock" with `arguments` (a template, or a name, path and
    // interface), logging its calls to `log`, and waits until it owns `name`.
    bool start_mock(const std::vector<std::string>& arguments, const std::string& name,
                    const std::string& log);
    // Runs Python with the dbus module on this bus; its standard output.
    std::string python(const std::string& code, bool* ok = nullptr) const;
    bool has_owner(const std::string& name) const;

private:
    TempDir m_dir; // the bus's configuration and socket
    std::string m_missing;
    std::string m_address;
    pid_t m_daemon{-1};
    std::vector<pid_t> m_mocks;
    std::unique_ptr<ScopedEnv> m_env;
};

// Reads a whole file ("" when there is none).
std::string read_whole_file(const std::string& path);

} // namespace testing_support

// Skips the test (or fails it under CI=true) when the bus or its mocks cannot be had.
#define QV_REQUIRE_SESSION_MOCKS(bus)                                                              \
    do {                                                                                           \
        if (!(bus).missing().empty()) {                                                            \
            const char* ci = std::getenv("CI");                                                    \
            if (ci && std::string(ci) == "true")                                                   \
                FAIL() << "needed for this test: " << (bus).missing();                             \
            GTEST_SKIP() << "needed for this test: " << (bus).missing();                           \
        }                                                                                          \
    } while (false)
