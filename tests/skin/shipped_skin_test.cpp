// The skins the program ships: they draw as the golden previews show, give every caption of
// every language its room, and ask only for captions the language files give.

#include "foundation/text.h"
#include "png_convert.h"
#include "preview.h"
#include "skin/component_factory.h"
#include "skin/font_rep.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/menu.h"
#include "skin/properties.h"
#include "skin/surface.h"
#include "skin/text_component.h"
#include "skin/vlist.h"
#include "support/golden_png.h"
#include "support/test_fonts.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace skin;

// The parts of a text between separators; empty parts only where keep_empty.
std::vector<std::u16string> split(std::u16string_view text, char16_t separator = u' ',
                                  bool keep_empty = false) {
    std::vector<std::u16string> out;
    for (size_t at = 0; at <= text.size();) {
        size_t end = std::min(text.find(separator, at), text.size());
        if (end > at || keep_empty)
            out.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::filesystem::path skins() {
    return std::filesystem::path(QV_BUILD_DIR) / "bin/skins/bin";
}

template <typename Base> class WithComponents : public Base {
protected:
    void SetUp() override { register_framework_components(ComponentFactory::instance()); }
    void TearDown() override { unregister_framework_components(ComponentFactory::instance()); }
};
TEST(ShippedSkinPreview, MainFormAndSplashMatchTheirGoldens) {
    struct Case {
        std::vector<std::string> args;
        const char* golden;
    };
    const std::string main_skin = (skins() / "default.skin").string(),
                      english = std::string(QV_SOURCE_DIR) + "/data/english.lng";
    const Case cases[] = {
        {{"FormMain", main_skin, "--lang", english, "--rows", "8", "--hide",
          "KeyboardContainer,btnCloseFilter,lblEmpty"},
         "skin/shipped_main.png"},
        {{"FormMain", main_skin, "--lang", english, "--rows", "8", "--hide", "btnFilter,lblEmpty",
          "--size", "480x640", "--dpi", "192"},
         "skin/shipped_keypad_2x.png"},
        {{"FormSplash", (skins() / "splash.skin").string()}, "skin/shipped_splash.png"},
        {{"NoSuchForm", main_skin}, nullptr},
    };
    for (const Case& c : cases) {
        RenderSurface target;
        std::string error;
        ASSERT_EQ(skinc::render_form(c.args, target, error), c.golden != nullptr) << error;
        ASSERT_EQ(error.empty(), c.golden != nullptr);
        // Antialiased text may move by a shade between font library versions.
        EXPECT_TRUE(!c.golden || testing_support::matches_golden(target, c.golden, 40));
    }
}

// Every caption of every language in every form, row and menu, in the windows the program opens
// at 1x, 1.5x and 2x (the larger two turned too): one-line texts fit without an ellipsis, wrapped
// ones fit their lines, shown controls lie inside the window, and every menu fits with its last
// row in view or shades the edge its rows lie beyond.

struct Window {
    int dpi;
    int width;
    int height;
};

std::string where(const Component& c) {
    std::string path;
    for (const Component* p = &c; p; p = p->parent())
        path = foundation::to_utf8(p->id().empty() ? std::u16string(p->type_name()) : p->id()) +
               (path.empty() ? "" : "/" + path);
    return path;
}

// The words of a text broken greedily into lines of the width; false when a word alone is wider.
bool wrapped_lines(FontRep& font, std::u16string_view text, int32_t width, int32_t& lines) {
    lines = 0;
    for (const std::u16string& paragraph : split(text, u'\n', true)) {
        std::u16string line;
        ++lines;
        for (const std::u16string& word : split(paragraph)) {
            if (font.text_width(word) > width)
                return false;
            std::u16string longer = line.empty() ? word : line + u" " + word;
            if (!line.empty() && font.text_width(longer) > width) {
                ++lines;
                line = word;
            } else {
                line = longer;
            }
        }
    }
    return true;
}

// Every shown text of c fits its control; with a window, every shown control is inside it (a
// list's rows scroll: the list itself is checked).
void expect_fits(const Component& c, const std::string& context, const Window* window = nullptr) {
    if (!c.visible())
        return;
    if (const auto* label = dynamic_cast<const TextComponent*>(&c);
        label && !label->text().empty() && c.width() > 0 && label->font()) {
        const std::u16string& text = label->text();
        FontRep& font = *label->font();
        int32_t lines = 1;
        if (!label->wrap()) {
            EXPECT_EQ(font.fitted_line(text, c.width()), text)
                << context << ": " << where(c) << " is " << c.width() << " wide";
        } else {
            EXPECT_TRUE(wrapped_lines(font, text, c.width(), lines))
                << context << ": a word of " << where(c) << " is wider than " << c.width();
        }
        EXPECT_LE(lines * font.line_height(), c.height() + (label->wrap() ? 0 : 1))
            << context << ": " << where(c) << " needs " << lines << " lines in " << c.height();
    }
    if (window && c.width() > 0 && c.height() > 0) {
        EXPECT_TRUE(c.x() >= 0 && c.y() >= 0 && c.x() + c.width() <= window->width &&
                    c.y() + c.height() <= window->height)
            << context << ": " << where(c) << " at " << c.x() << "," << c.y() << " size "
            << c.width() << "x" << c.height();
    }
    for (const auto& child : c.children())
        expect_fits(*child, context, dynamic_cast<const VList*>(&c) ? nullptr : window);
    if (const auto* list = dynamic_cast<const VList*>(&c))
        for (const auto& row : list->rows())
            expect_fits(*row, context);
}

// The menus the screens open: each item an id, then "=KEY" for a caption from that language key
// or "@NODE" for a row template of its own.
class AllMenus final : public MenuProvider {
public:
    explicit AllMenus(const Properties& properties) : m_properties(properties) {}
    void fill_menu(Menu&, std::u16string_view id, std::vector<MenuItem>& items) override {
        const std::pair<std::u16string_view, std::u16string_view> menus[] = {
            {u"MainMenu", u"Magic4Buttons@MenuElement4Buttons File Settings Cancel"},
            {u"File", u"Delete Move Refresh Cancel"},
            {u"Settings", u"AutoRecord Speaker@MenuElementUnchecked Format=Mp3Middle "
                          u"Boost@MenuElementUnchecked QuickRecord Language Cancel"},
            {u"Format", u"Mp3Low Mp3Middle Mp3High Settings=Cancel"},
            {u"Boost", u"BoostOff Boost1 Boost2 Boost3 Settings=Cancel"},
            {u"Menu", u"Delete=Delete_this Append Send Markers Cancel"},
            {u"Markers", u"Marker:0=Markers No_markers Cancel"},
            {u"Marker:0", u"Marker=Marker_jump Marker=Marker_rename Marker=Marker_delete Cancel"}};
        for (const auto& [menu, list] : menus)
            for (const std::u16string& item : split(menu == id ? list : u"")) {
                const size_t mark = std::min(item.find(u'='), item.find(u'@'));
                MenuItem& added = items.emplace_back();
                added.id = item.substr(0, mark);
                if (mark != std::u16string::npos && item[mark] == u'=')
                    added.caption = (added.id == u"Marker:0" ? u"1:02:03  " : u"") +
                                    m_properties.text(item.substr(mark + 1));
                else if (mark != std::u16string::npos)
                    added.template_name = item.substr(mark + 1);
            }
        if (id == u"Language") {
            for (const auto& name : language_names)
                items.push_back(MenuItem{u"Language#" + name, name, {}});
            items.push_back(MenuItem{u"Cancel", {}, {}});
        }
    }
    std::vector<std::u16string> language_names;

private:
    const Properties& m_properties;
};

// Without a language a caption shows its key: each one the forms ask for that looks like a key (a
// capital or '_'; the keypad's letters and digits do not) is one the english table gives.
void expect_keys_given(const Component& c, const localisation::TextTable& english) {
    const auto* label = dynamic_cast<const TextComponent*>(&c);
    const std::u16string text = label ? label->text() : u"";
    const bool key = std::any_of(text.begin(), text.end(), [](char16_t ch) {
        return ch == u'_' || (ch >= u'A' && ch <= u'Z');
    });
    EXPECT_TRUE(!key || english.has(text)) << where(c) << " asks for " << foundation::to_utf8(text);
    for (const auto& child : c.children())
        expect_keys_given(*child, english);
}

std::vector<std::filesystem::path> language_files() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QV_SOURCE_DIR) + "/data"))
        if (entry.path().extension() == ".lng")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

