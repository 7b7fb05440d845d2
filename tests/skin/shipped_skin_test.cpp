// The skins the program ships: they load at both pixel densities, hold every form, template,
// node and control the screens look up in the kind the screens expect, draw as the golden
// previews show, and give every caption of every language its room.

#include "foundation/text.h"
#include "png_convert.h"
#include "preview.h"
#include "skin/button.h"
#include "skin/component_factory.h"
#include "skin/edit.h"
#include "skin/font_rep.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/image_component.h"
#include "skin/menu.h"
#include "skin/progress.h"
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

enum class Kind { Node, Text, Edit, Image, Button, Progress, List };

struct Lookup {
    const char16_t* form;
    const char16_t* id;
    Kind kind;
};

// What the screens find by id in each form or template.
const Lookup lookups[] = {
    // The record list.
    {u"FormMain", u"btnRecord", Kind::Button},
    {u"FormMain", u"btnFilter", Kind::Button},
    {u"FormMain", u"btnCloseFilter", Kind::Button},
    {u"FormMain", u"btnMenu", Kind::Button},
    {u"FormMain", u"list", Kind::List},
    {u"FormMain", u"KeyboardContainer", Kind::Node},
    {u"FormMain", u"button0", Kind::Button},
    {u"FormMain", u"button1", Kind::Button},
    {u"FormMain", u"button2", Kind::Button},
    {u"FormMain", u"button3", Kind::Button},
    {u"FormMain", u"button4", Kind::Button},
    {u"FormMain", u"button5", Kind::Button},
    {u"FormMain", u"button6", Kind::Button},
    {u"FormMain", u"button7", Kind::Button},
    {u"FormMain", u"button8", Kind::Button},
    {u"FormMain", u"button9", Kind::Button},
    {u"FormMain", u"button_hash", Kind::Button},
    {u"FormMain", u"button_backspace", Kind::Button},
    {u"FormMain", u"main_memory", Kind::Image},
    {u"FormMain", u"main_memory_incoming", Kind::Image},
    {u"FormMain", u"main_memory_outgoing", Kind::Image},
    {u"FormMain", u"card", Kind::Image},
    {u"FormMain", u"card_incoming", Kind::Image},
    {u"FormMain", u"card_outgoing", Kind::Image},
    {u"Record", u"icon", Kind::Image},
    {u"Record", u"artist", Kind::Text},
    {u"Record", u"name", Kind::Text},
    // Recording.
    {u"FormRecording", u"icon", Kind::Image},
    {u"FormRecording", u"frmArtist", Kind::Text},
    {u"FormRecording", u"frmElapsed", Kind::Text},
    {u"FormRecording", u"frmLeft", Kind::Text},
    {u"FormRecording", u"frmInfo", Kind::Text},
    {u"FormRecording", u"frmSize", Kind::Text},
    {u"FormRecording", u"btnName", Kind::Button},
    {u"FormRecording", u"btnClose", Kind::Button},
    {u"FormRecording", u"btnPause", Kind::Button},
    {u"FormRecording", u"btnResume", Kind::Button},
    {u"FormRecording", u"btnMark", Kind::Button},
    {u"FormView", u"btnMarkPrev", Kind::Button},
    {u"FormView", u"btnMark", Kind::Button},
    {u"FormView", u"btnMarkNext", Kind::Button},
    {u"FormRecording", u"btnBoost", Kind::Button},
    {u"FormRecording", u"BoostOn", Kind::Node},
    {u"FormRecording", u"BoostOff", Kind::Node},
    {u"FormRecording", u"btnSpeakerOn", Kind::Button},
    {u"FormRecording", u"btnSpeakerOff", Kind::Button},
    {u"FormRecording", u"btnVAS", Kind::Button},
    {u"FormRecording", u"pbLevel", Kind::Progress},
    {u"FormRecording", u"pbVAS", Kind::Progress},
    // Playback.
    {u"FormView", u"icon", Kind::Image},
    {u"FormView", u"frmArtist", Kind::Text},
    {u"FormView", u"frmElapsed", Kind::Text},
    {u"FormView", u"frmLeft", Kind::Text},
    {u"FormView", u"frmInfo", Kind::Text},
    {u"FormView", u"frmSize", Kind::Text},
    {u"FormView", u"btnName", Kind::Button},
    {u"FormView", u"btnClose", Kind::Button},
    {u"FormView", u"btnPlay", Kind::Button},
    {u"FormView", u"btnPause", Kind::Button},
    {u"FormView", u"btnMenu", Kind::Button},
    {u"FormView", u"btnVolume", Kind::Button},
    {u"FormView", u"btnPosition", Kind::Button},
    {u"FormView", u"pbLevel", Kind::Progress},
    {u"FormView", u"pbVolume", Kind::Progress},
    {u"FormView", u"pbPosition", Kind::Progress},
    // Rename, confirmation, error.
    {u"FormEdit", u"edit", Kind::Edit},
    {u"FormEdit", u"btnOk", Kind::Button},
    {u"FormEdit", u"btnCancel", Kind::Button},
    {u"FormConfirmation", u"text", Kind::Text},
    {u"FormConfirmation", u"btnOk", Kind::Button},
    {u"FormConfirmation", u"btnCancel", Kind::Button},
    {u"FormError", u"text", Kind::Text},
    {u"FormError", u"btnClose", Kind::Button},
    // The popup menu and its rows.
    {u"Menu", u"panel", Kind::Node},
    {u"Menu", u"caption", Kind::Text},
    {u"Menu", u"vlist", Kind::List},
    {u"MenuElement", u"#text", Kind::Text},
    {u"MenuElement", u"separator", Kind::Node},
    {u"MenuElement", u"checked", Kind::Node},
    {u"MenuElementUnchecked", u"#text", Kind::Text},
    {u"MenuElementUnchecked", u"separator", Kind::Node},
    {u"MenuElementDisabled", u"#text", Kind::Text},
    {u"MenuElement4Buttons", u"About", Kind::Button},
    {u"MenuElement4Buttons", u"Help", Kind::Button},
    {u"MenuElement4Buttons", u"Minimize", Kind::Button},
    {u"MenuElement4Buttons", u"Exit", Kind::Button},
    // Quick record.
    {u"QuickRecord", u"btnOk", Kind::Button},
    {u"QuickRecord", u"list", Kind::List},
    {u"HardwareKey", u"name", Kind::Text},
    {u"HardwareKey", u"icon", Kind::Image},
    {u"HardwareKey", u"checked", Kind::Node},
    {u"HardwareKey", u"unchecked", Kind::Node},
    // The start-up screen.
    {u"FormSplash", nullptr, Kind::Node},
};

