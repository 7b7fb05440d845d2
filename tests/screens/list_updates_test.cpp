// The main form's list over a real Document as records are found, deleted, renamed and
// recorded: one row changes, the rows of the other records stay as they are.

#include "screens_fixture.h"
#include "skin/text_component.h"

namespace fs = std::filesystem;
using namespace screens;

namespace {

class ListUpdatesTest : public screens_test::ScreensFixture {
protected:
    ListUpdatesTest() {
        // Oldest first: "Bob Smith" is the newest and comes first in the list.
        make_record(m_world.main_folder() / "Shopping list.wav", 0.1, std::chrono::hours(3));
        make_record(m_world.main_folder() / "Incoming/(Anna) call.wav", 0.1, std::chrono::hours(2));
        make_record(m_world.main_folder() / "Bob Smith.wav", 0.1, std::chrono::hours(1));
    }

    // The background scan of the record folders, run to its end.
    void scan() {
        m_document->load_secondary_things();
        pump_until([&] { return !m_document->scanning(); });
    }

    std::u16string row_title(int32_t position) {
        skin::VListRow* row = m_main->list().row_of(position);
        auto* name = row ? dynamic_cast<skin::TextComponent*>(row->find_child(u"name")) : nullptr;
        return name ? name->text() : u"<no row>";
    }

    // Marks the row of a list position in a way only that row object keeps (binding a row to
    // an item does not touch it), so that a row made again in its place is told apart.
    skin::VListRow* marked_row(int32_t position) {
        skin::VListRow* row = m_main->list().row_of(position);
        if (row)
            row->find_child(u"icon")->set_visible(false);
        return row;
    }
    bool is_marked(int32_t position) {
        skin::VListRow* row = m_main->list().row_of(position);
        return row && !row->find_child(u"icon")->visible();
    }

    // Whether the row of the list position lies wholly inside the list.
    bool in_view(int32_t position) {
        skin::VList& list = m_main->list();
        skin::VListRow* row = list.row_of(position);
        return row && row->y() >= list.y() && row->y() + row->height() <= list.y() + list.height();
    }
};

TEST_F(ListUpdatesTest, ScanInsertsEachFoundRecordAsOneRow) {
    open();
    ASSERT_EQ(listed_titles(),
              (std::vector<std::u16string>{u"Bob Smith", u"(Anna) call", u"Shopping list"}));
    std::vector<skin::VListRow*> rows;
    for (int32_t i = 0; i < 3; ++i)
        rows.push_back(marked_row(i));
    ASSERT_TRUE(std::all_of(rows.begin(), rows.end(), [](auto* row) { return row != nullptr; }));

    make_record(m_world.main_folder() / "Newest note.wav");
    make_record(m_world.main_folder() / "Outgoing/Middle call.wav", 0.1, std::chrono::minutes(150));
    scan();

    EXPECT_EQ(listed_titles(),
              (std::vector<std::u16string>{u"Newest note", u"Bob Smith", u"(Anna) call",
                                           u"Middle call", u"Shopping list"}));
    EXPECT_EQ(m_main->list().item_count(), 5);
    // The rows of the records listed before are the same rows, each moved to its new place.
    EXPECT_EQ(
        std::vector({m_main->list().row_of(1), m_main->list().row_of(2), m_main->list().row_of(4)}),
        rows);
    EXPECT_TRUE(is_marked(1) && is_marked(2) && is_marked(4) && !is_marked(0));
    EXPECT_EQ(std::vector({row_title(0), row_title(3), row_title(4)}),
              (std::vector<std::u16string>{u"Newest note", u"Middle call", u"Shopping list"}));
}

TEST_F(ListUpdatesTest, WhileFilteringOnlyMatchingRecordsAreInserted) {
    open();
    m_main->open_filter();
    m_main->keypad_key(u"2");
    ASSERT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith", u"(Anna) call"}));
    make_record(m_world.main_folder() / "Carol idea.wav", 0.1, std::chrono::minutes(90));
    make_record(m_world.main_folder() / "Dora.wav", 0.1, std::chrono::minutes(30));
    make_record(m_world.main_folder() / "x Bert.wav", 0.1, std::chrono::hours(4));
    scan();
    EXPECT_EQ(m_document->records().size(), 6u);
    EXPECT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith", u"Carol idea",
                                                            u"(Anna) call", u"x Bert"}));
    EXPECT_TRUE(m_main->list().item_count() == 4 && row_title(1) == u"Carol idea");
    // Closing the filter lists everything, in Document order.
    m_main->close_filter();
    EXPECT_TRUE(m_main->visible().size() == 6 && row_title(0) == u"Dora");
}

