#include "screens/form_main.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "localisation/languages.h"
#include "localisation/text_table.h"
#include "platform/timing_trace.h"
#include "screens/form_confirmation.h"
#include "screens/form_edit.h"
#include "screens/form_error.h"
#include "screens/form_quick_record.h"
#include "screens/form_recording.h"
#include "screens/form_view.h"
#include "skin/color_component.h"
#include "skin/font_rep.h"
#include "skin/image_component.h"
#include "skin/text_component.h"

#include <algorithm>
#include <string>

namespace screens {

namespace {

const std::u16string program_name = u"Quillory Vozir";
// Taps closer together than this are one double tap.
constexpr double double_tap_seconds = 0.5;

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// Redraws the part [from, from + length) of a one-line label in colour, over its plain text.
void draw_highlight(skin::TextComponent& text, skin::RenderSurface& target, skin::SkinPoint origin,
                    size_t from, size_t length, skin::SkinColor colour) {
    if (!text.shown() || !text.font() || text.text().empty() || text.wrap())
        return;
    skin::FontRep& font = *text.font();
    const std::u16string line = font.fitted_line(text.text(), text.width());
    if (from >= line.size())
        return;
    std::vector<skin::FontRep::CaretStop> stops;
    font.caret_stops(line, stops);
    auto x_at = [&](size_t offset) {
        int32_t x = 0;
        for (const auto& stop : stops)
            if (stop.offset <= offset)
                x = stop.x;
        return x;
    };
    const int32_t line_width = font.measure(line).width;
    int32_t left = 0;
    if (text.halign() == skin::HAlign::Center)
        left = (text.width() - line_width) / 2;
    else if (text.halign() == skin::HAlign::Right)
        left = text.width() - line_width;
    const int32_t x0 = origin.x + text.x() + left + x_at(from);
    const int32_t x1 = origin.x + text.x() + left + x_at(std::min(line.size(), from + length));
    if (x1 <= x0)
        return;
    skin::ClipScope scope(target, x0, origin.y + text.y(), x1 - x0, text.height());
    font.draw_text(target, colour, text.text(), origin.x + text.x(), origin.y + text.y(),
                   text.width(), text.height(), text.halign(), text.valign(), false);
}

} // namespace

// One row of the record list, made from the skin node "Record".
class FormMain::Row final : public skin::VListRow {
public:
    Row(skin::Properties& properties, FormMain& owner) : VListRow(properties), m_owner(owner) {
        require_form(properties, u"Record");
        find_parts();
    }

    void bind(skin::VList&, int32_t index) override {
        if (index < 0 || size_t(index) >= m_owner.m_visible.size())
            return;
        const auto& records = m_owner.m_document.records();
        const uint32_t at = m_owner.m_visible[size_t(index)];
        if (at >= records.size())
            return;
        const controller::RecordInfo& record = records[at];
        if (m_icon)
            m_icon->set_picture(m_owner.m_pictures.picture_for(record.path));
        if (m_artist)
            m_artist->set_text(record.artist);
        if (m_name)
            m_name->set_text(record.title);
        // A small count of the record's markers, when it has any.
        const bool marked = record.marker_count > 0;
        if (m_marker_icon)
            m_marker_icon->set_visible(marked);
        if (m_markers)
            m_markers->set_text(marked ? foundation::to_text(int32_t(record.marker_count))
                                       : std::u16string{});
        invalidate();
    }

    void draw(skin::RenderSurface& target, skin::SkinPoint origin) override {
        Form::draw(target, origin);
        if (m_owner.m_filter.empty())
            return;
        for (skin::TextComponent* text : {m_artist, m_name}) {
            if (!text)
                continue;
            if (auto at = match_filter(text->text(), m_owner.m_filter, m_owner.m_keys))
                draw_highlight(*text, target, origin, *at, m_owner.m_filter.size(),
                               m_owner.m_highlight);
        }
    }

protected:
    void reloaded() override { find_parts(); }

private:
    void find_parts() {
        m_icon = dynamic_cast<skin::ImageComponent*>(find_child(u"icon"));
        m_artist = dynamic_cast<skin::TextComponent*>(find_child(u"artist"));
        m_name = dynamic_cast<skin::TextComponent*>(find_child(u"name"));
        m_marker_icon = find_child(u"markerIcon");
        m_markers = dynamic_cast<skin::TextComponent*>(find_child(u"markers"));
    }

