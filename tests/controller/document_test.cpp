// The Document against the file sound device at a fast clock: what it files, tags, lists and
// tells the screens, how each fault ends a recording, and its settings.

#include "cli_runner.h"
#include "controller/document.h"
#include "controller/peak_cache.h"
#include "controller/phone_speaker.h"
#include "controller/record_storage.h"
#include "controller/settings.h"
#include "controller_env.h"
#include "foundation/active_scheduler.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/messages.h"
#include "platform/power.h"
#include "platform/registry_notifications.h"
#include "support/no_threads.h"
#include "support/private_bus.h"
#include "support/watchdog.h"
#include "telephony/phone_state.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace controller;
using namespace controller_test;
using telephony::CallDirection;
using testing_support::ScopedEnv;
using testing_support::wait_for;
namespace fs = std::filesystem;
using E = DocumentEvent;
using Events = std::vector<DocumentEvent>;

namespace {

// The tags as ffprobe reads them: "title", "artist", "date"...
std::map<std::string, std::string> tags(const fs::path& path) {
    std::istringstream lines(
        run("ffprobe -v error -show_entries format_tags -of default=nw=1 " + quote(path)).out);
    std::map<std::string, std::string> found;
    for (std::string line; std::getline(lines, line);)
        if (auto at = line.find('='); line.starts_with("TAG:") && at != std::string::npos)
            found[line.substr(4, at - 4)] = line.substr(at + 1);
    return found;
}

struct Listener : DocumentListener {
    std::vector<std::pair<DocumentEvent, int>> seen;
    void on_document_event(DocumentEvent event, int argument) override {
        seen.emplace_back(event, argument);
    }
    // The last `count` events.
    Events last(size_t count) const {
        Events events;
        for (size_t i = seen.size() - std::min(count, seen.size()); i < seen.size(); ++i)
            events.push_back(seen[i].first);
        return events;
    }
    Events events() const { return last(seen.size()); }
};

class DocumentTest : public ::testing::Test {
protected:
    explicit DocumentTest(const std::string& input = "speech.wav", double speed = 20)
        : m_speed_value(speed), m_audio("QUILLORY_AUDIO", "file"),
          m_input("QUILLORY_AUDIO_IN", data_dir + input),
          m_speed("QUILLORY_AUDIO_SPEED", std::to_string(speed)),
          m_output("QUILLORY_AUDIO_OUT", ""), m_document(std::make_unique<Document>()),
          doc(*m_document) {
        m_document->add_listener(&m_events);
    }
    ~DocumentTest() override {
        m_document->remove_listener(&m_events);
        m_document.reset();
    }

    // Runs the message loop for the given seconds of capture time, or until `done`.
    bool pump(double capture_seconds, const std::function<bool()>& done = nullptr) {
        auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration<double>(capture_seconds / m_speed_value);
        for (;;) {
            platform::Message message;
            while (platform::peek_message(message)) {
                if (message.message == platform::WM_QUIT)
                    m_quit = true;
                else
                    platform::dispatch_message(message);
            }
            if (done && done())
                return true;
            if (std::chrono::steady_clock::now() >= end)
                return done ? done() : true;
            platform::wait_message(2);
        }
    }
    // Records until the file holds about the given seconds.
    void record_for(double seconds) {
        pump(seconds * 3 + 2, [&] { return m_document->recorded_seconds() >= seconds; });
    }
    // A note started now; its path.
    fs::path started(const std::u16string& name = u"") {
        EXPECT_TRUE(doc.record(RecordingKind::Note, name, u"", CallDirection::None));
        return doc.current().path;
    }
    // A note recorded for the given seconds and stopped; its path.
    fs::path note(double seconds, const std::u16string& name = u"") {
        const fs::path path = started(name);
        record_for(seconds);
        doc.stop();
        return path;
    }
    // The record the settings name as the current one.
    std::u16string stored_path() {
        std::u16string stored = u"<absent>";
        foundation::read_string(settings_key(), u"Path", stored);
        return stored;
    }

    double m_speed_value;
    testing_support::Watchdog m_watchdog{120};
    IsolatedWorld m_world;
    ScopedEnv m_audio, m_input, m_speed, m_output;
    foundation::CActiveScheduler m_scheduler;
    Listener m_events;
    std::unique_ptr<Document> m_document;
    Document& doc; // the one above, for short
    bool m_quit{false};
};

} // namespace