bool is_kind(const Component& c, Kind kind) {
    switch (kind) {
    case Kind::Node:
        return true;
    case Kind::Text:
        return dynamic_cast<const TextComponent*>(&c) != nullptr;
    case Kind::Edit:
        return dynamic_cast<const Edit*>(&c) != nullptr;
    case Kind::Image:
        return dynamic_cast<const ImageComponent*>(&c) != nullptr;
    case Kind::Button:
        return dynamic_cast<const Button*>(&c) != nullptr;
    case Kind::Progress:
        return dynamic_cast<const Progress*>(&c) != nullptr;
    case Kind::List:
        return dynamic_cast<const VList*>(&c) != nullptr;
    }
    return false;
}

std::filesystem::path skins() {
    return std::filesystem::path(QV_BUILD_DIR) / "bin/skins/bin";
}
std::string english() {
    return std::string(QV_SOURCE_DIR) + "/data/english.lng";
}

class ShippedSkin : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { register_framework_components(ComponentFactory::instance()); }
    void TearDown() override { unregister_framework_components(ComponentFactory::instance()); }
};

TEST_P(ShippedSkin, EveryLookedUpIdIsThereInItsKind) {
    const int dpi = GetParam();
    Properties main_skin, splash_skin;
    ASSERT_TRUE(main_skin.load_skin((skins() / "default.skin").u16string(), dpi));
    ASSERT_TRUE(splash_skin.load_skin((skins() / "splash.skin").u16string(), dpi));
    for (const Lookup& lookup : lookups) {
        std::u16string form_name = lookup.form;
        Properties& properties = form_name == u"FormSplash" ? splash_skin : main_skin;
        SCOPED_TRACE(foundation::to_utf8(form_name) + " / " +
                     (lookup.id ? foundation::to_utf8(lookup.id) : std::string("-")));
        Form form(properties);
        ASSERT_TRUE(form.load_form(properties, form_name));
        if (!lookup.id)
            continue;
        Component* c = form.find_child(lookup.id);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(is_kind(*c, lookup.kind));
    }
    // Named colour nodes: each sets its colour (a fallback that cannot be the skin's shows it).
    for (const char16_t* name : {u"filtered_color", u"icon_color"}) {
        NodeDir dir = main_skin.find_named_node(name);
        ASSERT_TRUE(dir.valid()) << foundation::to_utf8(name);
        SkinColor a = main_skin.get_color(dir, u"color", SkinColor{1, 2, 3, 4});
        SkinColor b = main_skin.get_color(dir, u"color", SkinColor{5, 6, 7, 8});
        EXPECT_EQ(a.red, b.red);
        EXPECT_EQ(a.green, b.green);
    }
    // Every location picture has a picture.
    Form main_form(main_skin);
    ASSERT_TRUE(main_form.load_form(main_skin, u"FormMain"));
    for (const char16_t* id : {u"main_memory", u"main_memory_incoming", u"main_memory_outgoing",
                               u"card", u"card_incoming", u"card_outgoing"}) {
        auto* image = dynamic_cast<ImageComponent*>(main_form.find_child(id));
        ASSERT_NE(image, nullptr);
        EXPECT_GT(image->picture().natural_size().x, 0) << foundation::to_utf8(id);
    }
}

