#pragma once

// The items of the screens' menus for a given state, as plain data, so that what each menu
// offers can be checked without a skin.

#include "skin/menu.h"

#include <string>
#include <string_view>
#include <vector>

namespace screens {

// What the main form's menus depend on.
struct MainMenuState {
    size_t listed{0};         // records the list shows
    bool card_present{false}; // the storage list has two entries or more
    bool listed_in_main_memory{false};
    bool auto_record{false};
    bool speaker{false};
    std::u16string format{u"Mp3Middle"};
    std::u16string boost{u"BoostOff"};
    bool has_quick_record{false};  // the hardware key list is not empty
    bool has_languages{false};     // more than one language file
    std::u16string format_caption; // the language text of the format name
    std::u16string cancel_caption; // the language text of "Cancel"
};

// "MainMenu", "File", "Settings", "Format" or "Boost"; false (and nothing added) for any other
// id (commands and the "Language" menu).
bool main_menu_items(std::u16string_view id, const MainMenuState& state,
                     std::vector<skin::MenuItem>& items);

// The boost choices with the current one checked; back_id is the id of the closing item
// ("Settings" from the main menu, "Cancel" on the recording form).
void boost_items(const std::u16string& current, const std::u16string& back_id,
                 const std::u16string& cancel_caption, std::vector<skin::MenuItem>& items);

// The playback form's menu: "Delete" (captioned by "Delete_this"), "Append", "Send", "Cancel".
void playback_menu_items(const std::u16string& delete_caption, std::vector<skin::MenuItem>& items);

bool is_boost_id(std::u16string_view id);
bool is_format_id(std::u16string_view id);

} // namespace screens