TEST_F(DocumentTest, RecordingIsFiledTaggedAndTimed) {
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    EXPECT_FALSE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None))
        << "one recording at a time";
    const fs::path path(doc.current().path);
    const std::string title = fs::path(doc.current().title).string();
    EXPECT_EQ(path.parent_path(), m_world.main_folder());
    EXPECT_EQ(path.filename().string().rfind("Record ", 0), 0u);
    record_for(2.0);
    const double recorded = doc.recorded_seconds();
    doc.stop();
    EXPECT_EQ(m_events.events(), (Events{E::Stopped, E::RecordingStarted, E::Stopped}));

    const auto now = foundation::DateTime::now();
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.year() % 10000, now.month() % 100,
                  now.day() % 100);
    EXPECT_EQ(tags(path), (std::map<std::string, std::string>{{"artist", "Record"},
                                                              {"title", title},
                                                              {"album", "Record"},
                                                              {"genre", "Quillory Vozir"},
                                                              {"date", date}}));
    EXPECT_EQ(read_whole_file(path).substr(0, 4), "ID3\3") << "an ID3 2.3 tag";
    EXPECT_NEAR(ffprobe_duration(path), recorded, 0.3);
    EXPECT_EQ(stored_path(), path.u16string());
    // Its waveform, made while recording, waits in the cache.
    audio::Peaks peaks;
    ASSERT_TRUE(PeakCache().load(path.u16string(), peaks));
    EXPECT_NEAR(peaks.seconds(), ffprobe_duration(path), 0.15);
    double loudest = 0, decoded = 0;
    for (const auto& column : peaks.columns(3))
        loudest = std::max(loudest, double(column.peak));
    for (int16_t sample : testing_support::sox_samples(path))
        decoded = std::max(decoded, std::abs(sample) / 32768.0);
    EXPECT_NEAR(loudest, decoded, 0.1 * decoded + 0.01);
    ASSERT_EQ(doc.records().size(), 1u);
    EXPECT_EQ(doc.records()[0].path, path.u16string());
}

TEST_F(DocumentTest, RenameRewritesTitleInPlaceAndNumbersClashes) {
    const fs::path first = note(0.6);
    const fs::path second = note(0.6);
    m_events.seen.clear();
    EXPECT_EQ(doc.rename(u"Lunch\r\nwith a/b?c"), RenameOutcome::Renamed);
    const fs::path renamed = m_world.main_folder() / "Record Lunch with a b c.mp3";
    EXPECT_EQ(doc.current().path, renamed.u16string());
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(tags(renamed)["title"], "Lunch with a/b?c");
    ASSERT_EQ(m_events.events(), Events{E::CurrentRenamed});
    EXPECT_EQ(doc.records()[std::size_t(m_events.seen[0].second)].path, renamed.u16string());
    EXPECT_EQ(stored_path(), renamed.u16string());

    EXPECT_EQ(doc.rename(u"Lunch with a/b?c"), RenameOutcome::Unchanged);
    EXPECT_EQ(doc.rename(u"\r\x1b"), RenameOutcome::Unchanged) << "cleans to nothing";
    EXPECT_EQ(m_events.seen.size(), 1u);

    ASSERT_TRUE(doc.select_record(first.u16string()));
    EXPECT_EQ(doc.rename(u"Lunch with a/b?c"), RenameOutcome::Renamed);
    EXPECT_EQ(doc.current().path,
              (m_world.main_folder() / "Record Lunch with a b c~1.mp3").u16string());
}

TEST_F(DocumentTest, ListIsTrueToTheDiskAfterRemoveAndAFailedMove) {
    const fs::path path = note(0.5);
    m_events.seen.clear();

    // A folder that refuses the delete keeps the file, and the list keeps showing it.
    fs::permissions(path.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (!std::ofstream(path.parent_path() / "probe").is_open()) {
        doc.remove();
        EXPECT_TRUE(fs::exists(path));
        EXPECT_EQ(doc.records().size(), 1u);
        EXPECT_TRUE(m_events.seen.empty());
        // A move that fails leaves the list at the file's real path, with the tag's new title.
        EXPECT_EQ(doc.rename(u"Kept in place"), RenameOutcome::TitleOnly);
        EXPECT_EQ(doc.current().path, path.u16string());
        EXPECT_EQ(doc.records()[0].path, path.u16string());
        EXPECT_EQ(doc.records()[0].title, u"Kept in place");
        m_events.seen.clear();
    }
    fs::permissions(path.parent_path(), fs::perms::owner_all);
    fs::remove(path.parent_path() / "probe");

    doc.remove();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(m_world.trash() / "files" / path.filename())) << "to the trash";
    EXPECT_TRUE(doc.records().empty());
    EXPECT_EQ(m_events.seen, (std::vector<std::pair<E, int>>{{E::CurrentDeleted, 0}}));
}

