// The screens over a real Document and the compiled test skin, driven through their actions
// and pen taps.

#include "controller/settings.h"
#include "formats/id3_tag.h"
#include "foundation/file.h"
#include "platform/clock.h"
#include "screens/form_confirmation.h"
#include "screens/form_edit.h"
#include "screens/form_error.h"
#include "screens/form_quick_record.h"
#include "screens/form_recording.h"
#include "screens/form_view.h"
#include "screens_fixture.h"
#include "skin/text_component.h"

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace screens;
using screens_test::ids;
using Items = std::vector<std::u16string>;

namespace {

class ScreensTest : public screens_test::ScreensFixture {
protected:
    ScreensTest() {
        make_record(m_world.main_folder() / "Bob Smith.wav", 1);
        make_record(m_world.main_folder() / "Shopping list.wav", 1);
        make_record(m_world.main_folder() / "Incoming/(Anna) call.wav", 1);
        open();
    }
    std::u16string text_of(skin::Form& form, const char16_t* id) {
        return form.find_control<skin::TextComponent>(id).text();
    }
    // The error form on top with this text; closed again, back to the main form.
    void expect_error(const std::u16string& text) {
        FormError& error = m_main->error_form();
        ASSERT_EQ(m_stack.top_form(), &error);
        EXPECT_EQ(text_of(error, u"text"), text);
        error.close();
        EXPECT_EQ(m_stack.top_form(), m_main.get());
    }
};

TEST_F(ScreensTest, KeypadFilterListsWordStartsAndStopsGrowingWhenNothingIsListed) {
    ASSERT_EQ(m_main->visible().size(), 3u);
    tap(*m_main->find_child(u"btnFilter"));
    EXPECT_TRUE(m_main->filtering() && !m_main->find_child(u"btnFilter")->visible());
    m_main->place(0, 0, 240, 320);
    tap(*m_main->find_child(u"button2"));
    EXPECT_THAT(listed_titles(), ::testing::UnorderedElementsAre(u"(Anna) call", u"Bob Smith"));
    EXPECT_EQ(m_main->list().item_count(), 2);
    m_main->keypad_key(u"9");
    EXPECT_TRUE(m_main->visible().empty());
    m_main->keypad_key(u"2");
    EXPECT_EQ(m_main->filter(), u"29");
    m_main->keypad_backspace();
    m_main->keypad_backspace();
    EXPECT_TRUE(m_main->visible().size() == 3 && m_main->filtering());
    m_main->keypad_backspace();
    EXPECT_TRUE(!m_main->filtering() && m_main->find_child(u"btnFilter")->visible());
}

TEST_F(ScreensTest, DeleteAsksWithTheCountAndOnlyOkDeletesTheListedRecords) {
    m_main->open_filter();
    m_main->keypad_key(u"2");
    EXPECT_TRUE(m_main->menu_items(u"Delete").empty());
    FormConfirmation& confirm = m_main->confirmation_form();
    ASSERT_EQ(m_stack.top_form(), &confirm);
    EXPECT_EQ(text_of(confirm, u"text"), u"Delete 2 records?");
    confirm.place(0, 0, 240, 320);
    tap(*confirm.find_child(u"btnCancel"));
    EXPECT_TRUE(m_stack.top_form() == m_main.get() && m_document->records().size() == 3);

    m_main->menu_items(u"Delete");
    tap(*confirm.find_child(u"btnOk"));
    confirm.ok(); // a second tap deletes nothing more
    EXPECT_EQ(m_document->records().size(), 1u);
    // Both wait in the trash; the one not listed stays.
    for (const fs::path& kept :
         {m_world.main_folder() / "Shopping list.wav", m_world.trash() / "files/Bob Smith.wav",
          m_world.trash() / "files/(Anna) call.wav",
          m_world.trash() / "info/(Anna) call.wav.trashinfo"})
        EXPECT_TRUE(fs::exists(kept)) << kept;
    // The filter closes after the delete.
    EXPECT_TRUE(!m_main->filtering() && m_main->visible().size() == 1);
}

TEST_F(ScreensTest, MoveGoesToTheCardAndStopsWithAMessageOnFailure) {
    EXPECT_EQ(ids(m_main->menu_items(u"File")), (Items{u"Delete", u"Refresh", u"Cancel"}));
    const fs::path card = m_world.add_cards({"Card"}) / "Card/My Quillory";
    EXPECT_EQ(ids(m_main->menu_items(u"File")), (Items{u"Delete", u"Move", u"Refresh", u"Cancel"}));
    // A file where the card's folder belongs: the first move fails and the files stay.
    std::ofstream(card) << "not a folder";
    m_main->menu_items(u"Move");
    EXPECT_EQ(m_messages, (Items{u"Cannot move"}));
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "Bob Smith.wav"));
    // A fresh card: its record folder is made, and the call goes into its "Incoming".
    fs::remove(card);
    m_main->menu_items(u"Move");
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(fs::exists(card / "Bob Smith.wav") &&
                fs::exists(card / "Incoming/(Anna) call.wav"));
    EXPECT_FALSE(fs::exists(m_world.main_folder() / "Shopping list.wav"));
    for (const auto& record : m_document->records())
        EXPECT_TRUE(fs::exists(fs::path(record.path))) << fs::path(record.path);
    // Everything listed is on the card now.
    EXPECT_EQ(ids(m_main->menu_items(u"File")), (Items{u"Delete", u"Refresh", u"Cancel"}));
}

