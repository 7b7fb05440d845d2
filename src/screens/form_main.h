#pragma once

// "FormMain": the first screen. The list of the Document's records (location picture, artist
// and title, the typed filter highlighted), the keypad filter, the record button and the main
// menu with the file operations, the settings and the program commands. It owns the other
// screens and shows them as the Document reports recordings and playbacks.
// User-interface thread only; built once after the skin and language are loaded.

#include "controller/document.h"
#include "foundation/threads.h"
#include "foundation/timer.h"
#include "screens/dialog_owner.h"
#include "screens/keyboard_container.h"
#include "screens/location_pictures.h"
#include "screens/record_filter.h"
#include "screens/screen_menus.h"
#include "screens/screen_services.h"
#include "skin/button.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/menu.h"
#include "skin/vlist.h"

#include <memory>
#include <string>
#include <vector>

namespace screens {

class FormConfirmation;
class FormEdit;
class FormError;
class FormQuickRecord;
class FormRecording;
class FormView;

class FormMain final : public skin::Form,
                       public controller::DocumentListener,
                       public DialogOwner,
                       private skin::ButtonListener,
                       private skin::VListProvider,
                       public skin::MenuProvider,
                       private KeyboardListener,
                       private foundation::TimerListener {
public:
    static constexpr char16_t version_text[] = u"1.01";

    // Throws the skin errors of a missing form or control.
    FormMain(skin::Properties& properties, skin::FormStack& stack, controller::Document& document,
             ScreenServices services);
    ~FormMain() override;

    // Actions, as the controls run them.
    void record();
    void open_filter();
    void close_filter();
    void open_menu();
    void tap_record(int32_t position);
    void keypad_key(const std::u16string& key) override;
    void keypad_backspace() override;
    // Runs a menu id as the menu would: returns the items it fills (empty for a command).
    std::vector<skin::MenuItem> menu_items(std::u16string_view id);

    void on_document_event(controller::DocumentEvent event, int argument) override;
    void dialog_ok(skin::Form& dialog) override;

    // State for tests and the inspector.
    const std::u16string& filter() const { return m_filter; }
    const std::vector<uint32_t>& visible() const { return m_visible; }
    bool filtering() const { return m_keyboard.visible(); }
    skin::VList& list() { return *m_list; }
    skin::Menu& menu() { return *m_menu; }
    MainMenuState menu_state() const;
    const LocationPictures& pictures() const { return m_pictures; }
    const KeyMap& key_map() const { return m_keys; }
    skin::SkinColor highlight_color() const { return m_highlight; }
    controller::Document& document() { return m_document; }
    skin::FormStack& stack() { return m_stack; }
    FormRecording& recording_form() { return *m_recording; }
    FormView& view_form() { return *m_view; }
    FormEdit& edit_form() { return *m_edit; }
    FormConfirmation& confirmation_form() { return *m_confirmation; }
    FormError& error_form() { return *m_error; }
    FormError* about_form() { return m_about.get(); }
    FormQuickRecord& quick_record_form() { return *m_quick_record; }
    // Shows this form as the one screen (closing the others).
    void show_main();
    const ScreenServices& services() const { return m_services; }
    // Mails a record through the program's sender.
    void send_record(const std::u16string& path) {
        if (m_services.send_record)
            m_services.send_record(path);
    }

protected:
    void reloaded() override;

private:
    class Row;
    friend class Row;

    void find_controls();
    void rebuild_visible();
    // The Document's record list changed at one index: the visible list and the list rows
    // follow without a rebuild.
    void record_inserted(int index);
    void record_removed(int index);
    void record_changed(int index);
    bool listed_by_filter(uint32_t index);
    // The records' lowered texts, made again when they no longer follow the record list.
    const LoweredRecords& lowered_records();
    void lowered_inserted(int index);
    void lowered_removed(int index);
    void delete_listed();
    void move_listed();
    void run_command(std::u16string_view id);
    void show_about();

    void clicked(skin::Component& button, const skin::ClickRecord& click) override;
    void item_tapped(skin::VList& list, int32_t index) override;
    // A record held: its playback form with its menu open, nothing playing.
    void item_long_pressed(skin::VList& list, int32_t index) override;
    std::unique_ptr<skin::VListRow> create_row(skin::VList& list, int32_t index) override;
    void fill_menu(skin::Menu& menu, std::u16string_view id,
                   std::vector<skin::MenuItem>& items) override;

    skin::Properties& m_properties;
    skin::FormStack& m_stack;
    controller::Document& m_document;
    ScreenServices m_services;

    skin::Button* m_record{nullptr};
    skin::Button* m_filter_button{nullptr};
    skin::Button* m_close_filter{nullptr};
    skin::Button* m_menu_button{nullptr};
    skin::VList* m_list{nullptr};
    // The note over an empty list ("no records yet" or "nothing matches"); skins may omit it.
    skin::Component* m_empty_note{nullptr};
    // Looks again while the background scan runs, so an empty result is noticed.
    foundation::Timer m_empty_timer{*this};
    void update_empty_note();
    void on_timer(foundation::Timer& timer) override;
    KeyboardContainer m_keyboard;
    KeyMap m_keys;
    std::u16string m_filter;
    bool m_filter_open{false};
    std::vector<uint32_t> m_visible;
    LoweredRecords m_lowered; // empty or one per record of the Document
    skin::SkinColor m_highlight;
    LocationPictures m_pictures;

    std::unique_ptr<skin::Menu> m_menu;
    std::unique_ptr<FormEdit> m_edit;
    std::unique_ptr<FormConfirmation> m_confirmation;
    std::unique_ptr<FormError> m_error;
    std::unique_ptr<FormError> m_about; // when the skin has "FormAbout"
    std::unique_ptr<FormRecording> m_recording;
    std::unique_ptr<FormView> m_view;
    std::unique_ptr<FormQuickRecord> m_quick_record;
    bool m_confirming_delete{false};
    // Since the last recording or playback ended: the stop button lies where the record button
    // does, so the second tap of a double tap on stop must not start a new recording.
    foundation::Stopwatch m_since_stop;
    bool m_stopped{false};
};

} // namespace screens