TEST_F(DocumentTest, RecordsGoToTheLargestCardAndStopWhenItVanishesOrTheFolderGoes) {
    const auto media = m_world.add_cards({"Small", "Large"});
    foundation::set_free_space_for_testing((media / "Large").u16string(), 8e12);
    const fs::path path = started();
    EXPECT_EQ(path.parent_path(), media / "Large/My Quillory");
    record_for(1.0);
    fs::rename(media / "Large", m_world.root() / "pulled");
    ASSERT_TRUE(pump(20, [&] { return !doc.is_recording(); }));
    EXPECT_EQ(m_events.last(3), (Events{E::Stopped, E::ListRebuilt, E::StorageFailed}));
    EXPECT_EQ(doc.stop_reason(), StopReason::StorageFailed);
    EXPECT_TRUE(doc.records().empty()) << "the list no longer shows the vanished file";
    EXPECT_GT(ffprobe_duration(m_world.root() / "pulled/My Quillory" / path.filename()), 0.8)
        << "what was written is intact";

    // A folder deleted and a stop by hand before the periodic check saw it: the same report.
    const fs::path again = started();
    record_for(0.5);
    fs::remove_all(again.parent_path());
    m_events.seen.clear();
    doc.stop();
    const Events events = m_events.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front(), E::Stopped);
    EXPECT_EQ(events.back(), E::StorageFailed);
    EXPECT_TRUE(doc.records().empty());
    // Cards nearly full leave the record in main memory.
    foundation::set_free_space_for_testing((media / "Small").u16string(), 999999);
    foundation::set_free_space_for_testing((media / "Large").u16string(), 999999);
    EXPECT_EQ(fs::path(started()).parent_path(), m_world.main_folder());
}

namespace {
struct GapTest : DocumentTest {
    GapTest() : DocumentTest("gap.wav", 4) {}
};
struct RealTimeTest : DocumentTest {
    RealTimeTest() : DocumentTest("speech.wav", 1) {}
};
} // namespace

TEST_F(GapTest, VoiceSwitchLeavesSilenceOut) {
    doc.set_vas_level(0.05);
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    pump(14.0);
    const fs::path path(doc.current().path);
    doc.stop();
    const double duration = ffprobe_duration(path);
    EXPECT_GT(duration, 6.0) << "speech and the first two seconds of each silence stay";
    EXPECT_LT(duration, 11.0) << "the rest of the silence is left out";
}

TEST_F(RealTimeTest, RecordingWithoutAudioLeavesNoFile) {
    const fs::path kept = note(0.5, u"Kept");
    // Paused at once: not one block reaches the file.
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"Empty", u"", CallDirection::None));
    const fs::path path(doc.current().path);
    doc.pause(true);
    ASSERT_EQ(doc.records().size(), 2u);
    m_events.seen.clear();
    pump(1.0);
    doc.stop();
    EXPECT_FALSE(fs::exists(path));
    ASSERT_EQ(doc.records().size(), 1u);
    EXPECT_EQ(doc.records()[0].path, kept.u16string());
    EXPECT_EQ(m_events.events(), (Events{E::CurrentDeleted, E::Stopped}));
    EXPECT_EQ(doc.stop_reason(), StopReason::Requested);
    // Appending nothing to a record keeps it.
    ASSERT_TRUE(doc.select_record(kept.u16string()));
    ASSERT_TRUE(doc.append());
    doc.pause(true);
    doc.stop();
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(doc.records().size(), 1u);
}

TEST_F(DocumentTest, IncomingCallIsRecordedUnderTheContactWithPicture) {
    std::string png(1200, 'B');
    png.replace(0, 8, "\x89PNG\r\n\x1a\n");
    std::ofstream(m_world.contacts() / "ada.png", std::ios::binary) << png;
    std::ofstream(m_world.contacts() / "ada.vcf")
        << "BEGIN:VCARD\nVERSION:4.0\nFN:Ada Lovelace\nN:Lovelace;Ada;;;\n"
           "TEL;TYPE=cell:+44 20 7946 0958\nPHOTO:file://"
        << (m_world.contacts() / "ada.png").string() << "\nEND:VCARD\n";
    ASSERT_TRUE(doc.set_auto_record(true));
    telephony::provide_call(CallDirection::Incoming, u"020 7946 0958", u"Ada Lovelace");
    pump(2.0);
    EXPECT_FALSE(doc.is_recording()) << "a ringing call is not recorded yet";
    ASSERT_TRUE(telephony::provide_connect());
    ASSERT_TRUE(pump(20, [&] { return doc.is_recording(); }));
    EXPECT_TRUE(doc.is_call_recording());
    // The call's other side was asked for (this device has none).
    EXPECT_TRUE(doc.other_side_missing());
    const fs::path path(doc.current().path);
    EXPECT_EQ(path.parent_path(), m_world.main_folder() / "Incoming");
    EXPECT_EQ(path.filename().string().rfind("Ada Lovelace ", 0), 0u);

    record_for(1.0);
    ASSERT_TRUE(pump(20, [&] { return doc.call_state(); }));
    telephony::provide_hang_up();
    ASSERT_TRUE(pump(20, [&] { return !doc.is_recording(); }));
    EXPECT_FALSE(m_quit) << "a program not started for the call goes on";

    auto found = tags(path);
    EXPECT_EQ(found["artist"], "Ada Lovelace");
    EXPECT_EQ(found["album"], "Incoming");
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i " + quote(path) +
                  " -map 0:v -c copy -f image2pipe - | wc -c")
                  .out,
              "1200\n")
        << "the contact's picture";
    EXPECT_GT(ffprobe_duration(path), 0.8);
    const Events events = m_events.events();
    EXPECT_NE(std::find(events.begin(), events.end(), E::CallStateChanged), events.end());
    EXPECT_EQ(std::count(events.begin(), events.end(), E::RecordingStarted), 1);
    // A caller given by number only is named from the contacts; a stranger by the number.
    for (const auto& [number, artist] :
         {std::pair{u"020 7946 0958", u"Ada Lovelace"}, std::pair{u"555 0199", u"555 0199"}}) {
        ASSERT_TRUE(doc.record(RecordingKind::Call, u"", number, CallDirection::Incoming));
        EXPECT_EQ(doc.current().artist, artist);
        const std::string name = fs::path(doc.current().path).filename().string();
        EXPECT_TRUE(name.starts_with(fs::path(artist).string() + " ")) << name;
        doc.stop();
    }
}

