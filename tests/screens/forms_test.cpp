// The screens over a real Document and a compiled test skin, driven through their actions.

#include "controller/controller_env.h"
#include "controller/document.h"
#include "controller/settings.h"
#include "formats/id3_tag.h"
#include "foundation/active_scheduler.h"
#include "foundation/file.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/registry_store.h"
#include "screens/form_confirmation.h"
#include "screens/form_edit.h"
#include "screens/form_error.h"
#include "screens/form_main.h"
#include "screens/form_quick_record.h"
#include "screens/form_recording.h"
#include "screens/form_view.h"
#include "screens_skin.h"
#include "skin/component_factory.h"
#include "skin/progress.h"
#include "skin/text_component.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace screens;

namespace {

std::vector<std::u16string> ids(const std::vector<skin::MenuItem>& items) {
    std::vector<std::u16string> out;
    for (const auto& item : items)
        out.push_back(item.id);
    return out;
}

class ScreensTest : public ::testing::Test {
protected:
    ScreensTest() {
        EXPECT_TRUE(screens_test::load_screens_skin(m_properties, m_dir.path()));
        m_properties.texts().assign({{u"Confirm_deleting", u"Delete %count% records?"},
                                     {u"Confirm_deleting_this", u"Delete this one?"},
                                     {u"Sorry_no_memory", u"No room"},
                                     {u"Sorry_settings_reset", u"Settings were reset"},
                                     {u"Sorry_no_space", u"Disk full"},
                                     {u"Sorry_cannot_play", u"Cannot play"},
                                     {u"Sorry_cannot_move_files", u"Cannot move"}},
                                    u"");
        std::ofstream(m_dir / "keyboard.txt") << "2=abc\n7=pqrs\n";
        m_stack.set_screen_size(240, 320);
        fs::create_directories(m_world.main_folder() / "Incoming");
        make_record(m_world.main_folder() / "Bob Smith.wav", 1);
        make_record(m_world.main_folder() / "Shopping list.wav", 1);
        make_record(m_world.main_folder() / "Incoming/(Anna) call.wav", 1);
        m_document = std::make_unique<controller::Document>();
        m_document->refresh();
        ScreenServices services;
        services.keyboard_map = (m_dir / "keyboard.txt").u16string();
        services.languages = (m_dir / "languages").u16string();
        services.message_box = [this](const std::u16string& text, const std::u16string&) {
            m_messages.push_back(text);
        };
        services.quit = [this] { ++m_quits; };
        services.key_bindings = [] { return platform::open_registry_key_bindings(); };
        m_main =
            std::make_unique<FormMain>(m_properties, m_stack, *m_document, std::move(services));
        m_stack.show_form(*m_main);
    }
    ~ScreensTest() override {
        m_main.reset();
        m_document.reset();
        skin::unregister_framework_components(skin::ComponentFactory::instance());
    }

