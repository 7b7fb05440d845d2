#include "support/program_driver.h"

#include "support/test_fonts.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

// Just enough JSON for the inspector's output: objects, arrays, strings, numbers, literals.
struct Json {
    double number{0};
    bool boolean{false};
    std::string string;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* get(const std::string& key) const {
        for (const auto& [name, value] : members)
            if (name == key)
                return &value;
        return nullptr;
    }
    std::string text(const char* key) const { return get(key) ? get(key)->string : ""; }
    bool flag(const char* key) const { return get(key) && get(key)->boolean; }
    int integer(const char* key) const { return get(key) ? int(get(key)->number) : 0; }
};

// Skips blanks; the character there, or NUL at the end.
char next(const std::string& text, size_t& at) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    return at < text.size() ? text[at] : '\0';
}

bool read_string(const std::string& text, size_t& at, std::string& out) {
    if (next(text, at) != '"')
        return false;
    for (++at; at < text.size();) {
        char c = text[at++];
        if (c == '"')
            return true;
        if (c == '\\' && at < text.size()) {
            c = text[at++];
            if (c == 'u') { // the inspector escapes only control characters this way
                out += char(std::strtoul(text.substr(at, 4).c_str(), nullptr, 16));
                at += 4;
                continue;
            }
            if (const size_t e = std::string_view("nrtbf").find(c); e != std::string_view::npos)
                c = "\n\r\t\b\f"[e];
        }
        out += c;
    }
    return false;
}

// Reads one value at `at`; false for text that is not JSON.
bool read_json(const std::string& text, size_t& at, Json& out, int depth = 0) {
    const char c = next(text, at);
    if (depth > 200)
        return false;
    if (c == '{' || c == '[') {
        const char close = c == '{' ? '}' : ']';
        if (++at, next(text, at) == close)
            return ++at, true;
        for (;;) {
            bool ok = false;
            if (c == '[') {
                ok = read_json(text, at, out.items.emplace_back(), depth + 1);
            } else {
                auto& [key, member] = out.members.emplace_back();
                ok = read_string(text, at, key) && next(text, at) == ':' &&
                     read_json(text, ++at, member, depth + 1);
            }
            const char after = ok ? next(text, at) : '\0';
            ++at;
            if (after != ',')
                return after == close;
        }
    }
    if (c == '"')
        return read_string(text, at, out.string);
    for (const std::string_view word : {"true", "false", "null"})
        if (text.compare(at, word.size(), word) == 0) {
            out.boolean = word == "true";
            at += word.size();
            return true;
        }
    char* end = nullptr;
    out.number = std::strtod(text.c_str() + at, &end);
    const size_t used = size_t(end - (text.c_str() + at));
    at += used;
    return used > 0;
}

void set_rect(const Json* rect, InspectNode& node) {
    if (rect && rect->items.size() == 4) {
        node.x = int(rect->items[0].number);
        node.y = int(rect->items[1].number);
        node.w = int(rect->items[2].number);
        node.h = int(rect->items[3].number);
    }
}

InspectNode to_node(const Json& json) {
    InspectNode node;
    node.type = json.text("type");
    node.id = json.text("id");
    node.text = json.text("text");
    node.shown = json.flag("shown");
    node.columns = json.integer("columns");
    set_rect(json.get("rect"), node);
    if (const Json* children = json.get("children"))
        for (const Json& child : children->items)
            node.children.push_back(to_node(child));
    if (const Json* rows = json.get("rows"))
        for (const Json& row : rows->items)
            if (const Json* tree = row.get("row"))
                node.rows.push_back(to_node(*tree));
    return node;
}

// Whether a text shown in this tree, rows included, passes the test.
bool any_text(const InspectNode& node, const std::function<bool(const std::string&)>& test) {
    if (!node.text.empty() && test(node.text))
        return true;
    for (const auto* group : {&node.children, &node.rows})
        for (const auto& child : *group)
            if (any_text(child, test))
                return true;
    return false;
}

const InspectNode* first_list(const InspectNode& node) {
    if (node.type == "vlist")
        return &node;
    for (const auto& child : node.children)
        if (const InspectNode* found = first_list(child))
            return found;
    return nullptr;
}