    FormMain& m_owner;
    skin::ImageComponent* m_icon{nullptr};
    skin::TextComponent* m_artist{nullptr};
    skin::TextComponent* m_name{nullptr};
    skin::Component* m_marker_icon{nullptr};
    skin::TextComponent* m_markers{nullptr};
};

FormMain::FormMain(skin::Properties& properties, skin::FormStack& stack,
                   controller::Document& document, ScreenServices services)
    : skin::Form(properties), m_properties(properties), m_stack(stack), m_document(document),
      m_services(std::move(services)), m_keyboard(*this), m_pictures(m_services.documents) {
    require_form(properties, u"FormMain");
    localisation::TextTable map;
    if (map.load(m_services.keyboard_map))
        m_keys = KeyMap(map);
    m_menu = std::make_unique<skin::Menu>(properties, stack, *this, u"Menu");
    m_edit = std::make_unique<FormEdit>(properties, stack);
    m_confirmation = std::make_unique<FormConfirmation>(properties, stack);
    m_error = std::make_unique<FormError>(properties, stack);
    if (properties.find_named_node(u"FormAbout").valid())
        m_about = std::make_unique<FormError>(properties, stack, u"FormAbout");
    m_recording = std::make_unique<FormRecording>(properties, stack, document, *this);
    m_view = std::make_unique<FormView>(properties, stack, document, *this);
    m_quick_record = std::make_unique<FormQuickRecord>(
        properties, stack,
        std::make_unique<HardwareKeys>(m_services.key_bindings ? m_services.key_bindings()
                                                               : platform::open_key_bindings()));
    find_controls();
    close_filter();
    m_document.add_listener(this);
}

FormMain::~FormMain() {
    m_document.remove_listener(this);
    if (m_list)
        m_list->set_provider(nullptr);
}

void FormMain::find_controls() {
    m_record = &find_control<skin::Button>(u"btnRecord");
    m_filter_button = &find_control<skin::Button>(u"btnFilter");
    m_close_filter = &find_control<skin::Button>(u"btnCloseFilter");
    m_menu_button = &find_control<skin::Button>(u"btnMenu");
    m_list = &find_control<skin::VList>(u"list");
    m_empty_note = find_child(u"lblEmpty");
    for (skin::Button* button : {m_record, m_filter_button, m_close_filter, m_menu_button})
        button->set_listener(this);
    m_list->set_provider(this);
    // The keypad is drawn over the list: its keys get the pen before the list does.
    remove_input_handler(*m_list);
    add_input_handler(*m_list);
    m_keyboard.find(*this);
    m_keyboard.set_captions(m_keys, m_properties.text(u"Keypad_letters", u""));
    m_highlight = skin::SkinColor{};
    if (auto* colour = dynamic_cast<skin::ColorComponent*>(find_child(u"filtered_color")))
        m_highlight = colour->color();
    else if (skin::NodeDir dir = m_properties.find_named_node(u"filtered_color"); dir.valid())
        m_highlight = m_properties.get_color(dir, u"color", skin::SkinColor{});
    m_pictures.load(m_properties, *this);
}

void FormMain::reloaded() {
    find_controls();
    // The rebuilt controls show the skin's defaults: the keypad stays as the user left it.
    const bool open = m_filter_open;
    m_filter_button->set_visible(!open);
    m_close_filter->set_visible(open);
    m_keyboard.set_visible(open);
    m_list->set_item_count(int32_t(m_visible.size()));
    update_empty_note();
}

void FormMain::show_main() {
    while (m_stack.top_form() && m_stack.top_form() != this)
        m_stack.close_form(*m_stack.top_form());
    if (!m_stack.contains(*this))
        m_stack.show_form(*this, skin::ShowAs::Normal);
}

// --- list and filter ---------------------------------------------------------------------------

void FormMain::rebuild_visible() {
    if (m_filter.empty()) {
        m_visible.resize(m_document.records().size());
        for (size_t i = 0; i < m_visible.size(); ++i)
            m_visible[i] = uint32_t(i);
    } else {
        m_visible = visible_records(lowered_records(), m_filter, m_keys);
    }
    m_list->set_item_count(int32_t(m_visible.size()));
    platform::timing_mark("list", int64_t(m_visible.size()));
    update_empty_note();
}

const LoweredRecords& FormMain::lowered_records() {
    const auto& records = m_document.records();
    if (m_lowered.size() != records.size()) {
        m_lowered.clear();
        m_lowered.reserve(records.size());
        for (const auto& record : records)
            m_lowered.push_back(std::make_unique<const LoweredRecord>(lowered(record)));
    }
    return m_lowered;
}

void FormMain::lowered_inserted(int index) {
    const auto& records = m_document.records();
    if (index >= 0 && size_t(index) < records.size() && m_lowered.size() + 1 == records.size())
        m_lowered.insert(m_lowered.begin() + index,
                         std::make_unique<const LoweredRecord>(lowered(records[size_t(index)])));
    else if (m_lowered.size() != records.size())
        m_lowered.clear();
}

void FormMain::lowered_removed(int index) {
    if (index >= 0 && size_t(index) < m_lowered.size() &&
        m_lowered.size() == m_document.records().size() + 1)
        m_lowered.erase(m_lowered.begin() + index);
    else
        m_lowered.clear();
}

bool FormMain::listed_by_filter(uint32_t index) {
    if (m_filter.empty())
        return index < m_document.records().size();
    const auto& lower = lowered_records();
    if (index >= lower.size())
        return false;
    const FilterMatcher matcher(m_filter, m_keys);
    return matcher.match_lower(lower[index]->artist) || matcher.match_lower(lower[index]->title) ||
           matcher.match_lower(lower[index]->marker_labels);
}

void FormMain::record_inserted(int index) {
    lowered_inserted(index);
    const size_t records = m_document.records().size();
    // The visible list held every record but this one; anything else means a missed change.
    if (index < 0 || size_t(index) >= records || m_visible.size() >= records ||
        (m_filter.empty() && m_visible.size() + 1 != records)) {
        rebuild_visible();
        return;
    }
    const auto at = uint32_t(index);
    for (uint32_t& entry : m_visible)
        if (entry >= at)
            ++entry;
    if (!listed_by_filter(at))
        return;
    const auto place = std::lower_bound(m_visible.begin(), m_visible.end(), at);
    const auto position = int32_t(place - m_visible.begin());
    m_visible.insert(place, at);
    m_list->insert_item(position);
    platform::timing_mark("list", int64_t(m_visible.size()));
    update_empty_note();
}

void FormMain::record_removed(int index) {
    lowered_removed(index);
    if (index < 0) {
        rebuild_visible();
        return;
    }
    const auto at = uint32_t(index);
    const auto place = std::lower_bound(m_visible.begin(), m_visible.end(), at);
    if (place != m_visible.end() && *place == at) {
        const auto position = int32_t(place - m_visible.begin());
        m_visible.erase(place);
        m_list->remove_item(position);
    }
    for (uint32_t& entry : m_visible)
        if (entry > at)
            --entry;
    if (m_visible.size() > m_document.records().size())
        rebuild_visible();
    update_empty_note();
}

void FormMain::record_changed(int index) {
    if (index < 0 || size_t(index) >= m_document.records().size()) {
        rebuild_visible();
        return;
    }
    if (m_lowered.size() == m_document.records().size())
        m_lowered[size_t(index)] =
            std::make_unique<const LoweredRecord>(lowered(m_document.records()[size_t(index)]));
    const auto at = uint32_t(index);
    const auto place = std::lower_bound(m_visible.begin(), m_visible.end(), at);
    const auto position = int32_t(place - m_visible.begin());
    const bool listed = place != m_visible.end() && *place == at;
    // A new title may match the typed filter, or no longer match it.
    const bool matches = listed_by_filter(at);
    if (listed && matches) {
        m_list->refresh_item(position);
    } else if (listed) {
        m_visible.erase(place);
        m_list->remove_item(position);
    } else if (matches) {
        m_visible.insert(place, at);
        m_list->insert_item(position);
    }
    update_empty_note();
}

void FormMain::update_empty_note() {
    if (!m_empty_note)
        return;
    const bool empty = m_visible.empty();
    // While the scan runs, an empty list may only not have been filled yet.
    const bool scanning = m_filter.empty() && m_document.scanning();
    if (empty && scanning)
        m_empty_timer.after(0.25);
    const bool shown = empty && !scanning;
    if (shown)
        m_empty_note->set_text_by_id(
            u"lblEmpty",
            m_properties.text(m_filter.empty() ? u"skin_NoRecords" : u"skin_NoMatches"));
    if (m_empty_note->visible() != shown)
        m_empty_note->set_visible(shown);
}

void FormMain::on_timer(foundation::Timer&) {
    update_empty_note();
}

void FormMain::open_filter() {
    m_filter_button->set_visible(false);
    m_close_filter->set_visible(true);
    m_keyboard.set_visible(true);
    m_filter_open = true;
}

void FormMain::close_filter() {
    m_filter_button->set_visible(true);
    m_close_filter->set_visible(false);
    m_filter.clear();
    rebuild_visible();
    m_keyboard.set_visible(false);
    m_filter_open = false;
}

void FormMain::keypad_key(const std::u16string& key) {
    // Nothing listed: a longer filter cannot list anything either.
    if (m_visible.empty())
        return;
    m_filter += key;
    rebuild_visible();
}

void FormMain::keypad_backspace() {
    if (m_filter.empty()) {
        close_filter();
        return;
    }
    m_filter.pop_back();
    rebuild_visible();
}

std::unique_ptr<skin::VListRow> FormMain::create_row(skin::VList&, int32_t) {
    return std::make_unique<Row>(m_properties, *this);
}

void FormMain::item_tapped(skin::VList&, int32_t index) {
    tap_record(index);
}

void FormMain::item_long_pressed(skin::VList&, int32_t position) {
    if (position < 0 || size_t(position) >= m_visible.size() || m_document.is_recording())
        return;
    const auto& records = m_document.records();
    const uint32_t at = m_visible[size_t(position)];
    if (at >= records.size() || !m_document.select_record(records[at].path))
        return;
    m_view->open_record();
    m_view->open_menu();
}

void FormMain::tap_record(int32_t position) {
    if (position < 0 || size_t(position) >= m_visible.size())
        return;
    const auto& records = m_document.records();
    const uint32_t at = m_visible[size_t(position)];
    if (at >= records.size() || m_document.is_recording())
        return;
    const std::u16string path = records[at].path;
    const bool playing = m_document.play(path, 0);
    // A record that can be examined but not played is still shown, for its menu.
    if (playing || m_document.select_record(path))
        m_view->open_record();
    if (!playing)
        m_error->open(m_properties.text(u"Sorry_cannot_play"));
}

// --- buttons -----------------------------------------------------------------------------------

void FormMain::record() {
    // A second tap while the first recording runs starts nothing, nor one just after a stop.
    if (m_document.is_recording())
        return;
    const double since_stop = m_since_stop.elapsed(); // negative once the tick count wrapped
    if (m_stopped && since_stop >= 0 && since_stop < double_tap_seconds)
        return;
    m_document.record(controller::RecordingKind::Note, {}, {}, telephony::CallDirection::None);
}

void FormMain::open_menu() {
    m_menu->open(u"MainMenu");
}

void FormMain::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (&button == m_record)
        record();
    else if (&button == m_filter_button)
        open_filter();
    else if (&button == m_close_filter)
        close_filter();
    else if (&button == m_menu_button)
        open_menu();
}

