// Choosing the language: start-up order, the menu, the stored choice.

#include "foundation/date_time.h"
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

TEST(SystemLanguages, TableAndCodes) {
    EXPECT_EQ(localisation::system_language_name(25), u"RUSSIAN");
    EXPECT_EQ(localisation::system_language_name(9), u"ENGLISH");
    EXPECT_EQ(localisation::system_language_name(97), u"NEPALI");
    EXPECT_EQ(localisation::system_language_name(0), u"");
    EXPECT_EQ(localisation::system_language_name(0x17), u"");
    EXPECT_EQ(localisation::system_language_name(99), u"");
    EXPECT_EQ(localisation::primary_language_of("ru"), 25);
    EXPECT_EQ(localisation::primary_language_of("nb"), 0x14);
    EXPECT_EQ(localisation::primary_language_of("tlh"), -1);
    EXPECT_EQ(localisation::primary_language_of(""), -1);
    // 0x0419 is Russian (Russia): its low ten bits are the primary identifier.
    EXPECT_EQ(localisation::system_language_name(0x0419 & 0x3FF), u"RUSSIAN");
}

TEST_F(LanguagesTest, TheStoredChoiceComesFirst) {
    language("english.lng", "Quit");
    language("german.lng", "Beenden");
    language("french.lng", "Quitter");
    store(u"french");
    ASSERT_TRUE(languages.choose_at_start());
    EXPECT_EQ(table.text(u"Exit"), u"Quitter");
    EXPECT_EQ(stored(), u"french");
}

TEST_F(LanguagesTest, AMissingStoredChoiceFallsToTheUsersLanguageWhateverItsCase) {
    language("english.lng", "Quit");
    language("russian.lng", "\xD0\x92\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4");
    store(u"klingon");
    platform::set_locale_for_testing("ru_RU");
    ASSERT_TRUE(languages.choose_at_start());
    EXPECT_EQ(table.text(u"Exit"), u"\u0412\u044b\u0445\u043e\u0434");
    // The start-up choice is not stored.
    EXPECT_EQ(stored(), u"klingon");
}

TEST_F(LanguagesTest, ThenEnglishThenTheFirstFileFound) {
    language("english.lng", "Quit");
    language("danish.lng", "Afslut");
    language("zulu.lng", "Phuma");
    ASSERT_TRUE(languages.choose_at_start()); // German user, no german file
    EXPECT_EQ(table.text(u"Exit"), u"Quit");

    std::filesystem::remove(m_dir / "app" / "english.lng");
    TextTable other;
    Languages fallback(other, folder());
    ASSERT_TRUE(fallback.choose_at_start());
    EXPECT_EQ(other.text(u"Exit"), u"Afslut");
}

TEST_F(LanguagesTest, FilesWithoutKeysAreSkippedAtEveryStep) {
    // The stored choice, the user's language and English are all empty or keyless.
    std::ofstream(m_dir / "app" / "french.lng").flush();
    std::ofstream(m_dir / "app" / "german.lng") << "\n\n   \n";
    std::ofstream(m_dir / "app" / "english.lng") << "=Quit\n";
    language("spanish.lng", "Salir");
    store(u"french");
    ASSERT_TRUE(languages.choose_at_start());
    EXPECT_EQ(table.text(u"Exit"), u"Salir");
    // Nor can the menu switch to one of them.
    EXPECT_FALSE(languages.choose(u"Language#german"));
    EXPECT_EQ(table.text(u"Exit"), u"Salir");
}

TEST_F(LanguagesTest, TheLastFallbackIsTheFirstFileByName) {
    // Made in an order that is neither the names' nor, most likely, the directory's.
    for (const char* name : {"pl", "zz", "ka", "mm", "ab", "tt", "qq", "ee", "bb", "yy"})
        language(std::string(name) + "_lang.lng", name);
    for (int run = 0; run < 2; ++run) {
        TextTable other;
        Languages fallback(other, folder());
        ASSERT_TRUE(fallback.choose_at_start());
        EXPECT_EQ(other.text(u"Exit"), u"ab");
    }
}

TEST_F(LanguagesTest, TheLanguageListComesBeforeTheLocale) {
    platform::set_locale_for_testing("");
    testing_support::ScopedEnv list("LANGUAGE", "tlh:ru_RU:de");
    testing_support::ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    language("english.lng", "Quit");
    language("german.lng", "Beenden");
    language("russian.lng", "Vyhod");
    EXPECT_EQ(platform::user_languages(), (std::vector<std::string>{"tlh", "ru", "de"}));
    ASSERT_TRUE(languages.choose_at_start());
    EXPECT_EQ(table.text(u"Exit"), u"Vyhod");
    // Without the list, the locale.
    testing_support::ScopedEnv none("LANGUAGE", "");
    TextTable other;
    Languages by_locale(other, folder());
    ASSERT_TRUE(by_locale.choose_at_start());
    EXPECT_EQ(other.text(u"Exit"), u"Beenden");
}

TEST_F(LanguagesTest, DatesFollowTheChosenLanguage) {
    platform::set_locale_for_testing("");
    testing_support::ScopedEnv all("LC_ALL", "en_GB.UTF-8");
    language("english.lng", "Quit");
    language("russian.lng", "Vyhod");
    foundation::DateTime day;
    day.set_date(2026, 12, 7);
    store(u"russian");
    ASSERT_TRUE(languages.choose_at_start());
    // December in Russian, in the form a date gives it.
    EXPECT_NE(foundation::format_date(day, {.long_month_names = true, .system_format = true})
                  .find(u"\u0434\u0435\u043a\u0430\u0431\u0440\u044f"),
              std::u16string::npos);
    // English keeps the user's own English forms: the day before the month.
    ASSERT_TRUE(languages.choose(u"Language#english"));
    EXPECT_EQ(platform::current_locale(), "en_GB");
    EXPECT_NE(foundation::format_date(day, {.long_month_names = true, .system_format = true})
                  .find(u"7 December"),
              std::u16string::npos);
}