    static void make_record(const fs::path& path, int seconds) {
        const std::string command = "sox -n -r 8000 -b 16 -c 1 '" + path.string() + "' synth " +
                                    std::to_string(seconds) + " sine 440";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // Where the list shows the record with this title; -1 when it does not.
    int32_t listed_position(std::u16string_view title) {
        const auto listed = m_main->visible();
        for (size_t i = 0; i < listed.size(); ++i)
            if (m_document->records()[listed[i]].title == title)
                return int32_t(i);
        return -1;
    }

    std::vector<std::u16string> listed_titles() {
        std::vector<std::u16string> titles;
        for (uint32_t at : m_main->visible())
            titles.push_back(m_document->records()[at].title);
        std::sort(titles.begin(), titles.end());
        return titles;
    }

    testing_support::Watchdog m_watchdog{120};
    controller_test::IsolatedWorld m_world;
    testing_support::ScopedEnv m_audio{"QUILLORY_AUDIO", "file"};
    testing_support::ScopedEnv m_input{
        "QUILLORY_AUDIO_IN", std::string(QV_SOURCE_DIR) + "/tests/data/controller/speech.wav"};
    testing_support::ScopedEnv m_output{"QUILLORY_AUDIO_OUT", ""};
    testing_support::ScopedEnv m_speed{"QUILLORY_AUDIO_SPEED", "20"};
    testing_support::TempDir m_dir;
    foundation::CActiveScheduler m_scheduler;
    skin::Properties m_properties;
    skin::FormStack m_stack;
    std::unique_ptr<controller::Document> m_document;
    std::unique_ptr<FormMain> m_main;
    std::vector<std::u16string> m_messages;
    int m_quits{0};
};

TEST_F(ScreensTest, KeypadFilterListsWordStartsAndStopsGrowingWhenNothingIsListed) {
    ASSERT_EQ(m_main->visible().size(), 3u);
    EXPECT_FALSE(m_main->filtering());
    m_main->open_filter();
    EXPECT_TRUE(m_main->filtering());
    EXPECT_FALSE(m_main->find_child(u"btnFilter")->visible());
    EXPECT_TRUE(m_main->find_child(u"btnCloseFilter")->visible());
    m_main->keypad_key(u"2");
    EXPECT_EQ(listed_titles(), (std::vector<std::u16string>{u"(Anna) call", u"Bob Smith"}));
    EXPECT_EQ(m_main->list().item_count(), 2);
    m_main->keypad_key(u"9");
    EXPECT_TRUE(m_main->visible().empty());
    m_main->keypad_key(u"2");
    EXPECT_EQ(m_main->filter(), u"29");
    m_main->keypad_backspace();
    m_main->keypad_backspace();
    EXPECT_EQ(m_main->filter(), u"");
    EXPECT_EQ(m_main->visible().size(), 3u);
    EXPECT_TRUE(m_main->filtering());
    m_main->keypad_backspace();
    EXPECT_FALSE(m_main->filtering());
    EXPECT_TRUE(m_main->find_child(u"btnFilter")->visible());
}

TEST_F(ScreensTest, DeleteAsksWithTheCountAndOnlyOkDeletesTheListedRecords) {
    m_main->open_filter();
    m_main->keypad_key(u"2");
    ASSERT_EQ(m_main->visible().size(), 2u);
    EXPECT_TRUE(m_main->menu_items(u"Delete").empty());
    FormConfirmation& confirm = m_main->confirmation_form();
    ASSERT_EQ(m_stack.top_form(), &confirm);
    EXPECT_EQ(confirm.find_control<skin::TextComponent>(u"text").text(), u"Delete 2 records?");
    confirm.cancel();
    EXPECT_EQ(m_stack.top_form(), m_main.get());
    EXPECT_EQ(m_document->records().size(), 3u);

    m_main->menu_items(u"Delete");
    confirm.ok();
    confirm.ok(); // a second tap deletes nothing more
    EXPECT_EQ(m_document->records().size(), 1u);
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "Shopping list.wav"));
    EXPECT_FALSE(fs::exists(m_world.main_folder() / "Bob Smith.wav"));
    EXPECT_FALSE(fs::exists(m_world.main_folder() / "Incoming/(Anna) call.wav"));
    // Both wait in the trash; the one still listed stays out of it.
    EXPECT_TRUE(fs::exists(m_world.trash() / "files/Bob Smith.wav"));
    EXPECT_TRUE(fs::exists(m_world.trash() / "files/(Anna) call.wav"));
    EXPECT_TRUE(fs::exists(m_world.trash() / "info/(Anna) call.wav.trashinfo"));
    EXPECT_FALSE(fs::exists(m_world.trash() / "files/Shopping list.wav"));
    // The filter closes after the delete.
    EXPECT_FALSE(m_main->filtering());
    EXPECT_EQ(m_main->visible().size(), 1u);
}

