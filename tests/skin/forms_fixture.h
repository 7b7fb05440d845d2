#pragma once

// The forms tests' skin compiled from source and loaded, with the framework's component kinds.

#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/properties.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace forms_test {

// The smallest rectangle holding every pixel of s that is not background.
inline skin::Rect ink(const skin::RenderSurface& s, uint16_t background) {
    skin::Rect r{s.width(), s.height(), -1, -1};
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x)
            if (s.surface()->pixel(x, y) != background)
                r = skin::Rect{std::min(r.left, x), std::min(r.top, y), std::max(r.right, x + 1),
                               std::max(r.bottom, y + 1)};
    return r;
}

// bytes with value written over width bytes at `at`, least significant first.
inline std::vector<uint8_t> patched(std::vector<uint8_t> bytes, size_t at, uint32_t value,
                                    int width = 4) {
    for (int i = 0; i < width; ++i)
        bytes.at(at + i) = uint8_t(value >> (8 * i));
    return bytes;
}

class FormsTest : public ::testing::Test {
protected:
    FormsTest() { skin::register_framework_components(factory()); }
    ~FormsTest() override { skin::unregister_framework_components(factory()); }

    static skin::ComponentFactory& factory() { return skin::ComponentFactory::instance(); }

    void load(const std::string& source, int32_t dpi = 96) {
        auto path = testing_support::write_test_skin(m_dir.path(), "test.skin", source);
        ASSERT_TRUE(properties.load_skin(path.u16string(), dpi));
    }

    static std::string forms_source() {
        std::ifstream in(std::string(QV_TEST_DATA) + "/skin/forms.skn");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void load_forms(int32_t dpi = 96) { load(forms_source(), dpi); }

    // The form of node, placed at the origin in width x height when a size is given.
    std::unique_ptr<skin::Form> form(std::u16string_view node, int32_t width = 0,
                                     int32_t height = 0) {
        auto f = std::make_unique<skin::Form>(properties);
        f->require_form(properties, node);
        if (width > 0)
            f->place(0, 0, width, height);
        return f;
    }

    static skin::PenEvent pen_at(int32_t x, int32_t y, bool pressed, uint32_t time = 0) {
        return skin::PenEvent{x, y, time, 0, pressed};
    }

    testing_support::TempDir m_dir;
    skin::Properties properties;
};

} // namespace forms_test
