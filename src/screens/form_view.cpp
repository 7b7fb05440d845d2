#include "screens/form_view.h"

#include "controller/record_storage.h"
#include "controller/settings.h"
#include "formats/marker.h"
#include "foundation/number.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/timing_trace.h"
#include "screens/form_confirmation.h"
#include "screens/form_edit.h"
#include "screens/form_error.h"
#include "screens/form_main.h"
#include "screens/form_recording.h"
#include "screens/screen_formats.h"
#include "screens/screen_menus.h"
#include "skin/image_component.h"
#include "skin/text_component.h"

#include <algorithm>
#include <cmath>

namespace screens {

namespace {
// The language file's caption of one of the offered speeds: "Speed_150" reads "1.5×".
std::u16string speed_key(double speed) {
    return u"Speed_" + foundation::to_text(int32_t(std::lround(speed * 100)));
}

// Between updates of the times and bars while nothing else asks for frames.
constexpr double update_interval = 0.1;
// Between looks for new waveform columns while the waveform is being made, so that the first
// ones (or the whole waveform, from the cache) are drawn as soon as they exist.
constexpr double loading_interval = 0.01;

// The caption that says why a trim failed, from the trimming's own reason.
std::u16string_view trim_failure_key(const std::string& reason) {
    if (reason == "not enough free space on the disk")
        return u"Sorry_no_space";
    if (reason == "the file is read-only")
        return u"Trim_read_only";
    if (reason == "the start is not before the end" ||
        reason.find("shorter than one") != std::string::npos)
        return u"Trim_too_short";
    return u"Sorry_cannot_trim";
}

skin::MenuItem menu_item(std::u16string id, std::u16string caption = {}, bool enabled = true) {
    skin::MenuItem item;
    item.id = std::move(id);
    item.caption = std::move(caption);
    item.enabled = enabled;
    return item;
}
} // namespace

FormView::FormView(skin::Properties& properties, skin::FormStack& stack,
                   controller::Document& document, FormMain& main)
    : skin::Form(properties), m_properties(properties), m_stack(stack), m_document(document),
      m_main(main) {
    require_form(properties, u"FormView");
    m_menu = std::make_unique<skin::Menu>(properties, stack, *this, u"Menu");
    find_controls();
}

FormView::~FormView() {
    m_timer.cancel();
}

void FormView::on_timer(foundation::Timer&) {
    if (!is_showing())
        return;
    const bool loading = !m_wave_loader.done();
    update_waveform();
    if (!m_document.is_playing() && !loading)
        return;
    if (m_document.is_playing())
        update();
    m_timer.after(loading ? loading_interval : update_interval);
}

void FormView::find_controls() {
    for (auto id : {u"frmArtist", u"frmElapsed", u"frmLeft", u"frmInfo", u"frmSize"})
        find_control<skin::TextComponent>(id);
    m_name = &find_control<skin::Button>(u"btnName");
    m_close = &find_control<skin::Button>(u"btnClose");
    m_play = &find_control<skin::Button>(u"btnPlay");
    m_pause = &find_control<skin::Button>(u"btnPause");
    m_menu_button = &find_control<skin::Button>(u"btnMenu");
    m_volume_knob = &find_control<skin::Button>(u"btnVolume");
    m_position_knob = &find_control<skin::Button>(u"btnPosition");
    m_level = &find_control<skin::Progress>(u"pbLevel");
    m_volume = &find_control<skin::Progress>(u"pbVolume");
    m_position = &find_control<skin::Progress>(u"pbPosition");
    for (skin::Button* b :
         {m_name, m_close, m_play, m_pause, m_menu_button, m_volume_knob, m_position_knob})
        b->set_listener(this);
    m_waveform = dynamic_cast<skin::Waveform*>(find_child(u"waveform"));
    m_speed = dynamic_cast<skin::Button*>(find_child(u"btnSpeed"));
    m_skip = dynamic_cast<skin::Checkbox*>(find_child(u"chkSkipSilence"));
    for (skin::Button* b : {static_cast<skin::Button*>(m_waveform), m_speed})
        if (b)
            b->set_listener(this);
    if (m_skip) {
        m_skip->set_listener(this);
        m_skip->set_caption(m_properties.text(u"Skip_silence"));
    }
    m_wave_version = ~uint64_t(0);
    m_wave_width = -1;
    m_mark_prev = dynamic_cast<skin::Button*>(find_child(u"btnMarkPrev"));
    m_mark = dynamic_cast<skin::Button*>(find_child(u"btnMark"));
    m_mark_next = dynamic_cast<skin::Button*>(find_child(u"btnMarkNext"));
    for (skin::Button* b : {m_mark_prev, m_mark, m_mark_next})
        if (b)
            b->set_listener(this);
    m_ticks = dynamic_cast<skin::MarkerTicks*>(find_child(u"posTicks"));
    m_trim_start = dynamic_cast<skin::Button*>(find_child(u"btnTrimStart"));
    m_trim_end = dynamic_cast<skin::Button*>(find_child(u"btnTrimEnd"));
    m_trim_ok = dynamic_cast<skin::Button*>(find_child(u"btnTrimOk"));
    m_trim_cancel = dynamic_cast<skin::Button*>(find_child(u"btnTrimCancel"));
    // Trimming needs both handles and OK.
    if (!m_trim_start || !m_trim_end || !m_trim_ok)
        m_trimming = false;
    for (skin::Button* b :
         {static_cast<skin::Button*>(m_ticks), m_trim_start, m_trim_end, m_trim_ok, m_trim_cancel})
        if (b)
            b->set_listener(this);
    update_trim_controls();
}

void FormView::update_trim_controls() {
    for (skin::Button* b : {m_trim_start, m_trim_end, m_trim_ok, m_trim_cancel})
        if (b)
            b->set_visible(m_trimming);
    // The marker buttons' cells give their room to OK and Cancel.
    for (skin::Button* b : {m_mark_prev, m_mark, m_mark_next})
        if (b && b->parent())
            b->parent()->set_visible(!m_trimming);
    if (m_trimming) {
        place_knob(*m_trim_start, *m_position, m_trim_from);
        place_knob(*m_trim_end, *m_position, m_trim_to);
    }
}

void FormView::start_trim() {
    if (!m_trim_start || !m_trim_end || !m_trim_ok || m_document.is_recording() ||
        m_document.current().format.duration <= 0)
        return;
    m_trimming = true;
    m_trim_from = 0.0;
    m_trim_to = 1.0;
    update_trim_controls();
}

void FormView::move_trim_handle(bool start, double fraction) {
    const double duration = m_document.current().format.duration;
    if (!m_trimming || duration <= 0)
        return;
    const double gap = std::min(1.0, 1.0 / duration);
    if (start)
        m_trim_from = std::clamp(fraction, 0.0, std::max(0.0, m_trim_to - gap));
    else
        m_trim_to = std::clamp(fraction, std::min(1.0, m_trim_from + gap), 1.0);
    update_trim_controls();
    // The playing position follows the handle.
    const double seconds = (start ? m_trim_from : m_trim_to) * duration;
    play_from(seconds);
}

void FormView::end_trim(bool apply) {
    if (!m_trimming)
        return;
    m_trimming = false;
    update_trim_controls();
    const double duration = m_document.current().format.duration;
    if (!apply || (m_trim_from <= 0.0 && m_trim_to >= 1.0))
        return;
    const auto start_ms = uint32_t(std::llround(m_trim_from * duration * 1000));
    // The end of the record stays the end (the trimming clamps it to the record's length).
    const uint32_t end_ms =
        m_trim_to >= 1.0 ? 0xFFFFFFFFu : uint32_t(std::llround(m_trim_to * duration * 1000));
    const formats::TrimResult result = m_document.trim(start_ms, end_ms);
    if (!result.ok) {
        m_main.error_form().open(m_properties.text(trim_failure_key(result.reason)));
        return;
    }
    // The trimmed record: its length, size, markers and waveform.
    if (m_waveform)
        m_wave_loader.open(m_document.current().path);
    refresh(false);
}

void FormView::update_listening_controls() {
    if (m_speed)
        m_speed->set_caption(m_properties.text(speed_key(m_document.speed())));
    if (m_skip && m_skip->state() != (m_document.skip_silence() ? 1 : 0))
        m_skip->set_state(m_document.skip_silence() ? 1 : 0, false);
}

void FormView::cycle_speed() {
    m_document.set_speed(controller::next_speed(m_document.speed()));
    m_document.save_settings();
    update_listening_controls();
}

void FormView::set_skip_silence(bool on) {
    m_document.set_skip_silence(on);
    m_document.save_settings();
    update_listening_controls();
}

void FormView::set_marker_times(std::vector<int64_t> times_ms) {
    m_marker_times = std::move(times_ms);
    const auto duration_ms = int64_t(m_document.current().format.duration * 1000);
    if (m_waveform)
        m_waveform->set_markers(m_marker_times, duration_ms);
    if (m_ticks)
        m_ticks->set_markers(m_marker_times, duration_ms);
}

void FormView::update_waveform() {
    // The record's markers as ticks, kept in step as they are added, moved or deleted.
    std::vector<int64_t> marker_times;
    for (const formats::Marker& marker : m_document.markers())
        marker_times.push_back(marker.time_ms);
    if (marker_times != m_marker_times)
        set_marker_times(std::move(marker_times));
    if (!m_waveform)
        return;
    const double duration = m_document.current().format.duration;
    const uint64_t version = m_wave_loader.version();
    if (version != m_wave_version || m_waveform->width() != m_wave_width) {
        m_wave_version = version;
        m_wave_width = m_waveform->width();
        std::vector<skin::Waveform::Column> columns;
        for (const audio::PeakColumn& c : m_wave_loader.columns(m_wave_width, duration))
            columns.push_back({c.peak, c.rms});
        platform::timing_mark("wave", int64_t(columns.size()));
        m_waveform->set_columns(std::move(columns));
    }
    const double position = m_document.is_playing() ? m_document.play_position() : 0.0;
    m_waveform->set_played(duration > 0 ? position / duration : 0.0);
}

void FormView::seek_waveform(int32_t pen_x, bool start) {
    const double fraction = m_waveform->fraction_at(pen_x);
    if (m_document.is_playing()) {
        seek_fraction(fraction);
    } else if (start) {
        m_document.play(m_document.current().path,
                        int(fraction * m_document.current().format.duration));
        update_play_buttons();
        m_timer.after(update_interval);
    }
    place_knob(*m_position_knob, *m_position, m_position->value());
    update_waveform();
}

void FormView::clicked(skin::Checkbox& checkbox, bool) {
    if (&checkbox == m_skip)
        set_skip_silence(m_skip->state() == 0);
}

void FormView::reload_skin(skin::Properties& properties) {
    // The rebuild frees the old controls: read the caption while they still exist.
    m_kept_name = m_name ? m_name->caption() : std::u16string{};
    skin::Form::reload_skin(properties);
}

void FormView::reloaded() {
    find_controls();
    m_name->set_caption(m_kept_name);
    refresh(false);
}

bool FormView::is_showing() const {
    return m_stack.contains(*this);
}

void FormView::set_text(std::u16string_view id, const std::u16string& text) {
    find_control<skin::TextComponent>(id).set_text(text);
}

void FormView::open_record() {
    platform::timing_mark("view-open");
    if (m_trimming) {
        m_trimming = false;
        update_trim_controls();
    }
    if (m_waveform && m_wave_loader.path() != m_document.current().path)
        m_wave_loader.open(m_document.current().path);
    refresh(true);
    if (!is_showing())
        m_stack.show_form(*this, skin::ShowAs::Normal);
    // Soon, whatever the loader says now: a waveform found in the cache is often published just
    // after refresh() looked, and would otherwise wait a whole update interval to be drawn.
    m_timer.after(loading_interval);
}

void FormView::open_menu() {
    m_menu->open(u"Menu");
}

void FormView::refresh(bool new_record) {
    const controller::CurrentRecord& record = m_document.current();
    if (auto* icon = dynamic_cast<skin::ImageComponent*>(find_child(u"icon")))
        icon->set_picture(m_main.pictures().picture_for(record.path));
    set_text(u"frmArtist", record.artist);
    set_text(u"frmElapsed", format_time(0));
    set_text(u"frmLeft", format_time(record.format.duration));
    set_text(u"frmInfo",
             controller::format_label(record.format.sample_rate, record.format.bits_per_sample,
                                      record.format.bit_rate));
    const foundation::FileInfo info(record.path);
    set_text(u"frmSize", controller::size_text(info.exists() ? info.size() : 0));
    update_play_buttons();
    m_volume->set_value(m_document.volume());
    place_knob(*m_volume_knob, *m_volume, m_volume->value());
    if (m_mark)
        m_mark->set_caption(m_properties.text(u"Mark"));
    if (new_record)
        m_name->set_caption(record.title);
    update_listening_controls();
    if (m_waveform) {
        // A record changed on disk since its waveform was made (appended to) gets a new one.
        if (!new_record && m_wave_loader.done() && !record.path.empty())
            m_wave_loader.open(record.path);
        m_waveform->set_markers(m_marker_times, int64_t(record.format.duration * 1000));
    }
    if (m_ticks)
        m_ticks->set_markers(m_marker_times, int64_t(record.format.duration * 1000));
    update_waveform();
}

void FormView::update() {
    const double position = m_document.play_position();
    const double duration = m_document.current().format.duration;
    set_text(u"frmElapsed", format_time(position));
    set_text(u"frmLeft", format_time(duration - position));
    m_level->set_value(m_document.output_level());
    m_volume->set_value(m_document.volume());
    m_position->set_value(duration > 0 ? position / duration : 0.0);
    place_knob(*m_position_knob, *m_position, m_position->value());
    place_knob(*m_volume_knob, *m_volume, m_volume->value());
    if (m_trimming)
        update_trim_controls();
}

void FormView::tick(double seconds) {
    Form::tick(seconds);
    if (m_document.is_playing())
        update();
    update_waveform();
}

void FormView::update_play_buttons() {
    const bool playing = m_document.is_playing() && !m_document.is_paused();
    m_play->set_visible(!playing);
    m_pause->set_visible(playing);
}

void FormView::close() {
    const std::u16string title = m_name->caption();
    m_document.stop();
    // What the rename has to say goes over the main form.
    m_main.show_main();
    // The Document tells the screens what the rename did (CurrentRenamed, NoSpace).
    (void)m_document.rename(title);
}

void FormView::play() {
    if (m_document.is_playing())
        m_document.pause(false);
    else if (!m_document.play(m_document.current().path, 0))
        m_main.error_form().open(m_properties.text(u"Sorry_cannot_play"));
    update_play_buttons();
    m_timer.after(update_interval);
}

void FormView::pause() {
    m_document.pause(true);
    update_play_buttons();
}

void FormView::set_volume(double value) {
    m_volume->set_value(value);
    m_document.set_volume(value);
}

void FormView::seek_fraction(double fraction) {
    // Nothing to move without a player.
    if (!m_document.is_playing())
        return;
    m_position->set_value(fraction);
    m_document.seek(double(int64_t(fraction * m_document.current().format.duration)));
}

// Plays on from this time: a seek when playing (paused playing goes on), else a new start.
void FormView::play_from(double seconds) {
    if (m_document.is_playing()) {
        m_document.seek(seconds);
        if (m_document.is_paused())
            m_document.pause(false);
    } else {
        m_document.play(m_document.current().path, int(seconds));
    }
    update_play_buttons();
    m_timer.after(update_interval);
}

void FormView::jump_to_marker(size_t index) {
    const auto& markers = m_document.markers();
    if (index >= markers.size())
        return;
    const double seconds = markers[index].time_ms / 1000.0;
    play_from(seconds);
}

bool FormView::step_marker(bool forward) {
    const auto& markers = m_document.markers();
    const double position = m_document.is_playing() ? m_document.play_position() : 0.0;
    if (forward) {
        for (size_t i = 0; i < markers.size(); ++i) {
            if (markers[i].time_ms / 1000.0 > position + 0.5) {
                jump_to_marker(i);
                return true;
            }
        }
        return false;
    }
    for (size_t i = markers.size(); i-- > 0;) {
        if (markers[i].time_ms / 1000.0 < position - 1.5) {
            jump_to_marker(i);
            return true;
        }
    }
    return false;
}

std::vector<skin::MenuItem> FormView::menu_items(std::u16string_view id) {
    std::vector<skin::MenuItem> items;
    fill_menu(*m_menu, id, items);
    return items;
}

void FormView::fill_menu(skin::Menu&, std::u16string_view id, std::vector<skin::MenuItem>& items) {
    if (id == u"Menu") {
        playback_menu_items(m_properties.text(u"Delete_this"), items);
        // The record's markers and the trim, before "Cancel".
        items.insert(items.end() - 1, menu_item(u"Markers"));
        if (m_trim_start && m_trim_end && m_trim_ok)
            items.insert(items.end() - 1, menu_item(u"Trim", {}, !m_document.is_recording()));
        return;
    }
    const auto& markers = m_document.markers();
    if (id == u"Markers") {
        for (size_t i = 0; i < markers.size(); ++i) {
            const std::u16string label =
                markers[i].label.empty() ? formats::default_marker_label(i + 1) : markers[i].label;
            items.push_back(menu_item(u"Marker:" + foundation::to_text(int32_t(i)),
                                      format_time(markers[i].time_ms / 1000.0) + u"  " + label));
        }
        if (markers.empty()) {
            items.push_back(menu_item(u"No_markers", {}, false));
        }
        items.push_back(menu_item(u"Cancel"));
        return;
    }
    // A marker's own menu, and its commands.
    auto marker_index = [&](std::u16string_view prefix) -> int {
        if (id.substr(0, prefix.size()) != prefix)
            return -1;
        const auto value = foundation::parse_number<int>(id.substr(prefix.size()));
        return value && *value >= 0 && size_t(*value) < markers.size() ? *value : -1;
    };
    if (const int i = marker_index(u"Marker:"); i >= 0) {
        const std::u16string n = foundation::to_text(int32_t(i));
        items.push_back(menu_item(u"MarkerJump:" + n, m_properties.text(u"Marker_jump")));
        items.push_back(menu_item(u"MarkerRename:" + n, m_properties.text(u"Marker_rename")));
        items.push_back(menu_item(u"MarkerDelete:" + n, m_properties.text(u"Marker_delete")));
        items.push_back(menu_item(u"Cancel"));
        return;
    }
    const int jump = marker_index(u"MarkerJump:");
    const int rename = marker_index(u"MarkerRename:");
    const int remove = marker_index(u"MarkerDelete:");
    if (m_menu->is_open())
        m_menu->close();
    if (jump >= 0) {
        jump_to_marker(size_t(jump));
    } else if (rename >= 0) {
        m_renaming_marker = rename;
        m_main.edit_form().open(*this, markers[size_t(rename)].label);
    } else if (remove >= 0) {
        m_document.remove_marker(size_t(remove));
    } else if (id == u"Trim") {
        start_trim();
    } else if (id == u"Delete") {
        m_document.stop();
        update_play_buttons();
        m_confirming_delete = true;
        m_main.confirmation_form().open(*this, m_properties.text(u"Confirm_deleting_this"),
                                        m_properties.text(u"Delete_this"));
    } else if (id == u"Append") {
        if (m_document.is_recording())
            return;
        // The Document reports the append; the main form then shows the recording form.
        // A title that could not be saved is said by the Document; the append goes on.
        (void)m_document.rename(m_name->caption());
        m_document.append();
    } else if (id == u"Send") {
        m_document.stop();
        update_play_buttons();
        controller::CurrentRecord record = m_document.current();
        m_main.send_record(record.path);
    }
}

void FormView::dialog_ok(skin::Form& dialog) {
    if (auto* edit = dynamic_cast<FormEdit*>(&dialog)) {
        if (m_renaming_marker >= 0) {
            m_document.rename_marker(size_t(m_renaming_marker), edit->text());
            m_renaming_marker = -1;
            return;
        }
        m_name->set_caption(edit->text());
        return;
    }
    if (&dialog == &m_main.confirmation_form() && m_confirming_delete) {
        m_confirming_delete = false;
        m_document.remove();
        m_main.show_main();
    }
}

void FormView::on_document_event(controller::DocumentEvent event) {
    if (event == controller::DocumentEvent::Stopped && is_showing()) {
        refresh(false);
        m_level->set_value(0);
        m_position->set_value(0);
        // The knob goes back with the bar, or it would stay where the playback ended.
        place_knob(*m_position_knob, *m_position, 0.0);
    } else if (event == controller::DocumentEvent::PauseChanged && is_showing()) {
        update_play_buttons();
    }
}

void FormView::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (m_trimming && (&button == m_close || &button == m_trim_cancel))
        end_trim(false); // Esc or Cancel leaves the trim, not the form
    else if (m_trimming && &button == m_trim_ok)
        end_trim(true);
    else if (&button == m_close)
        close();
    else if (&button == m_play)
        play();
    else if (&button == m_pause)
        pause();
    else if (&button == m_menu_button)
        open_menu();
    else if (&button == m_name) {
        m_renaming_marker = -1;
        m_main.edit_form().open(*this, m_name->caption());
    } else if (m_speed && &button == m_speed)
        cycle_speed();
    else if (m_mark_prev && &button == m_mark_prev)
        step_marker(false);
    else if (m_mark_next && &button == m_mark_next)
        step_marker(true);
    else if (m_mark && &button == m_mark)
        m_document.add_marker();
}

