#pragma once

// The program's key codes, their names (used in the log) and the translation from the window
// messages' virtual-key codes.

#include "foundation/log.h"

#include <cstdint>
#include <string_view>

namespace shell {

enum class KeyCode : uint32_t {
    None = 0,
    Shift,
    Ctrl,
    Alt,
    Left,
    Right,
    Up,
    Down,
    Esc,
    Enter,
    Space,
    Backspace,
    Del,
    Insert,
    Home,
    End,
    PageDown,
    PageUp,
    Tab,
    ContextMenu,
    A, // A..Z are 20..45
    Z = A + 25,
    Digit0, // 0..9 are 46..55
    Digit9 = Digit0 + 9,
    Star,
    Hash,
    CallMake,
    CallEnd,
    Slide,
    SoftLeft,
    SoftRight,
    VolumeUp,
    VolumeDown,
};

constexpr uint32_t key_code_count = 65;

// "None", "Shift", ... "VOLUME_DOWN"; "?" for a code outside the table.
std::u16string_view key_name(uint32_t code);
inline std::u16string_view key_name(KeyCode code) {
    return key_name(uint32_t(code));
}

// The key code for a virtual-key code; 0 for keys the program does not use.
uint32_t key_from_virtual_key(uint32_t virtual_key);

// Writes the key's name.
foundation::LogStream& operator<<(foundation::LogStream& stream, KeyCode code);

} // namespace shell
