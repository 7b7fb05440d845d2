#include "support/program_driver.h"

#include "support/test_fonts.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace testing_support {

// --- the inspector's JSON ------------------------------------------------------------------------

namespace {

// Just enough JSON for the inspector's output: objects, arrays, strings, numbers, literals.
struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind{Kind::Null};
    bool boolean{false};
    double number{0};
    std::string string;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* get(const std::string& key) const {
        for (const auto& [name, value] : members)
            if (name == key)
                return &value;
        return nullptr;
    }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : m_text(text) {}

    bool parse(Json& out) {
        if (!value(out, 0))
            return false;
        skip();
        return m_at == m_text.size();
    }

private:
    void skip() {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) && m_text[m_at])
            ++m_at;
    }

    bool literal(const char* word) {
        const size_t length = std::strlen(word);
        if (m_text.compare(m_at, length, word) != 0)
            return false;
        m_at += length;
        return true;
    }

    bool string(std::string& out) {
        if (m_at >= m_text.size() || m_text[m_at] != '"')
            return false;
        ++m_at;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            const char e = m_text[m_at++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (m_at + 4 > m_text.size())
                    return false;
                const unsigned code =
                    unsigned(std::strtoul(m_text.substr(m_at, 4).c_str(), nullptr, 16));
                m_at += 4;
                // The inspector escapes only control characters this way.
                if (code < 0x80)
                    out += char(code);
                else
                    out += '?';
                break;
            }
            default:
                out += e;
            }
        }
        return false;
    }

    // Items separated by commas after the opening character, up to the closing one.
    template <typename Item> bool sequence(char close, Item item) {
        ++m_at;
        skip();
        if (m_at < m_text.size() && m_text[m_at] == close) {
            ++m_at;
            return true;
        }
        for (;;) {
            if (!item())
                return false;
            skip();
            if (m_at >= m_text.size())
                return false;
            const char next = m_text[m_at++];
            if (next != ',')
                return next == close;
        }
    }

    bool value(Json& out, int depth) {
        if (depth > 200)
            return false;
        skip();
        if (m_at >= m_text.size())
            return false;
        const char c = m_text[m_at];
        if (c == '{') {
            out.kind = Json::Kind::Object;
            return sequence('}', [&] {
                skip();
                std::string key;
                if (!string(key))
                    return false;
                skip();
                if (m_at >= m_text.size() || m_text[m_at++] != ':')
                    return false;
                Json member;
                if (!value(member, depth + 1))
                    return false;
                out.members.emplace_back(std::move(key), std::move(member));
                return true;
            });
        }
        if (c == '[') {
            out.kind = Json::Kind::Array;
            return sequence(']', [&] {
                Json item;
                if (!value(item, depth + 1))
                    return false;
                out.items.push_back(std::move(item));
                return true;
            });
        }
        if (c == '"') {
            out.kind = Json::Kind::String;
            return string(out.string);
        }
        if (literal("true")) {
            out.kind = Json::Kind::Bool;
            out.boolean = true;
            return true;
        }
        if (literal("false")) {
            out.kind = Json::Kind::Bool;
            return true;
        }
        if (literal("null"))
            return true;
        char* end = nullptr;
        out.number = std::strtod(m_text.c_str() + m_at, &end);
        if (end == m_text.c_str() + m_at)
            return false;
        out.kind = Json::Kind::Number;
        m_at = size_t(end - m_text.c_str());
        return true;
    }

    const std::string& m_text;
    size_t m_at{0};
};

bool to_node(const Json& json, InspectNode& node) {
    if (json.kind != Json::Kind::Object)
        return false;
    auto text = [&](const char* key) {
        const Json* v = json.get(key);
        return v && v->kind == Json::Kind::String ? v->string : std::string();
    };
    auto flag = [&](const char* key) {
        const Json* v = json.get(key);
        return v && v->kind == Json::Kind::Bool && v->boolean;
    };
    node.type = text("type");
    node.id = text("id");
    node.text = text("text");
    node.shown = flag("shown");
    node.enabled = flag("enabled");
    if (const Json* columns = json.get("columns"); columns && columns->kind == Json::Kind::Number)
        node.columns = int(columns->number);
    const Json* rect = json.get("rect");
    if (!rect || rect->items.size() != 4)
        return false;
    node.x = int(rect->items[0].number);
    node.y = int(rect->items[1].number);
    node.w = int(rect->items[2].number);
    node.h = int(rect->items[3].number);
    if (const Json* children = json.get("children"))
        for (const Json& child : children->items) {
            node.children.emplace_back();
            if (!to_node(child, node.children.back()))
                return false;
        }
    if (const Json* rows = json.get("rows"))
        for (const Json& row : rows->items) {
            const Json* index = row.get("index");
            const Json* tree = row.get("row");
            if (!index || !tree)
                return false;
            node.rows.emplace_back(int(index->number), InspectNode{});
            if (!to_node(*tree, node.rows.back().second))
                return false;
        }
    return true;
}

} // namespace

