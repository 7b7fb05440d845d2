#pragma once

// The screens over the test skin of tests/screens/data and a real Document in a world of its own.

#include "controller/controller_env.h"
#include "controller/document.h"
#include "foundation/active_scheduler.h"
#include "platform/messages.h"
#include "platform/registry_store.h"
#include "screens/form_main.h"
#include "skin/component_factory.h"
#include "skin/properties.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"
#include "support/watchdog.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace screens_test {

namespace fs = std::filesystem;

// Compiles the test skin with its pictures into dir/skin and loads it at 96 dots per inch.
inline bool load_screens_skin(skin::Properties& properties, const fs::path& dir) {
    skin::register_framework_components(skin::ComponentFactory::instance());
    const fs::path data = fs::path(QV_SOURCE_DIR) / "tests/screens/data";
    fs::create_directories(dir / "skin");
    for (const auto& entry : fs::directory_iterator(data))
        if (entry.path().extension() == ".png")
            fs::copy_file(entry.path(), dir / "skin" / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
    const auto path = testing_support::write_test_skin(
        dir / "skin", "screens.skin", testing_support::read_whole_file(data / "screens.skn"));
    return properties.load_skin(path.u16string(), 96);
}

inline std::vector<std::u16string> ids(const std::vector<skin::MenuItem>& items) {
    std::vector<std::u16string> out;
    for (const auto& item : items)
        out.push_back(item.id);
    return out;
}

// The main form over a Document of the records made before open(), on a 240 x 320 screen.
class ScreensFixture : public ::testing::Test {
protected:
    ScreensFixture() {
        EXPECT_TRUE(load_screens_skin(m_properties, m_dir.path()));
        m_properties.texts().assign({{u"Confirm_deleting", u"Delete %count% records?"},
                                     {u"Sorry_no_memory", u"No room"},
                                     {u"Sorry_settings_reset", u"Settings were reset"},
                                     {u"Sorry_no_space", u"Disk full"},
                                     {u"Sorry_cannot_play", u"Cannot play"},
                                     {u"Sorry_cannot_move_files", u"Cannot move"}},
                                    u"");
        std::ofstream(m_dir / "keyboard.txt") << "2=abc\n3=def\n7=pqrs\n9=wxyz\n";
        m_stack.set_screen_size(240, 320);
    }
    ~ScreensFixture() override {
        m_main.reset();
        m_document.reset();
        skin::unregister_framework_components(skin::ComponentFactory::instance());
    }

    // A record of a tone, dated `age` before now.
    static void make_record(const fs::path& path, double seconds = 0.1,
                            std::chrono::seconds age = {}) {
        fs::create_directories(path.parent_path());
        ASSERT_EQ(testing_support::run_command({"sox", "-n", "-r", "8000", "-b", "16", "-c", "1",
                                                path.string(), "synth", std::to_string(seconds),
                                                "sine", "440"})
                      .status,
                  0)
            << path;
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
    }

    void open() {
        m_document = std::make_unique<controller::Document>();
        m_document->refresh();
        screens::ScreenServices services;
        services.keyboard_map = (m_dir / "keyboard.txt").u16string();
        services.languages = (m_dir / "languages").u16string();
        services.message_box = [this](const std::u16string& text, const std::u16string&) {
            m_messages.push_back(text);
        };
        services.quit = [this] { ++m_quits; };
        services.key_bindings = [] { return platform::open_registry_key_bindings(); };
        m_main = std::make_unique<screens::FormMain>(m_properties, m_stack, *m_document,
                                                     std::move(services));
        m_stack.show_form(*m_main);
        m_main->place(0, 0, 240, 320);
    }

    static bool pump_until(const std::function<bool()>& done) {
        for (int i = 0; i < 20000 && !done(); ++i) {
            platform::Message message;
            while (platform::peek_message(message))
                platform::dispatch_message(message);
            platform::wait_message(5);
        }
        return done();
    }

    std::vector<std::u16string> listed_titles() {
        std::vector<std::u16string> titles;
        for (uint32_t at : m_main->visible())
            titles.push_back(m_document->records()[at].title);
        return titles;
    }
    // Where the list shows the record with this title; -1 when it does not.
    int32_t listed_position(std::u16string_view title) {
        const auto titles = listed_titles();
        const auto at = std::find(titles.begin(), titles.end(), title);
        return at == titles.end() ? -1 : int32_t(at - titles.begin());
    }
    void tap(skin::Component& c) {
        const int32_t x = c.x() + c.width() / 2, y = c.y() + c.height() / 2;
        m_stack.pen_button(skin::PenEvent{x, y, 0, 0, true, false});
        m_stack.pen_button(skin::PenEvent{x, y, 10, 0, false, false});
    }

    testing_support::Watchdog m_watchdog{120};
    controller_test::IsolatedWorld m_world;
    testing_support::FileAudio m_audio{20};
    testing_support::TempDir m_dir;
    foundation::CActiveScheduler m_scheduler;
    skin::Properties m_properties;
    skin::FormStack m_stack;
    std::unique_ptr<controller::Document> m_document;
    std::unique_ptr<screens::FormMain> m_main;
    std::vector<std::u16string> m_messages;
    int m_quits{0};
};

} // namespace screens_test