INSTANTIATE_TEST_SUITE_P(Densities, ShippedSkin, ::testing::Values(96, 192));

TEST(ShippedSkinPreview, MainFormAndSplashMatchTheirGoldens) {
    struct Case {
        std::vector<std::string> args;
        const char* golden;
    };
    const std::string main_skin = (skins() / "default.skin").string();
    const Case cases[] = {
        {{"FormMain", main_skin, "--lang", english(), "--rows", "8", "--hide",
          "KeyboardContainer,btnCloseFilter,lblEmpty"},
         "skin/shipped_main.png"},
        {{"FormMain", main_skin, "--lang", english(), "--rows", "8", "--hide", "btnFilter,lblEmpty",
          "--size", "480x640", "--dpi", "192"},
         "skin/shipped_keypad_2x.png"},
        {{"FormSplash", (skins() / "splash.skin").string()}, "skin/shipped_splash.png"},
    };
    for (const Case& c : cases) {
        RenderSurface target;
        std::string error;
        ASSERT_TRUE(skinc::render_form(c.args, target, error)) << error;
        // Antialiased text may move by a shade between font library versions.
        EXPECT_TRUE(testing_support::matches_golden(target, c.golden, 40));
    }
}

TEST(ShippedSkinPreview, UnknownFormIsAnError) {
    RenderSurface target;
    std::string error;
    EXPECT_FALSE(
        skinc::render_form({"NoSuchForm", (skins() / "default.skin").string()}, target, error));
    EXPECT_FALSE(error.empty());
}

} // namespace