// --- menu --------------------------------------------------------------------------------------

MainMenuState FormMain::menu_state() const {
    MainMenuState state;
    const auto& settings = m_document.settings();
    state.listed = m_visible.size();
    state.card_present = m_document.storages().size() >= 2;
    const auto& records = m_document.records();
    for (uint32_t at : m_visible)
        if (at < records.size() && m_pictures.in_main_memory(records[at].path)) {
            state.listed_in_main_memory = true;
            break;
        }
    state.auto_record = settings.auto_record;
    state.speaker = settings.speaker;
    state.format = settings.format;
    state.boost = settings.boost;
    state.format_caption = m_properties.text(settings.format);
    state.cancel_caption = m_properties.text(u"Cancel");
    state.has_quick_record = m_quick_record->entry_count() > 0;
    state.has_languages =
        localisation::Languages(const_cast<skin::Properties&>(m_properties).texts(),
                                m_services.languages, program_name)
            .has_choice();
    return state;
}

std::vector<skin::MenuItem> FormMain::menu_items(std::u16string_view id) {
    std::vector<skin::MenuItem> items;
    fill_menu(*m_menu, id, items);
    return items;
}

void FormMain::fill_menu(skin::Menu& menu, std::u16string_view id,
                         std::vector<skin::MenuItem>& items) {
    if (main_menu_items(id, menu_state(), items))
        return;
    if (id == localisation::Languages::menu_id) {
        localisation::Languages languages(m_properties.texts(), m_services.languages, program_name);
        std::vector<localisation::MenuItem> found;
        languages.fill_menu(id, found);
        for (const auto& entry : found) {
            skin::MenuItem item;
            item.id = entry.id;
            item.caption = entry.caption;
            item.checked = entry.checked;
            items.push_back(std::move(item));
        }
        return;
    }
    const auto& settings = m_document.settings();
    if (id == u"AutoRecord" || id == u"Speaker" || is_format_id(id) || is_boost_id(id)) {
        if (id == u"AutoRecord")
            m_document.set_auto_record(!settings.auto_record);
        else if (id == u"Speaker")
            m_document.set_speaker(!settings.speaker);
        else if (is_format_id(id))
            m_document.set_format(std::u16string(id));
        else
            m_document.set_boost(std::u16string(id));
        m_document.save_settings();
        main_menu_items(u"Settings", menu_state(), items);
        menu.fill_as(u"Settings");
        return;
    }
    run_command(id);
}

