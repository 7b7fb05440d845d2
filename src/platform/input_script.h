#pragma once

// Test input: the file named by QUILLORY_INPUT, to which tests and benchmarks append lines while
// the program runs. Each complete line (ended by '\n') is read once, as one event in window
// pixels:
//   down X Y, move X Y, up X Y   the pen
//   tap X Y                      the pen down and up
//   finger ID down|move|up X Y   a touch screen's finger, as SDL reports it
//   text UTF-8                   typed text (the rest of the line)
//   key CODE                     a virtual key code, pressed and released
//   resize W H                   the window's size in points, as a turned phone's
// Words are separated by blanks; numbers are decimal and must fit. A line that does not read so
// (an unknown word, a missing, malformed or extra field) is refused with a note on standard error
// and skipped; blank lines are skipped quietly.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct ScriptEvent {
    enum class Kind { Down, Move, Up, Tap, Finger, Text, Key, Resize };
    enum class Phase { Down, Move, Up };
    Kind kind{Kind::Tap};
    int32_t x{0}; // or the width for Resize
    int32_t y{0}; // or the height for Resize
    int64_t finger{0};
    Phase phase{Phase::Down}; // Finger only
    uint32_t key{0};
    std::string text; // UTF-8 as written
};

// One line (without its '\n'); none for a blank or malformed line, with the reason in `error`
// for a malformed one (left empty for a blank one).
std::optional<ScriptEvent> parse_script_line(std::string_view line, std::string* error = nullptr);

class InputScript {
public:
    // An empty path reads nothing.
    explicit InputScript(std::string path = {}) : m_path(std::move(path)) {}
    bool enabled() const { return !m_path.empty(); }
    // The events of the lines completed since the last call; a partly written last line waits
    // for its end.
    std::vector<ScriptEvent> read_new();

private:
    std::string m_path;
    uint64_t m_offset{0};
};

} // namespace platform
