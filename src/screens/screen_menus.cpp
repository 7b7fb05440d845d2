#include "screens/screen_menus.h"

#include <array>

namespace screens {

namespace {

constexpr std::array<std::u16string_view, 4> boost_ids{u"BoostOff", u"Boost1", u"Boost2",
                                                       u"Boost3"};
constexpr std::array<std::u16string_view, 3> format_ids{u"Mp3Low", u"Mp3Middle", u"Mp3High"};

skin::MenuItem item(std::u16string_view id, bool checked = false, std::u16string_view tmpl = {},
                    std::u16string_view caption = {}) {
    skin::MenuItem out;
    out.id = std::u16string(id);
    out.checked = checked;
    out.template_name = std::u16string(tmpl);
    out.caption = std::u16string(caption);
    return out;
}

// A setting row: checked when on, drawn with the unchecked template when off.
skin::MenuItem toggle(std::u16string_view id, bool on, std::u16string_view caption = {}) {
    return item(id, on, on ? u"" : u"MenuElementUnchecked", caption);
}

} // namespace

bool is_boost_id(std::u16string_view id) {
    for (auto b : boost_ids)
        if (b == id)
            return true;
    return false;
}

bool is_format_id(std::u16string_view id) {
    for (auto f : format_ids)
        if (f == id)
            return true;
    return false;
}

void boost_items(const std::u16string& current, const std::u16string& back_id,
                 const std::u16string& cancel_caption, std::vector<skin::MenuItem>& items) {
    for (auto b : boost_ids)
        items.push_back(item(b, b == current));
    items.push_back(item(back_id, false, {}, cancel_caption));
}

void playback_menu_items(const std::u16string& delete_caption, std::vector<skin::MenuItem>& items) {
    items.push_back(item(u"Delete", false, {}, delete_caption));
    items.push_back(item(u"Append"));
    items.push_back(item(u"Send"));
    items.push_back(item(u"Cancel"));
}

bool main_menu_items(std::u16string_view id, const MainMenuState& state,
                     std::vector<skin::MenuItem>& items) {
    if (id == u"MainMenu") {
        items.push_back(item(u"Magic4Buttons", false, u"MenuElement4Buttons"));
        items.push_back(item(u"File"));
        items.push_back(item(u"Settings"));
        items.push_back(item(u"Cancel"));
        return true;
    }
    if (id == u"File") {
        if (state.listed > 0)
            items.push_back(item(u"Delete"));
        if (state.card_present && state.listed_in_main_memory)
            items.push_back(item(u"Move"));
        items.push_back(item(u"Refresh"));
        items.push_back(item(u"Cancel"));
        return true;
    }
    if (id == u"Settings") {
        items.push_back(toggle(u"AutoRecord", state.auto_record));
        items.push_back(toggle(u"Speaker", state.speaker));
        items.push_back(item(u"Format", false, {}, state.format_caption));
        items.push_back(toggle(u"Boost", state.boost != u"BoostOff"));
        if (state.has_quick_record)
            items.push_back(item(u"QuickRecord"));
        if (state.has_languages)
            items.push_back(item(u"Language"));
        items.push_back(item(u"Cancel"));
        return true;
    }
    if (id == u"Format") {
        for (auto f : format_ids)
            items.push_back(item(f, f == state.format));
        items.push_back(item(u"Settings", false, {}, state.cancel_caption));
        return true;
    }
    if (id == u"Boost") {
        boost_items(state.boost, u"Settings", state.cancel_caption, items);
        return true;
    }
    return false;
}

} // namespace screens
