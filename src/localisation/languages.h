#pragma once

// The choice of language: the language files ("*.lng") of the program folder, the start-up
// selection (the stored choice, the user's language, "english", the first file found), the
// "Language" menu and the stored choice under the program's registry key.
// User-interface thread only.

#include "localisation/text_table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace localisation {

// The upper-case English name of a language by its Windows primary language identifier
// (0 to 98); empty for an unassigned one or one out of range.
std::u16string system_language_name(uint32_t primary_id);
// The primary language identifier of an ISO 639-1 code ("ru" -> 25), or -1.
int32_t primary_language_of(std::string_view iso_code);
// The name of the user's language (from the locale), or empty.
std::u16string user_language_name();
// The names of every language the user asked for (LANGUAGE, then the locale), most wanted
// first; languages without a name are left out.
std::vector<std::u16string> user_language_names();
// The ISO 639 code of a language file by its name ("russian.lng" -> "ru"), or empty.
std::string language_code_of(const std::u16string& path);

// One item of a menu being filled.
struct MenuItem {
    std::u16string id;
    std::u16string caption;
    bool checked{false};
    bool operator==(const MenuItem&) const = default;
};

class Languages {
public:
    static constexpr char16_t menu_id[] = u"Language";
    static constexpr char16_t item_prefix[] = u"Language#";
    static constexpr char16_t registry_value[] = u"Language";
    // The key under which a language file gives the language's own name ("Deutsch").
    static constexpr char16_t name_key[] = u"Language_name";

    // table: the table that receives the language (the main skin's texts); folder: where the
    // language files are (path macros allowed); application: the program's registry key name.
    Languages(TextTable& table, std::u16string folder = u"%app_path%",
              std::u16string application = u"Quillory Vozir");

    // Loads the first of: the stored choice, the user's languages (LANGUAGE, LC_ALL,
    // LC_MESSAGES, LANG), "english", every file by name. A file without keys does not load.
    // Dates follow the loaded language (platform::set_text_language). False when none loads;
    // the stored choice is not written.
    bool choose_at_start();
    // Whether there is more than one language file.
    bool has_choice() const;
    // For the menu id "Language": one item per file in path order (caption the language's own
    // name from the file, else the file's stem; id "Language#" + stem; checked for the current
    // one), then "Cancel". False for other ids.
    bool fill_menu(std::u16string_view id, std::vector<MenuItem>& items) const;
    // For an id "Language#" + name: loads that language and stores the choice. True when the
    // language changed (the screens are to be redrawn).
    bool choose(std::u16string_view id);

    // The language files of the folder, in the order found.
    std::vector<std::u16string> files() const;
    // The file of a language name: folder + "/" + name + ".lng", or the file of the folder
    // whose name matches that without regard to case.
    std::u16string path_for(const std::u16string& name) const;
    std::u16string registry_key() const;

private:
    bool try_name(const std::u16string& name);
    bool load(const std::u16string& path);

    TextTable& m_table;
    std::u16string m_folder;
    std::u16string m_application;
};

} // namespace localisation