void FormMain::run_command(std::u16string_view id) {
    // The menu closes after this; forms shown here go on top of the main form.
    if (m_menu->is_open())
        m_menu->close();
    if (id == u"Delete") {
        if (m_visible.empty())
            return;
        std::u16string text = m_properties.text(u"Confirm_deleting");
        const std::u16string count = ascii(std::to_string(m_visible.size()));
        if (const size_t at = text.find(u"%count%"); at != std::u16string::npos)
            text.replace(at, 7, count);
        m_confirming_delete = true;
        m_confirmation->open(*this, text);
    } else if (id == u"Refresh") {
        m_document.refresh();
    } else if (id == u"Move") {
        move_listed();
    } else if (id == u"QuickRecord") {
        m_quick_record->open();
    } else if (id == u"Minimize") {
        if (m_services.minimise)
            m_services.minimise();
    } else if (id == u"Help") {
        if (m_services.open_file)
            m_services.open_file(u"%app_path%/help/" + m_properties.text(u"Help_link"));
    } else if (id == u"About") {
        show_about();
    } else if (id == u"Exit") {
        m_document.stop();
        if (m_services.quit)
            m_services.quit();
    } else if (id.starts_with(localisation::Languages::item_prefix)) {
        localisation::Languages languages(m_properties.texts(), m_services.languages, program_name);
        if (languages.choose(id)) {
            // Every form redraws its texts from the new table.
            m_properties.send_reload_skin();
            show_main();
        }
    }
}