TEST_F(DocumentTest, CallsWithoutAutoRecordAndHandMadeRecordings) {
    ASSERT_TRUE(doc.set_auto_record(false));
    EXPECT_FALSE(doc.record(RecordingKind::Call, u"", u"", CallDirection::None))
        << "a call recording needs a direction";
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    telephony::provide_call(CallDirection::Outgoing, u"555 0101", u"Bob");
    ASSERT_TRUE(telephony::provide_connect());
    pump(3.0);
    telephony::provide_hang_up();
    pump(3.0);
    EXPECT_TRUE(doc.is_recording()) << "hanging up does not stop a recording started by hand";
    doc.stop();

    // Started for the call: "call" records it into Outgoing, and the program ends after it.
    telephony::provide_call(CallDirection::Outgoing, u"555 0101", u"Bob");
    ASSERT_TRUE(telephony::provide_connect());
    doc.set_exit_after_call(true);
    doc.command_line(u"call");
    ASSERT_TRUE(doc.is_recording());
    EXPECT_EQ(fs::path(doc.current().path).parent_path(), m_world.main_folder() / "Outgoing");
    EXPECT_EQ(doc.current().artist, u"Bob");
    pump(3.0);
    telephony::provide_hang_up();
    ASSERT_TRUE(pump(20, [&] { return m_quit; }));
    EXPECT_FALSE(doc.is_recording());
}

namespace {

// A stand-in for logind: each inhibitor is a pipe, its read end sees the end once it is let go.
std::vector<int> g_inhibitor_read_ends;
std::mutex g_inhibitor_mutex;

int fake_inhibitor(const std::string&) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    std::lock_guard guard(g_inhibitor_mutex);
    g_inhibitor_read_ends.push_back(fds[0]);
    return fds[1];
}

// Inhibitors taken so far, and how many of them are still held.
std::pair<size_t, size_t> inhibitors() {
    std::lock_guard guard(g_inhibitor_mutex);
    size_t held = 0;
    for (int fd : g_inhibitor_read_ends) {
        pollfd poll_fd{fd, POLLIN, 0};
        held += poll(&poll_fd, 1, 0) == 0;
    }
    return {g_inhibitor_read_ends.size(), held};
}

} // namespace

TEST_F(DocumentTest, MachineIsKeptAwakeWhileRecordingOrPlaying) {
    platform::set_inhibitor_opener(&fake_inhibitor);
    pump(1);
    EXPECT_EQ(inhibitors(), std::make_pair(size_t(0), size_t(0))) << "idle: nothing held";
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    ASSERT_TRUE(pump(20, [&] { return inhibitors().second == 1; }));
    record_for(1);
    EXPECT_EQ(inhibitors(), std::make_pair(size_t(1), size_t(1))) << "one, held throughout";
    doc.stop();
    EXPECT_TRUE(pump(20, [&] { return inhibitors().second == 0; })) << "let go at the stop";
    ScopedEnv real_time("QUILLORY_AUDIO_SPEED", "1");
    ASSERT_TRUE(doc.play(doc.current().path, 0));
    EXPECT_TRUE(pump(20, [&] { return inhibitors().second == 1; }));
    ASSERT_TRUE(pump(100, [&] { return !doc.is_playing(); }));
    EXPECT_TRUE(pump(20, [&] { return inhibitors().second == 0; }));
    EXPECT_EQ(inhibitors().first, 2u);
    platform::set_inhibitor_opener(nullptr);
    std::lock_guard guard(g_inhibitor_mutex);
    for (int fd : g_inhibitor_read_ends)
        close(fd);
    g_inhibitor_read_ends.clear();
}

namespace {

// A limit on the size of the files this process writes stands in for a full disk.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : previous(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }
    rlimit saved{};
    void (*previous)(int);
};
} // namespace