TEST_F(ScreensTest, MoveGoesToTheCardAndStopsWithAMessageOnFailure) {
    EXPECT_EQ(ids(m_main->menu_items(u"File")),
              (std::vector<std::u16string>{u"Delete", u"Refresh", u"Cancel"}));
    const fs::path media = m_world.add_cards({"Card"});
    EXPECT_EQ(ids(m_main->menu_items(u"File")),
              (std::vector<std::u16string>{u"Delete", u"Move", u"Refresh", u"Cancel"}));
    const fs::path card = media / "Card/My Quillory";
    // A file where the card's folder belongs: the first move fails and the files stay.
    std::ofstream(card) << "not a folder";
    m_main->menu_items(u"Move");
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], u"Cannot move");
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "Bob Smith.wav"));
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "Shopping list.wav"));
    // A fresh card: its record folder is made, and the call goes into its "Incoming".
    fs::remove(card);
    m_main->menu_items(u"Move");
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(fs::exists(card / "Bob Smith.wav"));
    EXPECT_TRUE(fs::exists(card / "Incoming/(Anna) call.wav"));
    EXPECT_FALSE(fs::exists(m_world.main_folder() / "Shopping list.wav"));
    for (const auto& record : m_document->records())
        EXPECT_TRUE(fs::exists(fs::path(record.path))) << fs::path(record.path);
    // Everything listed is on the card now.
    EXPECT_EQ(ids(m_main->menu_items(u"File")),
              (std::vector<std::u16string>{u"Delete", u"Refresh", u"Cancel"}));
}

TEST_F(ScreensTest, SettingsOffersQuickRecordOnlyWhenThereAreKeys) {
    auto items = ids(m_main->menu_items(u"Settings"));
    EXPECT_EQ(std::count(items.begin(), items.end(), u"QuickRecord"), 0);
    platform::registry_write_string(platform::RegistryRoot::LocalMachine,
                                    "SOFTWARE\\Microsoft\\Shell\\Keys\\40C1", "Name", "Side");
    items = ids(m_main->menu_items(u"Settings"));
    EXPECT_EQ(std::count(items.begin(), items.end(), u"QuickRecord"), 1);
    m_main->menu_items(u"QuickRecord");
    ASSERT_EQ(m_stack.top_form(), &m_main->quick_record_form());
    ASSERT_EQ(m_main->quick_record_form().entries().size(), 1u);
    EXPECT_EQ(m_main->quick_record_form().entries()[0].name, u"Side");
}

TEST_F(ScreensTest, SettingsCommandsStoreAndRefillTheSettingsMenu) {
    auto items = m_main->menu_items(u"Mp3High");
    EXPECT_EQ(m_document->settings().format, u"Mp3High");
    EXPECT_EQ(ids(items).front(), u"AutoRecord");
    items = m_main->menu_items(u"Boost3");
    EXPECT_EQ(m_document->settings().boost, u"Boost3");
    EXPECT_TRUE(items[3].checked);
    m_main->menu_items(u"Speaker");
    EXPECT_TRUE(m_document->settings().speaker);
    EXPECT_TRUE(m_main->menu_items(u"Exit").empty());
    EXPECT_EQ(m_quits, 1);
}

TEST_F(ScreensTest, TheSettingsMenuKeepsItsTitleWhenASettingChanges) {
    skin::Menu& menu = m_main->menu();
    m_main->open_menu();
    menu.choose(u"Settings");
    const std::u16string settings = m_properties.text(u"Settings");
    EXPECT_EQ(menu.caption_text(), settings);
    menu.choose(u"Format");
    EXPECT_EQ(menu.caption_text(), m_properties.text(u"Format"));
    // A quality chosen, and the way back ("Cancel"), both return to the settings.
    menu.choose(u"Mp3Low");
    EXPECT_EQ(m_document->settings().format, u"Mp3Low");
    EXPECT_EQ(menu.caption_text(), settings);
    menu.choose(u"AutoRecord");
    EXPECT_EQ(menu.caption_text(), settings);
    menu.choose(u"Boost");
    menu.choose(u"Settings");
    EXPECT_EQ(menu.caption_text(), settings);
}

TEST_F(ScreensTest, StorageErrorsShowTheirTextAndCloseBackToTheMainForm) {
    m_main->on_document_event(controller::DocumentEvent::WritingFailed, 0);
    FormError& error = m_main->error_form();
    ASSERT_EQ(m_stack.top_form(), &error);
    EXPECT_EQ(error.find_control<skin::TextComponent>(u"text").text(), u"No room");
    error.close();
    EXPECT_EQ(m_stack.top_form(), m_main.get());
}

