#include "support/private_bus.h"

#include "support/glib_tsan.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gio/gio.h>
#include <sys/wait.h>
#include <thread>

namespace testing_support {

bool dbus_tools_present(std::string& missing) {
    if (std::system("command -v dbus-daemon >/dev/null 2>&1") != 0)
        missing = "dbus-daemon";
    else if (std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") != 0)
        missing = "python3-dbusmock";
    return missing.empty();
}

bool Child::start(const std::string& command, const std::vector<std::string>& env) {
    stop(SIGTERM);
    gchar** envp = g_get_environ();
    for (const auto& entry : env) {
        const auto eq = entry.find('=');
        envp =
            g_environ_setenv(envp, entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), TRUE);
    }
    const std::string exec = "exec " + command;
    const gchar* argv[] = {"/bin/sh", "-c", exec.c_str(), nullptr};
    GPid pid = 0;
    const bool started = g_spawn_async(nullptr, const_cast<gchar**>(argv), envp,
                                       G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, nullptr);
    g_strfreev(envp);
    m_pid = started ? pid : 0;
    return started;
}

void Child::stop(int signal) {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, signal);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = 0;
}

bool Child::alive() const {
    int status = 0;
    return m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == 0;
}

std::string write_bus_config(const std::string& folder, const std::string& listen) {
    const std::string config = folder + "/bus.conf";
    std::filesystem::create_directories(folder + "/bus-services");
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n  <listen>"
        << listen << "</listen>\n  <auth>EXTERNAL</auth>\n  <servicedir>" << folder
        << "/bus-services</servicedir>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n"
           "</busconfig>\n";
    return config;
}

bool wait_for(const std::function<bool()>& done, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

PrivateBus::PrivateBus(const std::string& folder)
    : m_address("unix:path=" + folder + "/bus"), m_socket(folder + "/bus") {
    use_glib_tsan_suppressions();
    m_daemon.start("dbus-daemon --config-file='" + write_bus_config(folder, m_address) +
                       "' --nofork --nopidfile --address=" + m_address + " 2>/dev/null",
                   {});
    wait_for([&] {
        if (!std::filesystem::exists(m_socket))
            return false;
        m_connection = g_dbus_connection_new_for_address_sync(
            m_address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        return m_connection != nullptr;
    });
}

PrivateBus::~PrivateBus() {
    if (m_connection) {
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }
    m_daemon.stop(SIGTERM);
}

bool PrivateBus::name_owned(const std::string& name) const {
    GVariant* reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", name.c_str()));
    gboolean owned = FALSE;
    if (reply) {
        if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(b)")))
            g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    return owned;
}

bool PrivateBus::start_mock(Child& child, const std::string& template_file, const std::string& name,
                            bool system_bus, const std::string& parameters,
                            const std::string& log_file) const {
    const std::string quoted_parameters = "'" + parameters + "'";
    child.start(
        "/usr/bin/python3 -m dbusmock " + std::string(system_bus ? "--system" : "--session") +
            " --template " + template_file + " -p " + quoted_parameters + " >>" + log_file +
            " 2>&1",
        {std::string(system_bus ? "DBUS_SYSTEM_BUS_ADDRESS=" : "DBUS_SESSION_BUS_ADDRESS=") +
         m_address});
    return wait_for([&] { return name_owned(name); });
}

GVariant* PrivateBus::call(const std::string& name, const std::string& path,
                           const std::string& interface, const std::string& method,
                           GVariant* parameters, std::string* error_text) const {
    if (!m_connection) {
        if (parameters)
            g_variant_unref(g_variant_ref_sink(parameters));
        if (error_text)
            *error_text = "no bus";
        return nullptr;
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        m_connection, name.c_str(), path.c_str(), interface.c_str(), method.c_str(), parameters,
        nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (!reply) {
        if (error_text)
            *error_text = error->message;
        g_error_free(error);
    }
    return reply;
}

} // namespace testing_support
