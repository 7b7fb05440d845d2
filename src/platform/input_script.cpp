#include "platform/input_script.h"

#include "platform/file_handle.h"
#include "platform/number.h"

#include <cstdio>

namespace platform {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The line's words, front to back.
class Words {
public:
    explicit Words(std::string_view line) : m_rest(line) {}

    std::string_view next() {
        skip_blanks();
        size_t end = 0;
        while (end < m_rest.size() && !is_blank(m_rest[end]))
            ++end;
        const std::string_view word = m_rest.substr(0, end);
        m_rest.remove_prefix(end);
        return word;
    }

    // The rest of the line after the blanks that follow the last word.
    std::string_view rest() {
        skip_blanks();
        return m_rest;
    }

    bool at_end() { return rest().empty(); }

private:
    void skip_blanks() {
        while (!m_rest.empty() && is_blank(m_rest.front()))
            m_rest.remove_prefix(1);
    }

    std::string_view m_rest;
};

std::optional<ScriptEvent> refuse(std::string* error, std::string reason) {
    if (error)
        *error = std::move(reason);
    return std::nullopt;
}

} // namespace

std::optional<ScriptEvent> parse_script_line(std::string_view line, std::string* error) {
    if (error)
        error->clear();
    Words words(line);
    const std::string_view verb = words.next();
    if (verb.empty())
        return std::nullopt;
    ScriptEvent event;
    // Reads "X Y" into the event.
    const auto point = [&]() {
        const auto x = parse_number<int32_t>(words.next());
        const auto y = parse_number<int32_t>(words.next());
        if (!x || !y)
            return false;
        event.x = *x;
        event.y = *y;
        return true;
    };
    if (verb == "down" || verb == "move" || verb == "up" || verb == "tap") {
        event.kind = verb == "down"   ? ScriptEvent::Kind::Down
                     : verb == "move" ? ScriptEvent::Kind::Move
                     : verb == "up"   ? ScriptEvent::Kind::Up
                                      : ScriptEvent::Kind::Tap;
        if (!point())
            return refuse(error, std::string(verb) + " wants X Y");
    } else if (verb == "finger") {
        event.kind = ScriptEvent::Kind::Finger;
        const auto id = parse_number<int64_t>(words.next());
        const std::string_view phase = words.next();
        if (!id || (phase != "down" && phase != "move" && phase != "up") || !point())
            return refuse(error, "finger wants ID down|move|up X Y");
        event.finger = *id;
        event.phase = phase == "down" ? ScriptEvent::Phase::Down
                      : phase == "up" ? ScriptEvent::Phase::Up
                                      : ScriptEvent::Phase::Move;
    } else if (verb == "resize") {
        event.kind = ScriptEvent::Kind::Resize;
        if (!point())
            return refuse(error, "resize wants W H");
    } else if (verb == "text") {
        event.kind = ScriptEvent::Kind::Text;
        event.text = std::string(words.rest());
        return event;
    } else if (verb == "key") {
        event.kind = ScriptEvent::Kind::Key;
        const auto key = parse_number<uint32_t>(words.next());
        if (!key)
            return refuse(error, "key wants a virtual key code");
        event.key = *key;
    } else {
        return refuse(error, "unknown event \"" + std::string(verb) + "\"");
    }
    if (!words.at_end())
        return refuse(error, "more than " + std::string(verb) + " takes");
    return event;
}

std::vector<ScriptEvent> InputScript::read_new() {
    std::vector<ScriptEvent> events;
    if (m_path.empty())
        return events;
    const std::string whole = read_whole_text(m_path, 64 << 20);
    if (whole.size() <= m_offset)
        return events;
    const std::string_view chunk = std::string_view(whole).substr(m_offset);
    const size_t end = chunk.rfind('\n');
    if (end == std::string::npos)
        return events;
    m_offset += end + 1;
    std::string_view lines(chunk.data(), end + 1);
    std::string error;
    while (!lines.empty()) {
        const size_t stop = lines.find('\n');
        const std::string_view line = lines.substr(0, stop);
        lines.remove_prefix(stop + 1);
        if (auto event = parse_script_line(line, &error))
            events.push_back(std::move(*event));
        else if (!error.empty())
            std::fprintf(stderr, "%s: refused \"%.*s\": %s\n", m_path.c_str(), int(line.size()),
                         line.data(), error.c_str());
    }
    return events;
}

} // namespace platform