TEST_F(ScreensTest, ASettingsStoreCutShortIsSetAsideAndSaidOnceOnScreen) {
    // A crash of the file system left the store with no bytes.
    platform::registry_close();
    const fs::path database = platform::registry_database_path();
    fs::resize_file(database, 0);
    fs::last_write_time(database, fs::file_time_type::clock::now() - std::chrono::hours(1));
    m_document->load_secondary_things();
    FormError& error = m_main->error_form();
    ASSERT_EQ(m_stack.top_form(), &error);
    EXPECT_EQ(error.find_control<skin::TextComponent>(u"text").text(), u"Settings were reset");
    error.close();
    bool kept = false;
    for (const auto& entry : fs::directory_iterator(database.parent_path()))
        kept |= entry.path().filename().string().rfind("registry.sqlite.corrupt-", 0) == 0;
    EXPECT_TRUE(kept) << "the damaged file is set aside, not overwritten";
    // Once only.
    m_document->load_secondary_things();
    EXPECT_EQ(m_stack.top_form(), m_main.get());
}

TEST_F(ScreensTest, RecordOnAFullDiskAndARecordThatCannotPlayShowTheirReasons) {
    FormError& error = m_main->error_form();
    {
        testing_support::ScopedEnv full("QUILLORY_FULL_DISK",
                                        (m_world.root() / "home/Documents").string());
        m_main->record();
    }
    EXPECT_FALSE(m_document->is_recording());
    ASSERT_EQ(m_stack.top_form(), &error);
    EXPECT_EQ(error.find_control<skin::TextComponent>(u"text").text(), u"Disk full");
    error.close();
    ASSERT_EQ(m_stack.top_form(), m_main.get());

    // Bytes that no reader takes for audio, under a record's name.
    std::ofstream(m_world.main_folder() / "Broken.mp3") << std::string(4000, 'x');
    m_document->refresh();
    const int32_t broken = listed_position(u"Broken");
    ASSERT_GE(broken, 0);
    m_main->tap_record(broken);
    EXPECT_FALSE(m_document->is_playing());
    ASSERT_EQ(m_stack.top_form(), &error);
    EXPECT_EQ(error.find_control<skin::TextComponent>(u"text").text(), u"Cannot play");
    error.close();
    EXPECT_EQ(m_stack.top_form(), m_main.get());

    // A title too long for the tag's room needs a copy of the file, which the full disk cannot
    // take: closing the playback form says so over the main form.
    const fs::path tagged = m_world.main_folder() / "Tagged.mp3";
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i sine=duration=1 -id3v2_version 3 "
                           "-metadata title=Tagged '" +
                           tagged.string() + "'")
                              .c_str()),
              0);
    m_document->refresh();
    m_main->tap_record(listed_position(u"Tagged"));
    FormView& view = m_main->view_form();
    ASSERT_EQ(m_stack.top_form(), &view);
    m_main->edit_form().open(view, view.name_button().caption());
    m_main->edit_form().edit().command(
        skin::Command{skin::Edit::command_text, std::u16string(1500, u't')});
    m_main->edit_form().ok();
    {
        testing_support::ScopedEnv full("QUILLORY_FULL_DISK",
                                        (m_world.root() / "home/Documents").string());
        view.close();
    }
    ASSERT_EQ(m_stack.top_form(), &error);
    EXPECT_EQ(error.find_control<skin::TextComponent>(u"text").text(), u"Disk full");
    EXPECT_TRUE(fs::exists(tagged));
    error.close();
    EXPECT_EQ(m_stack.top_form(), m_main.get());
}

TEST_F(ScreensTest, PlaybackFormShowsTheRecordAndDeletesOnlyAfterOk) {
    m_main->open_filter();
    m_main->keypad_key(u"7");
    ASSERT_EQ(m_main->visible().size(), 2u); // "Bob Smith" and "Shopping list"
    m_main->keypad_backspace();
    const int32_t shopping = listed_position(u"Shopping list");
    ASSERT_GE(shopping, 0);
    m_main->tap_record(shopping);
    FormView& view = m_main->view_form();
    ASSERT_EQ(m_stack.top_form(), &view);
    EXPECT_EQ(view.name_button().caption(), u"Shopping list");
    EXPECT_EQ(view.find_control<skin::TextComponent>(u"frmLeft").text(), u"0:00:01");
    EXPECT_EQ(ids(view.menu_items(u"Menu")),
              (std::vector<std::u16string>{u"Delete", u"Append", u"Send", u"Markers", u"Cancel"}));

    view.menu_items(u"Delete");
    EXPECT_FALSE(m_document->is_playing());
    m_main->confirmation_form().cancel();
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "Shopping list.wav"));
    EXPECT_EQ(m_stack.top_form(), &view);
    // Play after the end starts again; the position knob moves nothing without a player.
    view.play();
    EXPECT_TRUE(m_document->is_playing());
    view.pause();
    view.menu_items(u"Delete");
    m_main->confirmation_form().ok();
    EXPECT_FALSE(fs::exists(m_world.main_folder() / "Shopping list.wav"));
    EXPECT_EQ(m_stack.top_form(), m_main.get());
    EXPECT_EQ(m_main->visible().size(), 2u);
}