TEST_F(DocumentTest, LastWritesFailingEndTheRecordingAsAFailure) {
    const fs::path path = started();
    record_for(1.5);
    {
        FileSizeLimit full(fs::file_size(path));
        doc.stop();
    }
    EXPECT_EQ(doc.stop_reason(), StopReason::WritingFailed);
    EXPECT_EQ(m_events.last(2), (Events{E::Stopped, E::WritingFailed}));
    EXPECT_GT(ffprobe_duration(path), 0.5) << "what was written before stays playable";
    ASSERT_EQ(doc.records().size(), 1u) << "the file is kept";
    // A plain stop after that is a plain stop again.
    m_events.seen.clear();
    doc.stop();
    EXPECT_EQ(doc.stop_reason(), StopReason::Requested);
    EXPECT_EQ(m_events.events(), Events{E::Stopped});
}

TEST_F(DocumentTest, AFullDiskIsSaidWhenARecordingCannotStartOrATitleCannotBeSaved) {
    const std::string documents = (m_world.root() / "home/Documents").string();
    {
        ScopedEnv full("QUILLORY_FULL_DISK", documents);
        EXPECT_FALSE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
        EXPECT_EQ(m_events.events(), Events{E::NoSpace});
        EXPECT_TRUE(doc.records().empty());
        EXPECT_FALSE(fs::exists(m_world.main_folder()) && !fs::is_empty(m_world.main_folder()))
            << "no tag-only file is left behind";
    }
    const fs::path path = note(0.5);
    const std::string title = tags(path)["title"];
    ASSERT_FALSE(title.empty());
    m_events.seen.clear();
    {
        // A title beyond the tag's room needs a new copy of the file, which a full disk cannot
        // take: the record keeps its name and title, and the screens are told.
        ScopedEnv full("QUILLORY_FULL_DISK", documents);
        EXPECT_EQ(doc.rename(std::u16string(9000, u'n')), RenameOutcome::Failed);
    }
    EXPECT_EQ(m_events.events(), Events{E::NoSpace});
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(tags(path)["title"], title);
}

// Through the hand-over's commands: "record" starts, then pauses and resumes; "mark" marks.
TEST_F(DocumentTest, MarkersFollowFileTimeThroughPauseAppendAndRename) {
    EXPECT_EQ(doc.add_marker(), -1) << "nothing runs";
    doc.command_line(u"record");
    ASSERT_TRUE(doc.is_recording());
    record_for(1.0);
    const double first_at = doc.recorded_seconds();
    ASSERT_EQ(doc.add_marker(), 0);
    const uint32_t first = doc.markers()[0].time_ms;
    EXPECT_NEAR(first / 1000.0, first_at, 0.25) << "file time when it was set";
    record_for(2.0);
    doc.command_line(u"record");
    ASSERT_TRUE(doc.is_paused());
    const uint32_t paused_at = doc.recording_time_ms();
    pump(1.0);
    // A marker at the pause point, not at the clock's time.
    doc.command_line(u"mark");
    ASSERT_EQ(doc.markers().size(), 2u);
    EXPECT_NEAR(double(doc.markers()[1].time_ms), double(paused_at), 50);
    doc.command_line(u"record");
    EXPECT_FALSE(doc.is_paused());
    record_for(3.0);
    const double recorded = doc.recorded_seconds();
    doc.stop();
    Events events = m_events.events();
    std::erase_if(events, [](E e) { return e == E::MarkersChanged || e == E::CurrentRenamed; });
    EXPECT_EQ(events, (Events{E::Stopped, E::RecordingStarted, E::PauseChanged, E::PauseChanged,
                              E::Stopped}));
    const fs::path path(doc.current().path);
    const double before_append = ffprobe_duration(path);
    EXPECT_NEAR(before_append, recorded, 0.3) << "the paused time is left out";
    const auto texts = tags(path);
    ASSERT_TRUE(doc.select_record(path.u16string()));
    ASSERT_TRUE(doc.append());
    record_for(1.0);
    const double appended_for = doc.recorded_seconds();
    ASSERT_EQ(doc.add_marker(u"Appended"), 2);
    const uint32_t appended_at = doc.markers()[2].time_ms;
    EXPECT_NEAR(appended_at / 1000.0, before_append + appended_for, 0.3);
    record_for(1.5);
    doc.stop();
    EXPECT_EQ(tags(path), texts) << "the append leaves the tag's texts alone";
    EXPECT_EQ(std::count_if(doc.records().begin(), doc.records().end(),
                            [&](const RecordInfo& r) { return r.path == path.u16string(); }),
              1)
        << "no second entry for the same file";
    ASSERT_EQ(doc.rename(u"Kept markers"), RenameOutcome::Renamed);
    const fs::path renamed(doc.current().path);

    EXPECT_EQ(run("ffprobe -v error -show_entries chapter=start:chapter_tags=title -of csv=p=0 " +
                  quote(renamed) + " 2>/dev/null")
                  .out,
              std::to_string(first) + ",Marker 1\n" + std::to_string(doc.markers()[1].time_ms) +
                  ",Marker 2\n" + std::to_string(appended_at) + ",Appended\n");

    ASSERT_TRUE(doc.select_record(renamed.u16string()));
    ASSERT_EQ(doc.markers().size(), 3u);
    EXPECT_TRUE(doc.rename_marker(1, u"Break"));
    EXPECT_TRUE(doc.remove_marker(0));
    EXPECT_FALSE(doc.remove_marker(5));
    ASSERT_TRUE(doc.select_record(renamed.u16string()));
    ASSERT_EQ(doc.markers().size(), 2u);
    EXPECT_EQ(doc.markers()[0].label, u"Break");
}

