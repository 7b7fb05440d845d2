#pragma once

// "FormRecording": shown while a recording runs. Elapsed time, time left on the storage, size,
// format, the caller or artist, the input level and the VAS threshold; pause/resume, stop,
// naming, the boost menu, the phone speaker during calls and the VAS knob. Updated on every
// frame step while shown. User-interface thread only.

#include "controller/document.h"
#include "foundation/threads.h"
#include "foundation/timer.h"
#include "screens/dialog_owner.h"
#include "screens/recording_notice.h"
#include "skin/button.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/menu.h"
#include "skin/progress.h"
#include "skin/text_component.h"
#include "skin/waveform.h"

#include <memory>

namespace screens {

class FormMain;

class FormRecording final : public skin::Form,
                            public DialogOwner,
                            private skin::ButtonListener,
                            private foundation::TimerListener,
                            public skin::MenuProvider {
public:
    FormRecording(skin::Properties& properties, skin::FormStack& stack,
                  controller::Document& document, FormMain& main);
    ~FormRecording() override;

    // Fills the form (the name button too when `new_record`) and shows it.
    void open(bool new_record);
    void fill(bool new_record);
    void update();
    void stop();
    void set_paused(bool on);
    void set_vas(double value);
    void on_document_event(controller::DocumentEvent event);
    void dialog_ok(skin::Form& dialog) override;
    void tick(double seconds) override;

    skin::Button& name_button() { return *m_name; }
    skin::Menu& boost_menu() { return *m_menu; }
    std::vector<skin::MenuItem> boost_menu_items();
    bool is_showing() const;
    RecordingNotice& notice() { return *m_notice; }

    // Keeps the title on the name button across the rebuild of the tree.
    void reload_skin(skin::Properties& properties) override;

protected:
    void reloaded() override;

private:
    void find_controls();
    // Wakes the loop for the next update while the form is shown.
    void on_timer(foundation::Timer& timer) override;
    void update_pause_buttons();
    void update_live_wave();
    void update_speaker_buttons();
    void set_text(std::u16string_view id, const std::u16string& text);
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;
    void dragged(skin::Component& button, skin::DragRecord& drag) override;
    void press_changed(skin::Component& button, const skin::ClickRecord& click) override;
    void fill_menu(skin::Menu& menu, std::u16string_view id,
                   std::vector<skin::MenuItem>& items) override;

    skin::Properties& m_properties;
    skin::FormStack& m_stack;
    controller::Document& m_document;
    FormMain& m_main;
    std::unique_ptr<skin::Menu> m_menu;
    foundation::Timer m_timer{*this};
    skin::Button* m_name{nullptr};
    std::u16string m_kept_name; // the name button's caption while the skin reloads
    skin::Button* m_close{nullptr};
    skin::Button* m_pause{nullptr};
    skin::Button* m_resume{nullptr};
    skin::Button* m_boost{nullptr};
    skin::Button* m_speaker_on{nullptr};
    skin::Button* m_speaker_off{nullptr};
    skin::Button* m_vas_knob{nullptr};
    skin::Button* m_mark{nullptr}; // null in a skin without it
    skin::Progress* m_level{nullptr};
    skin::Waveform* m_live_wave{nullptr};  // optional in a skin: the input's last seconds
    uint64_t m_live_columns{~uint64_t(0)}; // the live columns drawn
    int32_t m_live_width{0};               // the live waveform's width they were drawn at
    skin::Progress* m_vas{nullptr};
    bool m_stopping{false};
    // Since the form was shown: it replaces the main form with its stop button where the record
    // button was, so the second tap of a double tap on record must not stop the recording.
    foundation::Stopwatch m_since_open;
    std::unique_ptr<RecordingNotice> m_notice;
};

// The fraction along a bar for a knob dragged with its centre under pen_x, 0..1.
double knob_fraction(const skin::Component& knob, const skin::Component& bar, int32_t pen_x);
// Puts the knob at that fraction of the bar's length.
void place_knob(skin::Component& knob, const skin::Component& bar, double fraction);

} // namespace screens