void FormMain::show_about() {
    std::u16string version = m_properties.text(u"About_version", u"Version %version%");
    if (const size_t at = version.find(u"%version%"); at != std::u16string::npos)
        version.replace(at, 9, version_text);
    const std::u16string name = m_properties.text(u"skin_ProgramName", program_name);
    if (m_about) {
        m_about->open(version + u"\n" + m_properties.text(u"About_text", u""));
        return;
    }
    if (m_services.message_box)
        m_services.message_box(name + u"\n" + version + u"\n\n" +
                                   m_properties.text(u"About_text", u""),
                               m_properties.text(u"About", u"About"));
}

void FormMain::dialog_ok(skin::Form& dialog) {
    if (&dialog == m_confirmation.get() && m_confirming_delete) {
        m_confirming_delete = false;
        delete_listed();
    }
}

void FormMain::delete_listed() {
    foundation::log() << "os::delete_file 3\n";
    const std::vector<uint32_t> listed = m_visible;
    for (auto it = listed.rbegin(); it != listed.rend(); ++it)
        if (m_document.delete_record(int(*it)))
            lowered_removed(int(*it));
    close_filter();
}

void FormMain::move_listed() {
    const auto storages = m_document.storages();
    if (storages.size() < 2)
        return;
    const std::u16string source = storages.front().folder;
    const std::u16string target = storages.back().folder;
    // Paths first: each move changes the record it moves, not the others' places.
    std::vector<std::u16string> paths;
    for (uint32_t at : m_visible)
        if (at < m_document.records().size() &&
            m_pictures.in_main_memory(m_document.records()[at].path))
            paths.push_back(m_document.records()[at].path);
    for (const auto& path : paths) {
        const std::u16string file = foundation::name_of(path);
        const size_t dot = file.find_last_of(u'.');
        const std::u16string stem = dot == std::u16string::npos ? file : file.substr(0, dot);
        const std::u16string extension =
            dot == std::u16string::npos ? std::u16string{} : file.substr(dot + 1);
        // A call stays filed by its direction: "Incoming" and "Outgoing" go to the card's own.
        const std::u16string folder =
            foundation::without_trailing_separator(foundation::directory_of(path));
        std::u16string target_folder = target;
        for (std::u16string_view sub : {controller::incoming_folder, controller::outgoing_folder})
            if (foundation::same_path(folder, foundation::join(source, std::u16string(sub))))
                target_folder = foundation::join(target, std::u16string(sub));
        // A fresh card has no record folder yet.
        if (!foundation::FileInfo(target_folder).is_directory())
            foundation::create_directory(target_folder);
        const std::u16string destination =
            controller::unique_record_path(stem, target_folder, extension);
        const int index = [&] {
            const auto& records = m_document.records();
            for (size_t i = 0; i < records.size(); ++i)
                if (records[i].path == path)
                    return int(i);
            return -1;
        }();
        if (index < 0 || destination.empty() || !m_document.move_record(index, destination)) {
            if (m_services.message_box)
                m_services.message_box(m_properties.text(u"Sorry_cannot_move_files"),
                                       m_properties.text(u"skin_ProgramName", program_name));
            return;
        }
    }
}

