#include "localisation/languages.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/locale.h"

#include <algorithm>
#include <array>

namespace localisation {

namespace {

struct SystemLanguage {
    const char* code;
    const char* name;
};

// Indexed by the Windows primary language identifier.
constexpr std::array<SystemLanguage, 99> system_languages = [] {
    std::array<SystemLanguage, 99> table{};
    for (auto& entry : table)
        entry = {"", ""};
    table[0x01] = {"ar", "ARABIC"};
    table[0x02] = {"bg", "BULGARIAN"};
    table[0x03] = {"ca", "CATALAN"};
    table[0x04] = {"zh", "CHINESE"};
    table[0x05] = {"cs", "CZECH"};
    table[0x06] = {"da", "DANISH"};
    table[0x07] = {"de", "GERMAN"};
    table[0x08] = {"el", "GREEK"};
    table[0x09] = {"en", "ENGLISH"};
    table[0x0A] = {"es", "SPANISH"};
    table[0x0B] = {"fi", "FINNISH"};
    table[0x0C] = {"fr", "FRENCH"};
    table[0x0D] = {"he", "HEBREW"};
    table[0x0E] = {"hu", "HUNGARIAN"};
    table[0x0F] = {"is", "ICELANDIC"};
    table[0x10] = {"it", "ITALIAN"};
    table[0x11] = {"ja", "JAPANESE"};
    table[0x12] = {"ko", "KOREAN"};
    table[0x13] = {"nl", "DUTCH"};
    table[0x14] = {"no", "NORWEGIAN"};
    table[0x15] = {"pl", "POLISH"};
    table[0x16] = {"pt", "PORTUGUESE"};
    table[0x18] = {"ro", "ROMANIAN"};
    table[0x19] = {"ru", "RUSSIAN"};
    table[0x1A] = {"hr", "CROATIAN"};
    table[0x1B] = {"sk", "SLOVAK"};
    table[0x1C] = {"sq", "ALBANIAN"};
    table[0x1D] = {"sv", "SWEDISH"};
    table[0x1E] = {"th", "THAI"};
    table[0x1F] = {"tr", "TURKISH"};
    table[0x20] = {"ur", "URDU"};
    table[0x21] = {"id", "INDONESIAN"};
    table[0x22] = {"uk", "UKRAINIAN"};
    table[0x23] = {"be", "BYELORUSSIAN"};
    table[0x24] = {"sl", "SLOVENIAN"};
    table[0x25] = {"et", "ESTONIAN"};
    table[0x26] = {"lv", "LATVIAN"};
    table[0x27] = {"lt", "LITHUANIAN"};
    table[0x29] = {"fa", "PERSIAN"};
    table[0x2A] = {"vi", "VIETNAMESE"};
    table[0x2B] = {"hy", "ARMENIAN"};
    table[0x2C] = {"az", "AZERBAIJANI"};
    table[0x2D] = {"eu", "BASQUE"};
    table[0x2F] = {"mk", "MACEDONIAN"};
    table[0x36] = {"af", "AFRIKAANS"};
    table[0x37] = {"ka", "GEORGIAN"};
    table[0x38] = {"fo", "FAROESE"};
    table[0x39] = {"hi", "HINDI"};
    table[0x3E] = {"ms", "MALAY"};
    table[0x3F] = {"kk", "KAZAKH"};
    table[0x41] = {"sw", "SWAHILI"};
    table[0x43] = {"uz", "UZBEK"};
    table[0x44] = {"tt", "TATAR"};
    table[0x45] = {"bn", "BENGALI"};
    table[0x46] = {"pa", "PUNJABI"};
    table[0x47] = {"gu", "GUJARATI"};
    table[0x48] = {"or", "ORIYA"};
    table[0x49] = {"ta", "TAMIL"};
    table[0x4A] = {"te", "TELUGU"};
    table[0x4B] = {"kn", "KANNADA"};
    table[0x4C] = {"ml", "MALAYALAM"};
    table[0x4D] = {"as", "ASSAMESE"};
    table[0x4E] = {"mr", "MARATHI"};
    table[0x4F] = {"sa", "SANSKRIT"};
    table[0x59] = {"sd", "SINDHI"};
    table[0x60] = {"ks", "KASHMIRI"};
    table[0x61] = {"ne", "NEPALI"};
    return table;
}();

// Codes the system files under another language's identifier.
struct Alias {
    const char* code;
    const char* same_as;
};
constexpr Alias aliases[] = {{"nb", "no"}, {"nn", "no"}, {"iw", "he"}, {"in", "id"},
                             {"sr", "hr"}, {"bs", "hr"}, {"fil", ""}};

std::u16string upper_ascii(std::u16string text) {
    for (auto& c : text)
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - u'a' + u'A');
    return text;
}

// Upper-cased for the comparisons of file names and language names.
std::u16string folded(const std::u16string& text) {
    std::u16string lower = foundation::to_lower(text);
    return upper_ascii(lower);
}

std::u16string stem_of(const std::u16string& path) {
    std::u16string name = foundation::name_of(path);
    if (name.size() >= 4 && folded(name.substr(name.size() - 4)) == u".LNG")
        name.resize(name.size() - 4);
    return name;
}

class Collector final : public foundation::FileSink {
public:
    bool on_file(const std::u16string& path) override {
        paths.push_back(path);
        return true;
    }
    bool on_directory(const std::u16string&) override { return true; }
    std::vector<std::u16string> paths;
};

} // namespace

