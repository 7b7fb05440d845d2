#pragma once

// What the application window tells its delegate (the start-up object, later the screens).

#include <cstdint>
#include <string>

namespace shell {

struct KeyEvent {
    uint32_t code{0}; // a KeyCode
    bool pressed{false};
    bool first_press{true}; // false for an auto-repeat
};

struct PenEvent {
    enum class Kind { Down, Move, Up };
    Kind kind{Kind::Down};
    int32_t x{0};
    int32_t y{0};
    uint32_t time{0};      // tick count of the last message the loop took
    bool cancelled{false}; // an Up for a capture lost without the pen being lifted
};

class ApplicationListener {
public:
    virtual void on_other_instance_started(const std::u16string& command_line) = 0;
    // False keeps the window open.
    virtual bool may_close() = 0;
    virtual void reserved_2() {}
    virtual void reserved_3() {}
    virtual void on_resolution_changed() {}
    virtual void on_help() {}
    virtual void on_went_to_background() {}
    virtual void on_came_to_foreground() {}
    // True when the key is consumed; otherwise it goes to the top form.
    virtual bool on_key_event(const KeyEvent&) { return false; }
    virtual ~ApplicationListener() = default;
};

} // namespace shell
