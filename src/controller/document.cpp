#include "controller/document.h"

#include "controller/peak_cache.h"
#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "formats/wave_file.h"
#include "foundation/date_time.h"
#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/sound_player.h"
#include "platform/timing_trace.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace controller {

namespace {

// Milliseconds in each of the player's buffers: six of them queue 90 ms.
constexpr int listening_buffer_ms = 15;

// The check while a recording or playback runs (or a cue is heard).
constexpr double check_seconds = 0.2;
// The check while nothing runs: files, calls and the speaker are told as they change, and only
// the storage list (a card put in or taken out) and folders still to appear need a look.
constexpr double idle_check_seconds = 2.0;
// Between two looks at the storage list for the folders to watch.
constexpr uint32_t storage_look_ms = 2000;
// The longest the UI thread spends on files changed by others before it draws again.
constexpr std::chrono::milliseconds change_step_budget{8};
// Room a new recording's tag keeps for the markers set while it records (each takes about 60
// bytes), so that they are written in place.
constexpr uint32_t recording_tag_room = 8192;
const char16_t start_beep[] = u"%app_path%/Voicbeep.wav";
const char16_t end_beep[] = u"%app_path%/RecEnd.wav";
const char16_t marker_tick[] = u"%app_path%/MarkTick.wav";
const std::u16string call_notification_name = std::u16string(application_name) + u".Call";

void play_beep(const char16_t* path) {
    platform::play_sound_and_wait(foundation::expand(path));
}

std::u16string two_digits(int value) {
    std::u16string text = foundation::to_text(int32_t(value % 100));
    return text.size() < 2 ? u"0" + text : text;
}

std::u16string extension_of(const std::u16string& path) {
    std::u16string name = foundation::name_of(path);
    auto dot = name.rfind(u'.');
    return dot == std::u16string::npos ? std::u16string() : name.substr(dot + 1);
}

class RecordCollector : public foundation::FileSink {
public:
    std::vector<RecordInfo> records;
    bool on_file(const std::u16string& path) override {
        if (has_record_extension(foundation::name_of(path))) {
            RecordInfo info = record_info(path);
            if (is_record(info))
                records.push_back(std::move(info));
        }
        return true;
    }
    bool on_directory(const std::u16string&) override { return true; }
};

} // namespace

Document::Document()
    : m_tick(std::make_unique<platform::SoundCue>(foundation::expand(marker_tick))),
      m_timer(*this) {
    // The beeps and the file sound devices read and write WAV through the one WAV coding.
    formats::use_wave_files();
    m_call_monitor = std::make_unique<telephony::CallMonitorImpl>(this);
    m_scanner.reset(
        new foundation::DirectoryScanner(static_cast<foundation::DirectorySink&>(*this)));
    audio::connect(m_boost_stage.output(), &m_live_wave);
    audio::connect(m_live_wave.output(), &m_level_meter);
    audio::connect(m_duration_counter.output(), &m_record_peaks);
    audio::connect(m_record_peaks.output(), &m_active_buffer);
    // Playback goes through the listening stage; short device buffers let a change of speed
    // be heard at once.
    audio::connect(m_listening.output(), &m_player);
    m_player.set_buffer_ms(listening_buffer_ms);
    fill_format(m_current.format);
    m_call_monitor->set_after_look([this] { look_at_phone(); });
    m_watch.set_change_handler([this] {
        if (m_watching)
            apply_folder_changes();
    });
    load_first_things();
    m_timer.after(check_seconds);
}

Document::~Document() {
    stop();
    m_timer.cancel();
    m_changes_timer.cancel();
    m_scanner.reset();
    m_call_monitor.reset();
    audio::connect(m_boost_stage.output(), nullptr);
    audio::connect(m_live_wave.output(), nullptr);
    audio::connect(m_level_meter.output(), nullptr);
    audio::connect(m_duration_counter.output(), nullptr);
    audio::connect(m_record_peaks.output(), nullptr);
    audio::connect(m_listening.output(), nullptr);
}