TEST_F(DocumentTest, MarkersBeyondTheTagsRoomGrowItWhileRecording) {
    const fs::path path = started();
    record_for(0.5);
    const std::u16string label(80, u'x');
    for (int i = 0; i < 120; ++i) {
        ASSERT_GE(doc.add_marker(label), 0) << i;
        pump(0.05);
    }
    record_for(doc.recorded_seconds() + 1.0);
    const double recorded = doc.recorded_seconds();
    doc.stop();
    EXPECT_EQ(run("ffmpeg -nostdin -v warning -i " + quote(path) +
                  " -f null - 2>&1 | grep -v 'Estimating duration'")
                  .out,
              "");
    EXPECT_NEAR(ffprobe_duration(path), recorded, 0.3) << "no audio lost or doubled";
    const std::string head = read_whole_file(path).substr(0, 10);
    EXPECT_GT((head[6] << 21) | (head[7] << 14) | (head[8] << 7) | head[9], 9000);
    EXPECT_EQ(
        run("ffprobe -v error -show_chapters -of csv=p=0 " + quote(path) + " 2>/dev/null | wc -l")
            .out,
        "120\n");
}

TEST_F(DocumentTest, PlaybackPositionIsWhatHasBeenHeard) {
    // The output takes a second of sound and then no more, while the player has pulled further
    // ahead. In real time, so that a loaded machine cannot let the second pass unseen.
    ScopedEnv real_time("QUILLORY_AUDIO_SPEED", "1");
    ScopedEnv stall("QUILLORY_AUDIO_STALL_AFTER_MS", "1000");
    ASSERT_TRUE(doc.play(fs::path(data_dir + "speech.wav").u16string(), 0));
    double highest = 0;
    bool sought = false;
    ASSERT_TRUE(pump(400, [&] {
        const double position = doc.play_position();
        if (!sought)
            highest = std::max(highest, position);
        // Then a seek: what the stalled output holds is never heard; the place sought shows.
        if (!sought && position >= 0.2) {
            sought = doc.seek(3.4);
            EXPECT_EQ(doc.play_position(), 3.0);
        } else if (sought && doc.is_playing()) {
            EXPECT_EQ(position, 3.0);
        }
        return !doc.is_playing();
    }));
    EXPECT_TRUE(sought) << "the position reached " << highest;
    EXPECT_LE(highest, 1.0);
}

TEST_F(DocumentTest, RecordsMadeElsewhereAreListedAsTheyComeChangeAndGo) {
    fs::create_directories(m_world.main_folder());
    doc.refresh();
    auto index_of = [&](const fs::path& path) {
        for (size_t i = 0; i < doc.records().size(); ++i)
            if (doc.records()[i].path == path.u16string())
                return int(i);
        return -1;
    };
    auto listed = [&](const fs::path& path) {
        return pump(400, [&] { return index_of(path) >= 0; });
    };
    // Written under a temporary name, then put in place, as copying programs do.
    const fs::path copied = m_world.main_folder() / "Copied note.wav";
    run("sox " + quote(data_dir + "speech.wav") + " -t wav " + quote(copied.string() + ".part") +
        " trim 0 1");
    fs::rename(copied.string() + ".part", copied);
    ASSERT_TRUE(listed(copied));
    EXPECT_EQ(doc.records().size(), 1u) << "the temporary file is not listed";
    // A recording by quillory-cli, and a call folder that did not exist before.
    const fs::path recorded = first_line(run(quote(cli) + " record --seconds 1 2>/dev/null").out);
    ASSERT_TRUE(fs::exists(recorded)) << recorded;
    ASSERT_TRUE(listed(recorded));
    const fs::path call = m_world.main_folder() / "Incoming/Caller.wav";
    fs::create_directories(call.parent_path());
    fs::copy_file(copied, call);
    ASSERT_TRUE(listed(call));
    EXPECT_EQ(doc.records().size(), 3u);

    // A new title from another tagger shows in the row; the record keeps its place.
    const int index = index_of(recorded);
    m_events.seen.clear();
    run("/usr/bin/python3 -c 'import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]); "
        "t.add(m.TIT2(encoding=3, text=[\"Retitled\"])); t.save(v2_version=3)' " +
        quote(recorded));
    ASSERT_TRUE(pump(400, [&] { return doc.records()[size_t(index)].title == u"Retitled"; }));
    EXPECT_EQ(m_events.seen, (std::vector<std::pair<E, int>>{{E::CurrentRenamed, index}}));

    // Gone: the rows go, each once.
    m_events.seen.clear();
    fs::remove(copied);
    fs::remove_all(call.parent_path());
    ASSERT_TRUE(pump(400, [&] { return doc.records().size() == 1u; }));
    EXPECT_EQ(doc.records()[0].path, recorded.u16string());
    EXPECT_EQ(m_events.events(), (Events{E::RecordRemoved, E::RecordRemoved}));
    // The call folder made again is watched again.
    fs::create_directories(call.parent_path());
    fs::copy_file(recorded, call.parent_path() / "Again.mp3");
    ASSERT_TRUE(listed(call.parent_path() / "Again.mp3"));
}