// --- Document ----------------------------------------------------------------------------------

void FormMain::on_document_event(controller::DocumentEvent event, int argument) {
    using Code = controller::DocumentEvent;
    switch (event) {
    case Code::ListRebuilt:
        m_lowered.clear();
        lowered_records();
        close_filter();
        break;
    case Code::RecordFound:
        record_inserted(argument);
        break;
    case Code::CurrentDeleted:
        record_removed(argument);
        break;
    case Code::CurrentRenamed:
        record_changed(argument);
        break;
    case Code::RecordingStarted: {
        lowered_inserted(argument);
        close_filter();
        const auto place =
            std::lower_bound(m_visible.begin(), m_visible.end(), uint32_t(std::max(0, argument)));
        if (place != m_visible.end())
            m_list->scroll_into_view(int32_t(place - m_visible.begin()));
        m_recording->open(true);
        break;
    }
    case Code::AppendStarted:
        m_recording->open(true);
        break;
    case Code::Stopped:
        m_stopped = true;
        m_since_stop.restart();
        break;
    case Code::StorageFailed:
        m_error->open(m_properties.text(u"Sorry_card_problem"));
        break;
    case Code::WritingFailed:
        m_error->open(m_properties.text(u"Sorry_no_memory"));
        break;
    case Code::BufferLimit:
        m_error->open(m_properties.text(u"Sorry_too_slow_device"));
        break;
    case Code::SoundDeviceLost:
        m_error->open(m_properties.text(u"Sorry_sound_device"));
        break;
    case Code::SettingsReset:
        m_error->open(m_properties.text(u"Sorry_settings_reset"));
        break;
    case Code::NoSpace:
        m_error->open(m_properties.text(u"Sorry_no_space"));
        break;
    case Code::RecordRemoved:
        record_removed(argument);
        break;
    default:
        break;
    }
    m_recording->on_document_event(event);
    m_view->on_document_event(event);
}

} // namespace screens