TEST_F(ScreensTest, SettingsOfferQuickRecordOnlyWhenThereAreKeysAndKeepTheirTitle) {
    auto offered = [&] {
        const auto items = ids(m_main->menu_items(u"Settings"));
        return std::count(items.begin(), items.end(), u"QuickRecord");
    };
    EXPECT_EQ(offered(), 0);
    platform::registry_write_string(platform::RegistryRoot::LocalMachine,
                                    "SOFTWARE\\Microsoft\\Shell\\Keys\\40C1", "Name", "Side");
    EXPECT_EQ(offered(), 1);
    m_main->menu_items(u"QuickRecord");
    ASSERT_EQ(m_stack.top_form(), &m_main->quick_record_form());
    ASSERT_EQ(m_main->quick_record_form().entries().size(), 1u);
    EXPECT_EQ(m_main->quick_record_form().entries()[0].name, u"Side");

    // A quality chosen, a setting flipped, a boost chosen and the way back ("Cancel") all
    // return to the settings under their title.
    skin::Menu& menu = m_main->menu();
    m_main->open_menu();
    menu.choose(u"Settings");
    const std::u16string settings = m_properties.text(u"Settings");
    EXPECT_EQ(menu.caption_text(), settings);
    menu.choose(u"Format");
    EXPECT_EQ(menu.caption_text(), m_properties.text(u"Format"));
    for (const char16_t* item :
         {u"Mp3Low", u"Speaker", u"Boost", u"Settings", u"Boost", u"Boost2"}) {
        menu.choose(item);
        EXPECT_EQ(menu.caption_text(),
                  item == std::u16string_view(u"Boost") ? m_properties.text(item) : settings);
    }
    EXPECT_TRUE(m_document->settings().format == u"Mp3Low" && m_document->settings().speaker &&
                m_document->settings().boost == u"Boost2");
    EXPECT_TRUE(m_main->menu_items(u"Exit").empty());
    EXPECT_EQ(m_quits, 1);
}

TEST_F(ScreensTest, ASettingsStoreCutShortIsSetAsideAndSaidOnceOnScreen) {
    // A crash of the file system left the store with no bytes.
    platform::registry_close();
    const fs::path database = platform::registry_database_path();
    fs::resize_file(database, 0);
    fs::last_write_time(database, fs::file_time_type::clock::now() - std::chrono::hours(1));
    m_document->load_secondary_things();
    expect_error(u"Settings were reset");
    bool kept = false;
    for (const auto& entry : fs::directory_iterator(database.parent_path()))
        kept |= entry.path().filename().string().rfind("registry.sqlite.corrupt-", 0) == 0;
    EXPECT_TRUE(kept) << "the damaged file is set aside, not overwritten";
    // Once only.
    m_document->load_secondary_things();
    EXPECT_EQ(m_stack.top_form(), m_main.get());
}