// The inspector's JSON; valid is false for text that is not one.
Inspection parse_inspection(const std::string& text) {
    Inspection out;
    Json json;
    size_t at = 0;
    const bool whole = read_json(text, at, json) && next(text, at) == '\0';
    const Json* forms = whole ? json.get("forms") : nullptr;
    if (!forms)
        return out;
    for (const Json& form : forms->items)
        if (const Json* tree = form.get("tree"))
            out.forms.push_back(to_node(*tree));
    out.transition = json.flag("transition");
    out.moving = json.flag("moving");
    out.minimised = json.get("window") && json.get("window")->flag("minimised");
    set_rect(json.get("text_input"), out.text_input);
    out.valid = true;
    return out;
}

// What a command wrote, without the blanks at its end; empty when it failed.
std::string trimmed_output(CommandResult result) {
    while (!result.output.empty() && std::isspace(static_cast<unsigned char>(result.output.back())))
        result.output.pop_back();
    return result.status == 0 ? result.output : std::string();
}

std::string ffprobe(const fs::path& file, const std::string& entries) {
    return trimmed_output(run_command({"ffprobe", "-v", "error", "-show_entries", entries, "-of",
                                       "default=noprint_wrappers=1:nokey=1", file},
                                      {}, 30s));
}

std::string point(int x, int y) {
    return std::to_string(x) + " " + std::to_string(y);
}

} // namespace

const InspectNode* InspectNode::find(const std::string& wanted_id) const {
    if (id == wanted_id)
        return this;
    for (const auto* group : {&children, &rows})
        for (const auto& child : *group)
            if (const InspectNode* found = child.find(wanted_id))
                return found;
    return nullptr;
}

bool InspectNode::has_text(const std::string& wanted) const {
    return any_text(*this, [&](const std::string& text) { return text == wanted; });
}

bool InspectNode::mentions(const std::string& part) const {
    return any_text(*this,
                    [&](const std::string& text) { return text.find(part) != std::string::npos; });
}

const InspectNode* Inspection::shown(const std::string& id) const {
    const InspectNode* node = top() ? top()->find(id) : nullptr;
    return node && node->shown && node->w > 0 && node->h > 0 ? node : nullptr;
}

std::vector<const InspectNode*> Inspection::rows() const {
    std::vector<const InspectNode*> out;
    if (const InspectNode* list = top() ? first_list(*top()) : nullptr)
        for (const auto& row : list->rows)
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

int seconds_shown(const Inspection& inspection, const std::string& id) {
    const InspectNode* text = inspection.top() ? inspection.top()->find(id) : nullptr;
    int h = 0, m = 0, s = 0;
    char end = 0;
    if (!text || std::sscanf(text->text.c_str(), "%d:%d:%d%c", &h, &m, &s, &end) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

void ScriptInput::send(const std::string& line) {
    std::ofstream(m_file, std::ios::app) << line << "\n";
}

void ScriptInput::tap(int x, int y) {
    send("tap " + point(x, y));
}

void ScriptInput::double_tap(int x, int y) {
    send("tap " + point(x, y) + "\ntap " + point(x, y));
}

void ScriptInput::drag(const std::vector<std::pair<int, int>>& points) {
    std::string lines = "down " + point(points.front().first, points.front().second);
    for (size_t i = 1; i < points.size(); ++i)
        lines += "\nmove " + point(points[i].first, points[i].second);
    send(lines + "\nup " + point(points.back().first, points.back().second));
}

XdotoolInput::XdotoolInput(std::string display, std::string window_title)
    : m_display(std::move(display)), m_title(std::move(window_title)) {}

bool XdotoolInput::xdotool(std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), "xdotool");
    const CommandResult result = run_command(args, {{"DISPLAY", m_display}}, 30s);
    if (output)
        *output = result.output;
    return result.status == 0;
}

bool XdotoolInput::attach(std::chrono::milliseconds deadline) {
    std::string found, geometry;
    return wait_for(
        [&] {
            if (!xdotool({"search", "--onlyvisible", "--name", "^" + m_title + "$"}, &found) ||
                found.empty())
                return false;
            m_window = found.substr(0, found.find('\n'));
            if (!xdotool({"getwindowgeometry", "--shell", m_window}, &geometry))
                return false;
            std::istringstream lines(geometry);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("X=", 0) == 0)
                    m_left = std::atoi(line.c_str() + 2);
                else if (line.rfind("Y=", 0) == 0)
                    m_top = std::atoi(line.c_str() + 2);
            }
            return true;
        },
        int(deadline.count()));
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
    return have_program("ffmpeg") &&
           run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "x11grab", "-i",
                        m_display, "-frames:v", "1", file.string()},
                       {}, 30s)
                   .status == 0;
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
    m_server = std::make_unique<Process>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 std::to_string(width) + "x" + std::to_string(height) + "x24",
                                 "-nolisten", "tcp", "-noreset", "-dpi", std::to_string(dpi)},
        EnvChanges{}, "/dev/null");
    close(fds[1]);
    std::string number;
    char c = 0;
    wait_for([&] {
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 0) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        return c == '\n' || !m_server->running();
    });
    close(fds[0]);
    if (c != '\n' || number.empty()) {
        m_error = "Xvfb did not report a display";
        m_server.reset();
        return;
    }
    m_display = ":" + number;
}

