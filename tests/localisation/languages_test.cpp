// Choosing the language: start-up order, the menu, the stored choice.

#include "foundation/registry.h"
#include "localisation/languages.h"
#include "platform/locale.h"
#include "platform/registry_store.h"
#include "support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

using localisation::Languages;
using localisation::MenuItem;
using localisation::TextTable;

namespace {

class LanguagesTest : public ::testing::Test {
protected:
    LanguagesTest() : m_config("QUILLORY_CONFIG_DIR", (m_dir / "config").string()) {
        platform::registry_close();
        std::filesystem::create_directories(m_dir / "app");
        platform::set_locale_for_testing("de_DE");
    }
    ~LanguagesTest() override {
        platform::set_locale_for_testing("");
        platform::set_text_language("");
        platform::registry_close();
    }
    void language(const std::string& file, const std::string& exit_text) {
        std::ofstream(m_dir / "app" / file)
            << "Exit=" << exit_text << "\nCancel=Cancel " << exit_text << "\n";
    }
    void languages_of(std::initializer_list<std::pair<const char*, const char*>> files) {
        for (const auto& [file, exit_text] : files)
            language(file, exit_text);
    }
    std::u16string folder() const { return (m_dir / "app").u16string(); }
    void store(const std::u16string& name) {
        ASSERT_TRUE(foundation::write_string(languages.registry_key(), u"Language", name));
    }
    std::u16string stored() {
        std::u16string value;
        foundation::read_string(languages.registry_key(), u"Language", value);
        return value;
    }

    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_config;
    TextTable table;
    Languages languages{table, folder()};
};

// The start-up order: the stored choice, the user's language, English, the first file by name;
// files without a key are skipped. The start-up choice is not stored.
TEST_F(LanguagesTest, StartUpOrder) {
    struct Case {
        const char* what;
        const char* locale;
        std::u16string stored, expected;
        std::vector<std::pair<std::string, std::string>> files; // name, "Exit" text
    };
    // clang-format off
    const Case cases[] = {
        {"the stored choice", "de_DE", u"french", u"Quitter",
         {{"english", "Quit"}, {"german", "Beenden"}, {"french", "Quitter"}}},
        {"a missing stored choice: the user's language", "ru_RU", u"klingon", u"\u0412\u044b\u0445",
         {{"english", "Quit"}, {"russian", "\xD0\x92\xD1\x8B\xD1\x85"}}},
        {"no file for the user: English", "de_DE", u"", u"Quit",
         {{"english", "Quit"}, {"danish", "Afslut"}, {"zulu", "Phuma"}}},
        {"no English: the first file by name, made in neither order", "de_DE", u"", u"ab",
         {{"zulu", "Phuma"}, {"pl_lang", "pl"}, {"ab_lang", "ab"}, {"danish", "Afslut"}}},
        {"files without keys are skipped", "de_DE", u"french", u"Salir",
         {{"french", ""}, {"german", "\n\n   \n"}, {"english", "=Quit\n"}, {"spanish", "Salir"}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(m_dir / "app");
        std::filesystem::create_directories(m_dir / "app");
        for (const auto& [name, text] : c.files)
            if (text.empty() || text.find('\n') != std::string::npos)
                std::ofstream(m_dir / "app" / (name + ".lng")) << text;
            else
                language(name + ".lng", text);
        store(c.stored);
        platform::set_locale_for_testing(c.locale);
        TextTable chosen;
        Languages start(chosen, folder());
        ASSERT_TRUE(start.choose_at_start());
        EXPECT_EQ(chosen.text(u"Exit"), c.expected);
        EXPECT_EQ(stored(), c.stored);
    }
    // Nor can the menu switch to a file without keys.
    EXPECT_FALSE(languages.choose(u"Language#german"));
}

TEST_F(LanguagesTest, OnlyLanguageFilesInTheFolderCountAndAChoiceNeedsTwo) {
    std::filesystem::create_directories(m_dir / "app" / "more");
    std::ofstream(m_dir / "app" / "more" / "english.lng") << "Exit=Hidden\n";
    std::ofstream(m_dir / "app" / "english.txt") << "Exit=Text\n";
    EXPECT_FALSE(languages.choose_at_start());
    EXPECT_EQ(table.text(u"Exit"), u"Exit");
    EXPECT_FALSE(languages.has_choice());
    language("english.lng", "Quit");
    EXPECT_FALSE(languages.has_choice());
    language("russian.lng", "Vyhod");
    EXPECT_TRUE(languages.has_choice());
}

// The Language menu lists the files by name under their own names, the current one checked.
TEST_F(LanguagesTest, MenuListsTheLanguagesByTheirOwnNames) {
    std::ofstream(m_dir / "app" / "russian.lng")
        << "Exit=Vyhod\nLanguage_name=\xd0\xa0\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9\n";
    std::ofstream(m_dir / "app" / "german.lng")
        << "Language_name=Deutsch\nExit=Beenden\nCancel=Abbrechen\n";
    language("English.lng", "Quit");
    std::ofstream(m_dir / "app" / "spanish.lng") << "Language_name=\nExit=Salir\n";
    ASSERT_TRUE(table.load(folder() + u"/german.lng"));
    std::vector<MenuItem> items;
    EXPECT_FALSE(languages.fill_menu(u"Settings", items));
    EXPECT_TRUE(items.empty());
    ASSERT_TRUE(languages.fill_menu(u"Language", items));
    EXPECT_EQ(items, (std::vector<MenuItem>{{u"Language#English", u"English", false},
                                            {u"Language#german", u"Deutsch", true},
                                            {u"Language#russian",
                                             u"\u0420\u0443\u0441\u0441\u043a\u0438\u0439", false},
                                            {u"Language#spanish", u"spanish", false},
                                            {u"Cancel", u"Abbrechen", false}}));
    // The current table is not touched by reading the others.
    EXPECT_EQ(table.text(u"Exit"), u"Beenden");
    EXPECT_TRUE(languages.choose(u"Language#russian"));
    EXPECT_EQ(table.text(u"Exit"), u"Vyhod");
}

TEST_F(LanguagesTest, ChoosingLoadsAndStoresOnlyARealChange) {
    languages_of({{"english.lng", "Quit"}, {"russian.lng", "Vyhod"}});
    ASSERT_TRUE(languages.choose_at_start());
    // Already in force, no language, none of the folder's.
    for (auto item :
         {u"Language#english", u"Cancel", u"Language#missing", u"Language#../etc/passwd"})
        EXPECT_FALSE(languages.choose(item));
    EXPECT_EQ(stored(), u"");
    EXPECT_EQ(table.text(u"Exit"), u"Quit");
    EXPECT_TRUE(languages.choose(u"Language#russian"));
    EXPECT_EQ(table.text(u"Exit"), u"Vyhod");
    EXPECT_EQ(stored(), u"russian");
}

TEST(UserLanguage, ComesFromTheMessagesLocale) {
    platform::set_locale_for_testing("");
    testing_support::ScopedEnv messages("LC_MESSAGES", "ru_RU.UTF-8"), lang("LANG", "de_DE.UTF-8");
    const struct {
        const char *all, *language;
        std::u16string name;
    } cases[] = {{"", "ru", u"RUSSIAN"},
                 {"pt_BR@latin", "pt", u"PORTUGUESE"},
                 {"C", "en", u"ENGLISH"},
                 {"tlh_XX", "tlh", u""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.all);
        testing_support::ScopedEnv all("LC_ALL", c.all);
        EXPECT_EQ(platform::user_language(), c.language);
        EXPECT_EQ(localisation::user_language_name(), c.name);
    }
    EXPECT_EQ(localisation::primary_language_of("nb"), localisation::primary_language_of("no"));
    // Nothing known, or an index past the table: nothing, never a read beyond it.
    EXPECT_EQ(localisation::primary_language_of(""), -1);
    EXPECT_EQ(localisation::system_language_name(0) + localisation::system_language_name(99), u"");
}

} // namespace