TEST_F(ScreensTest, RenameFormSelectsTheTitleAndCancelKeepsIt) {
    m_main->tap_record(0);
    FormView& view = m_main->view_form();
    const std::u16string title = view.name_button().caption();
    FormEdit& edit = m_main->edit_form();
    edit.open(view, title);
    EXPECT_EQ(edit.text(), title);
    EXPECT_TRUE(edit.edit().all_selected());
    EXPECT_TRUE(edit.edit().editing());
    edit.edit().command(skin::Command{skin::Edit::command_text, u"N"});
    EXPECT_EQ(edit.text(), u"N");
    edit.cancel();
    EXPECT_EQ(view.name_button().caption(), title);
    edit.open(view, title);
    edit.edit().command(skin::Command{skin::Edit::command_text, u"New name"});
    edit.ok();
    EXPECT_EQ(view.name_button().caption(), u"New name");
    view.close();
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "New name.wav") ||
                fs::exists(m_world.main_folder() / "Incoming/New name.wav"));
}

TEST_F(ScreensTest, RecordShowsTheRecordingFormOnceAndStopReturns) {
    m_main->record();
    ASSERT_TRUE(m_document->is_recording());
    FormRecording& recording = m_main->recording_form();
    ASSERT_EQ(m_stack.top_form(), &recording);
    EXPECT_EQ(recording.name_button().caption(), m_document->current().title);
    const std::u16string first = m_document->current().path;
    m_main->record(); // a double tap starts nothing more
    EXPECT_EQ(m_document->current().path, first);
    EXPECT_FALSE(recording.find_child(u"btnSpeakerOn")->visible());
    EXPECT_FALSE(recording.find_child(u"btnSpeakerOff")->visible());
    EXPECT_TRUE(recording.find_child(u"btnPause")->visible());
    recording.set_paused(true);
    EXPECT_TRUE(recording.find_child(u"btnResume")->visible());
    EXPECT_FALSE(recording.find_child(u"btnPause")->visible());
    recording.set_paused(false);

    auto boost = recording.boost_menu_items();
    EXPECT_EQ(ids(boost), (std::vector<std::u16string>{u"BoostOff", u"Boost1", u"Boost2", u"Boost3",
                                                       u"Cancel"}));
    EXPECT_TRUE(boost[0].checked);
    std::vector<skin::MenuItem> none;
    static_cast<skin::MenuProvider&>(recording).fill_menu(recording.boost_menu(), u"Boost2", none);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(m_document->settings().boost, u"Boost2");
    EXPECT_TRUE(recording.find_child(u"BoostOn")->visible());
    EXPECT_FALSE(recording.find_child(u"BoostOff")->visible());

    // Some audio first: a recording without any is dropped when it stops.
    for (int i = 0; i < 2000 && m_document->recorded_seconds() < 0.5; ++i) {
        platform::Message message;
        while (platform::peek_message(message))
            platform::dispatch_message(message);
        platform::wait_message(2);
    }
    recording.update();
    EXPECT_NE(recording.find_control<skin::TextComponent>(u"frmSize").text(), u"");
    recording.stop();
    recording.stop();
    EXPECT_FALSE(m_document->is_recording());
    EXPECT_EQ(m_stack.top_form(), m_main.get());
    // The second tap of a double tap on stop lands on the record button: it starts nothing.
    m_main->record();
    EXPECT_FALSE(m_document->is_recording());
    EXPECT_EQ(m_document->records().size(), 4u);
    EXPECT_EQ(m_main->visible().size(), 4u);
}