TEST_F(ScreensTest, AFullDiskAndARecordThatCannotPlayShowTheirReasons) {
    m_main->on_document_event(controller::DocumentEvent::WritingFailed, 0);
    expect_error(u"No room");
    {
        testing_support::ScopedEnv full("QUILLORY_FULL_DISK",
                                        (m_world.root() / "home/Documents").string());
        m_main->record();
    }
    EXPECT_FALSE(m_document->is_recording());
    expect_error(u"Disk full");

    // Bytes that no reader takes for audio, under a record's name.
    std::ofstream(m_world.main_folder() / "Broken.mp3") << std::string(4000, 'x');
    m_document->refresh();
    ASSERT_GE(listed_position(u"Broken"), 0);
    m_main->tap_record(listed_position(u"Broken"));
    EXPECT_FALSE(m_document->is_playing());
    expect_error(u"Cannot play");

    // A title too long for the tag's room needs a copy of the file, which the full disk cannot
    // take: closing the playback form says so over the main form.
    const fs::path tagged = m_world.main_folder() / "Tagged.mp3";
    ASSERT_EQ(testing_support::run_command({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                            "sine=duration=1", "-id3v2_version", "3", "-metadata",
                                            "title=Tagged", tagged.string()})
                  .status,
              0);
    m_document->refresh();
    m_main->tap_record(listed_position(u"Tagged"));
    FormView& view = m_main->view_form();
    ASSERT_EQ(m_stack.top_form(), &view);
    m_main->edit_form().open(view, view.name_button().caption());
    m_main->edit_form().edit().command(
        skin::Command{skin::Edit::command_text, std::u16string(1500, u't')});
    m_main->edit_form().place(0, 0, 240, 320);
    tap(*m_main->edit_form().find_child(u"btnOk"));
    {
        testing_support::ScopedEnv full("QUILLORY_FULL_DISK",
                                        (m_world.root() / "home/Documents").string());
        view.close();
    }
    expect_error(u"Disk full");
    EXPECT_TRUE(fs::exists(tagged));
}

TEST_F(ScreensTest, ADoubleTapOnRecordOrStopMakesOneRecordingThatGoesOn) {
    tap(*m_main->find_child(u"btnRecord"));
    ASSERT_TRUE(m_document->is_recording());
    FormRecording& recording = m_main->recording_form();
    ASSERT_EQ(m_stack.top_form(), &recording);
    EXPECT_EQ(recording.name_button().caption(), m_document->current().title);
    const std::u16string first = m_document->current().path;
    recording.place(0, 0, 240, 320);
    // The second tap of the double tap lands on the stop button; a second record starts
    // nothing.
    tap(*recording.find_child(u"btnClose"));
    m_main->record();
    EXPECT_TRUE(m_document->is_recording());
    EXPECT_EQ(m_document->current().path, first);
    EXPECT_EQ(m_stack.top_form(), &recording);
    EXPECT_FALSE(recording.find_child(u"btnSpeakerOn")->visible());
    EXPECT_FALSE(recording.find_child(u"btnSpeakerOff")->visible());
    for (bool paused : {true, false}) {
        recording.set_paused(paused);
        EXPECT_EQ(recording.find_child(u"btnResume")->visible(), paused);
        EXPECT_EQ(recording.find_child(u"btnPause")->visible(), !paused);
    }

    // The boost menu checks the current boost; a boost chosen lights the boost sign.
    auto boost = recording.boost_menu_items();
    EXPECT_TRUE(boost[0].checked);
    std::vector<skin::MenuItem> none;
    static_cast<skin::MenuProvider&>(recording).fill_menu(recording.boost_menu(), u"Boost2", none);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(m_document->settings().boost, u"Boost2");
    EXPECT_TRUE(recording.find_child(u"BoostOn")->visible() &&
                !recording.find_child(u"BoostOff")->visible());

    // Some audio first: a recording without any is dropped when it stops.
    ASSERT_TRUE(pump_until([&] { return m_document->recorded_seconds() >= 0.5; }));
    recording.update();
    EXPECT_NE(text_of(recording, u"frmSize"), u"");
    recording.stop();
    recording.stop();
    EXPECT_TRUE(!m_document->is_recording() && m_stack.top_form() == m_main.get());
    // The second tap of a double tap on stop lands on the record button: it starts nothing.
    m_main->record();
    EXPECT_TRUE(!m_document->is_recording() && m_main->visible().size() == 4);
}

TEST_F(ScreensTest, AppendShowsTheRecordsOwnFormatAndGoesOnFromItsLength) {
    make_record(m_world.main_folder() / "Long talk.wav", 3);
    m_document->refresh();
    m_document->set_format(u"Mp3High");
    m_main->tap_record(listed_position(u"Long talk"));
    m_main->view_form().menu_items(u"Append");
    ASSERT_TRUE(m_document->is_recording());
    FormRecording& recording = m_main->recording_form();
    ASSERT_EQ(m_stack.top_form(), &recording);
    EXPECT_EQ(text_of(recording, u"frmInfo"),
              controller::format_label(8000, 16, m_document->current().format.bit_rate));
    recording.update();
    EXPECT_EQ(text_of(recording, u"frmElapsed"), u"0:00:03");
    recording.stop();
}