const InspectNode* InspectNode::find(const std::string& wanted_id) const {
    if (id == wanted_id)
        return this;
    for (const auto& child : children)
        if (const InspectNode* found = child.find(wanted_id))
            return found;
    for (const auto& [index, row] : rows)
        if (const InspectNode* found = row.find(wanted_id))
            return found;
    return nullptr;
}

bool InspectNode::has_text(const std::string& wanted) const {
    if (text == wanted)
        return true;
    for (const auto& child : children)
        if (child.has_text(wanted))
            return true;
    return false;
}

const InspectNode* InspectNode::list() const {
    if (type == "vlist")
        return this;
    for (const auto& child : children)
        if (const InspectNode* found = child.list())
            return found;
    return nullptr;
}

const InspectNode* Inspection::shown(const std::string& id) const {
    const InspectNode* form = top();
    const InspectNode* node = form ? form->find(id) : nullptr;
    return node && node->shown && node->w > 0 && node->h > 0 ? node : nullptr;
}

std::vector<const InspectNode*> Inspection::rows() const {
    std::vector<const InspectNode*> out;
    const InspectNode* form = top();
    const InspectNode* list = form ? form->list() : nullptr;
    if (list)
        for (const auto& [index, row] : list->rows)
            if (row.centre_y() >= list->y && row.centre_y() < list->y + list->h)
                out.push_back(&row);
    return out;
}

const InspectNode* Inspection::row_with(const std::string& text) const {
    for (const InspectNode* row : rows())
        if (row->has_text(text))
            return row;
    return nullptr;
}

Inspection parse_inspection(const std::string& text) {
    Inspection out;
    Json json;
    if (!JsonParser(text).parse(json) || json.kind != Json::Kind::Object)
        return out;
    const Json* forms = json.get("forms");
    if (!forms || forms->kind != Json::Kind::Array)
        return out;
    for (const Json& form : forms->items) {
        const Json* tree = form.get("tree");
        if (!tree)
            return out;
        out.forms.emplace_back();
        if (!to_node(*tree, out.forms.back()))
            return Inspection{};
    }
    if (const Json* transition = json.get("transition"))
        out.transition = transition->boolean;
    if (const Json* area = json.get("text_input"); area && area->items.size() == 4) {
        out.text_input.x = int(area->items[0].number);
        out.text_input.y = int(area->items[1].number);
        out.text_input.w = int(area->items[2].number);
        out.text_input.h = int(area->items[3].number);
    }
    out.valid = true;
    return out;
}

std::string read_file_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int parse_clock(const std::string& text) {
    int h = 0, m = 0, s = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%d%c", &h, &m, &s, &end) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

// --- processes -----------------------------------------------------------------------------------

namespace {

std::vector<std::string> merged_environment(const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const size_t eq = entry.find('=');
        if (eq != std::string::npos)
            all[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : changes)
        all[name] = value;
    std::vector<std::string> out;
    for (const auto& [name, value] : all)
        out.push_back(name + "=" + value);
    return out;
}

// fork + exec with the environment; the child's standard output goes to the descriptor when
// it is not negative, its standard error to the file when one is named.
pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            int stdout_fd, const fs::path& output) {
    std::vector<std::string> environment = merged_environment(env);
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // A process group of its own: the test's terminal signals stay with the test.
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        if (!output.empty()) {
            const int log = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0) {
                dup2(log, 2);
                if (stdout_fd < 0)
                    dup2(log, 1);
            }
        }
        if (stdout_fd >= 0)
            dup2(stdout_fd, 1);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int decode_status(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

Process::Process(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const fs::path& output)
    : m_pid(spawn(argv, env, -1, output)) {}

Process::~Process() {
    kill_now();
}

bool Process::running() {
    if (m_pid <= 0 || m_status)
        return false;
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
        m_status = decode_status(status);
        return false;
    }
    return done == 0;
}

std::optional<int> Process::wait_exit(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return m_status;
}

std::optional<int> Process::terminate(std::chrono::milliseconds grace) {
    if (running())
        ::kill(m_pid, SIGTERM);
    if (auto status = wait_exit(grace))
        return status;
    kill_now();
    return std::nullopt;
}

void Process::kill_now() {
    if (running()) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        if (waitpid(m_pid, &status, 0) == m_pid)
            m_status = decode_status(status);
    }
}