TEST_F(ListUpdatesTest, DeletingTheCurrentRecordRemovesOnlyItsRow) {
    open();
    skin::VListRow* first = marked_row(0);
    skin::VListRow* last = marked_row(2);
    ASSERT_TRUE(m_document->select_record(m_document->records()[1].path));
    m_document->remove();
    EXPECT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith", u"Shopping list"}));
    EXPECT_EQ(m_main->list().item_count(), 2);
    EXPECT_TRUE(m_main->list().row_of(0) == first && m_main->list().row_of(1) == last);
    EXPECT_TRUE(is_marked(0) && is_marked(1) && row_title(1) == u"Shopping list");

    // With a filter, a deleted record that was not listed changes no row.
    m_main->open_filter();
    m_main->keypad_key(u"4"); // no map entry: the key is itself
    EXPECT_TRUE(m_main->visible().empty());
    m_main->keypad_backspace();
    m_main->keypad_key(u"2");
    ASSERT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith"}));
    ASSERT_TRUE(m_document->select_record(m_document->records()[1].path));
    m_document->remove();
    EXPECT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith"}));
    EXPECT_EQ(m_main->visible(), (std::vector<uint32_t>{0}));
    // Deleting the one listed record empties the filtered list.
    ASSERT_TRUE(m_document->select_record(m_document->records()[0].path));
    m_document->remove();
    EXPECT_TRUE(m_main->visible().empty() && m_main->list().item_count() == 0);
}

TEST_F(ListUpdatesTest, RenamingRefreshesTheRowOrTakesItOutOfTheFilter) {
    open();
    skin::VListRow* first = marked_row(0);
    skin::VListRow* second = marked_row(1);
    ASSERT_TRUE(m_document->select_record(m_document->records()[1].path));
    ASSERT_EQ(m_document->rename(u"Anna again"), controller::RenameOutcome::Renamed);
    EXPECT_EQ(row_title(1), u"Anna again");
    EXPECT_TRUE(m_main->list().row_of(0) == first && m_main->list().row_of(1) == second);
    EXPECT_TRUE(is_marked(0) && is_marked(1));

    m_main->open_filter();
    m_main->keypad_key(u"2");
    ASSERT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith", u"Anna again"}));
    ASSERT_EQ(m_document->rename(u"Zoe"), controller::RenameOutcome::Renamed);
    EXPECT_TRUE(listed_titles() == std::vector<std::u16string>{u"Bob Smith"} &&
                m_main->list().item_count() == 1);
    m_main->keypad_backspace();
    m_main->keypad_key(u"9");
    ASSERT_EQ(listed_titles(), (std::vector<std::u16string>{u"Zoe"}));
    ASSERT_EQ(m_document->rename(u"Wendy"), controller::RenameOutcome::Renamed); // still matches
    EXPECT_EQ(row_title(0), u"Wendy");
    m_main->keypad_backspace();
    m_main->keypad_key(u"3");
    EXPECT_TRUE(m_main->visible().empty());
    m_main->keypad_backspace();
    m_main->keypad_key(u"2");
    ASSERT_EQ(m_document->rename(u"Abe"),
              controller::RenameOutcome::Renamed); // listed again, at its place
    EXPECT_EQ(listed_titles(), (std::vector<std::u16string>{u"Bob Smith", u"Abe"}));
}

TEST_F(ListUpdatesTest, ARecordingStartedScrollsItsRowIntoView) {
    for (int i = 0; i < 40; ++i)
        make_record(m_world.main_folder() / ("Old " + std::to_string(i) + ".wav"), 0.1,
                    std::chrono::hours(10 + i));
    open();
    skin::VList& list = m_main->list();
    ASSERT_EQ(list.item_count(), 43);
    ASSERT_FALSE(in_view(30));
    // The Document's event for a record further down: the list moves so that it shows.
    m_main->on_document_event(controller::DocumentEvent::RecordingStarted, 30);
    EXPECT_TRUE(in_view(30));
    m_main->show_main();

    list.set_position(list.max_position());
    ASSERT_FALSE(in_view(0));
    m_main->open_filter();
    m_main->keypad_key(u"6");
    m_main->record();
    ASSERT_TRUE(m_document->is_recording());
    EXPECT_TRUE(!m_main->filtering() && list.item_count() == 44 && in_view(0));
    EXPECT_EQ(listed_titles().front(), m_document->current().title);
    m_document->stop();
}

} // namespace

namespace {

TEST(KeptLowerCaseTexts, ListTheSameRecordsAsLowerCasingEachTime) {
    std::vector<controller::RecordInfo> records(6);
    const char16_t* texts[][2] = {{u"Bob Smith", u"ÄRGER am Abend"},
                                  {u"", u"(Anna) call"},
                                  {u"ÉLODIE", u"x bed"},
                                  {u"Zoë", u"Straße 12"},
                                  {u"+44 20 7946", u"mail @home #tag"},
                                  {u"Ы Ж", u"Щука"}};
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].artist = texts[i][0];
        records[i].title = texts[i][1];
    }
    LoweredRecords kept;
    for (const auto& record : records)
        kept.push_back(std::make_unique<const LoweredRecord>(lowered(record)));
    KeyMap keys;
    keys.set(u'2', u"abcäàáâ");
    keys.set(u'3', u"deféè");
    keys.set(u'9', u"wxyzщы");
    keys.set(u'7', u"pqrsß");
    size_t found = 0;
    for (const std::u16string filter :
         {u"", u"2", u"3", u"9", u"7", u"22", u"#", u"4", u"9", u"32", u"77", u"1", u"@"}) {
        const auto expected = visible_records(records, filter, keys);
        EXPECT_EQ(visible_records(kept, filter, keys), expected) << filter.size();
        found += expected.size();
    }
    EXPECT_GT(found, records.size());
}

} // namespace