TEST_F(ScreensTest, AppendShowsTheRecordsOwnFormatAndGoesOnFromItsLength) {
    make_record(m_world.main_folder() / "Long talk.wav", 3);
    m_document->refresh();
    m_document->set_format(u"Mp3High");
    const int32_t position = listed_position(u"Long talk");
    ASSERT_GE(position, 0);
    m_main->tap_record(position);
    FormView& view = m_main->view_form();
    view.menu_items(u"Append");
    ASSERT_TRUE(m_document->is_recording());
    FormRecording& recording = m_main->recording_form();
    ASSERT_EQ(m_stack.top_form(), &recording);
    const auto& format = m_document->current().format;
    EXPECT_EQ(format.sample_rate, 8000);
    EXPECT_EQ(recording.find_control<skin::TextComponent>(u"frmInfo").text(),
              controller::format_label(8000, 16, format.bit_rate));
    // The time goes on from the 3 s already in the file.
    recording.update();
    EXPECT_EQ(recording.find_control<skin::TextComponent>(u"frmElapsed").text(), u"0:00:03");
    recording.stop();
    EXPECT_EQ(m_stack.top_form(), m_main.get());
}

TEST_F(ScreensTest, PositionKnobGoesBackToTheStartWhenPlaybackEnds) {
    m_main->tap_record(0);
    FormView& view = m_main->view_form();
    auto& knob = view.find_control<skin::Button>(u"btnPosition");
    auto& bar = view.find_control<skin::Progress>(u"pbPosition");
    view.find_control<skin::Progress>(u"pbPosition").set_value(1.0);
    place_knob(knob, bar, 1.0);
    ASSERT_GT(knob.x(), bar.x());
    m_document->stop();
    EXPECT_EQ(bar.value(), 0.0);
    EXPECT_EQ(knob.x(), bar.x());
}

} // namespace

namespace {

TEST_F(ScreensTest, ADoubleTapOnRecordOrStopMakesOneRecordingThatGoesOn) {
    m_main->place(0, 0, 240, 320);
    const auto tap = [this](skin::Component& c) {
        const int32_t x = c.x() + c.width() / 2, y = c.y() + c.height() / 2;
        m_stack.pen_button(skin::PenEvent{x, y, 0, 0, true, false});
        m_stack.pen_button(skin::PenEvent{x, y, 10, 0, false, false});
    };
    tap(*m_main->find_child(u"btnRecord"));
    ASSERT_TRUE(m_document->is_recording());
    FormRecording& recording = m_main->recording_form();
    ASSERT_EQ(m_stack.top_form(), &recording);
    recording.place(0, 0, 240, 320);
    // The second tap of the double tap lands on the stop button.
    tap(*recording.find_child(u"btnClose"));
    EXPECT_TRUE(m_document->is_recording());
    EXPECT_EQ(m_stack.top_form(), &recording);
    recording.stop();
    EXPECT_FALSE(m_document->is_recording());
}

TEST_F(ScreensTest, PenTapsReachTheFilterButtonsAndTheKeypad) {
    m_main->place(0, 0, 240, 320);
    const auto tap = [this](skin::Component& c) {
        const int32_t x = c.x() + c.width() / 2, y = c.y() + c.height() / 2;
        m_main->pen_button(skin::PenEvent{x, y, 0, 0, true, false});
        m_main->pen_button(skin::PenEvent{x, y, 10, 0, false, false});
    };
    tap(*m_main->find_child(u"btnFilter"));
    EXPECT_TRUE(m_main->filtering());
    m_main->place(0, 0, 240, 320);
    tap(*m_main->find_child(u"button2"));
    EXPECT_EQ(m_main->filter(), u"2");
    tap(*m_main->find_child(u"btnCloseFilter"));
    EXPECT_FALSE(m_main->filtering());
}

} // namespace