CommandResult run_command(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env,
                          std::chrono::milliseconds deadline) {
    CommandResult result;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return result;
    const pid_t pid = spawn(argv, env, pipe_fds[1], {});
    close(pipe_fds[1]);
    const auto end = std::chrono::steady_clock::now() + deadline;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (poll(&p, 1, int(std::min<long long>(left.count(), 1000))) < 0 && errno != EINTR)
            break;
        if (p.revents == 0)
            continue;
        const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, size_t(n));
    }
    close(pipe_fds[0]);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.status = decode_status(status);
    return result;
}

bool have_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return true;
    return false;
}

// --- input ---------------------------------------------------------------------------------------

ScriptInput::ScriptInput(fs::path file) : m_file(std::move(file)) {}

void ScriptInput::send(const std::string& line) {
    std::ofstream(m_file, std::ios::app) << line << "\n";
}

void ScriptInput::tap(int x, int y) {
    send("tap " + std::to_string(x) + " " + std::to_string(y));
}

void ScriptInput::double_tap(int x, int y) {
    const std::string line = "tap " + std::to_string(x) + " " + std::to_string(y);
    send(line + "\n" + line);
}

void ScriptInput::drag(const std::vector<std::pair<int, int>>& points) {
    if (points.empty())
        return;
    auto at = [](const std::pair<int, int>& p) {
        return std::to_string(p.first) + " " + std::to_string(p.second);
    };
    std::string lines = "down " + at(points.front());
    for (size_t i = 1; i < points.size(); ++i)
        lines += "\nmove " + at(points[i]);
    lines += "\nup " + at(points.back());
    send(lines);
}

void ScriptInput::type(const std::string& utf8) {
    send("text " + utf8);
}

XServer::XServer(int width, int height, int dpi) {
    if (!have_program("Xvfb")) {
        m_error = "Xvfb is not installed";
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        m_error = "no pipe";
        return;
    }
    // -displayfd: the server picks a free display and writes its number when it is ready.
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    m_server = std::make_unique<Process>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 screen, "-nolisten", "tcp", "-noreset", "-dpi",
                                 std::to_string(dpi)},
        std::map<std::string, std::string>{}, "/dev/null");
    close(fds[1]);
    std::string number;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        } else if (!m_server->running()) {
            break;
        }
    }
    close(fds[0]);
    if (number.empty()) {
        m_error = "Xvfb did not report a display";
        m_server.reset();
        return;
    }
    m_display = ":" + number;
}

XServer::~XServer() {
    if (m_server)
        m_server->terminate(std::chrono::seconds(5));
}