TEST_F(LanguagesTest, SubFoldersAndOtherFilesAreNotSearched) {
    std::filesystem::create_directories(m_dir / "app" / "more");
    std::ofstream(m_dir / "app" / "more" / "english.lng") << "Exit=Hidden\n";
    std::ofstream(m_dir / "app" / "english.txt") << "Exit=Text\n";
    EXPECT_FALSE(languages.choose_at_start());
    EXPECT_EQ(table.text(u"Exit"), u"Exit");
    EXPECT_FALSE(languages.has_choice());
}

TEST_F(LanguagesTest, AChoiceNeedsTwoFiles) {
    language("english.lng", "Quit");
    EXPECT_FALSE(languages.has_choice());
    language("russian.lng", "Vyhod");
    EXPECT_TRUE(languages.has_choice());
}

TEST_F(LanguagesTest, MenuListsFilesInOrderChecksTheCurrentAndEndsWithCancel) {
    language("russian.lng", "Vyhod");
    language("English.lng", "Quit");
    language("deutsch.lng", "Beenden");
    ASSERT_TRUE(table.load(folder() + u"/russian.lng"));
    std::vector<MenuItem> items;
    EXPECT_FALSE(languages.fill_menu(u"Settings", items));
    EXPECT_TRUE(items.empty());
    ASSERT_TRUE(languages.fill_menu(u"Language", items));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], (MenuItem{u"Language#English", u"English", false}));
    EXPECT_EQ(items[1], (MenuItem{u"Language#deutsch", u"deutsch", false}));
    EXPECT_EQ(items[2], (MenuItem{u"Language#russian", u"russian", true}));
    EXPECT_EQ(items[3], (MenuItem{u"Cancel", u"Cancel Vyhod", false}));
}

TEST_F(LanguagesTest, MenuCaptionsAreTheLanguagesOwnNames) {
    std::ofstream(m_dir / "app" / "russian.lng")
        << "Exit=Vyhod\nLanguage_name=\xd0\xa0\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9\n";
    std::ofstream(m_dir / "app" / "german.lng") << "Language_name=Deutsch\nExit=Beenden\n";
    // No name, or an empty one: the file name stands in.
    language("english.lng", "Quit");
    std::ofstream(m_dir / "app" / "spanish.lng") << "Language_name=\nExit=Salir\n";
    ASSERT_TRUE(table.load(folder() + u"/german.lng"));
    std::vector<MenuItem> items;
    ASSERT_TRUE(languages.fill_menu(u"Language", items));
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], (MenuItem{u"Language#english", u"english", false}));
    EXPECT_EQ(items[1], (MenuItem{u"Language#german", u"Deutsch", true}));
    EXPECT_EQ(items[2], (MenuItem{u"Language#russian",
                                  u"\u0420\u0443\u0441\u0441\u043a\u0438\u0439", false}));
    EXPECT_EQ(items[3], (MenuItem{u"Language#spanish", u"spanish", false}));
    // The current table is not touched by reading the others.
    EXPECT_EQ(table.text(u"Exit"), u"Beenden");
    EXPECT_TRUE(languages.choose(items[2].id));
    EXPECT_EQ(table.text(u"Exit"), u"Vyhod");
}

TEST_F(LanguagesTest, ChoosingLoadsAndStoresOnlyARealChange) {
    language("english.lng", "Quit");
    language("russian.lng", "Vyhod");
    ASSERT_TRUE(languages.choose_at_start());
    EXPECT_FALSE(languages.choose(u"Language#english")); // already in force
    EXPECT_EQ(stored(), u"");
    EXPECT_FALSE(languages.choose(u"Cancel"));
    EXPECT_FALSE(languages.choose(u"Language#missing"));
    EXPECT_FALSE(languages.choose(u"Language#../etc/passwd"));
    EXPECT_EQ(table.text(u"Exit"), u"Quit");
    EXPECT_TRUE(languages.choose(u"Language#russian"));
    EXPECT_EQ(table.text(u"Exit"), u"Vyhod");
    EXPECT_EQ(stored(), u"russian");
}

} // namespace

namespace {

TEST(UserLanguage, ComesFromTheMessagesLocale) {
    platform::set_locale_for_testing("");
    {
        testing_support::ScopedEnv all("LC_ALL", "");
        testing_support::ScopedEnv messages("LC_MESSAGES", "ru_RU.UTF-8");
        testing_support::ScopedEnv lang("LANG", "de_DE.UTF-8");
        EXPECT_EQ(platform::user_language(), "ru");
        EXPECT_EQ(localisation::user_language_name(), u"RUSSIAN");
    }
    {
        testing_support::ScopedEnv all("LC_ALL", "pt_BR@latin");
        EXPECT_EQ(platform::user_language(), "pt");
    }
    {
        testing_support::ScopedEnv all("LC_ALL", "C");
        EXPECT_EQ(localisation::user_language_name(), u"ENGLISH");
    }
    {
        testing_support::ScopedEnv all("LC_ALL", "tlh_XX");
        EXPECT_EQ(localisation::user_language_name(), u"");
    }
}

} // namespace