std::u16string system_language_name(uint32_t primary_id) {
    if (primary_id >= system_languages.size())
        return {};
    return foundation::widen(system_languages[primary_id].name);
}

int32_t primary_language_of(std::string_view iso_code) {
    std::string code(iso_code);
    for (auto& c : code)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    for (const Alias& alias : aliases) {
        if (code == alias.code) {
            code = alias.same_as;
            break;
        }
    }
    if (code.empty())
        return -1;
    for (size_t i = 0; i < system_languages.size(); ++i) {
        if (code == system_languages[i].code)
            return int32_t(i);
    }
    return -1;
}

std::u16string user_language_name() {
    int32_t id = primary_language_of(platform::user_language());
    return id < 0 ? std::u16string() : system_language_name(uint32_t(id));
}

std::vector<std::u16string> user_language_names() {
    std::vector<std::u16string> names;
    for (const std::string& code : platform::user_languages()) {
        int32_t id = primary_language_of(code);
        std::u16string name = id < 0 ? std::u16string() : system_language_name(uint32_t(id));
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    }
    return names;
}

std::string language_code_of(const std::u16string& path) {
    const std::u16string name = folded(stem_of(path));
    for (const SystemLanguage& language : system_languages)
        if (*language.name && foundation::widen(language.name) == name)
            return language.code;
    return {};
}

Languages::Languages(TextTable& table, std::u16string folder, std::u16string application)
    : m_table(table), m_folder(std::move(folder)), m_application(std::move(application)) {}

std::u16string Languages::registry_key() const {
    return u"HKEY_CURRENT_USER\\Software\\Corvane\\" + m_application;
}

std::vector<std::u16string> Languages::files() const {
    Collector collector;
    foundation::find_files(collector, m_folder, u"*.lng", u"do_not_search", false);
    return collector.paths;
}

std::u16string Languages::path_for(const std::u16string& name) const {
    std::u16string exact = m_folder + u"/" + name + u".lng";
    if (foundation::FileInfo(exact).exists())
        return exact;
    const std::u16string wanted = folded(name);
    for (const std::u16string& path : files()) {
        if (folded(stem_of(path)) == wanted)
            return path;
    }
    return exact;
}

bool Languages::try_name(const std::u16string& name) {
    if (name.empty() || name.find_first_of(u"/\\") != std::u16string::npos)
        return false;
    return load(path_for(name));
}

bool Languages::load(const std::u16string& path) {
    if (!m_table.load(path))
        return false;
    platform::set_text_language(language_code_of(path));
    return true;
}

bool Languages::choose_at_start() {
    std::u16string stored;
    foundation::read_string(registry_key(), registry_value, stored);
    if (try_name(stored))
        return true;
    for (const std::u16string& name : user_language_names())
        if (try_name(name))
            return true;
    if (try_name(u"english"))
        return true;
    // The rest by name, so that the outcome does not depend on the file system's order.
    std::vector<std::u16string> paths = files();
    std::sort(paths.begin(), paths.end());
    for (const std::u16string& path : paths) {
        if (load(path))
            return true;
    }
    foundation::log() << "Languages::choose_at_start no language file\n";
    return false;
}

bool Languages::has_choice() const {
    return files().size() > 1;
}

bool Languages::fill_menu(std::u16string_view id, std::vector<MenuItem>& items) const {
    if (id != menu_id)
        return false;
    std::vector<std::u16string> paths = files();
    std::sort(paths.begin(), paths.end());
    const std::u16string current =
        m_table.path().empty() ? std::u16string() : folded(stem_of(m_table.path()));
    for (const std::u16string& path : paths) {
        std::u16string stem = stem_of(path);
        // Each language is offered under its own name; a file that gives none (or cannot be
        // read) shows its file name.
        TextTable file;
        std::u16string caption = file.load(path) ? file.text(name_key, u"") : std::u16string();
        if (caption.empty())
            caption = stem;
        items.push_back(MenuItem{item_prefix + stem, caption, folded(stem) == current});
    }
    items.push_back(MenuItem{u"Cancel", m_table.text(u"Cancel"), false});
    return true;
}

bool Languages::choose(std::u16string_view id) {
    const std::u16string_view prefix = item_prefix;
    if (id.substr(0, prefix.size()) != prefix)
        return false;
    std::u16string name(id.substr(prefix.size()));
    if (name.empty() || name.find_first_of(u"/\\") != std::u16string::npos)
        return false;
    std::u16string path = path_for(name);
    if (path == m_table.path())
        return false;
    if (!load(path))
        return false;
    foundation::write_string(registry_key(), registry_value, name);
    return true;
}

} // namespace localisation
