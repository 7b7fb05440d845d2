#include "screens/form_recording.h"

#include "controller/record_storage.h"
#include "controller/settings.h"
#include "foundation/paths.h"
#include "screens/form_edit.h"
#include "screens/form_main.h"
#include "screens/screen_formats.h"
#include "screens/screen_menus.h"
#include "skin/image_component.h"

#include <algorithm>

namespace screens {

namespace {
// Between updates of the times and bars while nothing else asks for frames.
constexpr double update_interval = 0.1;
// Taps closer together than this are one double tap.
constexpr double double_tap_seconds = 0.5;
} // namespace

double knob_fraction(const skin::Component& knob, const skin::Component& bar, int32_t pen_x) {
    const int32_t travel = bar.width() - knob.width();
    if (travel <= 0)
        return 0.0;
    const int32_t left = pen_x - knob.width() / 2 - bar.x();
    return std::clamp(double(left) / double(travel), 0.0, 1.0);
}

void place_knob(skin::Component& knob, const skin::Component& bar, double fraction) {
    const int32_t travel = std::max(0, bar.width() - knob.width());
    knob.set_x_range(bar.x() + int32_t(fraction * travel + 0.5), knob.width());
}

FormRecording::FormRecording(skin::Properties& properties, skin::FormStack& stack,
                             controller::Document& document, FormMain& main)
    : skin::Form(properties), m_properties(properties), m_stack(stack), m_document(document),
      m_main(main) {
    require_form(properties, u"FormRecording");
    m_menu = std::make_unique<skin::Menu>(properties, stack, *this, u"Menu");
    find_controls();
    RecordingNotice::Hooks hooks;
    hooks.notifier = main.services().notifier;
    hooks.in_background = main.services().in_background;
    hooks.pause = [this](bool on) { set_paused(on); };
    hooks.stop = [this] { stop(); };
    m_notice = std::make_unique<RecordingNotice>(document, properties, std::move(hooks));
}

FormRecording::~FormRecording() {
    m_timer.cancel();
}

void FormRecording::on_timer(foundation::Timer&) {
    if (!is_showing() || !m_document.is_recording())
        return;
    update();
    m_timer.after(update_interval);
}

void FormRecording::find_controls() {
    find_control<skin::TextComponent>(u"frmArtist");
    find_control<skin::TextComponent>(u"frmElapsed");
    find_control<skin::TextComponent>(u"frmLeft");
    find_control<skin::TextComponent>(u"frmInfo");
    find_control<skin::TextComponent>(u"frmSize");
    m_name = &find_control<skin::Button>(u"btnName");
    m_close = &find_control<skin::Button>(u"btnClose");
    m_pause = &find_control<skin::Button>(u"btnPause");
    m_resume = &find_control<skin::Button>(u"btnResume");
    m_boost = &find_control<skin::Button>(u"btnBoost");
    m_speaker_on = &find_control<skin::Button>(u"btnSpeakerOn");
    m_speaker_off = &find_control<skin::Button>(u"btnSpeakerOff");
    m_vas_knob = &find_control<skin::Button>(u"btnVAS");
    m_level = &find_control<skin::Progress>(u"pbLevel");
    m_live_wave = dynamic_cast<skin::Waveform*>(find_child(u"liveWave"));
    m_live_columns = ~uint64_t(0);
    m_vas = &find_control<skin::Progress>(u"pbVAS");
    for (skin::Button* b :
         {m_name, m_close, m_pause, m_resume, m_boost, m_speaker_on, m_speaker_off, m_vas_knob})
        b->set_listener(this);
    m_mark = dynamic_cast<skin::Button*>(find_child(u"btnMark"));
    if (m_mark)
        m_mark->set_listener(this);
}

void FormRecording::reload_skin(skin::Properties& properties) {
    // The rebuild frees the old controls: read the caption while they still exist.
    m_kept_name = m_name ? m_name->caption() : std::u16string{};
    skin::Form::reload_skin(properties);
}

void FormRecording::reloaded() {
    find_controls();
    m_name->set_caption(m_kept_name);
    fill(false);
}

bool FormRecording::is_showing() const {
    return m_stack.contains(*this);
}

void FormRecording::set_text(std::u16string_view id, const std::u16string& text) {
    find_control<skin::TextComponent>(id).set_text(text);
}

void FormRecording::open(bool new_record) {
    if (!is_showing())
        m_since_open.restart();
    m_stopping = false;
    // The level meter on screen moves with every buffer captured.
    m_document.set_capture_lively(true);
    fill(new_record);
    if (!is_showing())
        m_stack.show_form(*this, skin::ShowAs::Normal);
    m_timer.after(update_interval);
}

void FormRecording::fill(bool new_record) {
    const controller::CurrentRecord& record = m_document.current();
    if (auto* icon = dynamic_cast<skin::ImageComponent*>(find_child(u"icon")))
        icon->set_picture(m_main.pictures().picture_for(record.path));
    set_text(u"frmArtist", record.artist);
    set_text(u"frmElapsed", format_time(record.format.duration));
    // An append goes on in the record's own format, whatever quality is set for new ones.
    set_text(u"frmInfo",
             controller::format_label(record.format.sample_rate, record.format.bits_per_sample,
                                      record.format.bit_rate));
    update_pause_buttons();
    m_boost->set_caption(m_properties.text(u"Boost"));
    if (m_mark)
        m_mark->set_caption(m_properties.text(u"Mark"));
    const bool boosted = m_document.settings().boost != u"BoostOff";
    if (auto* on = m_boost->find_child(u"BoostOn"))
        on->set_visible(boosted);
    if (auto* off = m_boost->find_child(u"BoostOff"))
        off->set_visible(!boosted);
    m_vas->set_value(m_document.vas_level());
    place_knob(*m_vas_knob, *m_vas, m_vas->value());
    update_speaker_buttons();
    if (new_record)
        m_name->set_caption(record.title);
    update();
}

void FormRecording::update() {
    const controller::CurrentRecord& record = m_document.current();
    // A new record starts at 0; an append continues from the length the record had.
    set_text(u"frmElapsed", format_time(record.format.duration + m_document.recorded_seconds()));
    const int32_t bit_rate = record.format.bit_rate;
    const std::u16string folder = record.path.substr(0, record.path.find_last_of(u'/'));
    const double free = record.path.empty() ? 0.0 : foundation::free_space(folder);
    set_text(u"frmLeft", format_time(bit_rate > 0 ? free / double(bit_rate) * 8.0 : 0.0));
    m_level->set_value(m_document.level());
    // What the recording misses is said where the eye already is: a call without its other
    // side after the caller's name, audio the sound system dropped in place of the format.
    std::u16string artist = record.artist;
    if (m_document.other_side_missing())
        artist += u" \u00b7 " + m_properties.text(u"Other_side_not_recorded");
    set_text(u"frmArtist", artist);
    const double lost = m_document.lost_seconds();
    set_text(u"frmInfo",
             lost > 0
                 ? controller::lost_audio_text(m_properties.text(u"Audio_lost"), lost)
                 : controller::format_label(record.format.sample_rate,
                                            record.format.bits_per_sample, record.format.bit_rate));
    if (m_live_wave)
        update_live_wave();
    const foundation::FileInfo info(record.path);
    set_text(u"frmSize", controller::size_text(info.exists() ? info.size() : 0));
}

// The newest column at the right edge; the columns scroll to the left as they come. Pixels are
// counted from the start of the recording, so that a column keeps its pixels as it moves: pixel
// g (from the start) shows column g * span / width, and the right edge lies at pixel
// finished * width / span.
void FormRecording::update_live_wave() {
    const uint64_t finished = m_document.live_wave_columns();
    const int32_t width = m_live_wave->width();
    if (finished == m_live_columns && width == m_live_width)
        return;
    const uint64_t span = audio::LiveWave::kColumns;
    const auto edge = [&](uint64_t columns) { return int64_t(columns * uint64_t(width) / span); };
    const bool continues = width == m_live_width && m_live_columns != ~uint64_t(0) &&
                           finished > m_live_columns && finished - m_live_columns < span;
    const int64_t moved = continues ? edge(finished) - edge(m_live_columns) : width;
    m_live_columns = finished;
    m_live_width = width;
    if (width <= 0 || moved <= 0)
        return;
    const std::vector<audio::PeakColumn> recent = m_document.live_wave();
    const uint64_t oldest = finished - recent.size();
    std::vector<skin::Waveform::Column> columns(size_t(std::min<int64_t>(moved, width)));
    const int64_t first = edge(finished) - int64_t(columns.size()); // pixel from the start
    for (size_t i = 0; i < columns.size(); ++i) {
        const int64_t g = first + int64_t(i);
        if (g < 0)
            continue;
        const uint64_t column = uint64_t(g) * span / uint64_t(width);
        if (column >= oldest && column < finished)
            columns[i] = {recent[column - oldest].peak, recent[column - oldest].rms};
    }
    if (continues)
        m_live_wave->scroll_columns(columns);
    else
        m_live_wave->set_columns(std::move(columns));
}

void FormRecording::tick(double seconds) {
    Form::tick(seconds);
    if (m_document.is_recording())
        update();
}

void FormRecording::update_pause_buttons() {
    const bool paused = m_document.is_paused();
    m_pause->set_visible(!paused);
    m_resume->set_visible(paused);
}

void FormRecording::update_speaker_buttons() {
    const bool call = m_document.is_call_recording();
    const bool speaker = m_document.settings().speaker;
    m_speaker_on->set_visible(call && !speaker);
    m_speaker_off->set_visible(call && speaker);
}

void FormRecording::stop() {
    // A second tap on the close button finds the recording already stopping.
    if (m_stopping)
        return;
    m_stopping = true;
    const std::u16string title = m_name->caption();
    m_document.stop();
    // The Document tells the screens what the rename did (CurrentRenamed, NoSpace).
    (void)m_document.rename(title);
    if (is_showing())
        m_main.show_main();
}

void FormRecording::set_paused(bool on) {
    m_document.pause(on);
    update_pause_buttons();
}

void FormRecording::set_vas(double value) {
    m_vas->set_value(value);
    m_document.set_vas_level(value);
}

std::vector<skin::MenuItem> FormRecording::boost_menu_items() {
    std::vector<skin::MenuItem> items;
    fill_menu(*m_menu, u"Boost", items);
    return items;
}

void FormRecording::fill_menu(skin::Menu&, std::u16string_view id,
                              std::vector<skin::MenuItem>& items) {
    if (id == u"Boost") {
        boost_items(m_document.settings().boost, u"Cancel", m_properties.text(u"Cancel"), items);
        return;
    }
    if (is_boost_id(id)) {
        m_document.set_boost(std::u16string(id));
        m_document.save_settings();
        fill(false);
    }
}

void FormRecording::dialog_ok(skin::Form& dialog) {
    if (auto* edit = dynamic_cast<FormEdit*>(&dialog))
        m_name->set_caption(edit->text());
}

void FormRecording::on_document_event(controller::DocumentEvent event) {
    using Code = controller::DocumentEvent;
    switch (event) {
    case Code::PauseChanged:
        update_pause_buttons();
        break;
    case Code::Stopped:
        if (is_showing() && !m_document.is_recording())
            m_main.show_main();
        break;
    case Code::CallStateChanged:
        update_speaker_buttons();
        break;
    default:
        break;
    }
}

void FormRecording::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (&button == m_close) {
        const double shown = m_since_open.elapsed(); // negative once the tick count wrapped
        if (shown >= 0 && shown < double_tap_seconds)
            return;
        stop();
    } else if (m_mark && &button == m_mark) {
        m_document.add_marker();
    } else if (&button == m_pause) {
        set_paused(true);
    } else if (&button == m_resume) {
        set_paused(false);
    } else if (&button == m_name) {
        m_main.edit_form().open(*this, m_name->caption());
    } else if (&button == m_boost) {
        m_menu->open(u"Boost");
    } else if (&button == m_speaker_on || &button == m_speaker_off) {
        m_document.apply_speaker(&button == m_speaker_on);
        m_document.save_settings();
        update_speaker_buttons();
    }
}

void FormRecording::dragged(skin::Component& button, skin::DragRecord& drag) {
    if (&button != m_vas_knob)
        return;
    set_vas(knob_fraction(*m_vas_knob, *m_vas, drag.x));
    place_knob(*m_vas_knob, *m_vas, m_vas->value());
}

void FormRecording::press_changed(skin::Component& button, const skin::ClickRecord& click) {
    if (&button == m_vas_knob && !click.flag)
        m_document.save_settings();
}

} // namespace screens
