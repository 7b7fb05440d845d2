#pragma once

// What a screen learns from its buttons: clicks, press changes and drags.

#include <cstdint>
#include <string_view>

namespace skin {

class Component;

struct ClickRecord {
    int32_t x{0};
    int32_t y{0};
    bool flag{false}; // the pressed state for press changed; true for clicked
};

struct DragRecord {
    int32_t x{0};
    int32_t y{0};
    int32_t dx{0}; // offset from the previous point
    int32_t dy{0};
    int32_t remainder_x{0}; // the part of the offset the listener did not use
    int32_t remainder_y{0};
};

class ButtonListener {
public:
    virtual void clicked(Component& button, const ClickRecord& click) = 0;
    virtual void press_changed(Component&, const ClickRecord&) {}
    virtual void dragged(Component&, DragRecord&) {}

protected:
    ~ButtonListener() = default;
};

// The key code of a key name ("Enter", "A", "VOLUME_UP", ...), exact match; 0 for any other.
uint32_t key_code_from_name(std::u16string_view name);

} // namespace skin
