#pragma once

// "FormView": plays one recording. Its details, play and pause, the position and volume knobs
// with their bars, the output level, renaming, and a menu with delete (confirmed), append, send
// and cancel. Updated on every frame step while shown. User-interface thread only.

#include "controller/document.h"
#include "controller/waveform_loader.h"
#include "foundation/timer.h"
#include "screens/dialog_owner.h"
#include "skin/button.h"
#include "skin/checkbox.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/marker_ticks.h"
#include "skin/menu.h"
#include "skin/progress.h"
#include "skin/waveform.h"

#include <memory>

namespace screens {

class FormMain;

class FormView final : public skin::Form,
                       public DialogOwner,
                       private skin::ButtonListener,
                       private foundation::TimerListener,
                       private skin::CheckboxListener,
                       public skin::MenuProvider {
public:
    FormView(skin::Properties& properties, skin::FormStack& stack, controller::Document& document,
             FormMain& main);
    ~FormView() override;

    // Refreshes the form for the Document's current record (the name button too) and shows it.
    void open_record();
    // The record's menu (rename, append, delete, send) over the form.
    void open_menu();
    void refresh(bool new_record);
    void update();
    void close();
    void play();
    void pause();
    void set_volume(double value);
    void seek_fraction(double fraction);
    // Playback from the marker (started when nothing plays).
    void play_from(double seconds);
    void jump_to_marker(size_t index);
    // To the marker before the playing position (a second back and more, so that taps go on
    // backwards) or after it; false when there is none.
    bool step_marker(bool forward);
    // Runs a menu id as the menu would.
    std::vector<skin::MenuItem> menu_items(std::u16string_view id);
    void on_document_event(controller::DocumentEvent event);
    void dialog_ok(skin::Form& dialog) override;
    void tick(double seconds) override;
    bool is_showing() const;
    skin::Button& name_button() { return *m_name; }
    // The next of the offered speeds (after the fastest, the slowest), stored.
    void cycle_speed();
    void set_skip_silence(bool on);
    // The waveform widget, when the skin has one.
    skin::Waveform* waveform() const { return m_waveform; }
    // Marker ticks on the waveform and the position bar, at these times in milliseconds.
    void set_marker_times(std::vector<int64_t> times_ms);
    // Trimming: two handles on the position bar mark the stretch to keep (at first the whole
    // record) with OK and Cancel in place of the marker buttons; a dragged handle takes the
    // playing position along so the user hears where it is. OK cuts the record to the stretch
    // (the original to the trash); what fails is said and leaves the record as it was.
    void start_trim();
    void end_trim(bool apply);
    bool trimming() const { return m_trimming; }
    // Moves a handle to a share of the record (kept at least a second from the other).
    void move_trim_handle(bool start, double fraction);

    // Keeps the title on the name button across the rebuild of the tree.
    void reload_skin(skin::Properties& properties) override;

protected:
    void reloaded() override;

private:
    void find_controls();
    // Wakes the loop for the next update while the form is shown.
    void on_timer(foundation::Timer& timer) override;
    void update_play_buttons();
    void update_listening_controls();
    // Shows the handles and OK/Cancel while trimming, the marker buttons otherwise.
    void update_trim_controls();
    // Takes what the waveform loader has made since the last look, and the played share.
    void update_waveform();
    // A press or drag on the waveform: seeks there (starts playing there when stopped).
    void seek_waveform(int32_t pen_x, bool start);
    void clicked(skin::Checkbox& checkbox, bool flag) override;
    void state_changed(skin::Checkbox&, bool) override {}
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
    skin::Button* m_play{nullptr};
    skin::Button* m_pause{nullptr};
    skin::Button* m_menu_button{nullptr};
    skin::Button* m_volume_knob{nullptr};
    skin::Button* m_position_knob{nullptr};
    skin::Progress* m_level{nullptr};
    skin::Progress* m_volume{nullptr};
    skin::Progress* m_position{nullptr};
    bool m_confirming_delete{false};
    // Optional in a skin: the waveform, the speed button and the silence switch.
    skin::Waveform* m_waveform{nullptr};
    skin::Button* m_speed{nullptr};
    skin::Checkbox* m_skip{nullptr};
    controller::WaveformLoader m_wave_loader;
    uint64_t m_wave_version{~uint64_t(0)};
    int32_t m_wave_width{-1};
    std::vector<int64_t> m_marker_times;
    // Marker buttons; null in a skin without them.
    skin::Button* m_mark_prev{nullptr};
    skin::Button* m_mark{nullptr};
    skin::Button* m_mark_next{nullptr};
    int m_renaming_marker{-1}; // the marker whose label the edit form holds
    // Marker ticks over the position bar and the trim controls; null in a skin without them.
    skin::MarkerTicks* m_ticks{nullptr};
    skin::Button* m_trim_start{nullptr};
    skin::Button* m_trim_end{nullptr};
    skin::Button* m_trim_ok{nullptr};
    skin::Button* m_trim_cancel{nullptr};
    bool m_trimming{false};
    double m_trim_from{0.0}; // the stretch kept, as shares of the record
    double m_trim_to{1.0};
};

} // namespace screens