namespace {

// Every caption of every language file in every form, row and menu of the shipped skin, laid
// out in the window the program opens at 1x (240 x 320 at 96 dpi) and 2x (480 x 640 at 192 dpi)
// and in that window turned (640 x 480): a one-line text fits its control without an ellipsis;
// a wrapped one fits its lines; every shown control is inside the window; every menu fits the
// window with its last row (the way out) in view, or, where the window is too short for its
// rows, shades the edge they lie beyond.

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
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos)
            end = text.size();
        std::u16string_view paragraph = text.substr(start, end - start);
        std::u16string line;
        ++lines;
        size_t at = 0;
        while (at < paragraph.size()) {
            size_t space = paragraph.find(u' ', at);
            if (space == std::u16string_view::npos)
                space = paragraph.size();
            std::u16string word(paragraph.substr(at, space - at));
            if (font.text_width(word) > width)
                return false;
            std::u16string longer = line.empty() ? word : line + u" " + word;
            if (!line.empty() && font.text_width(longer) > width) {
                ++lines;
                line = word;
            } else {
                line = longer;
            }
            at = space + 1;
        }
        start = end + 1;
    }
    return true;
}

void expect_texts_fit(const Component& c, const std::string& context) {
    if (!c.visible())
        return;
    if (const auto* label = dynamic_cast<const TextComponent*>(&c)) {
        const std::u16string& text = label->text();
        if (!text.empty() && c.width() > 0 && label->font()) {
            FontRep& font = *label->font();
            if (!label->wrap()) {
                EXPECT_EQ(font.fitted_line(text, c.width()), text)
                    << context << ": " << where(c) << " is " << c.width() << " wide";
                EXPECT_LE(font.line_height(), c.height() + 1)
                    << context << ": " << where(c) << " is " << c.height() << " high";
            } else {
                int32_t lines = 0;
                EXPECT_TRUE(wrapped_lines(font, text, c.width(), lines))
                    << context << ": a word of " << where(c) << " is wider than " << c.width();
                EXPECT_LE(lines * font.line_height(), c.height())
                    << context << ": " << where(c) << " needs " << lines << " lines in "
                    << c.height();
            }
        }
    }
    for (const auto& child : c.children())
        expect_texts_fit(*child, context);
    if (const auto* list = dynamic_cast<const VList*>(&c))
        for (const auto& row : list->rows())
            expect_texts_fit(*row, context);
}

void expect_on_screen(const Component& c, const Window& window, const std::string& context) {
    if (!c.visible())
        return;
    if (c.width() > 0 && c.height() > 0) {
        EXPECT_TRUE(c.x() >= 0 && c.y() >= 0 && c.x() + c.width() <= window.width &&
                    c.y() + c.height() <= window.height)
            << context << ": " << where(c) << " at " << c.x() << "," << c.y() << " size "
            << c.width() << "x" << c.height();
    }
    // A list's rows scroll: the list itself is checked.
    if (dynamic_cast<const VList*>(&c))
        return;
    for (const auto& child : c.children())
        expect_on_screen(*child, window, context);
}