WaylandServer::WaylandServer(const fs::path& runtime_dir, std::string bus_address, int width,
                             int height, const fs::path& log)
    : m_bus(std::move(bus_address)) {
    if (!have_program("mutter")) {
        m_error = "mutter is not installed";
        return;
    }
    const std::string name = "wayland-quillory-test";
    const fs::path socket = runtime_dir / name;
    m_server = std::make_unique<Process>(
        std::vector<std::string>{"mutter", "--wayland", "--headless", "--no-x11",
                                 "--wayland-display=" + name, "--virtual-monitor",
                                 std::to_string(width) + "x" + std::to_string(height)},
        std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime_dir.string()},
                                           {"DBUS_SESSION_BUS_ADDRESS", m_bus},
                                           {"DISPLAY", ""},
                                           {"WAYLAND_DISPLAY", ""},
                                           // The compositor needs its own settings schemas,
                                           // which the tests' private data folder lacks.
                                           {"XDG_DATA_DIRS", "/usr/local/share:/usr/share"},
                                           {"GSETTINGS_BACKEND", "memory"}},
        log);
    // Ready once its socket is there and its monitor configuration answers.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string state;
    while (std::chrono::steady_clock::now() < end && m_server->running()) {
        if (fs::exists(socket) && display_config("GetCurrentState", {}, &state)) {
            m_display = name;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_error = "mutter did not start (see " + log.string() + ")";
    m_server.reset();
}

WaylandServer::~WaylandServer() {
    if (m_server)
        m_server->terminate(std::chrono::seconds(5));
}

bool WaylandServer::display_config(const std::string& method, const std::vector<std::string>& args,
                                   std::string* output) {
    std::vector<std::string> argv{"gdbus",
                                  "call",
                                  "--session",
                                  "--dest",
                                  "org.gnome.Mutter.DisplayConfig",
                                  "--object-path",
                                  "/org/gnome/Mutter/DisplayConfig",
                                  "--method",
                                  "org.gnome.Mutter.DisplayConfig." + method};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult result =
        run_command(argv, {{"DBUS_SESSION_BUS_ADDRESS", m_bus}}, std::chrono::seconds(20));
    if (output)
        *output = result.output;
    return result.status == 0;
}

bool WaylandServer::set_scale(double scale) {
    // GetCurrentState: (serial, [((connector, …), [(mode id, width, height, …)], …)], …).
    std::string state;
    if (!display_config("GetCurrentState", {}, &state)) {
        m_error = "GetCurrentState failed";
        return false;
    }
    std::smatch serial, monitor;
    static const std::regex serial_re(R"(^\(uint32 (\d+),)");
    static const std::regex monitor_re(R"(\[\(\('([^']+)'[^)]*\), \[\('([^']+)')");
    if (!std::regex_search(state, serial, serial_re) ||
        !std::regex_search(state, monitor, monitor_re)) {
        m_error = "no monitor in: " + state;
        return false;
    }
    char scale_text[32];
    std::snprintf(scale_text, sizeof scale_text, "%.1f", scale);
    // Method 1: temporary (nothing is written to the user's monitors.xml).
    const std::string logical = "[(0, 0, " + std::string(scale_text) + ", 0, true, [('" +
                                monitor[1].str() + "', '" + monitor[2].str() + "', @a{sv} {})])]";
    if (!display_config("ApplyMonitorsConfig", {serial[1].str(), "1", logical, "@a{sv} {}"},
                        &state)) {
        m_error = "ApplyMonitorsConfig refused scale " + std::string(scale_text);
        return false;
    }
    const std::string applied = "[(0, 0, " + std::string(scale_text) + ",";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        if (display_config("GetCurrentState", {}, &state) &&
            state.find(applied) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_error = "the scale did not change: " + state;
    return false;
}

XdotoolInput::XdotoolInput(std::string display, std::string window_title)
    : m_env{{"DISPLAY", display}}, m_display(std::move(display)), m_title(std::move(window_title)) {
}

bool XdotoolInput::xdotool(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult result = run_command(argv, m_env, std::chrono::seconds(30));
    if (output)
        *output = result.output;
    return result.status == 0;
}

bool XdotoolInput::attach(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        std::string found;
        if (xdotool({"search", "--onlyvisible", "--name", "^" + m_title + "$"}, &found) &&
            !found.empty()) {
            m_window = found.substr(0, found.find('\n'));
            std::string geometry;
            if (xdotool({"getwindowgeometry", "--shell", m_window}, &geometry)) {
                std::istringstream lines(geometry);
                std::string line;
                while (std::getline(lines, line)) {
                    if (line.rfind("X=", 0) == 0)
                        m_left = std::atoi(line.c_str() + 2);
                    else if (line.rfind("Y=", 0) == 0)
                        m_top = std::atoi(line.c_str() + 2);
                }
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void XdotoolInput::move_to(std::vector<std::string>& args, int x, int y) {
    // "mousemove --sync" to where the pointer already is waits for a move that never comes.
    x += m_left;
    y += m_top;
    if (x == m_pointer_x && y == m_pointer_y)
        return;
    args.insert(args.end(), {"mousemove", "--sync", std::to_string(x), std::to_string(y)});
    m_pointer_x = x;
    m_pointer_y = y;
}

void XdotoolInput::tap(int x, int y) {
    std::vector<std::string> args;
    move_to(args, x, y);
    args.insert(args.end(), {"click", "1"});
    xdotool(args);
}

void XdotoolInput::double_tap(int x, int y) {
    std::vector<std::string> args;
    move_to(args, x, y);
    args.insert(args.end(), {"click", "--repeat", "2", "--delay", "80", "1"});
    xdotool(args);
}

void XdotoolInput::drag(const std::vector<std::pair<int, int>>& points) {
    if (points.empty())
        return;
    std::vector<std::string> args;
    move_to(args, points.front().first, points.front().second);
    args.insert(args.end(), {"mousedown", "1"});
    for (size_t i = 1; i < points.size(); ++i)
        move_to(args, points[i].first, points[i].second);
    args.insert(args.end(), {"mouseup", "1"});
    xdotool(args);
}

void XdotoolInput::type(const std::string& utf8) {
    // Keys go to the window under the pointer (no window manager gives focus).
    if (!m_window.empty())
        xdotool({"windowfocus", "--sync", m_window});
    xdotool({"type", "--delay", "30", utf8});
}

bool XdotoolInput::screenshot(const fs::path& file) {
    if (!have_program("ffmpeg"))
        return false;
    const CommandResult result = run_command({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab",
                                              "-i", m_display, "-frames:v", "1", file.string()},
                                             {}, std::chrono::seconds(30));
    return result.status == 0 && fs::exists(file);
}

// --- the program ---------------------------------------------------------------------------------

ProgramSession::ProgramSession(fs::path root, fs::path programs)
    : m_root(std::move(root)), m_programs(std::move(programs)) {
    for (const char* folder : {"documents", "config", "contacts", "run"})
        fs::create_directories(m_root / folder);
    fs::permissions(m_root / "run", fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(records_folder());
    std::ofstream(input_file()).flush();
    m_env = {{"XDG_RUNTIME_DIR", (m_root / "run").string()},
             {"HOME", m_root.string()},
             {"XDG_DATA_HOME", (m_root / "data").string()},
             {"QUILLORY_CONFIG_DIR", (m_root / "config").string()},
             {"XDG_CONFIG_HOME", (m_root / "config").string()},
             {"XDG_DOCUMENTS_DIR", (m_root / "documents").string()},
             {"QUILLORY_CONTACTS", contacts_folder().string()},
             {"QUILLORY_CARDS", ""},
             {"QUILLORY_AUDIO", "file"},
             {"QUILLORY_AUDIO_OUT", playback_file().string()},
             {"QUILLORY_INSPECT", inspect_file().string()},
             {"QUILLORY_DPI", "192"},
             {"QUILLORY_SCREEN", "480x640"},
             // The same machine wherever the test runs: English texts and dates, UTC, the
             // tests' own fonts, the settings store's key list (never the desktop's schemas
             // or settings).
             {"LANG", "en_US.UTF-8"},
             {"LANGUAGE", ""},
             {"LC_ALL", ""},
             {"LC_MESSAGES", ""},
             {"LC_TIME", ""},
             {"TZ", "UTC"},
             {"FONTCONFIG_FILE", test_fonts_file()},
             {"QUILLORY_KEY_BINDINGS", "registry"},
             {"GSETTINGS_BACKEND", "memory"}};
}

fs::path ProgramSession::records_folder() const {
    return m_root / "documents" / "My Quillory";
}

std::unique_ptr<Process> ProgramSession::start(const std::vector<std::string>& args) {
    std::error_code ignored;
    fs::remove(inspect_file(), ignored);
    m_json.clear();
    m_inspection = Inspection{};
    std::vector<std::string> argv{(m_programs / "quillory").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(argv, m_env, m_root / "program.log");
}

CommandResult ProgramSession::cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{(m_programs / "quillory-cli").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, m_env);
}

std::string ProgramSession::setting(const std::string& name) {
    CommandResult result =
        cli({"reg", "get", "HKEY_CURRENT_USER\\Software\\Corvane\\Quillory Vozir", name});
    while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == '\r'))
        result.output.pop_back();
    return result.status == 0 ? result.output : std::string();
}

const Inspection& ProgramSession::inspect() {
    std::string json = read_file_text(inspect_file());
    if (json != m_json) {
        Inspection parsed = parse_inspection(json);
        // The file is replaced whole; a half-read one is read again at the next poll.
        if (parsed.valid) {
            m_json = std::move(json);
            m_inspection = std::move(parsed);
        }
    }
    return m_inspection;
}

bool ProgramSession::wait(const std::function<bool(const Inspection&)>& done,
                          std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (done(inspect()))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ProgramSession::wait_form(const std::string& id, std::chrono::milliseconds deadline) {
    return wait([&](const Inspection& i) { return i.top_id() == id && !i.transition; }, deadline);
}

} // namespace testing_support