void FormView::dragged(skin::Component& button, skin::DragRecord& drag) {
    if (&button == m_volume_knob) {
        set_volume(knob_fraction(*m_volume_knob, *m_volume, drag.x));
        place_knob(*m_volume_knob, *m_volume, m_volume->value());
    } else if (m_waveform && &button == m_waveform) {
        seek_waveform(drag.x, false);
    } else if (m_trimming && (&button == m_trim_start || &button == m_trim_end)) {
        move_trim_handle(&button == m_trim_start, knob_fraction(button, *m_position, drag.x));
    } else if (&button == m_position_knob && m_document.is_playing()) {
        seek_fraction(knob_fraction(*m_position_knob, *m_position, drag.x));
        place_knob(*m_position_knob, *m_position, m_position->value());
    }
}

void FormView::press_changed(skin::Component& button, const skin::ClickRecord& click) {
    if (m_waveform && &button == m_waveform && click.flag)
        seek_waveform(click.x, true);
    if (m_ticks && &button == m_ticks && click.flag) {
        // A tick jumps to its marker; elsewhere the bar seeks to the point.
        if (const int marker = m_ticks->tick_at(click.x, m_ticks->height()); marker >= 0) {
            jump_to_marker(size_t(marker));
        } else if (m_ticks->width() > 1) {
            const double fraction =
                std::clamp(double(click.x - m_ticks->x()) / (m_ticks->width() - 1), 0.0, 1.0);
            if (m_document.is_playing())
                seek_fraction(fraction);
            else
                m_document.play(m_document.current().path,
                                int(fraction * m_document.current().format.duration));
            update_play_buttons();
            m_timer.after(update_interval);
        }
    }
    if ((&button == m_volume_knob || &button == m_position_knob) && !click.flag)
        m_document.save_settings();
}

} // namespace screens