// A skin reload (a language change sends one) rebuilds every form's tree: each screen finds its
// controls again and keeps what the user had there.
TEST_F(ScreensTest, SkinReloadFindsEveryControlAgainAndKeepsTitlesAndTheKeypad) {
    m_main->record();
    FormRecording& recording = m_main->recording_form();
    const std::u16string recorded = recording.name_button().caption();
    m_properties.send_reload_skin();
    EXPECT_TRUE(&recording.name_button() == recording.find_child(u"btnName") &&
                recording.name_button().caption() == recorded);
    m_document->stop();

    m_main->open_filter();
    m_main->keypad_key(u"2");
    m_main->tap_record(0);
    FormView& view = m_main->view_form();
    const std::u16string viewed = view.name_button().caption();
    ASSERT_FALSE(viewed.empty());
    m_properties.send_reload_skin();
    EXPECT_TRUE(&view.name_button() == view.find_child(u"btnName") &&
                view.name_button().caption() == viewed);
    EXPECT_TRUE(&m_main->list() == m_main->find_child(u"list") && m_main->filter() == u"2");
    EXPECT_FALSE(m_main->find_child(u"btnFilter")->visible());
    view.close();

    // The new controls answer the pen.
    m_main->place(0, 0, 240, 320);
    tap(*m_main->find_child(u"button7"));
    EXPECT_EQ(m_main->filter(), u"27");
    tap(*m_main->find_child(u"btnCloseFilter"));
    EXPECT_FALSE(m_main->filtering());
    // A reload with the keypad closed leaves it closed.
    m_properties.send_reload_skin();
    EXPECT_TRUE(!m_main->filtering() && m_main->find_child(u"btnFilter")->visible());
}

TEST_F(ScreensTest, PlaybackFormJumpsBetweenMarkersAndEditsThem) {
    // An MP3 record with two markers in its tag.
    const fs::path path = m_world.main_folder() / "Lecture.mp3";
    const fs::path coded = m_dir / "coded.mp3";
    ASSERT_EQ(
        testing_support::run_command({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                      "sine=frequency=440:duration=6", "-ac", "1", "-b:a", "32k",
                                      "-id3v2_version", "0", "-write_xing", "0", coded.string()})
            .status,
        0);
    {
        foundation::File file(path.u16string(), foundation::File::WriteNew);
        formats::Id3Tag tag;
        tag.set_text(formats::kId3Title, u"Lecture");
        ASSERT_TRUE(tag.set_markers({{300, u"Intro"}, {3000, u"Proof"}}, 6000));
        ASSERT_TRUE(tag.write(file, 0));
        const std::string audio = testing_support::read_whole_file(coded);
        ASSERT_TRUE(file.write(audio.data(), uint32_t(audio.size())));
    }
    m_document->refresh();
    m_main->tap_record(listed_position(u"Lecture"));
    FormView& view = m_main->view_form();
    ASSERT_EQ(m_document->markers().size(), 2u);
    const auto listed = view.menu_items(u"Markers");
    ASSERT_EQ(ids(listed), (Items{u"Marker:0", u"Marker:1", u"Cancel"}));
    EXPECT_EQ(listed[1].caption, u"0:00:03  Proof");
    EXPECT_EQ(ids(view.menu_items(u"Marker:1")),
              (Items{u"MarkerJump:1", u"MarkerRename:1", u"MarkerDelete:1", u"Cancel"}));
    EXPECT_TRUE(ids(view.menu_items(u"Marker:7")).empty()) << "no such marker";

    // Jump to the second, then back to the first and on again.
    view.menu_items(u"MarkerJump:1");
    ASSERT_TRUE(m_document->is_playing());
    EXPECT_NEAR(m_document->play_position(), 3.0, 0.3);
    EXPECT_TRUE(view.step_marker(false));
    EXPECT_LT(m_document->play_position(), 1.0);
    EXPECT_TRUE(view.step_marker(true));
    EXPECT_NEAR(m_document->play_position(), 3.0, 0.3);
    EXPECT_FALSE(view.step_marker(true)) << "none after the last";

    // Deleted in the file, not only on the screen.
    view.menu_items(u"MarkerDelete:0");
    foundation::File file(path.u16string(), foundation::File::Read);
    formats::Id3Tag tag;
    ASSERT_GT(tag.parse(file), 0u);
    ASSERT_EQ(tag.markers().size(), 1u);
    EXPECT_EQ(tag.markers()[0].label, u"Proof");
    EXPECT_EQ(ids(view.menu_items(u"Markers")), (Items{u"Marker:0", u"Cancel"}));

    // Deleted from its own menu once confirmed: the record goes to the trash.
    view.menu_items(u"Delete");
    m_main->confirmation_form().ok();
    EXPECT_TRUE(!fs::exists(path) && fs::exists(m_world.trash() / "files/Lecture.mp3"));
}

} // namespace
