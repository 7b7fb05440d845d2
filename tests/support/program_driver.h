#pragma once

// Running the real program in a test: its environment and folders, its inspector file read as a
// tree of components, and input given either through its test input file or through an X server
// (xdotool), so one scenario can drive both.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testing_support {

// One component of the inspector's form tree.
struct InspectNode {
    std::string type;
    std::string id;
    std::string text;
    int x{0}, y{0}, w{0}, h{0};
    int columns{0}; // a waveform's columns drawn
    bool shown{false};
    bool enabled{false};
    std::vector<InspectNode> children;
    // A list's bound rows, with their item index.
    std::vector<std::pair<int, InspectNode>> rows;

    int centre_x() const { return x + w / 2; }
    int centre_y() const { return y + h / 2; }

    // The first component with this id, depth first through children and rows; null if none.
    const InspectNode* find(const std::string& wanted_id) const;
    // True when this component or one inside it shows exactly this text.
    bool has_text(const std::string& wanted) const;
    // The first list in this tree; null if none.
    const InspectNode* list() const;
};

// The forms on screen as the inspector last wrote them, bottom first.
struct Inspection {
    bool valid{false};
    bool transition{false};
    // Where text is being typed, when text input is on (w is 0 when it is off).
    InspectNode text_input;
    std::vector<InspectNode> forms;

    const InspectNode* top() const { return forms.empty() ? nullptr : &forms.back(); }
    std::string top_id() const { return forms.empty() ? std::string() : forms.back().id; }
    // A control of the top form, only when it is shown; null otherwise.
    const InspectNode* shown(const std::string& id) const;
    // The rows of the top form's first list that are in its view (their middle, at least).
    std::vector<const InspectNode*> rows() const;
    // The row of the top form's list that shows this text; null if none.
    const InspectNode* row_with(const std::string& text) const;
};

// Parses the inspector's JSON; an Inspection with valid false for text that is not one.
Inspection parse_inspection(const std::string& json);

std::string read_file_text(const std::filesystem::path& path);

// "h:mm:ss" in seconds; -1 for any other text.
int parse_clock(const std::string& text);

// A child process with its own environment; killed at destruction if still running.
class Process {
public:
    Process() = default;
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::filesystem::path& output = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    // Waits up to the deadline; the exit status, or nullopt while still running. A signal
    // death is reported as 128 + signal number.
    std::optional<int> wait_exit(std::chrono::milliseconds deadline);
    // SIGTERM, then SIGKILL after the grace time; the exit status as wait_exit gives it.
    std::optional<int> terminate(std::chrono::milliseconds grace);
    void kill_now();

private:
    pid_t m_pid{-1};
    std::optional<int> m_status;
};

// Runs a command to its end (or its deadline, then killed); its exit status and standard output.
struct CommandResult {
    int status{-1};
    std::string output;
};
CommandResult run_command(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env,
                          std::chrono::milliseconds deadline = std::chrono::seconds(60));

// True when a program of this name is on PATH.
bool have_program(const std::string& name);

// How input reaches the program: positions are window pixels as the inspector reports them.
class InputDriver {
public:
    virtual ~InputDriver() = default;
    virtual void tap(int x, int y) = 0;
    // Two taps at one place, as quickly as a user's double tap.
    virtual void double_tap(int x, int y) = 0;
    // Press at the first point, move through the others, release at the last.
    virtual void drag(const std::vector<std::pair<int, int>>& points) = 0;
    virtual void type(const std::string& utf8) = 0;
    virtual std::string name() const = 0;
    // Called after the program started: finds its window; false when there is none in time.
    virtual bool attach(std::chrono::milliseconds) { return true; }
    // Saves a picture of the screen as the user would see it; false when it cannot.
    virtual bool screenshot(const std::filesystem::path&) { return false; }
};

// Lines appended to the program's QUILLORY_INPUT file.
class ScriptInput final : public InputDriver {
public:
    explicit ScriptInput(std::filesystem::path file);
    void tap(int x, int y) override;
    void double_tap(int x, int y) override;
    void drag(const std::vector<std::pair<int, int>>& points) override;
    void type(const std::string& utf8) override;
    std::string name() const override { return "input file"; }
    // Any line of the input file's language (fingers, keys, a resize), as it stands.
    void send(const std::string& line);

private:
    std::filesystem::path m_file;
};