// The menus the screens open, with the items they give, in one language.
class AllMenus final : public MenuProvider {
public:
    explicit AllMenus(const Properties& properties) : m_properties(properties) {}
    void fill_menu(Menu&, std::u16string_view id, std::vector<MenuItem>& items) override {
        auto add = [&](std::u16string item_id, std::u16string caption = {},
                       std::u16string tmpl = {}) {
            MenuItem item;
            item.id = std::move(item_id);
            item.caption = std::move(caption);
            item.template_name = std::move(tmpl);
            items.push_back(std::move(item));
        };
        const std::u16string cancel = m_properties.text(u"Cancel");
        if (id == u"MainMenu") {
            add(u"Magic4Buttons", {}, u"MenuElement4Buttons");
            for (const char16_t* item : {u"File", u"Settings", u"Cancel"})
                add(item);
        } else if (id == u"File") {
            for (const char16_t* item : {u"Delete", u"Move", u"Refresh", u"Cancel"})
                add(item);
        } else if (id == u"Settings") {
            add(u"AutoRecord");
            add(u"Speaker", {}, u"MenuElementUnchecked");
            add(u"Format", m_properties.text(u"Mp3Middle"));
            add(u"Boost", {}, u"MenuElementUnchecked");
            for (const char16_t* item : {u"QuickRecord", u"Language", u"Cancel"})
                add(item);
        } else if (id == u"Format") {
            for (const char16_t* item : {u"Mp3Low", u"Mp3Middle", u"Mp3High"})
                add(item);
            add(u"Settings", cancel);
        } else if (id == u"Boost") {
            for (const char16_t* item : {u"BoostOff", u"Boost1", u"Boost2", u"Boost3"})
                add(item);
            add(u"Settings", cancel);
        } else if (id == u"Language") {
            for (const auto& name : language_names)
                add(u"Language#" + name, name);
            add(u"Cancel");
        } else if (id == u"Menu") {
            add(u"Delete", m_properties.text(u"Delete_this"));
            for (const char16_t* item : {u"Append", u"Send", u"Markers", u"Cancel"})
                add(item);
        } else if (id == u"Markers") {
            add(u"Marker:0", u"1:02:03  " + m_properties.text(u"Markers"));
            add(u"No_markers");
            add(u"Cancel");
        } else if (id == u"Marker:0") {
            for (const char16_t* key : {u"Marker_jump", u"Marker_rename", u"Marker_delete"})
                add(u"Marker", m_properties.text(key));
            add(u"Cancel");
        }
    }
    std::vector<std::u16string> language_names;

private:
    const Properties& m_properties;
};

std::vector<std::filesystem::path> language_files() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QV_SOURCE_DIR) + "/data"))
        if (entry.path().extension() == ".lng")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class ShippedCaptions : public ::testing::TestWithParam<Window> {
protected:
    void SetUp() override {
        ASSERT_EQ(testing_support::use_test_fonts(), "");
        register_framework_components(ComponentFactory::instance());
    }
    void TearDown() override { unregister_framework_components(ComponentFactory::instance()); }
};

void settle(FormStack& stack) {
    for (int i = 0; i < 60; ++i)
        stack.tick(1.0 / 30);
}

