#pragma once

// Implemented by the kinds of component that show a text, so that tools looking inside a form
// (the inspector) can read it.

#include <string_view>

namespace skin {

class TextSource {
public:
    virtual std::u16string_view shown_text() const = 0;

protected:
    ~TextSource() = default;
};

} // namespace skin
