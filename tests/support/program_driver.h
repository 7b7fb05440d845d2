#pragma once

// The one way tests run the real program: environment, inspector tree, input file or xdotool.

#include "support/process.h"

#include <memory>
#include <utility>

namespace testing_support {

// One component of the inspector's form tree.
struct InspectNode {
    std::string type, id, text;
    int x{0}, y{0}, w{0}, h{0};
    int columns{0}; // a waveform's columns drawn
    bool shown{false};
    std::vector<InspectNode> children;
    std::vector<InspectNode> rows; // a list's bound rows

    int centre_x() const { return x + w / 2; }
    int centre_y() const { return y + h / 2; }
    // The first component with this id, depth first through children and rows; null if none.
    const InspectNode* find(const std::string& wanted_id) const;
    // Whether a text in this tree (rows included) is `wanted`, or contains `part`.
    bool has_text(const std::string& wanted) const;
    bool mentions(const std::string& part) const;
};

// The forms on screen as the inspector last wrote them, bottom first.
struct Inspection {
    bool valid{false};
    bool transition{false};
    bool moving{false}; // a transition, an animation or the dimming under way
    bool minimised{false};
    InspectNode text_input; // where text is typed (w is 0 when text input is off)
    std::vector<InspectNode> forms;

    const InspectNode* top() const { return forms.empty() ? nullptr : &forms.back(); }
    std::string top_id() const { return forms.empty() ? std::string() : forms.back().id; }
    // The top form at rest with this id.
    bool at(const std::string& id) const { return top_id() == id && !transition; }
    // A control of the top form, only when it is shown with a size; null otherwise.
    const InspectNode* shown(const std::string& id) const;
    // The rows of the top form's list whose middle is in its view; the one showing `text`.
    std::vector<const InspectNode*> rows() const;
    const InspectNode* row_with(const std::string& text) const;
};

// The seconds an "h:mm:ss" text of the top form shows; -1 when there is none.
int seconds_shown(const Inspection& inspection, const std::string& id);

// How input reaches the program, at window pixels as the inspector reports them.
class InputDriver {
public:
    virtual ~InputDriver() = default;
    virtual void tap(int x, int y) = 0;
    virtual void double_tap(int x, int y) = 0;
    // Press at the first point, move through the others, release at the last.
    virtual void drag(const std::vector<std::pair<int, int>>& points) = 0;
    virtual void type(const std::string& utf8) = 0;
    virtual std::string name() const = 0;
    // Finds the started program's window; false when there is none in time.
    virtual bool attach(std::chrono::milliseconds) { return true; }
    // Saves a picture of the screen as the user sees it; false when it cannot.
    virtual bool screenshot(const std::filesystem::path&) { return false; }
};

// Lines appended to the program's QUILLORY_INPUT file.
class ScriptInput final : public InputDriver {
public:
    explicit ScriptInput(std::filesystem::path file) : m_file(std::move(file)) {}
    void tap(int x, int y) override;
    void double_tap(int x, int y) override;
    void drag(const std::vector<std::pair<int, int>>& points) override;
    void type(const std::string& utf8) override { send("text " + utf8); }
    std::string name() const override { return "input file"; }
    // Any line of the input file's language, as it stands.
    void send(const std::string& line);

private:
    std::filesystem::path m_file;
};

// The real SDL input path: xdotool moves, clicks and types into the window of that title.
class XdotoolInput final : public InputDriver {
public:
    XdotoolInput(std::string display, std::string window_title);
    bool attach(std::chrono::milliseconds deadline) override;
    void tap(int x, int y) override;
    void double_tap(int x, int y) override;
    void drag(const std::vector<std::pair<int, int>>& points) override;
    void type(const std::string& utf8) override;
    std::string name() const override { return "xdotool"; }
    bool screenshot(const std::filesystem::path& file) override;

private:
    bool xdotool(std::vector<std::string> args, std::string* output = nullptr);
    void move_to(std::vector<std::string>& args, int x, int y);
    std::string m_display, m_title, m_window;
    int m_left{0}, m_top{0};
    int m_pointer_x{-1}, m_pointer_y{-1}; // on the screen
};

// A private Xvfb server on a free display, ended at destruction.
class XServer {
public:
    XServer(int width, int height, int dpi = 96);
    bool ok() const { return !m_display.empty(); }
    const std::string& display() const { return m_display; }
    const std::string& error() const { return m_error; }

private:
    std::unique_ptr<Process> m_server;
    std::string m_display, m_error;
};

// Headless mutter with one virtual monitor on the given session bus; ended at destruction.
class WaylandServer {
public:
    WaylandServer(const std::filesystem::path& runtime_dir, std::string bus_address, int width,
                  int height, const std::filesystem::path& log);
    bool ok() const { return !m_display.empty(); }
    const std::string& display() const { return m_display; } // for WAYLAND_DISPLAY
    const std::string& error() const { return m_error; }
    // Gives the monitor this scale and waits until the compositor reports it; false (with
    // error()) when refused (scale 2 needs a monitor of at least 1600 x 960).
    bool set_scale(double scale);

private:
    bool display_config(const std::string& method, const std::vector<std::string>& args,
                        std::string* output);
    std::unique_ptr<Process> m_server;
    std::string m_bus, m_display, m_error;
};

// One program under test, headless by default (offscreen video, file sound devices with speech
// in at four times the speed, the input file); `programs` is the build's by default.
class ProgramSession {
public:
    explicit ProgramSession(std::filesystem::path root, std::filesystem::path programs = {});

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path records_folder() const { return m_root / "documents/My Quillory"; }
    std::filesystem::path contacts_folder() const { return m_root / "contacts"; }
    std::filesystem::path trash_folder() const { return m_root / "data/Trash"; }
    std::filesystem::path input_file() const { return m_root / "input.txt"; }
    std::filesystem::path playback_file() const { return m_root / "played.wav"; }
    std::filesystem::path screenshot_file() const { return m_root / "screen.png"; }
    std::filesystem::path log_file() const { return m_root / "program.log"; }
    EnvChanges& env() { return m_env; }

    // Starts "quillory", its messages appended to `log` (log_file() by default).
    std::unique_ptr<Process> start(const std::vector<std::string>& args = {},
                                   const std::filesystem::path& log = {});
    // Runs quillory-cli to its end.
    CommandResult cli(const std::vector<std::string>& args);
    // A value of the program's registry key, as "quillory-cli reg get" prints it.
    std::string setting(const std::string& name);

    // The inspector file as it is now.
    const Inspection& inspect();
    const std::string& last_json() const { return m_json; }
    // Polls the inspector until the condition holds; false at the deadline.
    bool wait(const std::function<bool(const Inspection&)>& done,
              std::chrono::milliseconds deadline = 40s);
    bool wait_form(const std::string& id, std::chrono::milliseconds deadline = 40s);

private:
    std::filesystem::path m_root, m_programs;
    EnvChanges m_env;
    std::string m_json;
    Inspection m_inspection;
};

// tests/data/screens/records into folder, a day apart, newest first: "Team meeting: launch
// plan", Anna Petrova's call, the outgoing call, "Idea: garden bench", "Shopping list".
void copy_sample_records(const std::filesystem::path& folder);

// As ffprobe reads the file: its seconds of audio (negative when it cannot), a tag (title,
// artist...), the audio stream's bit rate, the chapter starts (its markers) in seconds.
double media_duration(const std::filesystem::path& file);
std::string media_tag(const std::filesystem::path& file, const std::string& tag);
long media_bit_rate(const std::filesystem::path& file);
std::vector<double> media_chapters(const std::filesystem::path& file);

} // namespace testing_support