WaylandServer::WaylandServer(const fs::path& runtime_dir, std::string bus_address, int width,
                             int height, const fs::path& log)
    : m_bus(std::move(bus_address)) {
    if (!have_program("mutter")) {
        m_error = "mutter is not installed";
        return;
    }
    const std::string name = "wayland-quillory-test";
    m_server = std::make_unique<Process>(
        std::vector<std::string>{"mutter", "--wayland", "--headless", "--no-x11",
                                 "--wayland-display=" + name, "--virtual-monitor",
                                 std::to_string(width) + "x" + std::to_string(height)},
        EnvChanges{{"XDG_RUNTIME_DIR", runtime_dir.string()},
                   {"DBUS_SESSION_BUS_ADDRESS", m_bus},
                   {"DISPLAY", ""},
                   {"WAYLAND_DISPLAY", ""},
                   // The compositor needs its own settings schemas, which the tests' private
                   // data folder lacks.
                   {"XDG_DATA_DIRS", "/usr/local/share:/usr/share"},
                   {"GSETTINGS_BACKEND", "memory"}},
        log);
    // Ready once its socket is there and its monitor configuration answers.
    std::string state;
    if (wait_for(
            [&] {
                return !m_server->running() || (fs::exists(runtime_dir / name) &&
                                                display_config("GetCurrentState", {}, &state));
            },
            60000) &&
        m_server->running()) {
        m_display = name;
        return;
    }
    m_error = "mutter did not start (see " + log.string() + ")";
    m_server.reset();
}

bool WaylandServer::display_config(const std::string& method, const std::vector<std::string>& args,
                                   std::string* output) {
    const std::string config = "org.gnome.Mutter.DisplayConfig";
    std::vector<std::string> argv({"gdbus", "call", "--session", "--dest", config, "--object-path",
                                   "/org/gnome/Mutter/DisplayConfig", "--method",
                                   config + "." + method});
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult result = run_command(argv, {{"DBUS_SESSION_BUS_ADDRESS", m_bus}}, 20s);
    *output = result.output;
    return result.status == 0;
}

bool WaylandServer::set_scale(double scale) {
    // GetCurrentState: (serial, [((connector, …), [(mode id, width, height, …)], …)], …).
    std::string state;
    std::smatch serial, monitor;
    static const std::regex serial_re(R"(^\(uint32 (\d+),)");
    static const std::regex monitor_re(R"(\[\(\('([^']+)'[^)]*\), \[\('([^']+)')");
    if (!display_config("GetCurrentState", {}, &state) ||
        !std::regex_search(state, serial, serial_re) ||
        !std::regex_search(state, monitor, monitor_re)) {
        m_error = "no monitor in: " + state;
        return false;
    }
    char scale_text[32];
    std::snprintf(scale_text, sizeof scale_text, "%.1f", scale);
    // Method 1: temporary (nothing is written to the user's monitors.xml).
    const std::string applied = "[(0, 0, " + std::string(scale_text) + ",";
    const std::string logical = applied + " 0, true, [('" + monitor[1].str() + "', '" +
                                monitor[2].str() + "', @a{sv} {})])]";
    if (!display_config("ApplyMonitorsConfig", {serial[1].str(), "1", logical, "@a{sv} {}"},
                        &state)) {
        m_error = "ApplyMonitorsConfig refused scale " + std::string(scale_text) + ": " + state;
        return false;
    }
    if (wait_for(
            [&] {
                return display_config("GetCurrentState", {}, &state) &&
                       state.find(applied) != std::string::npos;
            },
            20000))
        return true;
    m_error = "the scale did not change: " + state;
    return false;
}