TEST(Settings, DamagedValuesGiveTheDefaults) {
    IsolatedWorld world;
    EXPECT_FALSE(hardware_speaker_on());
    const auto key = settings_key();
    foundation::write_dword(key, u"Volume", 524288);
    foundation::write_string(key, u"Boost", u"boost1");
    foundation::write_dword(key, u"VasLevel", 0xFFFFFFFF);
    foundation::write_string(key, u"Speaker", u"not a number");
    Settings stored;
    stored.load_first();
    stored.load_secondary();
    EXPECT_EQ(stored.volume, 0.5);
    EXPECT_EQ(boost_gain_for(stored.boost), 1) << "names compare exactly";
    EXPECT_EQ(quality_for(u"mp3high").bit_rate, quality_for(u"").bit_rate);
    EXPECT_EQ(stored.vas_level, 1.0) << "an out-of-range threshold is clamped";
    EXPECT_FALSE(stored.speaker);
    EXPECT_EQ(to_fixed_point(-3), 0u);

    foundation::write_dword(u"HKEY_LOCAL_MACHINE\\System\\State\\Hardware", u"Speaker", 2);
    EXPECT_TRUE(hardware_speaker_on());
}

TEST(Settings, DocumentAppliesAndSavesThem) {
    testing_support::Watchdog watchdog(60);
    IsolatedWorld world;
    foundation::write_string(settings_key(), u"Boost", u"Boost2");
    foundation::write_dword(settings_key(), u"VasLevel", 104857);
    foundation::write_dword(settings_key(), u"Volume", 786432);
    foundation::CActiveScheduler scheduler;
    Document document;
    EXPECT_NEAR(document.vas_level(), 0.1, 1e-6);
    EXPECT_EQ(document.settings().boost, u"Boost2");
    document.load_secondary_things();
    EXPECT_EQ(document.volume(), 0.75);
    EXPECT_FALSE(document.settings().auto_record);

    ASSERT_TRUE(document.set_auto_record(true));
    const auto notifications = platform::registry_notifications();
    EXPECT_TRUE(std::any_of(notifications.begin(), notifications.end(), [](const auto& n) {
        return n.name == "Quillory Vozir.Call" &&
               n.command.find("quillory\" call") != n.command.npos;
    }));
    document.set_volume(0.5);
    document.set_vas_level(0);
    document.save_settings();
    for (const auto& [name, expected] :
         {std::pair{u"Volume", 524288u}, {u"VasLevel", 0u}, {u"AutoRecord", 1u}}) {
        uint32_t value = 99;
        foundation::read_dword(settings_key(), name, value);
        EXPECT_EQ(value, expected) << foundation::to_utf8(name);
    }
    ASSERT_TRUE(document.set_auto_record(false));
    EXPECT_TRUE(platform::registry_notifications().empty());
}

TEST(Settings, BackgroundScanFindsRecordsOneEventEach) {
    testing_support::Watchdog watchdog(60);
    IsolatedWorld world;
    std::filesystem::create_directories(world.main_folder() / "Outgoing");
    for (auto name : {"a.mp3", "b.wav", "Outgoing/c.MP3", "notes.txt", "empty.mp3"})
        std::ofstream(world.main_folder() / name)
            << (std::string(name) == "empty.mp3" ? "" : "data");
    foundation::CActiveScheduler scheduler;
    Document document;
    Listener found;
    document.add_listener(&found);
    document.load_secondary_things();
    wait_for([&] {
        for (platform::Message message; platform::peek_message(message);)
            platform::dispatch_message(message);
        return !document.scanning();
    });
    const Events events = found.events();
    EXPECT_EQ(std::count(events.begin(), events.end(), E::RecordFound), 3);
    EXPECT_EQ(document.records().size(), 3u);
    document.remove_listener(&found);
}