namespace {

// A skin reload (a language change sends one) rebuilds every form's tree: each screen finds its
// controls again and keeps what the user had there.
TEST_F(ScreensTest, SkinReloadFindsEveryControlAgainAndKeepsTitlesAndTheKeypad) {
    m_main->open_filter();
    m_main->keypad_key(u"2");
    m_main->tap_record(0);
    FormView& view = m_main->view_form();
    const std::u16string viewed = view.name_button().caption();
    ASSERT_FALSE(viewed.empty());

    m_properties.send_reload_skin();
    EXPECT_EQ(&view.name_button(), view.find_child(u"btnName"));
    EXPECT_EQ(view.name_button().caption(), viewed);
    EXPECT_EQ(&m_main->list(), m_main->find_child(u"list"));
    EXPECT_TRUE(m_main->filtering());
    EXPECT_EQ(m_main->filter(), u"2");
    EXPECT_FALSE(m_main->find_child(u"btnFilter")->visible());
    EXPECT_TRUE(m_main->find_child(u"btnCloseFilter")->visible());
    view.close();

    // The new controls answer the pen.
    m_main->place(0, 0, 240, 320);
    const auto tap = [this](skin::Component& c) {
        const int32_t x = c.x() + c.width() / 2, y = c.y() + c.height() / 2;
        m_main->pen_button(skin::PenEvent{x, y, 0, 0, true, false});
        m_main->pen_button(skin::PenEvent{x, y, 10, 0, false, false});
    };
    tap(*m_main->find_child(u"button7"));
    EXPECT_EQ(m_main->filter(), u"27");
    tap(*m_main->find_child(u"btnCloseFilter"));
    EXPECT_FALSE(m_main->filtering());

    // A reload with the keypad closed leaves it closed.
    m_properties.send_reload_skin();
    EXPECT_FALSE(m_main->filtering());
    EXPECT_TRUE(m_main->find_child(u"btnFilter")->visible());

    // The recording form keeps the title being recorded (a tap right after the playback's
    // stop counts as a double tap and is ignored).
    platform::sleep_ms(600);
    m_main->record();
    ASSERT_TRUE(m_document->is_recording());
    FormRecording& recording = m_main->recording_form();
    const std::u16string recorded = recording.name_button().caption();
    m_properties.send_reload_skin();
    EXPECT_EQ(&recording.name_button(), recording.find_child(u"btnName"));
    EXPECT_EQ(recording.name_button().caption(), recorded);
    m_document->stop();
}

} // namespace

TEST_F(ScreensTest, PlaybackFormJumpsBetweenMarkersAndEditsThem) {
    // An MP3 record with two markers in its tag.
    const fs::path path = m_world.main_folder() / "Lecture.mp3";
    const fs::path coded = m_dir / "coded.mp3";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=6 "
                           "-ac 1 -b:a 32k -id3v2_version 0 -write_xing 0 '" +
                           coded.string() + "'")
                              .c_str()),
              0);
    {
        foundation::File file(path.u16string(), foundation::File::WriteNew);
        formats::Id3Tag tag;
        tag.set_text(formats::kId3Title, u"Lecture");
        ASSERT_TRUE(tag.set_markers({{300, u"Intro"}, {3000, u"Proof"}}, 6000));
        ASSERT_TRUE(tag.write(file, 0));
        std::ifstream in(coded, std::ios::binary);
        const std::string audio(std::istreambuf_iterator<char>(in), {});
        ASSERT_TRUE(file.write(audio.data(), uint32_t(audio.size())));
    }
    m_document->refresh();
    const int32_t row = listed_position(u"Lecture");
    ASSERT_GE(row, 0);
    m_main->tap_record(row);
    FormView& view = m_main->view_form();
    ASSERT_EQ(m_document->markers().size(), 2u);

    const auto listed = view.menu_items(u"Markers");
    ASSERT_EQ(ids(listed), (std::vector<std::u16string>{u"Marker:0", u"Marker:1", u"Cancel"}));
    EXPECT_EQ(listed[1].caption, u"0:00:03  Proof");
    EXPECT_EQ(ids(view.menu_items(u"Marker:1")),
              (std::vector<std::u16string>{u"MarkerJump:1", u"MarkerRename:1", u"MarkerDelete:1",
                                           u"Cancel"}));
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
    EXPECT_EQ(ids(view.menu_items(u"Markers")),
              (std::vector<std::u16string>{u"Marker:0", u"Cancel"}));
}