// A private Xvfb server on a free display, ended at destruction.
class XServer {
public:
    // A screen of that many pixels at that density (the physical size the server reports).
    XServer(int width, int height, int dpi = 96);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool ok() const { return !m_display.empty(); }
    const std::string& display() const { return m_display; }
    const std::string& error() const { return m_error; }

private:
    std::unique_ptr<Process> m_server;
    std::string m_display;
    std::string m_error;
};

// GNOME's mutter as a headless Wayland compositor (no X server, no GPU) with one virtual
// monitor, on the session bus given, its socket in runtime_dir; ended at destruction.
class WaylandServer {
public:
    WaylandServer(const std::filesystem::path& runtime_dir, std::string bus_address, int width,
                  int height, const std::filesystem::path& log);
    ~WaylandServer();
    WaylandServer(const WaylandServer&) = delete;
    WaylandServer& operator=(const WaylandServer&) = delete;

    bool ok() const { return !m_display.empty(); }
    // The socket's name, for WAYLAND_DISPLAY.
    const std::string& display() const { return m_display; }
    const std::string& error() const { return m_error; }
    // Gives the monitor this scale through org.gnome.Mutter.DisplayConfig and waits until the
    // compositor reports it; false (with error()) when refused. The compositor offers scale 2
    // only on monitors of at least 1600 x 960 pixels.
    bool set_scale(double scale);

private:
    bool display_config(const std::string& method, const std::vector<std::string>& args,
                        std::string* output);
    std::unique_ptr<Process> m_server;
    std::string m_bus;
    std::string m_display;
    std::string m_error;
};

// The real SDL input path: xdotool moves the X pointer, clicks and types into the window whose
// title is given, at window pixels offset by the window's place on the screen.
class XdotoolInput final : public InputDriver {
public:
    XdotoolInput(std::string display, std::string window_title);
    // Finds the window and its place; false when it is not mapped within the deadline.
    bool attach(std::chrono::milliseconds deadline) override;
    void tap(int x, int y) override;
    void double_tap(int x, int y) override;
    void drag(const std::vector<std::pair<int, int>>& points) override;
    void type(const std::string& utf8) override;
    std::string name() const override { return "xdotool"; }
    bool screenshot(const std::filesystem::path& file) override;

private:
    bool xdotool(const std::vector<std::string>& args, std::string* output = nullptr);
    void move_to(std::vector<std::string>& args, int x, int y);
    std::map<std::string, std::string> m_env;
    std::string m_display;
    std::string m_title;
    std::string m_window;
    int m_left{0}, m_top{0};
    int m_pointer_x{-1}, m_pointer_y{-1}; // on the screen
};

// The environment, folders and inspector of one program under test.
class ProgramSession {
public:
    // Folders under root: documents, config, run, contacts; the inspector and input files.
    // The programs are "quillory" and "quillory-cli" in the folder given.
    ProgramSession(std::filesystem::path root, std::filesystem::path programs);

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path records_folder() const;
    std::filesystem::path contacts_folder() const { return m_root / "contacts"; }
    std::filesystem::path inspect_file() const { return m_root / "inspect.json"; }
    std::filesystem::path input_file() const { return m_root / "input.txt"; }
    std::filesystem::path playback_file() const { return m_root / "played.wav"; }
    std::filesystem::path screenshot_file() const { return m_root / "screen.bmp"; }
    std::map<std::string, std::string>& env() { return m_env; }

    // Starts "quillory" with the arguments; the previous inspector file is removed first.
    std::unique_ptr<Process> start(const std::vector<std::string>& args = {});
    // Runs quillory-cli to its end.
    CommandResult cli(const std::vector<std::string>& args);
    // A registry value of the program's own key, as "quillory-cli reg get" prints it.
    std::string setting(const std::string& name);

    // The inspector file as it is now (parsed again only when it changed).
    const Inspection& inspect();
    const std::string& last_json() const { return m_json; }

    // Polls the inspector until the condition holds; false at the deadline.
    bool wait(const std::function<bool(const Inspection&)>& done,
              std::chrono::milliseconds deadline);
    bool wait_form(const std::string& id, std::chrono::milliseconds deadline);

private:
    std::filesystem::path m_root;
    std::filesystem::path m_programs;
    std::map<std::string, std::string> m_env;
    std::string m_json;
    Inspection m_inspection;
};

} // namespace testing_support
