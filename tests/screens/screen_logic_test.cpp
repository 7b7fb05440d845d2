// What the screens show and offer, apart from any form: clock texts, the keypad filter, the
// record's location picture, the main menus.

#include "localisation/text_table.h"
#include "screens/record_filter.h"
#include "screens/screen_formats.h"
#include "screens/screen_menus.h"
#include "screens_fixture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>

using namespace screens;
using screens_test::ids;
using Items = std::vector<std::u16string>;

namespace {

KeyMap phone_keys() {
    localisation::TextTable table;
    table.assign({{u"2", u"abc"}, {u"3", u"def"}, {u"7", u"pqrs"}, {u"#", u"#@"}}, u"");
    return KeyMap(table);
}

controller::RecordInfo record(std::u16string artist, std::u16string title) {
    controller::RecordInfo info;
    info.path = u"/docs/My Quillory/" + title + u".mp3";
    info.artist = std::move(artist);
    info.title = std::move(title);
    return info;
}

std::vector<skin::MenuItem> menu(std::u16string_view id, const MainMenuState& state) {
    std::vector<skin::MenuItem> items;
    EXPECT_TRUE(main_menu_items(id, state, items)) << std::string(id.begin(), id.end());
    return items;
}

} // namespace

TEST(TimeFormat, HoursMinutesSecondsBelowTenHoursThenHoursOnly) {
    const std::pair<double, std::u16string> cases[] = {
        {0, u"0:00:00"},  {307.9, u"0:05:07"},     {3725, u"1:02:05"}, {35999, u"9:59:59"},
        {36000, u"10 h"}, {123456789, u"34293 h"}, {-5, u"0:00:00"},   {std::nan(""), u"0:00:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(format_time(seconds), text) << seconds;
}

TEST(FilterMatch, WordStartsOnlyWithTheKeysCharacterSets) {
    struct Case {
        const char16_t* text;
        const char16_t* filter;
        std::optional<size_t> at;
    };
    const Case
        cases[] =
            {
                {u"Bob Smith", u"2", 0},  {u"Bob Smith", u"7", 4},
                {u"Tobby", u"2", {}}, // a b inside a word is not a word start
                {u"(Anna)", u"2", 1}, // a bracket separates words
                {u"ANNA", u"2", 0},   // the text is lower-cased
                {u"x bed", u"23", 2}, // keys in order: a word starting [abc][def]
                {u"x bad", u"23", {}},    {u"ab", u"222", {}},
                {u"xx a", u"22", {}},     {u"", u"", 0},
                {u"mail @home", u"#", 5}, // "#" matches what its entry lists
            };
    const KeyMap keys = phone_keys();
    for (const Case& c : cases) {
        const auto found = match_filter(c.text, c.filter, keys);
        EXPECT_EQ(found ? std::optional<size_t>(*found) : std::nullopt, c.at)
            << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    }
    // Keys without an entry stand for themselves; blanks are never a start.
    const KeyMap none;
    EXPECT_TRUE(match_filter(u"call 12 May", u"12", none) == 5u &&
                match_filter(u"#tag", u"#", none) == 0u);
    EXPECT_FALSE(match_filter(u"call 312", u"12", none) || match_filter(u"  ", u" ", none));
}

TEST(VisibleList, ArtistTitleOrMarkerLabelsMatchInListOrder) {
    std::vector<controller::RecordInfo> records{
        record(u"Bob Smith", u"Lunch"), record(u"Record", u"Shopping"),
        record(u"Record", u"(Anna) call"), record(u"Eve", u"Tobby"), record(u"Record", u"Lecture")};
    records[4].marker_labels = u"Proof Questions";
    const KeyMap keys = phone_keys();
    EXPECT_EQ(visible_records(records, u"", keys), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(visible_records(records, u"2", keys), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(visible_records(records, u"7", keys), (std::vector<uint32_t>{0, 1, 2, 4}));
    EXPECT_EQ(visible_records(records, u"3", keys), (std::vector<uint32_t>{3}));
    EXPECT_EQ(visible_records(records, u"77", keys), (std::vector<uint32_t>{4})); // "Proof"
    EXPECT_TRUE(visible_records(records, u"9", keys).empty());
}

TEST(LocationPictures, MainMemoryOrCardAndTheCallFolders) {
    const std::u16string docs = u"/home/u/Documents";
    for (const auto& [base, picture] :
         {std::pair{u"/home/u/Documents", u"main_memory"}, std::pair{u"/media/card", u"card"}})
        for (const auto& [folder, suffix] :
             {std::pair{u"", u""}, {u"Incoming/", u"_incoming"}, {u"Outgoing/", u"_outgoing"}})
            EXPECT_EQ(location_picture_name(
                          std::u16string(base) + u"/My Quillory/" + folder + u"a.mp3", docs),
                      std::u16string(picture) + suffix);
    EXPECT_FALSE(lies_under(u"/x", u""));
}

TEST(MainMenus, SettingsFollowTheSettingsAndCheckTheCurrentChoiceOnly) {
    MainMenuState state;
    state.format_caption = u"Medium";
    auto items = menu(u"Settings", state);
    EXPECT_EQ(ids(items), (Items{u"AutoRecord", u"Speaker", u"Format", u"Boost", u"Cancel"}));
    EXPECT_TRUE(!items[0].checked && items[2].caption == u"Medium");
    state.auto_record = state.speaker = state.has_quick_record = state.has_languages = true;
    state.boost = u"Boost2";
    items = menu(u"Settings", state);
    EXPECT_EQ(ids(items), (Items{u"AutoRecord", u"Speaker", u"Format", u"Boost", u"QuickRecord",
                                 u"Language", u"Cancel"}));
    EXPECT_TRUE(items[0].checked && items[1].checked && items[3].checked);
    std::vector<skin::MenuItem> none;
    EXPECT_FALSE(main_menu_items(u"Delete", state, none));

    state.format = u"Mp3High";
    state.cancel_caption = u"Cancel it";
    for (const char16_t* id : {u"Format", u"Boost"}) {
        items = menu(id, state);
        EXPECT_EQ(items.back().caption, u"Cancel it");
        for (size_t i = 0; i < items.size(); ++i)
            EXPECT_EQ(items[i].checked, items[i].id == u"Mp3High" || items[i].id == u"Boost2");
    }
}
