#pragma once

// The forms tests' skin compiled from source and loaded, with the framework's component kinds.

#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/properties.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>

namespace forms_test {

class FormsTest : public ::testing::Test {
protected:
    FormsTest() { skin::register_framework_components(factory()); }
    ~FormsTest() override { skin::unregister_framework_components(factory()); }

    static skin::ComponentFactory& factory() { return skin::ComponentFactory::instance(); }

    // Compiles source and makes it the skin of properties.
    void load(const std::string& source, int32_t dpi = 96) {
        auto path = testing_support::write_test_skin(m_dir.path(), "test.skin", source);
        ASSERT_TRUE(properties.load_skin(path.u16string(), dpi));
    }

    static std::string forms_source() {
        std::ifstream in(std::string(QV_TEST_DATA) + "/skin/forms.skn");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void load_forms(int32_t dpi = 96) { load(forms_source(), dpi); }

    std::unique_ptr<skin::Form> form(std::u16string_view node) {
        auto f = std::make_unique<skin::Form>(properties);
        f->require_form(properties, node);
        return f;
    }

    static skin::PenEvent pen_at(int32_t x, int32_t y, bool pressed, uint32_t time = 0) {
        skin::PenEvent e;
        e.x = x;
        e.y = y;
        e.pressed = pressed;
        e.time = time;
        return e;
    }

    testing_support::TempDir m_dir;
    skin::Properties properties;
};

} // namespace forms_test