namespace {

void write_bytes(const fs::path& path, std::size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

} // namespace

TEST(RecordStorage, FileNameRules) {
    IsolatedWorld world;
    const std::u16string folder = world.root().u16string();
    EXPECT_EQ(unique_record_path(u"<>:\"\\|*x\tz\n", folder, u"mp3"), folder + u"/       x z .mp3");

    write_bytes(world.root() / "Ada 1.mp3", 1);
    write_bytes(world.root() / "Ada 1~1.mp3", 1);
    EXPECT_EQ(unique_record_path(u"Ada 1", folder, u"mp3"), folder + u"/Ada 1~2.mp3");

    // A name is cut only by what the whole path has beyond 250 characters (whatever the length
    // of the temporary folder the test runs in).
    const size_t room = 60;
    ASSERT_LT(folder.size(), 250 - room - 10);
    const std::u16string deep =
        folder + u"/" + std::u16string(250 - room - 4 - 1 - folder.size() - 1, u'd');
    const std::u16string name(room, u'n');
    ASSERT_EQ((deep + u"/" + name + u".mp3").size(), 250u);
    EXPECT_EQ(unique_record_path(name, deep, u"mp3"), deep + u"/" + name + u".mp3");
    const std::u16string longer(room + 50, u'n');
    EXPECT_EQ(unique_record_path(longer, deep, u"mp3"),
              deep + u"/" + std::u16string(room, u'n') + u".mp3");
    // A folder that leaves no room for a name gives no path rather than a hidden ".mp3".
    EXPECT_EQ(unique_record_path(u"x", folder + u"/" + std::u16string(260, u'd'), u"mp3"), u"");
    // Non-ASCII names are kept within the system's byte limit for one file name.
    std::u16string wide(240, u'\u00e9');
    auto path = unique_record_path(wide, folder, u"mp3");
    ASSERT_FALSE(path.empty());
    EXPECT_LE(fs::path(path).filename().string().size(), 255u);
}

TEST(RecordStorage, ListIsSortedNewestFirstWithOnePathOnce) {
    RecordList list;
    auto at = [](std::u16string path, int day) {
        RecordInfo info;
        info.path = std::move(path);
        info.date.set_date(2026, 5, day);
        return info;
    };
    EXPECT_EQ(list.insert(at(u"/a", 3)), 0);
    EXPECT_EQ(list.insert(at(u"/b", 5)), 0);
    EXPECT_EQ(list.insert(at(u"/c", 4)), 1);
    EXPECT_EQ(list.insert(at(u"/d", 4)), 2) << "after records of the same date";
    bool inserted = true;
    EXPECT_EQ(list.insert(at(u"/c", 9), &inserted), 1);
    EXPECT_FALSE(inserted);
    EXPECT_EQ(list.size(), 4u);
    list.assign({at(u"/x", 1), at(u"/y", 2), at(u"/x", 3)});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, u"/y");
}

// The speaker switch as the Document uses it, against a mock callaudiod on a private session bus.
namespace {

class PhoneSpeakerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QV_REQUIRE_SESSION_MOCKS(m_bus);
        ASSERT_TRUE(m_bus.start_mock(m_mock, QV_SOURCE_DIR "/tests/platform/callaudiod_mock.py",
                                     "org.mobian_project.CallAudio", false));
    }
    std::string speaker_state() const {
        return m_bus.python("print(bus.get_object('org.mobian_project.CallAudio', "
                            "'/org/mobian_project/CallAudio').Get('org.mobian_project.CallAudio',"
                            " 'SpeakerState', dbus_interface='org.freedesktop.DBus.Properties'))");
    }

    testing_support::Watchdog m_watchdog{60, "phone speaker test"};
    testing_support::MockSessionBus m_bus;
    testing_support::Child m_mock;
};

TEST_F(PhoneSpeakerTest, EndOfARecordingOnlyUndoesItsOwnSwitch) {
    PhoneSpeaker speaker;
    // An ordinary recording ending with the Speaker setting on: nothing was switched on.
    speaker.set_speaker(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(speaker.call_audio().completed(), 0u) << "nothing to switch off";
    // A call recording switches on, and off again at its end.
    speaker.set_speaker(true);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() == 1; }));
    EXPECT_EQ(speaker_state(), "1\n");
    speaker.set_speaker(false);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() == 2; }));
    EXPECT_EQ(speaker_state(), "0\n");
    // The user's own choice always goes through.
    speaker.choose_speaker(true);
    speaker.choose_speaker(false);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() >= 3; }));
    EXPECT_TRUE(wait_for([&] { return speaker_state() == "0\n"; }));
    EXPECT_EQ(speaker.call_audio().last_outcome(), platform::CallAudio::Outcome::Switched);
}

} // namespace

// Where the system gives no new threads every start fails cleanly, and nothing hangs.
TEST(NoThreads, RecordingFailsInsteadOfEndingTheProgram) {
    testing_support::Watchdog watchdog(60);
    IsolatedWorld world;
    ScopedEnv audio("QUILLORY_AUDIO", "null");
    foundation::CActiveScheduler scheduler;
    testing_support::NoNewThreads no_threads;
    if (!no_threads.applied())
        GTEST_SKIP() << "the default thread attributes cannot be changed here";
    Document document;
    EXPECT_FALSE(document.record(RecordingKind::Note, u"", u"", CallDirection::None));
    EXPECT_FALSE(document.is_recording());
}
