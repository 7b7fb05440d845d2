#include "controller/record_storage.h"
#include "localisation/text_table.h"
#include "screens/record_filter.h"
#include "screens/screen_formats.h"
#include "screens/screen_menus.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace screens;

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

std::vector<std::u16string> ids(const std::vector<skin::MenuItem>& items) {
    std::vector<std::u16string> out;
    for (const auto& item : items)
        out.push_back(item.id);
    return out;
}

} // namespace

TEST(TimeFormat, HoursMinutesSecondsBelowTenHoursThenHoursOnly) {
    EXPECT_EQ(format_time(0), u"0:00:00");
    EXPECT_EQ(format_time(307.9), u"0:05:07");
    EXPECT_EQ(format_time(3725), u"1:02:05");
    EXPECT_EQ(format_time(35999), u"9:59:59");
    EXPECT_EQ(format_time(36000), u"10 h");
    EXPECT_EQ(format_time(123456789), u"34293 h");
    EXPECT_EQ(format_time(-5), u"0:00:00");
    EXPECT_EQ(format_time(std::nan("")), u"0:00:00");
}

TEST(SizeFormat, BytesKilobytesAndTenthsOfMegabytes) {
    EXPECT_EQ(controller::size_text(0), u"");
    EXPECT_EQ(controller::size_text(1023), u"1023B");
    EXPECT_EQ(controller::size_text(1024), u"1K");
    EXPECT_EQ(controller::size_text(1048575), u"1023K");
    EXPECT_EQ(controller::size_text(1572864), u"1.5M");
}

TEST(FilterMatch, WordStartsOnlyWithTheKeysCharacterSets) {
    const KeyMap keys = phone_keys();
    EXPECT_EQ(match_filter(u"Bob Smith", u"2", keys), 0u);
    EXPECT_EQ(match_filter(u"Bob Smith", u"7", keys), 4u);
    // The only b inside a word is not a word start.
    EXPECT_FALSE(match_filter(u"Tobby", u"2", keys));
    // A bracket separates words; the text is lower-cased.
    EXPECT_EQ(match_filter(u"(Anna)", u"2", keys), 1u);
    EXPECT_EQ(match_filter(u"ANNA", u"2", keys), 0u);
    // Keys in order: "23" needs a word starting with [abc][def].
    EXPECT_EQ(match_filter(u"x bed", u"23", keys), 2u);
    EXPECT_FALSE(match_filter(u"x bad", u"23", keys));
    // A filter longer than the text, or the rest of the text, does not match.
    EXPECT_FALSE(match_filter(u"ab", u"222", keys));
    EXPECT_FALSE(match_filter(u"xx a", u"22", keys));
    // The empty filter matches at 0; blanks are never a start.
    EXPECT_EQ(match_filter(u"", u"", keys), 0u);
    EXPECT_FALSE(match_filter(u"  ", u" ", KeyMap{}));
}

TEST(FilterMatch, KeysWithoutAnEntryStandForThemselves) {
    const KeyMap none;
    EXPECT_EQ(match_filter(u"call 12 May", u"12", none), 5u);
    EXPECT_FALSE(match_filter(u"call 312", u"12", none));
    EXPECT_EQ(match_filter(u"#tag", u"#", none), 0u);
    // "#" with an entry matches what it lists, here "@" after a separator.
    EXPECT_EQ(match_filter(u"mail @home", u"#", phone_keys()), 5u);
}

TEST(FilterMatch, EverySeparatorStartsAWord) {
    const std::u16string separators = u" /:-.,;!?#*_=\\|(){}[]<>~`@$%^&\"'";
    EXPECT_EQ(separators.size(), 32u);
    for (char16_t c : separators) {
        EXPECT_TRUE(is_word_separator(c));
        std::u16string text = u"x";
        text += c;
        text += u"b";
        EXPECT_EQ(match_filter(text, u"2", phone_keys()), 2u) << char(c);
    }
    EXPECT_FALSE(is_word_separator(u'a'));
    EXPECT_FALSE(is_word_separator(u'0'));
}