using ShippedCaptions = WithComponents<::testing::TestWithParam<Window>>;

void settle(FormStack& stack) {
    for (int i = 0; i < 60; ++i)
        stack.tick(1.0 / 30);
}

TEST_P(ShippedCaptions, EveryCaptionOfEveryLanguageFitsEveryForm) {
    ASSERT_EQ(testing_support::use_test_fonts(), "");
    const Window window = GetParam();
    const auto files = language_files();
    ASSERT_EQ(files.size(), 5u);
    std::vector<std::u16string> names;
    for (const auto& file : files) {
        localisation::TextTable table;
        ASSERT_TRUE(table.load(file.u16string()));
        names.push_back(table.text(u"Language_name"));
        if (file.stem() != "english")
            continue;
        Properties bare;
        ASSERT_TRUE(bare.load_skin((skins() / "default.skin").u16string(), window.dpi));
        for (const std::u16string& name :
             split(u"FormMain Record FormRecording FormView FormEdit FormConfirmation FormError "
                   u"FormAbout QuickRecord HardwareKey Menu MenuElement MenuElementUnchecked "
                   u"MenuElementDisabled MenuElement4Buttons")) {
            Form form(bare);
            ASSERT_TRUE(form.load_form(bare, name)) << foundation::to_utf8(name);
            expect_keys_given(form, table);
        }
    }
    // Texts the screens put into a form's control: the form, the control, the language keys.
    const struct {
        const char16_t* form;
        const char16_t* control;
        const char16_t* keys;
    } filled[] = {
        {u"FormConfirmation", u"text", u"Confirm_deleting Confirm_deleting_this"},
        {u"FormError", u"text",
         u"Sorry_card_problem Sorry_no_memory Sorry_too_slow_device Sorry_sound_device "
         u"Sorry_settings_reset"},
        {u"FormMain", u"lblEmpty", u"skin_NoRecords skin_NoMatches"},
        {u"HardwareKey", u"name", u"Key_record Key_launch"},
    };
    for (const auto& file : files) {
        Properties properties;
        ASSERT_TRUE(properties.texts().load(file.u16string()));
        ASSERT_TRUE(properties.load_skin((skins() / "default.skin").u16string(), window.dpi));
        const std::string language = file.stem().string() + " at " + std::to_string(window.dpi);
        FormStack stack;
        stack.set_screen_size(window.width, window.height);
        for (const std::u16string& name :
             split(u"FormMain FormRecording FormView FormEdit FormConfirmation FormError FormAbout "
                   u"QuickRecord HardwareKey")) {
            Form form(properties);
            ASSERT_TRUE(form.load_form(properties, name)) << foundation::to_utf8(name);
            stack.show_form(form);
            // The playback form shows its trim buttons in place of the marker row: both ways.
            auto trimming = [&form](bool on) {
                for (const char16_t* id :
                     {u"btnTrimStart", u"btnTrimEnd", u"btnTrimOk", u"btnTrimCancel"})
                    if (Component* c = form.find_child(id))
                        c->set_visible(on);
                for (const char16_t* id : {u"btnMarkPrev", u"btnMark", u"btnMarkNext"})
                    if (Component* c = form.find_child(id); c && c->parent())
                        c->parent()->set_visible(!on);
            };
            for (bool trim : {false, true}) {
                if (trim && !form.find_child(u"btnTrimOk"))
                    break;
                trimming(trim);
                settle(stack);
                const std::string context = language + (trim ? " trimming" : "");
                expect_fits(form, context, &window);
            }
            trimming(false);
            settle(stack);
            for (const auto& f : filled)
                for (const std::u16string& key : split(f.form == name ? f.keys : u"")) {
                    std::u16string text = properties.text(key);
                    // The largest count a list is likely to show; the highest launch key.
                    if (size_t at = text.find(u"%count%"); at != std::u16string::npos)
                        text.replace(at, 7, u"1000");
                    if (size_t at = text.find(u"%number%"); at != std::u16string::npos)
                        text.replace(at, 8, u"9");
                    form.set_text_by_id(f.control, text);
                    settle(stack);
                    expect_fits(form, language + " with " + foundation::to_utf8(key));
                }
            stack.close_form(form);
        }
        Form below(properties);
        ASSERT_TRUE(below.load_form(properties, u"FormMain"));
        stack.show_form(below);
        AllMenus provider(properties);
        provider.language_names = names;
        Menu menu(properties, stack, provider, u"Menu");
        for (const char16_t* id : {u"MainMenu", u"File", u"Settings", u"Format", u"Boost",
                                   u"Language", u"Menu", u"Markers", u"Marker:0"}) {
            const std::string context = language + " in the menu " + foundation::to_utf8(id);
            menu.open(id);
            settle(stack);
            expect_fits(menu, context);
            const VList& list = menu.list();
            EXPECT_GE(menu.panel().y(), 0) << context;
            EXPECT_LE(menu.panel().y() + menu.panel().height(), window.height) << context;
            const VListRow* last = list.row_of(list.item_count() - 1);
            const bool last_in_view = last && last->height() >= 1 &&
                                      last->y() + last->height() <= list.y() + list.height();
            EXPECT_TRUE(last_in_view || list.shows_scroll_cue(true)) << context;
            EXPECT_FALSE(list.shows_scroll_cue(false)) << context;
            menu.close();
            settle(stack);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, ShippedCaptions,
                         ::testing::Values(Window{96, 240, 320}, Window{144, 360, 480},
                                           Window{144, 480, 360}, Window{192, 480, 640},
                                           Window{192, 640, 480}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

} // namespace
