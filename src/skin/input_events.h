#pragma once

// What input reaches components: pen records in form coordinates, key records with the
// program's key codes, and commands (text typed on the keyboard, among others).

#include <cstdint>
#include <string>

namespace skin {

struct PenEvent {
    int32_t x{0};
    int32_t y{0};
    uint32_t time{0};
    uint32_t reserved{0};  // 0 for every pen event; buttons react only to those
    bool pressed{false};   // pen down; false for pen up
    bool cancelled{false}; // capture lost without a pen-up; the point is then far away
};

struct KeyEvent {
    uint32_t code{0}; // a key code of the application window
    bool pressed{false};
};

struct Command {
    uint32_t code{0};
    std::u16string text; // the characters of text input
    // Where a pointer command happened (form coordinates) and how far (a wheel's pixels,
    // positive towards the end of a list).
    int32_t x{0};
    int32_t y{0};
    int32_t amount{0};
};

} // namespace skin