void Document::add_listener(DocumentListener* listener) {
    if (listener &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void Document::remove_listener(DocumentListener* listener) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

void Document::send(DocumentEvent event, int argument) {
    // A listener may add or remove listeners while the event is delivered.
    const auto listeners = m_listeners;
    for (DocumentListener* listener : listeners)
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->on_document_event(event, argument);
}

void Document::fill_format(audio::AudioFormat& format) const {
    const Quality quality = quality_for(m_settings.format);
    format.codec = audio::kCodecMp3;
    format.channels = 1;
    format.bits_per_sample = 16;
    format.sample_rate = quality.sample_rate;
    format.bit_rate = quality.bit_rate;
    format.duration = 0;
}

// --- settings ---------------------------------------------------------------------------------

void Document::load_first_things() {
    foundation::TickCounter ticks;
    m_settings.load_first();
    m_boost_stage.set_gain(boost_gain_for(m_settings.boost));
    m_level_meter.set_threshold(m_settings.vas_level);
    foundation::log() << "load_first_things:" << ticks.lap() << "\n";
}

void Document::load_secondary_things() {
    foundation::TickCounter ticks;
    m_settings.load_secondary();
    // Said once, now that the screens listen.
    if (foundation::take_store_reset())
        send(DocumentEvent::SettingsReset);
    m_player.set_volume(m_settings.volume);
    set_speed(m_settings.speed);
    set_skip_silence(m_settings.skip_silence);
    set_auto_record(m_settings.auto_record);
    if (m_current.path.empty())
        select_record(read_current_path());
    // Watching first: a record written while the scan runs is found by one or the other.
    watch_storages();
    for (const auto& storage : controller::storages())
        m_scanner->start(storage.folder, true);
    foundation::log() << "load_secondary_things:" << ticks.lap() << "\n";
}

void Document::save_settings() {
    m_settings.volume = m_player.volume();
    m_settings.vas_level = m_level_meter.threshold();
    m_settings.save();
}

void Document::set_boost(const std::u16string& name) {
    m_settings.boost = name;
    m_boost_stage.set_gain(boost_gain_for(name));
}

bool Document::set_auto_record(bool on) {
    if (on) {
        // The program that records calls is "quillory" in this binary's own folder.
        const std::u16string command =
            foundation::from_utf8(platform::quote_command_word(
                foundation::to_utf8(foundation::sibling_program(u"quillory")))) +
            u" call";
        if (telephony::set_app_notification(call_notification_name, command))
            m_settings.auto_record = true;
    } else if (telephony::stop_app_notification(call_notification_name)) {
        m_settings.auto_record = false;
    }
    return m_settings.auto_record == on;
}

void Document::set_volume(double volume) {
    m_player.set_volume(volume);
    m_settings.volume = m_player.volume();
}

void Document::set_vas_level(double level) {
    m_level_meter.set_threshold(std::clamp(level, 0.0, 1.0));
    m_settings.vas_level = m_level_meter.threshold();
    m_listening.set_skip_silence(m_settings.skip_silence,
                                 skip_silence_threshold(m_settings.vas_level));
}

void Document::set_speed(double speed) {
    m_settings.speed = nearest_speed(speed);
    m_listening.set_speed(m_settings.speed);
}

void Document::set_skip_silence(bool on) {
    m_settings.skip_silence = on;
    m_listening.set_skip_silence(on, skip_silence_threshold(m_settings.vas_level));
}

// --- recording --------------------------------------------------------------------------------

bool Document::record(RecordingKind kind, std::u16string name, std::u16string number,
                      telephony::CallDirection direction) {
    using telephony::CallDirection;
    if (m_writer)
        return false;
    const bool is_call = kind == RecordingKind::Call;
    if (direction == CallDirection::None) {
        telephony::CallInfo call = m_call_monitor->current_call();
        if (call.direction != CallDirection::None) {
            direction = call.direction;
            if (name.empty())
                name = call.name;
            if (number.empty())
                number = call.number;
        }
    }
    // Telephony providers often know only the number: the caller's name then comes from the
    // contacts, as the picture does. The address books are not waited for here: a caller they
    // have not named yet is filed under the number, which the list shows at once and which
    // stays the record's name (a file renamed under a running recording, or after the user
    // has seen or shared it, would be lost to them).
    telephony::ContactDetails contact;
    const bool known_contact = !number.empty() && m_contacts.find_contact_by_phone(number, contact);
    if (known_contact && name.empty())
        name = contact.display_name();
    std::u16string prefix = !name.empty() ? name : !number.empty() ? number : u"Record";
    std::u16string subfolder;
    if (direction == CallDirection::Incoming)
        subfolder = incoming_folder;
    else if (direction == CallDirection::Outgoing)
        subfolder = outgoing_folder;
    else if (direction == CallDirection::None && is_call)
        return false;
    // A recording made for a call, or while one is going on, holds the other party as well.
    const bool call_audio = is_call || direction != CallDirection::None;
    foundation::log() << "record prefix:" << prefix << " subfolder:" << subfolder << "\n";

    const auto list = controller::storages();
    const StorageInfo& storage = choose_storage(list);
    const std::u16string folder =
        subfolder.empty() ? storage.folder : foundation::join(storage.folder, subfolder);
    if (!foundation::FileInfo(folder).is_directory())
        foundation::create_directory(folder);
    if (!foundation::FileInfo(folder).is_directory()) {
        start_failed(folder);
        return false;
    }
    foundation::log() << "record folder:" << folder << " store_path:" << storage.folder << "\n";

    const foundation::DateTime now = foundation::DateTime::now();
    CurrentRecord record;
    record.artist = prefix;
    record.title = foundation::format_date(now, {.long_month_names = true, .system_format = true}) +
                   u" " + foundation::format_time(now, true);
    record.album = subfolder.empty() ? std::u16string(u"Record") : subfolder;
    record.path = unique_record_path(prefix + u" " + record.title, folder, u"mp3");
    if (record.path.empty())
        return false;
    fill_format(record.format);

    foundation::TickCounter ticks;
    {
        foundation::File file(record.path, foundation::File::WriteNew);
        if (!file.is_open()) {
            start_failed(folder);
            return false;
        }
        foundation::log() << "Document::record file created:" << record.path << "\n";
        formats::Id3Tag tag;
        tag.set_text(formats::kId3Artist, record.artist);
        tag.set_text(formats::kId3Title, record.title);
        tag.set_text(formats::kId3Album, record.album);
        tag.set_text(formats::kId3Genre, application_name);
        tag.set_text(formats::kId3Year, foundation::to_text(int32_t(now.year())));
        tag.set_text(formats::kId3Date, two_digits(now.day()) + two_digits(now.month()));
        if (known_contact) {
            auto picture = m_contacts.contact_picture(contact.item_id);
            if (!picture.empty())
                tag.set_picture(picture.data(), picture.size());
        }
        if (!tag.write(file, 0, recording_tag_room)) {
            file.close();
            if (!foundation::delete_file(record.path))
                foundation::log() << "Document::record cannot delete the tag-only file\n";
            start_failed(folder);
            return false;
        }
    }
    foundation::log() << "id3:" << ticks.lap() << "\n";

    stop();
    m_call_recording = is_call;
    m_current = record;
    m_markers.clear();
    m_marker_base_ms = 0;
    if (!start_capture(m_current.format, call_audio, false)) {
        // With a writer, the sound device would not start; without one, the file would not open.
        const bool device_failed = m_writer != nullptr;
        stop();
        if (!foundation::delete_file(record.path))
            foundation::log() << "Document::record cannot delete the unstarted file\n";
        if (device_failed)
            send(DocumentEvent::SoundDeviceLost);
        else
            start_failed(folder);
        return false;
    }
    m_call_recording = is_call;
    m_new_recording = true;
    write_current_path(m_current.path);
    m_timer.after(check_seconds);
    const int index = m_records.insert(record_info(m_current.path));
    send(DocumentEvent::RecordingStarted, index);
    return true;
}

void Document::start_failed(const std::u16string& folder) {
    const bool no_space = short_of_space(folder);
    foundation::log() << "record failed no_space:" << int32_t(no_space) << "\n";
    send(no_space ? DocumentEvent::NoSpace : DocumentEvent::StorageFailed);
}

bool Document::start_capture(const audio::AudioFormat& format, bool call_audio, bool appending) {
    m_writer =
        formats::create_writer(m_current.path, format.codec, format.channels,
                               format.bits_per_sample, format.sample_rate, format.bit_rate, true);
    if (!m_writer)
        return false;
    if (!m_writer->is_valid()) {
        // The file cannot be opened, or is not one this writer continues; it stays as it is.
        m_writer.reset();
        return false;
    }
    m_lost_seconds = 0.0;
    m_recorder = std::make_unique<audio::RecorderPCM>(
        format.channels, format.sample_rate, format.bits_per_sample,
        call_audio ? platform::WAVE_CALL_MAPPER : platform::WAVE_MAPPER);
    m_recorder->set_lively(m_capture_lively);
    m_duration_counter.reset();
    m_live_wave.clear();
    // The waveform is made as the sound goes into the file; continuing a record, it goes on
    // from the stored waveform of what the file holds (without one, the next opening decodes).
    audio::Peaks start;
    m_record_peaks_whole = !appending || PeakCache().load(m_current.path, start);
    m_record_peaks.reset(start);
    audio::connect(*m_recorder, &m_boost_stage);
    audio::connect(m_level_meter.output(), &m_duration_counter);
    audio::connect(m_active_buffer.output(), &m_writer->input());
    play_beep(start_beep);
    return m_recorder->start();
}

bool Document::append() {
    stop();
    if (m_current.path.empty() || !foundation::FileInfo(m_current.path).exists())
        return false;
    const audio::AudioFormat format = m_current.format;
    // The appended part's markers follow the record's own, after the audio it holds.
    {
        auto reader = formats::open_reader(m_current.path);
        const double seconds = reader ? reader->duration() : 0.0;
        m_marker_base_ms = seconds > 0 ? uint32_t(std::llround(seconds * 1000)) : 0;
        m_current.format.duration = seconds;
        reload_markers();
    }
    const bool in_call = m_call_monitor->current_call().direction != telephony::CallDirection::None;
    if (!start_capture(format, in_call, true)) {
        const bool had_writer = m_writer != nullptr;
        if (!had_writer)
            fill_format(m_current.format);
        stop();
        return false;
    }
    write_current_path(m_current.path);
    m_timer.after(check_seconds);
    send(DocumentEvent::AppendStarted);
    return true;
}

void Document::stop() {
    finish(StopReason::Requested);
}

void Document::stop_with(StopReason reason) {
    finish(reason);
}

void Document::finish(StopReason reason) {
    foundation::log() << "Document::stop\n";
    m_paused = false;
    m_call_recording = false;
    if (m_reader) {
        m_player.stop();
        audio::connect(m_reader->output(), nullptr);
        m_reader.reset();
    }
    int removed_index = -1;
    if (m_writer) {
        // Deleting the recorder pushes what it captured up to now down the chain, and then
        // unlinks it; the boost stage's look-ahead goes on after it.
        if (m_recorder) {
            m_lost_seconds = m_recorder->lost_seconds();
            m_recorder.reset();
            m_boost_stage.flush();
        }
        play_beep(end_beep);
        m_active_buffer.drain();
        while (m_active_buffer.has_pending())
            platform::sleep_ms(10);
        const bool buffer_valid = m_active_buffer.is_valid();
        m_boost_stage.reset();
        m_active_buffer.reset();
        audio::connect(m_active_buffer.output(), nullptr);
        // The last writes happen here; a failure among them is a failed recording too.
        const bool completed = m_writer->complete();
        const bool has_audio = m_writer->has_audio();
        m_writer.reset();
        if (completed && has_audio && m_record_peaks_whole)
            PeakCache().store(m_current.path, m_record_peaks.peaks());
        // The markers once more, now that the last chapter's end is known.
        if (!m_markers.empty() && has_audio) {
            const uint32_t end_ms = recording_time_ms();
            // The chapters written while recording stay when this fails: only the last one's
            // end is then short.
            if (formats::update_file_tag(m_current.path, [&](formats::Id3Tag& tag) {
                    return tag.set_markers(m_markers, end_ms);
                }) == formats::Id3Update::Failed)
                foundation::log() << "Document::stop last chapter end not written\n";
        }
        if (reason == StopReason::Requested) {
            if (card_problem()) {
                foundation::log() << "card_problem\n";
                reason = StopReason::StorageFailed;
            } else if (!completed) {
                foundation::log() << "writer no valid at stop\n";
                reason = StopReason::WritingFailed;
            } else if (!buffer_valid) {
                foundation::log() << "active_buffer no valid\n";
                reason = StopReason::BufferLimit;
            }
        }
        // The writer synced the file; its entry in the folder (a new file, or one an append
        // created again) is synced too.
        if (has_audio && !foundation::sync_folder_of(m_current.path))
            foundation::log() << "Document::stop folder sync failed\n";
        // A new recording that never got a frame of audio leaves no tag-only file behind.
        if (m_new_recording && !has_audio) {
            if (!foundation::delete_file(m_current.path))
                foundation::log() << "Document::stop cannot delete the file without audio\n";
            if (!foundation::FileInfo(m_current.path).exists()) {
                removed_index = m_records.find(m_current.path);
                if (removed_index >= 0)
                    m_records.erase(removed_index);
            }
        }
        m_new_recording = false;
        if (m_settings.speaker)
            switch_speaker(false);
    }
    m_recorder.reset();
    m_awake.let_sleep();
    m_stop_reason = reason;
    if (removed_index >= 0)
        send(DocumentEvent::CurrentDeleted, removed_index);
    send(DocumentEvent::Stopped);
    if (reason != StopReason::Requested) {
        // The screens never show a record whose file is gone.
        if (!m_current.path.empty() && !foundation::FileInfo(m_current.path).exists() &&
            removed_index < 0)
            refresh();
        send(event_for(reason));
    }
}

void Document::pause(bool on) {
    m_paused = on;
    if (m_writer) {
        audio::connect(m_level_meter.output(), on ? nullptr : &m_duration_counter);
    } else if (m_reader) {
        if (on)
            m_player.pause();
        else
            m_player.play();
    }
    send(DocumentEvent::PauseChanged);
}

// --- playback ---------------------------------------------------------------------------------

bool Document::select_record(const std::u16string& path) {
    if (path.empty())
        return false;
    RecordInfo info = record_info(path);
    m_current.path = path;
    m_current.artist = info.artist;
    m_current.title = info.title;
    m_current.album = info.album;
    m_markers.clear();
    auto reader = formats::open_reader(path);
    if (!reader) {
        fill_format(m_current.format);
        return false;
    }
    m_current.format.codec = reader->codec_name();
    m_current.format.channels = reader->channels();
    m_current.format.sample_rate = reader->sample_rate();
    m_current.format.bits_per_sample = reader->bits_per_sample();
    m_current.format.bit_rate = reader->bit_rate();
    m_current.format.duration = reader->duration();
    reload_markers();
    return true;
}

bool Document::play(const std::u16string& path, int position) {
    stop();
    RecordInfo info = record_info(path);
    m_current.path = path;
    m_current.artist = info.artist;
    m_current.title = info.title;
    m_current.album = info.album;
    m_reader = formats::open_reader(path);
    if (!m_reader || !audio::PlayerPCM::can_play(m_reader->channels(), m_reader->bits_per_sample(),
                                                 m_reader->sample_rate())) {
        stop();
        return false;
    }
    m_current.format.codec = m_reader->codec_name();
    m_current.format.channels = m_reader->channels();
    m_current.format.sample_rate = m_reader->sample_rate();
    m_current.format.bits_per_sample = m_reader->bits_per_sample();
    m_current.format.bit_rate = m_reader->bit_rate();
    m_current.format.duration = m_reader->duration();
    reload_markers();
    m_listening.clear();
    audio::connect(m_reader->output(), &m_listening);
    m_play_start = m_listening.record_frames();
    m_out_base = m_listening.output_frames();
    m_play_offset = 0.0;
    m_seek_target = 0.0;
    m_seek_frame = 0;
    if (position > 0 && m_reader->seek(position))
        m_play_offset = position;
    if (!m_player.play()) {
        stop();
        return false;
    }
    m_timer.after(check_seconds);
    return true;
}

// --- record list ------------------------------------------------------------------------------

void Document::watch_storages() {
    std::vector<std::u16string> folders;
    for (const auto& storage : controller::storages())
        folders.push_back(storage.folder);
    m_watch.set_storage_folders(folders);
    m_watching = true;
}

void Document::apply_folder_changes() {
    for (auto& path : m_watch.changes())
        if (m_queued_paths.insert(path).second)
            m_queued_changes.push_back(std::move(path));
    // A burst (a thousand files dropped in at once) is taken in short steps, so that the screens
    // go on drawing meanwhile.
    const auto start = std::chrono::steady_clock::now();
    while (!m_queued_changes.empty()) {
        if (std::chrono::steady_clock::now() - start > change_step_budget) {
            m_changes_timer.after(0.001);
            return;
        }
        const std::u16string path = std::move(m_queued_changes.front());
        m_queued_changes.pop_front();
        m_queued_paths.erase(path);
        RecordInfo info;
        const bool record =
            has_record_extension(foundation::name_of(path)) && is_record(info = record_info(path));
        const int index = m_records.find(path);
        if (!record) {
            // The running recording's file is this Document's own business.
            if (index >= 0 && !(m_writer && path == m_current.path)) {
                m_records.erase(index);
                send(DocumentEvent::RecordRemoved, index);
            }
            continue;
        }
        if (index < 0) {
            bool inserted = false;
            const int at = m_records.insert(std::move(info), &inserted);
            if (inserted)
                send(DocumentEvent::RecordFound, at);
            continue;
        }
        const RecordInfo& listed = m_records[size_t(index)];
        const bool texts_changed = listed.artist != info.artist || listed.title != info.title ||
                                   listed.album != info.album ||
                                   listed.marker_count != info.marker_count;
        // The row keeps its place; only what it shows is told.
        m_records.update(index, info);
        if (texts_changed) {
            if (path == m_current.path) {
                m_current.artist = info.artist;
                m_current.title = info.title;
                m_current.album = info.album;
            }
            send(DocumentEvent::CurrentRenamed, index);
        }
    }
}

void Document::refresh() {
    if (!m_watching)
        watch_storages();
    RecordCollector collector;
    collector.records.reserve(20);
    for (const auto& storage : controller::storages())
        foundation::find_files(collector, storage.folder, u"*", u"*", true);
    m_records.assign(std::move(collector.records));
    send(DocumentEvent::ListRebuilt);
}

void Document::on_file(const std::u16string& path) {
    if (!has_record_extension(foundation::name_of(path)))
        return;
    RecordInfo info = record_info(path);
    if (!is_record(info))
        return;
    bool inserted = false;
    const int index = m_records.insert(std::move(info), &inserted);
    if (inserted)
        send(DocumentEvent::RecordFound, index);
}

void Document::on_done() {
    platform::timing_mark("scan-done", int64_t(m_records.size()));
}

void Document::remove() {
    const int index = m_records.find(m_current.path);
    if (index < 0)
        return;
    foundation::log() << "os::delete_file in Document::remove\n";
    const bool deleted = foundation::trash_file(m_current.path);
    // The entry goes only when the file is really gone.
    if (!deleted && foundation::FileInfo(m_current.path).exists()) {
        foundation::log() << "Document::remove failed\n";
        return;
    }
    m_records.erase(index);
    send(DocumentEvent::CurrentDeleted, index);
}

bool Document::delete_record(int index) {
    if (index < 0 || size_t(index) >= m_records.size())
        return false;
    const std::u16string path = m_records[size_t(index)].path;
    if (path == m_current.path && (m_reader || m_writer))
        stop();
    const bool deleted = foundation::trash_file(path);
    if (!deleted && foundation::FileInfo(path).exists())
        return false;
    m_records.erase(m_records.find(path));
    return true;
}

bool Document::move_record(int index, const std::u16string& new_path) {
    if (index < 0 || size_t(index) >= m_records.size())
        return false;
    RecordInfo info = m_records[size_t(index)];
    if (info.path == m_current.path && (m_reader || m_writer))
        stop();
    if (!foundation::FileInfo(info.path).move_to(new_path))
        return false;
    if (m_current.path == info.path)
        m_current.path = new_path;
    info.path = new_path;
    m_records.update(index, info);
    send(DocumentEvent::CurrentRenamed, index);
    return true;
}

double Document::play_position() const {
    if (!m_reader || m_current.format.sample_rate <= 0)
        return 0.0;
    // What is heard, not what the reader has handed on: up to six buffers and the device's
    // own buffer lie between them, and the listening stage's own (in record time). Until the
    // first frame read after a seek is heard, the place sought is shown, where the user put
    // the knob.
    const int32_t heard = m_player.frames_heard();
    const uint64_t record = m_listening.record_at(m_out_base + uint64_t(std::max(0, heard)));
    const double position = heard >= m_seek_frame
                                ? m_play_offset + double(record - std::min(record, m_play_start)) /
                                                      m_current.format.sample_rate
                                : m_seek_target;
    const double duration = m_current.format.duration;
    return std::max(0.0, duration > 0 ? std::min(position, duration) : position);
}

bool Document::seek(double seconds) {
    if (!m_reader)
        return false;
    const double whole = std::floor(std::max(0.0, seconds));
    if (!m_reader->seek(whole))
        return false;
    const int32_t pulled = m_player.frames_pulled();
    const uint64_t record = m_listening.record_at(m_out_base + uint64_t(std::max(0, pulled)));
    m_listening.clear();
    m_seek_frame = pulled;
    m_seek_target = whole;
    m_play_offset = whole - double(record - std::min(record, m_play_start)) /
                                std::max(1, m_current.format.sample_rate);
    return true;
}

RenameOutcome Document::rename(const std::u16string& title) {
    if (title == m_current.title)
        return RenameOutcome::Unchanged;
    const int index = m_records.find(m_current.path);
    if (index < 0)
        return RenameOutcome::Unchanged;
    const std::u16string clean = clean_title(title);
    if (clean.empty() || !foundation::FileInfo(m_current.path).exists())
        return RenameOutcome::Unchanged;
    // The title goes into the tag first (growing it when it no longer fits); a file whose
    // tag cannot take the new title keeps its name and title.
    const std::u16string folder =
        foundation::without_trailing_separator(foundation::directory_of(m_current.path));
    if (formats::set_file_text(m_current.path, formats::kId3Title, clean) ==
        formats::Id3Update::Failed) {
        foundation::log() << "Document::rename tag not written\n";
        if (short_of_space(folder))
            send(DocumentEvent::NoSpace);
        return RenameOutcome::Failed;
    }

    const std::u16string extension = extension_of(m_current.path);
    const std::u16string name = m_current.artist.empty() ? clean : m_current.artist + u" " + clean;
    std::u16string new_path = m_current.path;
    bool moved = true;
    // A title that gives the same file name keeps the file where it is.
    if (record_file_path(name, folder, extension) != m_current.path) {
        const std::u16string target = unique_record_path(name, folder, extension);
        if (!target.empty() && foundation::FileInfo(m_current.path).move_to(target))
            new_path = target;
        else
            moved = false;
    }
    if (!moved)
        foundation::log() << "Document::rename move failed\n";
    const bool unmoved_for_space = !moved && short_of_space(folder);

    // The list and the current record show what the disk now holds.
    RecordInfo info = record_info(new_path);
    m_records.update(index, info);
    m_current.path = new_path;
    m_current.title = info.title;
    write_current_path(new_path);
    send(DocumentEvent::CurrentRenamed, index);
    if (unmoved_for_space)
        send(DocumentEvent::NoSpace);
    return moved ? RenameOutcome::Renamed : RenameOutcome::TitleOnly;
}

// --- calls and command line -------------------------------------------------------------------

void Document::command_line(const std::u16string& text) {
    if (foundation::starts_with(text, u"call")) {
        if (record(RecordingKind::Call, u"", u"", telephony::CallDirection::None) &&
            m_settings.speaker)
            switch_speaker(true);
    } else if (foundation::starts_with(text, u"record")) {
        if (!is_recording())
            record(RecordingKind::Note, u"", u"", telephony::CallDirection::None);
        else
            pause(!m_paused);
    } else if (foundation::starts_with(text, u"mark")) {
        add_marker();
    }
}

void Document::on_call_start(const std::u16string& name, const std::u16string& number,
                             telephony::CallDirection direction) {
    foundation::log() << "on_call_start " << name << " " << number << " " << int32_t(direction)
                      << " " << platform::tick_count() << "\n";
    if (m_settings.auto_record)
        record(RecordingKind::Call, name, number, direction);
    if (is_recording() && m_settings.speaker)
        switch_speaker(true);
}

void Document::on_call_stop() {
    foundation::log() << "on_call_stop\n";
    if (!m_call_recording)
        return;
    stop();
    if (m_exit_after_call) {
        if (m_application_window)
            platform::post_message(m_application_window, platform::WM_QUIT, 0, 0);
        else
            platform::post_quit_message(0);
    }
}

// --- the periodic check -----------------------------------------------------------------------

bool Document::card_problem() const {
    if (m_current.path.empty())
        return false;
    // In main memory the storage stays; its file may still vanish with its folder.
    if (foundation::path_starts_with(m_current.path, foundation::expand(u"%my_documents%")))
        return !foundation::FileInfo(m_current.path).exists();
    const std::u16string folder = foundation::directory_of(m_current.path);
    return foundation::total_size(folder) == 0 || !foundation::FileInfo(m_current.path).exists();
}

void Document::on_timer(foundation::Timer& timer) {
    if (&timer == &m_changes_timer) {
        apply_folder_changes();
        return;
    }
    const bool cue_heard = m_tick->poll();
    m_timer.after(m_reader || m_writer || cue_heard ? check_seconds : idle_check_seconds);
    if (m_watching) {
        // A card put in or taken out changes the folders to watch.
        const uint32_t now = platform::tick_count();
        if (now - m_last_storage_look >= storage_look_ms) {
            m_last_storage_look = now;
            watch_storages();
        }
        apply_folder_changes();
    }
    // The idle-timer reset: held while anything runs, let go by stop().
    if (m_reader || m_writer)
        m_awake.keep_awake();
    if (m_reader) {
        if (card_problem()) {
            foundation::log() << "card_problem\n";
            stop_with(StopReason::StorageFailed);
            return;
        }
        if (!m_reader->is_valid()) {
            foundation::log() << "reader no valid\n";
            stop();
            return;
        }
        if (m_player.is_finished()) {
            if (m_player.fault() != audio::PlayerPCM::Fault::None) {
                foundation::log() << "player failed " << int32_t(m_player.fault()) << "\n";
                stop_with(StopReason::SoundDevice);
            } else {
                foundation::log() << "player finished\n";
                stop();
            }
            return;
        }
    }
    if (m_writer) {
        if (!m_writer->is_valid()) {
            if (card_problem()) {
                foundation::log() << "card_problem\n";
                stop_with(StopReason::StorageFailed);
            } else {
                foundation::log() << "writer no valid active_buffer:"
                                  << m_active_buffer.queued_bytes() << "\n";
                stop_with(StopReason::WritingFailed);
            }
            return;
        }
        // A card taken out does not always fail the writes at once; the file's path is gone.
        if (card_problem()) {
            foundation::log() << "card_problem\n";
            stop_with(StopReason::StorageFailed);
            return;
        }
        if (!m_active_buffer.is_valid()) {
            foundation::log() << "active_buffer no valid\n";
            stop_with(StopReason::BufferLimit);
            return;
        }
        // The microphone went away or stopped delivering: the file keeps what came before.
        if (m_recorder && m_recorder->device_lost()) {
            foundation::log() << "recorder device lost\n";
            stop_with(StopReason::SoundDevice);
            return;
        }
        if (!m_paused) {
            if (m_level_meter.is_silent()) {
                foundation::log() << "record_levels silence\n";
                audio::connect(m_level_meter.output(), nullptr);
            } else if (m_level_meter.output().peer() == nullptr) {
                audio::connect(m_level_meter.output(), &m_duration_counter);
            }
        }
    }
    look_at_phone();
}

void Document::look_at_phone() {
    const bool call_now = m_call_monitor->in_call();
    if (call_now != m_call_state) {
        m_call_state = call_now;
        send(DocumentEvent::CallStateChanged);
    }
    const bool speaker_now = hardware_speaker_on();
    if (speaker_now != m_hardware_speaker_state) {
        m_hardware_speaker_state = speaker_now;
        send(DocumentEvent::CallStateChanged);
    }
}

void Document::announce_recording() {
    if (is_recording())
        send(DocumentEvent::RecordingStarted, std::max(0, m_records.find(m_current.path)));
}

} // namespace controller