ProgramSession::ProgramSession(fs::path root, fs::path programs)
    : m_root(std::move(root)),
      m_programs(programs.empty() ? fs::path(QV_BUILD_DIR) / "bin" : std::move(programs)) {
    for (const char* folder : {"documents/My Quillory", "config", "contacts", "run"})
        fs::create_directories(m_root / folder);
    fs::permissions(m_root / "run", fs::perms::owner_all, fs::perm_options::replace);
    std::ofstream(input_file()).flush();
    const std::string home = m_root.string();
    // clang-format off
    m_env = {
        {"XDG_RUNTIME_DIR", home + "/run"}, {"HOME", home}, {"XDG_DATA_HOME", home + "/data"},
        {"QUILLORY_CONFIG_DIR", home + "/config"}, {"XDG_CONFIG_HOME", home + "/config"},
        {"XDG_DOCUMENTS_DIR", home + "/documents"}, {"QUILLORY_CONTACTS", home + "/contacts"},
        {"QUILLORY_CARDS", ""}, {"SDL_VIDEODRIVER", "offscreen"}, {"QUILLORY_SCREEN", "480x640"},
        {"QUILLORY_DPI", "192"}, {"QUILLORY_INPUT", input_file().string()},
        {"QUILLORY_INSPECT", home + "/inspect.json"},
        {"QUILLORY_SCREENSHOT", screenshot_file().string()}, {"QUILLORY_AUDIO", "file"},
        {"QUILLORY_AUDIO_IN", std::string(QV_SOURCE_DIR) + "/tests/data/controller/speech.wav"},
        {"QUILLORY_AUDIO_OUT", playback_file().string()}, {"QUILLORY_AUDIO_SPEED", "4"},
        // The same machine wherever the test runs: English texts and dates, UTC, the tests' own
        // fonts, the settings store's key list (never the desktop's schemas, settings or key
        // bindings).
        {"LANG", "en_US.UTF-8"}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""},
        {"LC_TIME", ""}, {"TZ", "UTC"}, {"FONTCONFIG_FILE", test_fonts_file()},
        {"QUILLORY_KEY_BINDINGS", "registry"}, {"GSETTINGS_BACKEND", "memory"}};
    // clang-format on
}

std::unique_ptr<Process> ProgramSession::start(const std::vector<std::string>& args,
                                               const fs::path& log) {
    std::error_code ignored;
    fs::remove(m_root / "inspect.json", ignored);
    m_json.clear();
    m_inspection = Inspection{};
    std::vector<std::string> argv{(m_programs / "quillory").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(argv, m_env, log.empty() ? log_file() : log);
}

CommandResult ProgramSession::cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{(m_programs / "quillory-cli").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, m_env);
}

std::string ProgramSession::setting(const std::string& name) {
    return trimmed_output(
        cli({"reg", "get", "HKEY_CURRENT_USER\\Software\\Corvane\\Quillory Vozir", name}));
}

const Inspection& ProgramSession::inspect() {
    std::string json = read_whole_file(m_root / "inspect.json");
    if (json != m_json) {
        // The file is replaced whole; a half-read one is read again at the next poll.
        if (Inspection parsed = parse_inspection(json); parsed.valid) {
            m_json = std::move(json);
            m_inspection = std::move(parsed);
        }
    }
    return m_inspection;
}

bool ProgramSession::wait(const std::function<bool(const Inspection&)>& done,
                          std::chrono::milliseconds deadline) {
    return wait_for([&] { return done(inspect()); }, int(deadline.count()));
}

bool ProgramSession::wait_form(const std::string& id, std::chrono::milliseconds deadline) {
    return wait([&](const Inspection& i) { return i.at(id); }, deadline);
}

void copy_sample_records(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy(fs::path(QV_SOURCE_DIR) / "tests/data/screens/records", folder,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const char* oldest_first[] = {"shopping.mp3", "bench.mp3", "Outgoing/restaurant.mp3",
                                  "Incoming/anna.mp3", "meeting.mp3"};
    const auto now = fs::file_time_type::clock::now();
    for (size_t i = 0; i < std::size(oldest_first); ++i)
        fs::last_write_time(folder / oldest_first[i],
                            now - std::chrono::hours(24 * (std::size(oldest_first) - i)));
}

double media_duration(const fs::path& file) {
    const std::string text = ffprobe(file, "format=duration");
    return text.empty() ? -1.0 : std::atof(text.c_str());
}

std::string media_tag(const fs::path& file, const std::string& tag) {
    return ffprobe(file, "format_tags=" + tag);
}

long media_bit_rate(const fs::path& file) {
    return std::atol(ffprobe(file, "stream=bit_rate").c_str());
}

std::vector<double> media_chapters(const fs::path& file) {
    std::vector<double> out;
    std::istringstream lines(ffprobe(file, "chapter=start_time"));
    for (std::string line; std::getline(lines, line);)
        out.push_back(std::atof(line.c_str()));
    return out;
}

} // namespace testing_support
