#pragma once

// The recording controller: the one object that starts, stops and watches recordings and
// playbacks, files new recordings under their names with their tags, keeps the sorted list of
// records, applies the settings, records telephone calls and answers the command line. It
// owns the audio graph and tells the screens what happened through DocumentListener events.
//
// Exactly one exists, on the user-interface thread, after the CActiveScheduler; every
// operation runs on that thread. stop() blocks while the end beep plays and the recording
// buffer drains.

#include "audio/active_buffer.h"
#include "audio/boost_stage.h"
#include "audio/duration_counter.h"
#include "audio/file_io.h"
#include "audio/level_meter.h"
#include "audio/peak_tap.h"
#include "audio/player_pcm.h"
#include "audio/recorder_pcm.h"
#include "audio/speed_stage.h"
#include "controller/document_listener.h"
#include "controller/phone_speaker.h"
#include "controller/record_storage.h"
#include "controller/record_watch.h"
#include "controller/settings.h"
#include "formats/marker.h"
#include "formats/trim.h"
#include "foundation/directory_scanner.h"
#include "foundation/timer.h"
#include "platform/messages.h"
#include "platform/power.h"
#include "telephony/call_monitor.h"
#include "telephony/contacts.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace platform {
class SoundCue;
}

namespace controller {

// What a new recording is for: a note made by hand, or a telephone call (filed by direction).
enum class RecordingKind { Note, Call };

// What Document::rename did.
enum class RenameOutcome {
    Renamed,   // the tag holds the new title and the file has the name that goes with it
    Unchanged, // nothing to do: the same title, one that cleans to nothing, or no current record
    TitleOnly, // the tag holds the new title, but the file could not take its new name
    Failed,    // the tag could not take the title: name and title are as they were
};

struct CurrentRecord {
    std::u16string path;
    std::u16string artist;
    std::u16string title;
    std::u16string album;
    audio::AudioFormat format;
};

class Document final : public foundation::TimerListener,
                       public telephony::CallListener,
                       private foundation::DirectorySink {
public:
    Document();
    ~Document() override;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    void add_listener(DocumentListener* listener);
    void remove_listener(DocumentListener* listener);

    // Starts a new recording. direction None: none given (the call monitor may supply one);
    // Unknown: a call without details. False when a recording runs, for a call without a
    // direction, and when the folder or the file cannot be made (then NoSpace, or
    // StorageFailed when space is not what is missing) or the sound device does not start
    // (SoundDeviceLost).
    bool record(RecordingKind kind, std::u16string name, std::u16string number,
                telephony::CallDirection direction);
    // Continues recording at the end of the current record's file.
    bool append();
    // Ends whatever runs; always sends Stopped. A recording whose last writes fail, whose
    // writer gave up or whose file vanished then sends WritingFailed or StorageFailed as
    // stop_with() does. A new recording that holds no audio frame is deleted with its list
    // entry (CurrentDeleted before Stopped).
    void stop();
    // stop(), a rebuilt list when the current file vanished, then the reason's event.
    void stop_with(StopReason reason);
    // Why the last recording or playback ended.
    StopReason stop_reason() const { return m_stop_reason; }
    void pause(bool on);
    // Plays a record from `position` seconds.
    bool play(const std::u16string& path, int position);
    // Makes the record at `path` the current one (its texts and format) without playing it.
    bool select_record(const std::u16string& path);

    // The current record: delete it (to the desktop's trash), or give it a new title (file name
    // and tag; NoSpace when the disk is too full to take it). The listeners hear of a rename
    // through CurrentRenamed and NoSpace as well.
    void remove();
    [[nodiscard]] RenameOutcome rename(const std::u16string& title);
    // Deletes the record at `index` (its file first, to the desktop's trash; the entry stays
    // when the file stays).
    // Stops first when it is the current record. Sends no event: the caller rebuilds its view.
    [[nodiscard]] bool delete_record(int index);
    // Moves the record's file to `new_path`; on success the entry takes the new path and
    // event 3 goes out for its index.
    [[nodiscard]] bool move_record(int index, const std::u16string& new_path);
    // Rebuilds the list from every storage at once; event 0.
    void refresh();
    std::vector<StorageInfo> storages() const { return controller::storages(); }

    // "call..." records the current call; "record..." starts a recording or toggles its pause.
    void command_line(const std::u16string& text);
    void set_exit_after_call(bool on) { m_exit_after_call = on; }
    [[nodiscard]] bool exit_after_call() const { return m_exit_after_call; }
    // Where on_call_stop posts WM_QUIT when the program was started for the call; 0: the
    // calling thread's queue.
    void set_application_window(platform::WindowHandle window) { m_application_window = window; }

    void on_call_start(const std::u16string& name, const std::u16string& number,
                       telephony::CallDirection direction) override;
    void on_call_stop() override;
    void on_timer(foundation::Timer& timer) override;

    [[nodiscard]] bool is_recording() const { return m_writer != nullptr; }
    // Tells the listeners again that a recording runs (event 4), for screens built after it
    // started.
    void announce_recording();
    [[nodiscard]] bool is_playing() const { return m_reader != nullptr; }
    // Seconds into the playing record (0 without one).
    double play_position() const;
    // Jumps playback to a whole second; false without a reader.
    bool seek(double seconds);
    // The larger of the two channels' output levels, 0..1.
    double output_level() const { return std::max(m_player.level(0), m_player.level(1)); }
    [[nodiscard]] bool is_paused() const { return m_paused; }
    bool is_call_recording() const { return m_call_recording; }
    [[nodiscard]] bool call_state() const { return m_call_state; }
    bool hardware_speaker_state() const { return m_hardware_speaker_state; }
    const CurrentRecord& current() const { return m_current; }
    const std::vector<RecordInfo>& records() const { return m_records.items(); }
    double level() const { return m_level_meter.level(); }
    // The input's last seconds, oldest first, while recording.
    std::vector<audio::PeakColumn> live_wave() const { return m_live_wave.recent(); }
    uint64_t live_wave_columns() const { return m_live_wave.finished(); }
    // Seconds written into the current recording so far.
    double recorded_seconds() const { return m_duration_counter.seconds(); }
    // Audio the sound system lost during the running recording, or the last one once it has
    // stopped (until the next starts), in seconds.
    double lost_seconds() const { return m_recorder ? m_recorder->lost_seconds() : m_lost_seconds; }
    // Whether someone may watch the recording (the default): captured audio then moves on at
    // once, for a lively level meter and elapsed time; otherwise in fewer, larger steps (the
    // window in the background, the command line), for fewer wake-ups.
    void set_capture_lively(bool on) {
        if (on == m_capture_lively)
            return;
        m_capture_lively = on;
        if (m_recorder)
            m_recorder->set_lively(on);
    }
    // A call recording that holds the microphone alone: the other side could not be had, or
    // went away while recording.
    [[nodiscard]] bool other_side_missing() const {
        const platform::WaveDownlink downlink =
            m_recorder ? m_recorder->downlink() : platform::WaveDownlink::None;
        return downlink == platform::WaveDownlink::Unavailable ||
               downlink == platform::WaveDownlink::Lost;
    }
    [[nodiscard]] bool is_silent() const { return m_level_meter.is_silent(); }
    bool card_problem() const;

    // Settings.
    void load_first_things();
    // The remaining settings, the call notification, the stored current path and the
    // background scan of every storage (event 1 for each record found).
    void load_secondary_things();
    void save_settings();
    void set_format(const std::u16string& name) { m_settings.format = name; }
    void set_boost(const std::u16string& name);
    // Changes only when the notification could be set up or removed.
    bool set_auto_record(bool on);
    void set_speaker(bool on) { m_settings.speaker = on; }
    // Stores the speaker setting and switches the phone audio to it at once.
    void apply_speaker(bool on) {
        m_settings.speaker = on;
        m_phone.choose_speaker(on);
    }
    void set_volume(double volume);
    void set_vas_level(double level);
    // Playback speed (the nearest of kSpeeds), pitch kept; takes effect at once, also while
    // playing. Positions stay in record time.
    void set_speed(double speed);
    double speed() const { return m_settings.speed; }
    // Long pauses (below the voice switch's level) cut short while playing.
    void set_skip_silence(bool on);
    [[nodiscard]] bool skip_silence() const { return m_settings.skip_silence; }
    const Settings& settings() const { return m_settings; }
    double volume() const { return m_player.volume(); }
    double vas_level() const { return m_level_meter.threshold(); }
    [[nodiscard]] bool scanning() const { return m_scanner && m_scanner->scanning(); }

    telephony::ContactStore& contacts() { return m_contacts; }

    // Markers of the current record in time order: while recording, those set so far (after
    // an append, the record's earlier ones first); otherwise those of the selected or playing
    // record.
    const std::vector<formats::Marker>& markers() const { return m_markers; }
    // Adds a marker ("Marker N" when no label is given) at the recording's file time (the pause
    // point while paused; silence the voice switch left out does not count) or at the playing
    // position, and writes it into the file at once: while recording into the room the tag
    // keeps for it, synced, growing the tag when the room is used up. Its index, or -1 when
    // nothing records or plays or the file cannot take it (the file is then unchanged).
    int add_marker(std::u16string label = {});
    // Changes the current record's markers (not while recording). False, with the file and
    // the markers unchanged, when the index names no marker or the file cannot be written.
    bool rename_marker(size_t index, const std::u16string& label);
    bool remove_marker(size_t index);
    // Milliseconds into the running recording's file.
    uint32_t recording_time_ms() const;
    // Reads the current record's markers from its file again (after it was changed outside).
    void reload_markers();
    // Cuts the current record to [start_ms, end_ms) without coding it again (stopping its
    // playback first): the original goes to the desktop's trash and the trimmed file takes its
    // name, with the markers inside the stretch moved and the others dropped; the record is
    // then read again and its list entry follows. On failure the file is as it was, and the
    // result says why. Not while recording.
    [[nodiscard]] formats::TrimResult trim(uint32_t start_ms, uint32_t end_ms);

private:
    // Writes m_markers into the current record's tag; false when the file could not take them.
    [[nodiscard]] bool write_markers();
    // The list's entry for the current record read again from its file, or while recording
    // given the marker count (CurrentRenamed).
    void refresh_list_entry();
    void send(DocumentEvent event, int argument = 0);
    // Ends whatever runs. A recording whose end fails (its last writes, its file gone) ends
    // with that reason instead of `reason` Requested; a new recording without audio is removed.
    void finish(StopReason reason);
    // A recording could not start in `folder`: tells the screens whether for want of space.
    void start_failed(const std::u16string& folder);
    // call_audio: the call's downlink is mixed into the microphone; appending: the file holds
    // a record already.
    [[nodiscard]] bool start_capture(const audio::AudioFormat& format, bool call_audio,
                                     bool appending);
    void fill_format(audio::AudioFormat& format) const;
    void switch_speaker(bool on) { m_phone.set_speaker(on); }

    // Watches the storages' record folders from now on (again after a change of storages).
    void watch_storages();
    // Brings the list up to what the watched folders now hold: rows for records that appeared
    // (RecordFound), changed their texts (CurrentRenamed) or went (RecordRemoved).
    void apply_folder_changes();
    // Tells the screens when the call or the hardware speaker changed since the last look.
    void look_at_phone();

    void on_file(const std::u16string& path) override;
    void on_done() override;

    std::vector<DocumentListener*> m_listeners;
    Settings m_settings;
    PhoneSpeaker m_phone;
    telephony::ContactStore m_contacts;
    RecordList m_records;
    CurrentRecord m_current;

    audio::PlayerPCM m_player;
    audio::SpeedStage m_listening; // between the reader and the player
    audio::ActiveBuffer m_active_buffer;
    audio::DurationCounter m_duration_counter;
    audio::BoostStage m_boost_stage;
    audio::LevelMeter m_level_meter;
    audio::LiveWave m_live_wave;      // between the boost and the level meter
    audio::PeakTap m_record_peaks;    // between the duration counter and the buffer
    bool m_record_peaks_whole{false}; // they cover the whole file (not an append to an unknown)
    std::unique_ptr<audio::FileReader> m_reader;
    std::unique_ptr<audio::RecorderPCM> m_recorder;
    std::unique_ptr<audio::FileWriter> m_writer;

    double m_play_offset{0.0}; // seconds before the player's first pulled frame
    uint64_t m_play_start{0};  // the listening stage's record frames when playback started
    uint64_t m_out_base{0};    // and the frames it had handed on then
    // The frames pulled before the last seek, and the place it sought.
    int32_t m_seek_frame{0};
    double m_seek_target{0.0};
    double m_lost_seconds{0.0}; // lost by the last recording
    bool m_capture_lively{true};
    std::vector<formats::Marker> m_markers;
    std::unique_ptr<platform::SoundCue> m_tick; // heard when a marker is set while recording
    uint32_t m_marker_base_ms{0};               // audio in the file before the running writer's
    StopReason m_stop_reason{StopReason::Requested};
    bool m_paused{false};
    bool m_call_recording{false};
    bool m_new_recording{false}; // the running recording made its file (not an append)
    bool m_exit_after_call{false};
    bool m_call_state{false};
    bool m_hardware_speaker_state{false};
    platform::WindowHandle m_application_window{0};

    std::unique_ptr<telephony::CallMonitorImpl> m_call_monitor;
    std::unique_ptr<foundation::DirectoryScanner> m_scanner;
    RecordWatch m_watch;
    bool m_watching{false};
    uint32_t m_last_storage_look{0};
    // Files changed by others, not looked at yet (each once), and the step that goes on.
    std::deque<std::u16string> m_queued_changes;
    std::unordered_set<std::u16string> m_queued_paths;
    foundation::Timer m_changes_timer{*this};
    foundation::Timer m_timer;
    // Keeps the machine from sleeping while a recording or a playback runs.
    platform::AwakeKeeper m_awake{"Recording or playing"};
};

} // namespace controller