TEST(VisibleList, ArtistOrTitleMatchesInListOrder) {
    const std::vector<controller::RecordInfo> records{
        record(u"Bob Smith", u"Lunch"), record(u"Record", u"Shopping"),
        record(u"Record", u"(Anna) call"), record(u"Eve", u"Tobby")};
    const KeyMap keys = phone_keys();
    EXPECT_EQ(visible_records(records, u"", keys), (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(visible_records(records, u"2", keys), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(visible_records(records, u"7", keys), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(visible_records(records, u"3", keys), (std::vector<uint32_t>{3}));
    EXPECT_TRUE(visible_records(records, u"9", keys).empty());
}

TEST(VisibleList, MarkerLabelsGivenByHandMatchToo) {
    std::vector<controller::RecordInfo> records{record(u"Record", u"Lecture"),
                                                record(u"Record", u"Lunch")};
    records[0].marker_labels = u"Proof Questions";
    const KeyMap keys = phone_keys();
    // 77 = "pr" of "Proof" (a word start): only the lecture.
    EXPECT_TRUE(visible_records(records, u"9", keys).empty());
    EXPECT_EQ(visible_records(records, u"77", keys), (std::vector<uint32_t>{0}));
    LoweredRecords lowered_records;
    for (const auto& r : records)
        lowered_records.push_back(std::make_unique<const LoweredRecord>(lowered(r)));
    EXPECT_EQ(visible_records(lowered_records, u"77", keys), (std::vector<uint32_t>{0}));
}

TEST(LocationPictures, MainMemoryOrCardAndTheCallFolders) {
    const std::u16string docs = u"/home/u/Documents";
    EXPECT_EQ(location_picture_name(u"/home/u/Documents/My Quillory/a.mp3", docs), u"main_memory");
    EXPECT_EQ(location_picture_name(u"/home/u/Documents/My Quillory/Incoming/a.mp3", docs),
              u"main_memory_incoming");
    EXPECT_EQ(location_picture_name(u"/home/u/Documents/My Quillory/Outgoing/a.mp3", docs),
              u"main_memory_outgoing");
    EXPECT_EQ(location_picture_name(u"/media/card/My Quillory/a.mp3", docs), u"card");
    EXPECT_EQ(location_picture_name(u"/media/card/My Quillory/Incoming/a.mp3", docs),
              u"card_incoming");
    EXPECT_EQ(location_picture_name(u"/media/card/My Quillory/Outgoing/a.mp3", docs),
              u"card_outgoing");
    EXPECT_FALSE(lies_under(u"/x", u""));
}

TEST(MainMenus, FileMenuOffersOnlyWhatCanBeDone) {
    MainMenuState state;
    std::vector<skin::MenuItem> items;
    ASSERT_TRUE(main_menu_items(u"File", state, items));
    EXPECT_EQ(ids(items), (std::vector<std::u16string>{u"Refresh", u"Cancel"}));
    state.listed = 3;
    state.card_present = true;
    items.clear();
    main_menu_items(u"File", state, items);
    // Every listed record already on the card: no "Move".
    EXPECT_EQ(ids(items), (std::vector<std::u16string>{u"Delete", u"Refresh", u"Cancel"}));
    state.listed_in_main_memory = true;
    items.clear();
    main_menu_items(u"File", state, items);
    EXPECT_EQ(ids(items), (std::vector<std::u16string>{u"Delete", u"Move", u"Refresh", u"Cancel"}));
    state.card_present = false;
    items.clear();
    main_menu_items(u"File", state, items);
    EXPECT_EQ(ids(items), (std::vector<std::u16string>{u"Delete", u"Refresh", u"Cancel"}));
}

TEST(MainMenus, MainAndSettingsMenusFollowTheSettings) {
    MainMenuState state;
    std::vector<skin::MenuItem> items;
    ASSERT_TRUE(main_menu_items(u"MainMenu", state, items));
    EXPECT_EQ(ids(items),
              (std::vector<std::u16string>{u"Magic4Buttons", u"File", u"Settings", u"Cancel"}));
    EXPECT_EQ(items[0].template_name, u"MenuElement4Buttons");

    state.format_caption = u"Medium";
    items.clear();
    main_menu_items(u"Settings", state, items);
    EXPECT_EQ(ids(items), (std::vector<std::u16string>{u"AutoRecord", u"Speaker", u"Format",
                                                       u"Boost", u"Cancel"}));
    EXPECT_FALSE(items[0].checked);
    EXPECT_EQ(items[0].template_name, u"MenuElementUnchecked");
    EXPECT_EQ(items[2].caption, u"Medium");
    EXPECT_EQ(items[3].template_name, u"MenuElementUnchecked");

    state.auto_record = true;
    state.speaker = true;
    state.boost = u"Boost2";
    state.has_quick_record = true;
    state.has_languages = true;
    items.clear();
    main_menu_items(u"Settings", state, items);
    EXPECT_EQ(ids(items),
              (std::vector<std::u16string>{u"AutoRecord", u"Speaker", u"Format", u"Boost",
                                           u"QuickRecord", u"Language", u"Cancel"}));
    EXPECT_TRUE(items[0].checked && items[1].checked && items[3].checked);
    EXPECT_TRUE(items[0].template_name.empty());
    EXPECT_FALSE(main_menu_items(u"Delete", state, items));
}

TEST(MainMenus, FormatAndBoostCheckTheCurrentChoiceOnly) {
    MainMenuState state;
    state.format = u"Mp3High";
    state.boost = u"Boost2";
    state.cancel_caption = u"Cancel it";
    std::vector<skin::MenuItem> items;
    main_menu_items(u"Format", state, items);
    EXPECT_EQ(ids(items),
              (std::vector<std::u16string>{u"Mp3Low", u"Mp3Middle", u"Mp3High", u"Settings"}));
    EXPECT_EQ(items[3].caption, u"Cancel it");
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i].checked, i == 2);
    items.clear();
    main_menu_items(u"Boost", state, items);
    EXPECT_EQ(ids(items), (std::vector<std::u16string>{u"BoostOff", u"Boost1", u"Boost2", u"Boost3",
                                                       u"Settings"}));
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i].checked, i == 2);
    items.clear();
    boost_items(u"BoostOff", u"Cancel", u"", items);
    EXPECT_TRUE(items[0].checked);
    EXPECT_FALSE(items[1].checked || items[2].checked || items[3].checked);
    EXPECT_EQ(items.back().id, u"Cancel");
}
