// The language files and help pages that ship beside the program.

#include "foundation/registry.h"
#include "foundation/text.h"
#include "localisation/languages.h"
#include "platform/locale.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

using localisation::Languages;
using localisation::TextTable;

namespace {

const std::filesystem::path data_dir = std::filesystem::path(QV_SOURCE_DIR) / "data";

struct Shipped {
    const char* stem;
    const char* locale;
};
const Shipped shipped[] = {{"english", "en_GB"},
                           {"russian", "ru_RU"},
                           {"german", "de_DE"},
                           {"french", "fr_FR"},
                           {"spanish", "es_ES"}};

TextTable load(const std::string& stem) {
    TextTable table;
    EXPECT_TRUE(table.load((data_dir / (stem + ".lng")).u16string())) << stem;
    return table;
}

std::vector<std::u16string> screen_keys() {
    std::ifstream in(std::string(QV_TEST_DATA) + "/localisation/screen_keys.txt");
    std::vector<std::u16string> keys;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            keys.emplace_back(line.begin(), line.end());
    return keys;
}

// English gives every key the screens use; every language exactly English's keys, with real texts,
// and a help link to a self-contained page of its own.
TEST(ShippedLanguages, EveryLanguageHasEveryKeyWithARealTextAndItsHelpPage) {
    TextTable english = load("english");
    const auto keys = screen_keys();
    std::set<std::u16string> pages;
    ASSERT_GT(keys.size(), 40u);
    for (const auto& key : keys)
        EXPECT_TRUE(english.has(key)) << foundation::to_utf8(key);
    for (const auto& language : shipped) {
        SCOPED_TRACE(language.stem);
        TextTable table = load(language.stem);
        for (const auto& [key, text] : english.entries()) {
            SCOPED_TRACE(foundation::to_utf8(key));
            ASSERT_TRUE(table.has(key));
            const std::u16string value = table.text(key);
            ASSERT_FALSE(value.empty());
            // No blank at either end, no control character of a broken line.
            EXPECT_NE(value.front(), u' ');
            EXPECT_NE(value.back(), u' ');
            for (char16_t c : value)
                EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFD) << int(c);
            // Placeholders the screens fill in survive translation.
            for (std::u16string placeholder : {u"%count%", u"%version%", u"%number%", u"%seconds%"})
                EXPECT_EQ(text.find(placeholder) != text.npos,
                          value.find(placeholder) != value.npos)
                    << foundation::to_utf8(placeholder);
        }
        EXPECT_EQ(table.size(), english.size());
        const std::u16string link = table.text(u"Help_link");
        // Opened as the program folder's "help/" followed by the link.
        ASSERT_EQ(link.find_first_of(u"/\\"), std::u16string::npos);
        const auto page = data_dir / "help" / std::filesystem::path(link);
        ASSERT_TRUE(std::filesystem::is_regular_file(page)) << page;
        pages.insert(link);
        const std::string html = testing_support::read_whole_file(page);
        EXPECT_NE(html.find("<!DOCTYPE html>"), std::string::npos);
        EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
        EXPECT_NE(html.find("</html>"), std::string::npos);
        // Nothing is fetched from elsewhere.
        for (const char* outside : {"http:", "https:", "src=", "@import", "url("})
            EXPECT_EQ(html.find(outside), std::string::npos) << outside;
        // The facts the page must give.
        for (const char* fact :
             {"My Quillory", "registry.sqlite", "quillory-cli", "contacts", "Incoming"})
            EXPECT_NE(html.find(fact), std::string::npos) << fact;
    }
    EXPECT_EQ(pages.size(), std::size(shipped));
    // Read as UTF-8, not as Latin-1.
    EXPECT_EQ(load("russian").text(u"Exit"), u"\u0412\u044b\u0445\u043e\u0434");
}

class ShippedSelection : public ::testing::Test {
protected:
    ShippedSelection() : m_config("QUILLORY_CONFIG_DIR", (m_dir / "config").string()) {
        platform::registry_close();
    }
    ~ShippedSelection() override {
        platform::set_locale_for_testing("");
        platform::registry_close();
    }
    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_config;
};

// The file names are those of the system language table: the user's locale picks its file.
TEST_F(ShippedSelection, TheUsersLocaleChoosesItsFile) {
    for (const auto& language : shipped) {
        SCOPED_TRACE(language.stem);
        platform::set_locale_for_testing(language.locale);
        TextTable table;
        Languages languages(table, data_dir.u16string());
        ASSERT_TRUE(languages.choose_at_start());
        EXPECT_EQ(std::filesystem::path(table.path()).stem().string(), language.stem);
        EXPECT_TRUE(languages.has_choice());
    }
}

} // namespace
