#pragma once

// Where the form stack plugs into the application window: the window hands it the elapsed
// time, input and the surface to paint. Until the forms exist, BackgroundForms paints the
// background.

#include "platform/display.h"
#include "shell/application_listener.h"

#include <cstdint>

namespace shell {

class FormHost {
public:
    virtual ~FormHost() = default;
    // Advances animations by `seconds`; true when something needs painting.
    virtual bool update(double seconds) = 0;
    // Paints the window's client area; `target` borrows the display's back buffer.
    virtual void paint(platform::PixelBuffer& target) = 0;
    virtual void pen(const PenEvent& event) = 0;
    virtual void key(const KeyEvent& event) = 0;
    virtual void text(char16_t character) = 0;
    virtual bool empty() const = 0;
    // Everything is to be painted at the next paint.
    virtual void invalidate_all() = 0;
};

// An empty form stack: a plain background.
class BackgroundForms final : public FormHost {
public:
    explicit BackgroundForms(uint16_t colour = 0x0000) : m_colour(colour) {}
    bool update(double) override { return m_dirty; }
    void paint(platform::PixelBuffer& target) override;
    void pen(const PenEvent&) override {}
    void key(const KeyEvent&) override {}
    void text(char16_t) override {}
    bool empty() const override { return true; }
    void invalidate_all() override { m_dirty = true; }

private:
    uint16_t m_colour;
    bool m_dirty{true};
};

} // namespace shell
