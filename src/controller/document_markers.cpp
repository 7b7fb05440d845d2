// The Document's markers: kept in the record's own tag as chapter frames.

#include "controller/document.h"
#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "formats/trim.h"
#include "foundation/file.h"
#include "foundation/log.h"
#include "platform/sound_player.h"

#include <algorithm>
#include <cmath>

namespace controller {

namespace {

uint32_t to_ms(double seconds) {
    return seconds > 0 ? uint32_t(std::min(std::llround(seconds * 1000), 0xFFFFFFFEll)) : 0;
}

std::vector<formats::Marker> markers_of(const std::u16string& path, uint32_t duration_ms) {
    foundation::File file(path, foundation::File::Read);
    formats::Id3Tag tag;
    if (!file.is_open() || tag.parse(file) == 0)
        return {};
    return formats::markers_within(tag.markers(), duration_ms);
}

} // namespace

uint32_t Document::recording_time_ms() const {
    return m_marker_base_ms + to_ms(recorded_seconds());
}

void Document::reload_markers() {
    m_markers.clear();
    if (m_current.path.empty())
        return;
    // A record whose length is not known keeps every marker.
    const double duration = m_current.format.duration;
    m_markers = markers_of(m_current.path, duration > 0 ? to_ms(duration) + 1000 : 0xFFFFFFFF);
}

bool Document::write_markers() {
    const uint32_t end_ms = is_recording() ? recording_time_ms() : to_ms(m_current.format.duration);
    auto change = [&](formats::Id3Tag& tag) { return tag.set_markers(m_markers, end_ms); };
    if (!is_recording()) {
        const bool written =
            formats::update_file_tag(m_current.path, change) == formats::Id3Update::Written;
        if (written)
            refresh_list_entry();
        return written;
    }
    // The writer appends to the file meanwhile: the tag is rewritten in its room, and only
    // when that is used up is the file written anew, with the writer holding it closed.
    const formats::Id3Update update =
        formats::update_file_tag(m_current.path, change, formats::Id3Growth::InPlaceOnly);
    if (update != formats::Id3Update::NoRoom)
        return update == formats::Id3Update::Written;
    foundation::log() << "Document::write_markers growing the tag\n";
    return m_writer->while_closed([&] {
        return formats::update_file_tag(m_current.path, change) == formats::Id3Update::Written;
    });
}

int Document::add_marker(std::u16string label) {
    if ((!is_recording() && !is_playing()) || m_markers.size() >= formats::kMaxMarkers)
        return -1;
    const uint32_t time_ms = is_recording() ? recording_time_ms() : to_ms(play_position());
    if (label.empty())
        label = formats::default_marker_label(m_markers.size() + 1);
    const auto at = std::upper_bound(
        m_markers.begin(), m_markers.end(), time_ms,
        [](uint32_t time, const formats::Marker& marker) { return time < marker.time_ms; });
    const int index = int(at - m_markers.begin());
    m_markers.insert(at, formats::Marker{time_ms, label});
    if (!write_markers()) {
        foundation::log() << "Document::add_marker not written\n";
        m_markers.erase(m_markers.begin() + index);
        return -1;
    }
    foundation::log() << "Document::add_marker " << int32_t(time_ms) << "\n";
    if (is_recording())
        refresh_list_entry();
    // A tick says it was set. Not while a call is recorded: the call's capture takes in what
    // the output plays.
    if (is_recording() && !m_call_recording)
        m_tick->start();
    send(DocumentEvent::MarkersChanged, index);
    return index;
}

bool Document::rename_marker(size_t index, const std::u16string& label) {
    if (is_recording() || index >= m_markers.size() || label.empty())
        return false;
    const std::u16string old = m_markers[index].label;
    m_markers[index].label = label;
    if (write_markers()) {
        send(DocumentEvent::MarkersChanged, int(index));
        return true;
    }
    m_markers[index].label = old;
    return false;
}

bool Document::remove_marker(size_t index) {
    if (is_recording() || index >= m_markers.size())
        return false;
    const formats::Marker old = m_markers[index];
    m_markers.erase(m_markers.begin() + long(index));
    if (write_markers()) {
        send(DocumentEvent::MarkersChanged, int(index));
        return true;
    }
    m_markers.insert(m_markers.begin() + long(index), old);
    return false;
}

void Document::refresh_list_entry() {
    const int index = m_records.find(m_current.path);
    if (index < 0)
        return;
    RecordInfo info;
    if (is_recording()) {
        // The file is being written: only the count changes (set markers keep their labels).
        info = m_records.items()[size_t(index)];
        info.marker_count = uint32_t(m_markers.size());
    } else {
        info = record_info(m_current.path);
    }
    m_records.update(index, info);
    send(DocumentEvent::CurrentRenamed, index);
}

formats::TrimResult Document::trim(uint32_t start_ms, uint32_t end_ms) {
    formats::TrimResult result;
    if (is_recording() || m_current.path.empty()) {
        result.reason = "the record is in use";
        return result;
    }
    stop();
    const std::u16string path = m_current.path;
    result = formats::trim_record(path, start_ms, end_ms);
    foundation::log() << "Document::trim " << int32_t(start_ms) << " " << int32_t(end_ms) << " "
                      << (result.ok ? "done" : result.reason.c_str()) << "\n";
    if (!result.ok)
        return result;
    // The record's name now holds the trimmed file: its length, markers and list entry.
    select_record(path);
    refresh_list_entry();
    send(DocumentEvent::MarkersChanged, 0);
    return result;
}

} // namespace controller
