#include "support/private_bus.h"

#include "support/glib_tsan.h"

#include <fstream>
#include <gio/gio.h>

namespace testing_support {

namespace {

constexpr const char* python_program = "/usr/bin/python3";

EnvChanges env_of(const std::vector<std::string>& entries) {
    EnvChanges env;
    for (const auto& entry : entries) {
        const auto eq = entry.find('=');
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return env;
}

} // namespace

std::string missing_dbus_tools() {
    if (!have_program("dbus-daemon"))
        return "dbus-daemon";
    if (run_command({python_program, "-c", "import dbusmock, dbus"}).status != 0)
        return "python3-dbusmock";
    return {};
}

bool Child::start(const std::string& command, const std::vector<std::string>& env) {
    stop(15);
    m_process = std::make_unique<Process>(
        std::vector<std::string>{"/bin/sh", "-c", "exec " + command}, env_of(env));
    return m_process->pid() > 0;
}

void Child::stop(int signal) {
    if (m_process) {
        m_process->signal(signal);
        m_process->wait_exit(30s);
    }
    m_process.reset();
}

PrivateBus::PrivateBus(const std::string& given_folder) {
    use_glib_tsan_suppressions();
    if (given_folder.empty())
        m_own_folder = std::make_unique<TempDir>();
    const std::string folder = given_folder.empty() ? m_own_folder->path().string() : given_folder;
    m_address = "unix:path=" + folder + "/bus";
    if (!have_program("dbus-daemon"))
        return;
    // Services only from folder/bus-services, which stays empty.
    const std::string config = folder + "/bus.conf";
    std::filesystem::create_directories(folder + "/bus-services");
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n  <listen>"
        << m_address << "</listen>\n  <auth>EXTERNAL</auth>\n  <servicedir>" << folder
        << "/bus-services</servicedir>\n  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
    m_daemon.start("dbus-daemon --config-file='" + config + "' --nofork --nopidfile 2>/dev/null",
                   {});
    wait_for([&] {
        m_connection =
            std::filesystem::exists(folder + "/bus")
                ? g_dbus_connection_new_for_address_sync(
                      m_address.c_str(),
                      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                      nullptr, nullptr, nullptr)
                : nullptr;
        return m_connection != nullptr;
    });
}

PrivateBus::~PrivateBus() {
    m_mocks.clear();
    if (m_connection) {
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }
    m_daemon.stop(15);
}

bool PrivateBus::name_owned(const std::string& name) const {
    GVariant* reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", name.c_str()));
    gboolean owned = FALSE;
    if (reply && g_variant_is_of_type(reply, G_VARIANT_TYPE("(b)")))
        g_variant_get(reply, "(b)", &owned);
    if (reply)
        g_variant_unref(reply);
    return owned;
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

bool PrivateBus::start_mock(Child& child, const std::string& template_file, const std::string& name,
                            bool system_bus, const std::string& parameters,
                            const std::string& log_file) const {
    child.start(
        std::string(python_program) + " -m dbusmock " + (system_bus ? "--system" : "--session") +
            " --template " + template_file + " -p '" + parameters + "' >>" + log_file + " 2>&1",
        {std::string(system_bus ? "DBUS_SYSTEM_BUS_ADDRESS=" : "DBUS_SESSION_BUS_ADDRESS=") +
         m_address});
    return wait_for([&] { return name_owned(name); });
}

bool PrivateBus::start_mock(const std::vector<std::string>& arguments, const std::string& name,
                            const std::string& log) {
    std::string command = std::string(python_program) + " -m dbusmock -l '" + log + "'";
    for (const auto& argument : arguments)
        command += " '" + argument + "'";
    m_mocks.push_back(std::make_unique<Child>(
        command, std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + m_address}));
    return wait_for([&] { return name_owned(name); });
}

std::string PrivateBus::python(const std::string& code, bool* ok) const {
    const CommandResult result =
        run_command({python_program, "-c",
                     "import dbus\nbus = dbus.bus.BusConnection('" + m_address + "')\n" + code});
    if (ok)
        *ok = result.status == 0;
    return result.output;
}

MockSessionBus::MockSessionBus() : m_missing(missing_dbus_tools()) {
    if (m_missing.empty() && !ready())
        m_missing = "a private dbus-daemon";
    if (m_missing.empty())
        m_env = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address());
}

} // namespace testing_support