TEST_P(ShippedCaptions, EveryCaptionOfEveryLanguageFitsEveryForm) {
    const Window window = GetParam();
    const auto files = language_files();
    ASSERT_EQ(files.size(), 5u);
    std::vector<std::u16string> names;
    for (const auto& file : files) {
        localisation::TextTable table;
        ASSERT_TRUE(table.load(file.u16string()));
        names.push_back(table.text(u"Language_name"));
    }
    // A text a screen puts into a form's control: the form, the control, the language key.
    struct Filled {
        const char16_t* form;
        const char16_t* control;
        const char16_t* key;
    };
    const Filled filled[] = {
        {u"FormConfirmation", u"text", u"Confirm_deleting"},
        {u"FormConfirmation", u"text", u"Confirm_deleting_this"},
        {u"FormError", u"text", u"Sorry_card_problem"},
        {u"FormError", u"text", u"Sorry_no_memory"},
        {u"FormError", u"text", u"Sorry_too_slow_device"},
        {u"FormError", u"text", u"Sorry_sound_device"},
        {u"FormError", u"text", u"Sorry_settings_reset"},
        {u"FormMain", u"lblEmpty", u"skin_NoRecords"},
        {u"FormMain", u"lblEmpty", u"skin_NoMatches"},
        {u"HardwareKey", u"name", u"Key_record"},
        {u"HardwareKey", u"name", u"Key_launch"},
    };
    const char16_t* forms[] = {u"FormMain",  u"FormRecording",    u"FormView",
                               u"FormEdit",  u"FormConfirmation", u"FormError",
                               u"FormAbout", u"QuickRecord",      u"HardwareKey"};
    for (const auto& file : files) {
        Properties properties;
        ASSERT_TRUE(properties.texts().load(file.u16string()));
        ASSERT_TRUE(properties.load_skin((skins() / "default.skin").u16string(), window.dpi));
        const std::string language = file.stem().string() + " at " + std::to_string(window.dpi);
        FormStack stack;
        stack.set_screen_size(window.width, window.height);
        for (const char16_t* name : forms) {
            Form form(properties);
            ASSERT_TRUE(form.load_form(properties, name)) << foundation::to_utf8(name);
            stack.show_form(form);
            // The playback form shows its trim buttons in place of the marker row, never both:
            // each way is checked as the form shows it.
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
                expect_texts_fit(form, context);
                expect_on_screen(form, window, context);
            }
            trimming(false);
            settle(stack);
            for (const Filled& f : filled) {
                if (std::u16string_view(f.form) != name)
                    continue;
                std::u16string text = properties.text(f.key);
                // The largest count a list is likely to show; the highest launch key.
                if (size_t at = text.find(u"%count%"); at != std::u16string::npos)
                    text.replace(at, 7, u"1000");
                if (size_t at = text.find(u"%number%"); at != std::u16string::npos)
                    text.replace(at, 8, u"9");
                form.set_text_by_id(f.control, text);
                settle(stack);
                expect_texts_fit(form, language + " with " + foundation::to_utf8(f.key));
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
            expect_texts_fit(menu, context);
            // The whole menu in the window, its last row in view without scrolling, or a cue
            // that rows lie below.
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

void collect_texts(const Component& c, std::vector<std::pair<std::u16string, std::string>>& out) {
    if (const auto* label = dynamic_cast<const TextComponent*>(&c))
        if (!label->text().empty())
            out.emplace_back(label->text(), where(c));
    for (const auto& child : c.children())
        collect_texts(*child, out);
}

// Without a language every caption the skin asks for shows its key: each one that looks like a
// key (a capital or an underscore; the keypad's letters and digits do not) is one that the
// language files give.
class ShippedCaptionKeys : public ::testing::Test {
protected:
    void SetUp() override { register_framework_components(ComponentFactory::instance()); }
    void TearDown() override { unregister_framework_components(ComponentFactory::instance()); }
};

TEST_F(ShippedCaptionKeys, EveryCaptionTheSkinAsksForIsALanguageKey) {
    localisation::TextTable english;
    ASSERT_TRUE(english.load(std::filesystem::path(QV_SOURCE_DIR "/data/english.lng").u16string()));
    Properties properties;
    ASSERT_TRUE(properties.load_skin((skins() / "default.skin").u16string(), 96));
    std::vector<std::pair<std::u16string, std::string>> texts;
    for (const char16_t* name :
         {u"FormMain", u"Record", u"FormRecording", u"FormView", u"FormEdit", u"FormConfirmation",
          u"FormError", u"FormAbout", u"QuickRecord", u"HardwareKey", u"Menu", u"MenuElement",
          u"MenuElementUnchecked", u"MenuElementDisabled", u"MenuElement4Buttons"}) {
        Form form(properties);
        ASSERT_TRUE(form.load_form(properties, name)) << foundation::to_utf8(name);
        collect_texts(form, texts);
    }
    size_t keys = 0;
    for (const auto& [text, place] : texts) {
        const bool key_like = std::any_of(text.begin(), text.end(), [](char16_t c) {
            return (c >= u'A' && c <= u'Z') || c == u'_';
        });
        if (!key_like)
            continue;
        ++keys;
        EXPECT_TRUE(english.has(text)) << place << " asks for \"" << foundation::to_utf8(text)
                                       << "\", which no language file gives";
    }
    EXPECT_GT(keys, 10u);
}

INSTANTIATE_TEST_SUITE_P(Windows, ShippedCaptions,
                         ::testing::Values(Window{96, 240, 320}, Window{192, 480, 640},
                                           Window{192, 640, 480}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

} // namespace
