// Quick record: which commands run the program, the key list over the registry store's
// entries, and the "QuickRecord" form on the test skin driven by pen taps.

#include "foundation/registry.h"
#include "platform/key_bindings.h"
#include "platform/registry_store.h"
#include "screens/form_quick_record.h"
#include "screens/hardware_keys.h"
#include "screens_fixture.h"
#include "skin/component_factory.h"
#include "skin/text_component.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace screens;

namespace {

const std::u16string program = u"/opt/Quillory Vozir/quillory";
const std::u16string keys_path = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys\\";

TEST(QuickRecordCommands, TheProgramsCommandCountsWithEitherQuoteOnly) {
    EXPECT_EQ(program_command(program), u"\"/opt/Quillory Vozir/quillory\" record");
    const std::pair<std::u16string, bool> cases[] = {
        {program_command(program), true},
        {u"'/opt/Quillory Vozir/quillory' record", true},
        {u"/opt/Quillory Vozir/quillory", true},
        {u"quillory record", true},
        // Another program in the same folder, or one whose name only begins the same.
        {u"\"/opt/Quillory Vozir/quillory-cli\" record", false},
        {u"/opt/Quillory Vozir/other record", false},
        {u"quillory2", false},
        // Only one quote is taken away.
        {u"\"\"/opt/Quillory Vozir/quillory\" record", false},
        {u"", false}};
    for (const auto& [command, runs] : cases)
        EXPECT_EQ(runs_program(command, program), runs)
            << std::string(command.begin(), command.end());
    EXPECT_TRUE(runs_program(u"\"/opt/Quillory Vozir/quillory\" record", u"\"" + program));
    EXPECT_FALSE(runs_program(u"quillory", u""));
}

// The "QuickRecord" form over a registry store of its own and the test skin.
class QuickRecordFormTest : public ::testing::Test {
protected:
    QuickRecordFormTest() : m_config("QUILLORY_CONFIG_DIR", (m_dir / "config").string()) {
        platform::registry_close();
        EXPECT_TRUE(screens_test::load_screens_skin(m_properties, m_dir.path()));
        m_properties.texts().assign({{u"Key_launch", u"Taste %number%"}}, u"");
        m_stack.set_screen_size(240, 320);
    }
    ~QuickRecordFormTest() override {
        m_form.reset();
        skin::unregister_framework_components(skin::ComponentFactory::instance());
        platform::registry_close();
    }

    static void add_key(const std::u16string& subkey, const std::u16string& name,
                        const std::u16string& command) {
        foundation::write_string(keys_path + subkey, u"Name", name);
        foundation::write_string(keys_path + subkey, u"", command);
    }
    static std::u16string command_of(const std::u16string& subkey) {
        std::u16string out = u"(none)";
        foundation::read_string(keys_path + subkey, u"", out);
        return out;
    }

    void make_form() {
        m_form = std::make_unique<FormQuickRecord>(
            m_properties, m_stack,
            std::make_unique<HardwareKeys>(platform::open_registry_key_bindings(), program));
    }

    // Taps the middle of the row that shows item index.
    void tap_row(int32_t index) {
        m_form->place(0, 0, 240, 320);
        m_form->tick(0.01);
        skin::VList& list = m_form->list();
        skin::VListRow* row = list.row_of(index);
        ASSERT_TRUE(row) << index;
        // Rows are placed in the form's coordinates, as the pen is.
        const int32_t x = row->x() + row->width() / 2;
        const int32_t y = row->y() + row->height() / 2;
        m_form->pen_button(skin::PenEvent{x, y, 0, 0, true, false});
        m_form->pen_button(skin::PenEvent{x, y, 10, 0, false, false});
    }

    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_config;
    skin::Properties m_properties;
    skin::FormStack m_stack;
    std::unique_ptr<FormQuickRecord> m_form;
};

TEST_F(QuickRecordFormTest, TappingARowFlipsItsMarkAndTheStoredCommand) {
    add_key(u"40C1", u"Side button", u"\"/usr/bin/mixer\" up");
    add_key(u"40C2", u"Another", u"");
    make_form();
    EXPECT_TRUE(m_form->entry_count() == 2 && m_form->list().item_count() == 0);
    m_form->open();
    EXPECT_EQ(m_stack.top_form(), m_form.get());
    ASSERT_EQ(m_form->list().item_count(), 2);
    for (bool checked : {true, false}) {
        tap_row(1);
        skin::VListRow* row = m_form->list().row_of(1);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->find_control<skin::TextComponent>(u"name").text(), u"Side button");
        EXPECT_TRUE(row->find_child(u"checked")->visible() == checked &&
                    row->find_child(u"unchecked")->visible() == !checked);
        EXPECT_EQ(command_of(u"40C1"),
                  checked ? program_command(program) : u"\"/usr/bin/mixer\" up");
        if (checked) {
            EXPECT_EQ(m_form->entries()[1].binding.reset_command, "\"/usr/bin/mixer\" up");
        }
    }

    // A change made elsewhere shows when the form opens again.
    foundation::write_string(keys_path + u"40C2", u"", program_command(program));
    m_form->close();
    EXPECT_NE(m_stack.top_form(), m_form.get());
    m_form->open();
    m_form->place(0, 0, 240, 320);
    m_form->tick(0.01);
    skin::VListRow* row = m_form->list().row_of(0);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->find_control<skin::TextComponent>(u"name").text(), u"Another");
    EXPECT_TRUE(row->find_child(u"checked")->visible());
}

// One desktop key, kept in memory.
class OneLaunchKey final : public platform::KeyBindings {
public:
    std::string kind() const override { return "memory"; }
    size_t count(const platform::CommandTest&) override { return 1; }
    std::vector<platform::KeyBinding> list(const platform::CommandTest&) override {
        platform::KeyBinding key;
        key.name = "Launch key 4";
        key.slot = 4;
        return {key};
    }
    bool assign(platform::KeyBinding&, const std::string&) override { return false; }
    bool reset(platform::KeyBinding&) override { return false; }
};

TEST_F(QuickRecordFormTest, ALanguageChangeRenamesTheDesktopKeysOfTheOpenForm) {
    m_form = std::make_unique<FormQuickRecord>(
        m_properties, m_stack,
        std::make_unique<HardwareKeys>(std::make_unique<OneLaunchKey>(), program));
    m_form->open();
    ASSERT_EQ(m_form->entries().size(), 1u);
    EXPECT_EQ(m_form->entries()[0].name, u"Taste 4");
    m_properties.texts().assign({{u"Key_launch", u"Knopf %number%"}}, u"");
    m_properties.send_reload_skin();
    EXPECT_TRUE(m_form->entries()[0].name == u"Knopf 4" && m_form->list().item_count() == 1);
    // Keys of other kinds keep their own names; without a text the English name stays.
    platform::KeyBinding other;
    other.name = "Mine";
    EXPECT_EQ(m_form->name_of(other), u"Mine");
    other.slot = 0;
    EXPECT_EQ(m_form->name_of(other), u"Mine");
}

} // namespace
