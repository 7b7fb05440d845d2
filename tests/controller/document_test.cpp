#include "controller/document.h"
#include "controller_env.h"
#include "foundation/active_scheduler.h"
#include "foundation/file.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/messages.h"
#include "platform/power.h"
#include "platform/registry_notifications.h"
#include "platform/system_paths.h"
#include "platform/wave_file.h"
#include "support/watchdog.h"
#include "telephony/phone_state.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

using namespace controller;
using controller_test::IsolatedWorld;
using telephony::CallDirection;
using testing_support::ScopedEnv;
namespace fs = std::filesystem;

namespace {

const std::string data_dir = std::string(QV_TEST_DATA) + "/controller/";

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

std::string quoted(const fs::path& path) {
    std::string text = "'";
    for (char c : path.string())
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

// The ID3 frames as an independent reader sees them: text frames by id, and for a picture its
// MIME type and size.
std::map<std::string, std::string> id3_frames(const fs::path& path) {
    const std::string script =
        "import sys, mutagen.id3 as m\n"
        "t = m.ID3(sys.argv[1], translate=False)\n"
        "for f in t.values():\n"
        "    if f.FrameID == 'APIC': print('APIC\\t%s %d' % (f.mime, len(f.data)))\n"
        "    elif f.FrameID.startswith('T'): print('%s\\t%s' % (f.FrameID, f.text[0]))\n"
        "print('VERSION\\t%d.%d' % t.version[:2])\n";
    std::istringstream lines(run("/usr/bin/python3 -c \"$(cat <<'PYEOF'\n" + script +
                                 "PYEOF\n)\" " + quoted(path) + " 2>/dev/null"));
    std::map<std::string, std::string> frames;
    std::string line;
    while (std::getline(lines, line))
        if (auto tab = line.find('\t'); tab != std::string::npos)
            frames[line.substr(0, tab)] = line.substr(tab + 1);
    return frames;
}

double duration_of(const fs::path& path) {
    std::string text = run("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                           quoted(path) + " 2>/dev/null");
    return text.empty() ? -1 : std::atof(text.c_str());
}

// Peak sample of the decoded file, 0..1.
double peak_of(const fs::path& path) {
    std::string text = run("sox " + quoted(path) + " -n stat 2>&1 | grep 'Maximum amplitude'");
    auto colon = text.find(':');
    return colon == std::string::npos ? -1 : std::atof(text.c_str() + colon + 1);
}

std::string utf8(const std::u16string& text) {
    return fs::path(text).string();
}

class Events : public DocumentListener {
public:
    std::vector<std::pair<int, int>> seen;
    void on_document_event(DocumentEvent event, int argument) override {
        seen.emplace_back(int(event), argument);
    }
    std::vector<int> codes() const {
        std::vector<int> codes;
        for (auto [code, argument] : seen)
            codes.push_back(code);
        return codes;
    }
};

class DocumentTest : public ::testing::Test {
protected:
    explicit DocumentTest(const std::string& input = "speech.wav", double speed = 20)
        : m_speed_value(speed), m_audio("QUILLORY_AUDIO", "file"),
          m_input("QUILLORY_AUDIO_IN", data_dir + input),
          m_speed("QUILLORY_AUDIO_SPEED", std::to_string(speed)),
          m_output("QUILLORY_AUDIO_OUT", "") {
        m_document = std::make_unique<Document>();
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

    double m_speed_value;
    testing_support::Watchdog m_watchdog{120};
    IsolatedWorld m_world;
    ScopedEnv m_audio, m_input, m_speed, m_output;
    foundation::CActiveScheduler m_scheduler;
    Events m_events;
    std::unique_ptr<Document> m_document;
    bool m_quit{false};
};

} // namespace

TEST_F(DocumentTest, RecordingIsFiledTaggedAndTimed) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    EXPECT_FALSE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None))
        << "one recording at a time";
    const fs::path path(doc.current().path);
    EXPECT_EQ(path.parent_path(), m_world.main_folder());
    EXPECT_EQ(path.extension(), ".mp3");
    const std::string title = utf8(doc.current().title);
    std::string expected_name = "Record " + title;
    for (char& c : expected_name)
        if (c == ':' || c == '/')
            c = ' ';
    EXPECT_EQ(path.stem().string(), expected_name);

    record_for(2.0);
    const double recorded = doc.recorded_seconds();
    doc.stop();
    EXPECT_FALSE(doc.is_recording());
    // Starting stops whatever ran before (event 7), then announces the record.
    EXPECT_EQ(m_events.seen, (std::vector<std::pair<int, int>>{{7, 0}, {4, 0}, {7, 0}}));

    auto frames = id3_frames(path);
    EXPECT_EQ(frames["VERSION"], "2.3");
    EXPECT_EQ(frames["TPE1"], "Record");
    EXPECT_EQ(frames["TIT2"], title);
    EXPECT_EQ(frames["TALB"], "Record");
    EXPECT_EQ(frames["TCON"], "Quillory Vozir");
    const auto now = foundation::DateTime::now();
    EXPECT_EQ(frames["TYER"], std::to_string(now.year()));
    char day_month[8];
    std::snprintf(day_month, sizeof day_month, "%02d%02d", now.day() % 100, now.month() % 100);
    EXPECT_EQ(frames["TDAT"], day_month);
    EXPECT_EQ(frames.count("APIC"), 0u);
    EXPECT_NEAR(duration_of(path), recorded, 0.3);
    EXPECT_NE(run("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " +
                  quoted(path)),
              "")
        << "an MP3 stream that a foreign decoder opens";
    EXPECT_EQ(run("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " +
                  quoted(path)),
              "44100,1\n");

    std::u16string stored;
    foundation::read_string(settings_key(), u"Path", stored);
    EXPECT_EQ(stored, path.u16string());
    ASSERT_EQ(doc.records().size(), 1u);
    EXPECT_EQ(doc.records()[0].path, path.u16string());
}

TEST_F(DocumentTest, SameNameGetsTildeAndQualityFollowsFormat) {
    Document& doc = *m_document;
    doc.set_format(u"Mp3Low");
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"Memo", u"", CallDirection::None));
    record_for(0.5);
    const fs::path first(doc.current().path);
    const std::u16string first_title = doc.current().title;
    doc.stop();
    // A second recording within the same second gets the same name text.
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"Memo", u"", CallDirection::None));
    const fs::path second(doc.current().path);
    const std::u16string second_title = doc.current().title;
    record_for(0.3);
    doc.stop();
    if (first_title == second_title) {
        EXPECT_EQ(second.stem().string(), first.stem().string() + "~1");
    }
    EXPECT_NE(second, first);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_EQ(run("ffprobe -v error -show_entries stream=sample_rate -of csv=p=0 " + quoted(first)),
              "22050\n");
}

TEST_F(DocumentTest, CommandLineRecordTogglesPauseAndPausedAudioIsLeftOut) {
    Document& doc = *m_document;
    doc.command_line(u"record");
    ASSERT_TRUE(doc.is_recording());
    record_for(1.0);
    doc.command_line(u"record");
    EXPECT_TRUE(doc.is_paused());
    const double at_pause = doc.recorded_seconds();
    pump(2.0);
    EXPECT_NEAR(doc.recorded_seconds(), at_pause, 0.25) << "nothing is written while paused";
    doc.command_line(u"record");
    EXPECT_FALSE(doc.is_paused());
    record_for(at_pause + 1.0);
    const double recorded = doc.recorded_seconds();
    const fs::path path(doc.current().path);
    doc.command_line(u"anything else");
    EXPECT_TRUE(doc.is_recording());
    doc.stop();
    EXPECT_EQ(m_events.codes(), (std::vector<int>{7, 4, 6, 6, 7}));
    EXPECT_NEAR(duration_of(path), recorded, 0.3);
}

TEST_F(DocumentTest, AppendContinuesTheCurrentRecord) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(1.5);
    doc.stop();
    const fs::path path(doc.current().path);
    const double first = duration_of(path);
    const auto frames = id3_frames(path);
    m_events.seen.clear();

    ASSERT_TRUE(doc.select_record(path.u16string()));
    EXPECT_EQ(doc.current().format.codec, u"mp3");
    ASSERT_TRUE(doc.append());
    EXPECT_EQ(m_events.codes(), (std::vector<int>{7, 5}));
    record_for(1.5);
    const double added = doc.recorded_seconds();
    doc.stop();
    EXPECT_NEAR(duration_of(path), first + added, 0.4);
    EXPECT_EQ(id3_frames(path), frames) << "the tag is untouched";
    EXPECT_EQ(doc.records().size(), 1u) << "no second entry for the same file";
}

TEST_F(DocumentTest, RenameRewritesTitleInPlaceAndNumbersClashes) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(0.6);
    doc.stop();
    const fs::path first(doc.current().path);
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(0.6);
    doc.stop();
    const fs::path second(doc.current().path);

    auto bytes_of = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes_of(second);
    m_events.seen.clear();
    doc.rename(u"Lunch\r\nwith a/b?c");
    const fs::path renamed = m_world.main_folder() / "Record Lunch with a b c.mp3";
    EXPECT_EQ(doc.current().path, renamed.u16string());
    EXPECT_FALSE(fs::exists(second));
    ASSERT_TRUE(fs::exists(renamed));
    EXPECT_EQ(id3_frames(renamed)["TIT2"], "Lunch with a/b?c");
    const std::string after = bytes_of(renamed);
    ASSERT_EQ(after.size(), before.size()) << "the audio stays at its offset";
    const std::size_t tag_size = 10 + ((before[6] & 0x7F) << 21 | (before[7] & 0x7F) << 14 |
                                       (before[8] & 0x7F) << 7 | (before[9] & 0x7F));
    EXPECT_EQ(after.substr(tag_size), before.substr(tag_size));
    ASSERT_EQ(m_events.seen.size(), 1u);
    EXPECT_EQ(m_events.seen[0].first, 3);
    EXPECT_EQ(doc.records()[std::size_t(m_events.seen[0].second)].path, renamed.u16string());
    std::u16string stored;
    foundation::read_string(settings_key(), u"Path", stored);
    EXPECT_EQ(stored, renamed.u16string());

    // The same title again changes nothing.
    doc.rename(u"Lunch with a/b?c");
    EXPECT_EQ(m_events.seen.size(), 1u);

    ASSERT_TRUE(doc.select_record(first.u16string()));
    doc.rename(u"Lunch with a/b?c");
    EXPECT_EQ(doc.current().path,
              (m_world.main_folder() / "Record Lunch with a b c~1.mp3").u16string());
    EXPECT_TRUE(fs::exists(m_world.main_folder() / "Record Lunch with a b c~1.mp3"));
}

TEST_F(DocumentTest, ListIsTrueToTheDiskAfterRemove) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(0.5);
    doc.stop();
    const fs::path path(doc.current().path);
    m_events.seen.clear();

    // A folder that refuses the delete keeps the file, and the list keeps showing it.
    fs::permissions(path.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool enforced = !std::ofstream(path.parent_path() / "probe").is_open();
    if (enforced) {
        doc.remove();
        EXPECT_TRUE(fs::exists(path));
        EXPECT_EQ(doc.records().size(), 1u);
        EXPECT_TRUE(m_events.seen.empty());
        // A move that fails leaves the list at the file's real path, with the tag's new title.
        doc.rename(u"Kept in place");
        EXPECT_EQ(doc.current().path, path.u16string());
        EXPECT_EQ(doc.records()[0].path, path.u16string());
        EXPECT_EQ(doc.records()[0].title, u"Kept in place");
        m_events.seen.clear();
    }
    doc.rename(u"\r\x1b");
    EXPECT_TRUE(m_events.seen.empty()) << "a title that cleans to nothing is ignored";
    fs::permissions(path.parent_path(), fs::perms::owner_all);
    fs::remove(path.parent_path() / "probe");

    doc.remove();
    EXPECT_FALSE(fs::exists(path));
    // Deleted to the trash: the file can be had back, and the info names its place.
    EXPECT_TRUE(fs::exists(m_world.trash() / "files" / path.filename()));
    EXPECT_NE(
        std::ifstream(m_world.trash() / "info" / (path.filename().string() + ".trashinfo")).peek(),
        EOF);
    EXPECT_TRUE(doc.records().empty());
    EXPECT_EQ(m_events.seen, (std::vector<std::pair<int, int>>{{2, 0}}));

    // refresh() rebuilds from every storage, sub-folders included.
    fs::create_directories(m_world.main_folder() / "Incoming");
    std::ofstream(m_world.main_folder() / "Incoming/Old.WAV") << std::string(100, 'x');
    std::ofstream(m_world.main_folder() / "note.txt") << "text";
    doc.refresh();
    ASSERT_EQ(doc.records().size(), 1u);
    EXPECT_EQ(doc.records()[0].album, u"Incoming");
    EXPECT_EQ(m_events.seen.back().first, 0);
}

TEST_F(DocumentTest, RecordsGoToTheLargestCardAndStopWhenItVanishes) {
    const auto media = m_world.add_cards({"Small", "Large"});
    foundation::set_free_space_for_testing((media / "Large").u16string(), 8e12);
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    const fs::path path(doc.current().path);
    EXPECT_EQ(path.parent_path(), media / "Large/My Quillory");
    record_for(1.0);
    // The card is taken out: its folder is gone from where it was.
    fs::rename(media / "Large", m_world.root() / "pulled");
    ASSERT_TRUE(pump(20, [&] { return !doc.is_recording(); }));
    const auto codes = m_events.codes();
    ASSERT_GE(codes.size(), 3u);
    // Stopped, the list rebuilt without the vanished file, then the storage failure.
    EXPECT_EQ(std::vector<int>(codes.end() - 3, codes.end()), (std::vector<int>{7, 0, 9}));
    EXPECT_TRUE(doc.records().empty()) << "the list no longer shows the vanished file";
    const fs::path kept = m_world.root() / "pulled/My Quillory" / path.filename();
    EXPECT_GT(duration_of(kept), 0.8) << "what was written is intact";

    foundation::set_free_space_for_testing((media / "Large").u16string(), -1);
    foundation::set_free_space_for_testing((media / "Small").u16string(), 500000);
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    EXPECT_EQ(fs::path(doc.current().path).parent_path(), m_world.main_folder())
        << "the remaining card is nearly full";
    doc.stop();
}

namespace {
class BoostTest : public DocumentTest {
protected:
    BoostTest() : DocumentTest("quiet.wav") {}
};
class GapTest : public DocumentTest {
protected:
    // The check runs every 0.2 s of real time; a slower clock lets it see the silence.
    GapTest() : DocumentTest("gap.wav", 4) {}
};
} // namespace

TEST_F(BoostTest, BoostRaisesQuietSpeech) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"Plain", u"", CallDirection::None));
    record_for(3.0);
    doc.stop();
    const fs::path plain(doc.current().path);
    doc.set_boost(u"Boost3");
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"Boosted", u"", CallDirection::None));
    record_for(3.0);
    doc.stop();
    const fs::path boosted(doc.current().path);
    const double plain_peak = peak_of(plain);
    ASSERT_GT(plain_peak, 0.01);
    EXPECT_LT(plain_peak, 0.05);
    EXPECT_GT(peak_of(boosted), 1.5 * plain_peak);
}

TEST_F(GapTest, VoiceSwitchLeavesSilenceOut) {
    Document& doc = *m_document;
    doc.set_vas_level(0.05);
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    // Two seconds of speech, five of silence, two of speech, then silence.
    pump(14.0);
    const fs::path path(doc.current().path);
    doc.stop();
    const double duration = duration_of(path);
    EXPECT_GT(duration, 6.0) << "speech and the first two seconds of each silence stay";
    EXPECT_LT(duration, 11.0) << "the rest of the silence is left out";
}

TEST_F(DocumentTest, IncomingCallIsRecordedUnderTheContactWithPicture) {
    std::vector<uint8_t> png(1200, 0x42);
    const uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::copy(std::begin(signature), std::end(signature), png.begin());
    std::ofstream(m_world.contacts() / "ada.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    std::ofstream(m_world.contacts() / "ada.vcf")
        << "BEGIN:VCARD\nVERSION:4.0\nFN:Ada Lovelace\nN:Lovelace;Ada;;;\n"
           "TEL;TYPE=cell:+44 20 7946 0958\nPHOTO:file://"
        << (m_world.contacts() / "ada.png").string() << "\nEND:VCARD\n";

    Document& doc = *m_document;
    doc.set_speaker(true);
    ASSERT_TRUE(doc.set_auto_record(true));
    telephony::provide_call(telephony::CallDirection::Incoming, u"020 7946 0958", u"Ada Lovelace");
    pump(2.0);
    EXPECT_FALSE(doc.is_recording()) << "a ringing call is not recorded yet";
    telephony::provide_connect();
    ASSERT_TRUE(pump(20, [&] { return doc.is_recording(); }));
    EXPECT_TRUE(doc.is_call_recording());
    const fs::path path(doc.current().path);
    EXPECT_EQ(path.parent_path(), m_world.main_folder() / "Incoming");
    EXPECT_EQ(path.filename().string().rfind("Ada Lovelace ", 0), 0u);
    uint32_t speakerphone = 0;
    foundation::read_dword(u"HKEY_LOCAL_MACHINE\\System\\State\\Phone", u"Speakerphone",
                           speakerphone);
    EXPECT_EQ(speakerphone, 1u);

    record_for(1.0);
    ASSERT_TRUE(pump(20, [&] { return doc.call_state(); }));
    telephony::provide_hang_up();
    ASSERT_TRUE(pump(20, [&] { return !doc.is_recording(); }));
    foundation::read_dword(u"HKEY_LOCAL_MACHINE\\System\\State\\Phone", u"Speakerphone",
                           speakerphone);
    EXPECT_EQ(speakerphone, 0u);
    EXPECT_FALSE(m_quit) << "a program not started for the call goes on";

    auto frames = id3_frames(path);
    EXPECT_EQ(frames["TPE1"], "Ada Lovelace");
    EXPECT_EQ(frames["TALB"], "Incoming");
    EXPECT_EQ(frames["APIC"], "image/png 1200");
    EXPECT_GT(duration_of(path), 0.8);
    const auto codes = m_events.codes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), 8), codes.end()) << "call state changed";
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 4), 1);
}

TEST_F(DocumentTest, CallsWithoutAutoRecordAndHandMadeRecordings) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.set_auto_record(false));
    EXPECT_FALSE(doc.record(RecordingKind::Call, u"", u"", CallDirection::None))
        << "a call recording needs a direction";

    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    telephony::provide_call(telephony::CallDirection::Outgoing, u"555 0101", u"Bob");
    telephony::provide_connect();
    pump(3.0);
    telephony::provide_hang_up();
    pump(3.0);
    EXPECT_TRUE(doc.is_recording()) << "hanging up does not stop a recording started by hand";
    doc.stop();

    // Started for the call: "call" records it into Outgoing, and the program ends after it.
    telephony::provide_call(telephony::CallDirection::Outgoing, u"555 0101", u"Bob");
    telephony::provide_connect();
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

TEST_F(DocumentTest, PlaybackRunsToItsEndAndStops) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(1.5);
    doc.stop();
    // Everything captured up to the stop is in the file: at a fast clock a little more than
    // asked for.
    const double recorded = doc.recorded_seconds();
    const std::u16string path = doc.current().path;
    const fs::path out = m_world.root() / "played.wav";
    ScopedEnv output("QUILLORY_AUDIO_OUT", out.string());
    m_events.seen.clear();

    ASSERT_TRUE(doc.play(path, 0));
    EXPECT_TRUE(doc.is_playing());
    EXPECT_EQ(doc.current().format.codec, u"mp3");
    EXPECT_EQ(doc.current().format.sample_rate, 44100);
    EXPECT_NEAR(doc.current().format.duration, recorded, 0.2);
    doc.pause(true);
    EXPECT_TRUE(doc.is_paused());
    doc.pause(false);
    ASSERT_TRUE(pump(40, [&] { return !doc.is_playing(); }));
    EXPECT_EQ(m_events.codes(), (std::vector<int>{7, 6, 6, 7}));
    EXPECT_FALSE(doc.play((m_world.root() / "missing.mp3").u16string(), 0));
    EXPECT_FALSE(doc.is_playing());
}

namespace {

// Seconds of 16-bit mono 44.1 kHz audio in a WAV the capture device wrote.
double captured_seconds(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error || size < 44 ? -1 : double(size - 44) / 88200.0;
}

} // namespace

TEST_F(DocumentTest, EveryStopKeepsWhatWasCapturedWithinTenMilliseconds) {
    const fs::path captured = m_world.root() / "captured.wav";
    ScopedEnv captured_env("QUILLORY_AUDIO_CAPTURED", captured.string());
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    // Stops at a moment of the clock's choosing, not right after a buffer was handed on.
    record_for(0.2);
    pump(0.93);
    doc.stop();
    EXPECT_GT(captured_seconds(captured), 0.3);
    EXPECT_NEAR(doc.recorded_seconds(), captured_seconds(captured), 0.010);
    const fs::path path(doc.current().path);
    EXPECT_NEAR(duration_of(path), captured_seconds(captured), 0.1);
    // The end of an append loses nothing either.
    ASSERT_TRUE(doc.append());
    record_for(0.2);
    pump(0.77);
    doc.stop();
    EXPECT_GT(captured_seconds(captured), 0.3);
    EXPECT_NEAR(doc.recorded_seconds(), captured_seconds(captured), 0.010);
}

TEST_F(DocumentTest, SoundDeviceThatGoesAwayStopsWithItsOwnEventAndAWholeFile) {
    Document& doc = *m_document;
    for (const char* which : {"QUILLORY_AUDIO_REMOVE_AFTER_MS", "QUILLORY_AUDIO_STALL_AFTER_MS"}) {
        SCOPED_TRACE(which);
        ScopedEnv gone(which, "1500");
        m_events.seen.clear();
        ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
        ASSERT_TRUE(pump(100, [&] { return !doc.is_recording(); }));
        EXPECT_EQ(m_events.codes(), (std::vector<int>{7, 4, 7, 12}));
        EXPECT_EQ(doc.stop_reason(), StopReason::SoundDevice);
        EXPECT_NEAR(doc.recorded_seconds(), 1.5, 0.25);
        EXPECT_NEAR(duration_of(fs::path(doc.current().path)), 1.5, 0.3);
    }
}

TEST_F(DocumentTest, OutputThatGoesAwayStopsThePlaybackWithItsOwnEvent) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(3);
    doc.stop();
    ScopedEnv gone("QUILLORY_AUDIO_REMOVE_AFTER_MS", "500");
    m_events.seen.clear();
    ASSERT_TRUE(doc.play(doc.current().path, 0));
    ASSERT_TRUE(pump(40, [&] { return !doc.is_playing(); }));
    EXPECT_EQ(m_events.codes(), (std::vector<int>{7, 7, 12}));
}

namespace {

// A stand-in for logind: each inhibitor is a pipe whose write end is handed out; the read end
// sees the end of the pipe once the inhibitor is let go.
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
    Document& doc = *m_document;
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
    // The pump counts at the fixture's pace: 20 is a second here.
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

// A limit on the size of the files this process writes stands in for a full disk; writes past
// it fail (SIGXFSZ ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previous);
    }

private:
    rlimit m_saved{};
    void (*m_previous)(int){};
};
} // namespace

TEST_F(DocumentTest, LastWritesFailingEndTheRecordingAsAFailure) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    const fs::path path(doc.current().path);
    record_for(1.5);
    {
        // The disk fills now: what the writer still holds cannot be written at the end.
        FileSizeLimit full(fs::file_size(path));
        doc.stop();
    }
    EXPECT_EQ(doc.stop_reason(), StopReason::WritingFailed);
    const auto codes = m_events.codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(std::vector<int>(codes.end() - 2, codes.end()), (std::vector<int>{7, 10}));
    EXPECT_GT(duration_of(path), 0.5) << "what was written before stays playable";
    ASSERT_EQ(doc.records().size(), 1u) << "the file is kept";

    // A plain stop after that is a plain stop again.
    m_events.seen.clear();
    doc.stop();
    EXPECT_EQ(doc.stop_reason(), StopReason::Requested);
    EXPECT_EQ(m_events.codes(), (std::vector<int>{7}));
}

TEST_F(DocumentTest, FolderDeletedInMainMemoryStopsWithStorageFailure) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(1.0);
    fs::remove_all(m_world.main_folder());
    ASSERT_TRUE(pump(20, [&] { return !doc.is_recording(); }));
    auto codes = m_events.codes();
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(std::vector<int>(codes.end() - 3, codes.end()), (std::vector<int>{7, 0, 9}));
    EXPECT_EQ(doc.stop_reason(), StopReason::StorageFailed);
    EXPECT_TRUE(doc.records().empty());

    // Stopped by hand before the periodic check saw it: the same report.
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(0.5);
    fs::remove_all(m_world.main_folder());
    m_events.seen.clear();
    doc.stop();
    codes = m_events.codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes.front(), 7);
    EXPECT_EQ(codes.back(), 9);
    EXPECT_TRUE(doc.records().empty());
}

namespace {
class RealTimeTest : public DocumentTest {
protected:
    // Capture at real speed: the first block comes 0.2 s after the start.
    RealTimeTest() : DocumentTest("speech.wav", 1) {}
};
} // namespace

TEST_F(RealTimeTest, RecordingWithoutAudioLeavesNoFile) {
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"Kept", u"", CallDirection::None));
    record_for(0.5);
    doc.stop();
    const fs::path kept(doc.current().path);

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
    ASSERT_EQ(m_events.seen.size(), 2u);
    EXPECT_EQ(m_events.seen[0].first, 2) << "the entry is dropped";
    EXPECT_EQ(m_events.seen[1].first, 7);
    EXPECT_EQ(doc.stop_reason(), StopReason::Requested);

    // Appending nothing to a record keeps it.
    ASSERT_TRUE(doc.select_record(kept.u16string()));
    ASSERT_TRUE(doc.append());
    doc.pause(true);
    doc.stop();
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(doc.records().size(), 1u);
}

TEST_F(DocumentTest, CallerKnownOnlyByNumberIsNamedFromTheContacts) {
    std::ofstream(m_world.contacts() / "ada.vcf")
        << "BEGIN:VCARD\nVERSION:4.0\nFN:Ada Lovelace\nTEL;TYPE=cell:+44 20 7946 0958\nEND:VCARD\n";
    Document& doc = *m_document;
    // A modem gives the number only.
    ASSERT_TRUE(doc.record(RecordingKind::Call, u"", u"020 7946 0958", CallDirection::Incoming));
    EXPECT_EQ(doc.current().artist, u"Ada Lovelace");
    EXPECT_EQ(fs::path(doc.current().path).filename().string().rfind("Ada Lovelace ", 0), 0u);
    doc.stop();
    // A stranger is filed under the number.
    ASSERT_TRUE(doc.record(RecordingKind::Call, u"", u"555 0199", CallDirection::Outgoing));
    EXPECT_EQ(doc.current().artist, u"555 0199");
    doc.stop();
}

// Amplitude (0..1) of the `hz` component of a record, decoded by sox at 22050 Hz.
double tone_in(const fs::path& path, double hz) {
    const std::string raw = path.string() + ".raw";
    run("sox " + quoted(path) + " -t raw -e signed -b 16 -c 1 -r 22050 " + quoted(fs::path(raw)) +
        " 2>/dev/null");
    std::ifstream in(raw, std::ios::binary);
    std::vector<int16_t> samples;
    int16_t sample;
    while (in.read(reinterpret_cast<char*>(&sample), 2))
        samples.push_back(sample);
    if (samples.size() < 22050)
        return -1;
    const double w = 2 * M_PI * hz / 22050;
    double s1 = 0, s2 = 0;
    // The middle second.
    const size_t from = samples.size() / 2 - 11025;
    for (size_t i = from; i < from + 22050; ++i) {
        const double s0 = samples[i] / 32768.0 + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2)) / 22050;
}

TEST_F(DocumentTest, CallRecordingHoldsTheOtherPartyANoteOnlyTheMicrophone) {
    // The microphone says 500 Hz, the other party 1700 Hz.
    auto tone = [&](const char* name, double hz) {
        platform::WaveFormat format;
        format.channels = 1;
        format.samples_per_sec = 22050;
        format.bits_per_sample = 16;
        format.block_align = 2;
        format.avg_bytes_per_sec = 44100;
        std::vector<int16_t> samples(22050 * 6);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(9000 * std::sin(2 * M_PI * hz * double(i) / 22050));
        platform::WaveFileWriter writer;
        const std::string path = (m_world.root() / name).string();
        EXPECT_TRUE(writer.create(path, format));
        EXPECT_TRUE(
            writer.write(reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * 2));
        return path;
    };
    ScopedEnv mic("QUILLORY_AUDIO_IN", tone("mic.wav", 500));
    ScopedEnv downlink("QUILLORY_AUDIO_IN_MONITOR", tone("downlink.wav", 1700));
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Call, u"", u"555 0100", CallDirection::Incoming));
    const fs::path call = doc.current().path;
    record_for(3.0);
    doc.stop();
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    const fs::path note = doc.current().path;
    record_for(3.0);
    doc.stop();
    // 9000 / 32768 = 0.27 each.
    EXPECT_GT(tone_in(call, 500), 0.15);
    EXPECT_GT(tone_in(call, 1700), 0.15);
    EXPECT_GT(tone_in(note, 500), 0.15);
    EXPECT_LT(tone_in(note, 1700), 0.01);
}

TEST_F(DocumentTest, CallNotificationOfAMovedProgramIsUpdated) {
    platform::RegistryNotification stale;
    stale.name = "Quillory Vozir.Call";
    stale.root = platform::RegistryRoot::LocalMachine;
    stale.key = "System\\State\\Phone";
    stale.value_name = "Status";
    stale.command = "\"/old/place/quillory\" call";
    stale.flags = platform::RNAF_NONAMEONCMDLINE;
    stale.condition = platform::RegistryCondition::Equal;
    stale.mask = stale.target = 0x20000000;
    ASSERT_EQ(platform::registry_notify_app(stale), platform::REG_NOTIFY_OK);
    ASSERT_TRUE(m_document->set_auto_record(true));
    const auto stored = platform::registry_notifications();
    ASSERT_EQ(stored.size(), 1u);
    // The program beside the running binary, wherever its data lies.
    EXPECT_EQ(stored[0].command,
              "\"" + (fs::path(platform::executable_path()).parent_path() / "quillory").string() +
                  "\" call");
}

TEST_F(DocumentTest, AppendingToWavRecordsOfEveryCoding) {
    Document& doc = *m_document;
    fs::create_directories(m_world.main_folder());
    const std::pair<const char*, const char*> codings[] = {
        {"pcm", "-e signed -b 16"}, {"adpcm", "-e ms-adpcm"}, {"gsm", "-e gsm-full-rate"}};
    for (const auto& [name, options] : codings) {
        SCOPED_TRACE(name);
        // A record made by another program: two seconds of the test speech.
        const fs::path path = m_world.main_folder() / (std::string(name) + ".wav");
        run("sox " + quoted(fs::path(data_dir + "speech.wav")) + " -r 8000 -c 1 " + options + " " +
            quoted(path) + " trim 0 2");
        const double before = duration_of(path);
        ASSERT_NEAR(before, 2.0, 0.1);
        ASSERT_TRUE(doc.select_record(path.u16string()));
        ASSERT_TRUE(doc.append());
        record_for(1.0);
        const double added = doc.recorded_seconds();
        doc.stop();
        EXPECT_EQ(doc.stop_reason(), StopReason::Requested);
        // Every reader sees the old audio and the new.
        EXPECT_NEAR(duration_of(path), before + added, 0.15);
        const std::string samples = run("soxi -s " + quoted(path));
        EXPECT_NEAR(std::atof(samples.c_str()) / 8000, before + added, 0.15);
        ASSERT_TRUE(doc.select_record(path.u16string()));
        EXPECT_NEAR(doc.current().format.duration, before + added, 0.15);
    }
}

TEST_F(DocumentTest, MarkersFollowFileTimeThroughPauseAppendAndRename) {
    Document& doc = *m_document;
    EXPECT_EQ(doc.add_marker(), -1) << "nothing runs";
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(1.0);
    const double first_at = doc.recorded_seconds();
    ASSERT_EQ(doc.add_marker(), 0);
    const uint32_t first = doc.markers()[0].time_ms;
    EXPECT_NEAR(first / 1000.0, first_at, 0.25) << "file time when it was set";
    record_for(2.0);
    doc.pause(true);
    const uint32_t paused_at = doc.recording_time_ms();
    pump(1.0);
    // The hand-over command: a marker at the pause point, not at the clock's time.
    doc.command_line(u"mark");
    ASSERT_EQ(doc.markers().size(), 2u);
    EXPECT_NEAR(double(doc.markers()[1].time_ms), double(paused_at), 50);
    doc.pause(false);
    record_for(3.0);
    doc.stop();
    const fs::path path(doc.current().path);

    const double before_append = duration_of(path);
    ASSERT_TRUE(doc.select_record(path.u16string()));
    ASSERT_TRUE(doc.append());
    record_for(1.0);
    const double appended_for = doc.recorded_seconds();
    ASSERT_EQ(doc.add_marker(u"Appended"), 2);
    const uint32_t appended_at = doc.markers()[2].time_ms;
    EXPECT_NEAR(appended_at / 1000.0, before_append + appended_for, 0.3);
    record_for(1.5);
    doc.stop();
    doc.rename(u"Kept markers");
    const fs::path renamed(doc.current().path);
    ASSERT_TRUE(fs::exists(renamed));

    // What ffprobe and mutagen find, in order; the last chapter ends with the audio.
    const std::string probe =
        run("ffprobe -v error -show_chapters -of csv=p=0 " + quoted(renamed) + " 2>/dev/null");
    std::istringstream lines(probe);
    std::vector<std::pair<uint32_t, std::string>> chapters;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, ',');)
            fields.push_back(field);
        ASSERT_GE(fields.size(), 7u) << line;
        chapters.emplace_back(uint32_t(std::stoul(fields[2])), fields.back());
    }
    const std::vector<std::pair<uint32_t, std::string>> expected = {
        {first, "Marker 1"}, {doc.markers()[1].time_ms, "Marker 2"}, {appended_at, "Appended"}};
    EXPECT_EQ(chapters, expected) << probe;
    const std::string mutagen =
        run("/usr/bin/python3 -c \"import sys\nfrom mutagen.id3 import ID3\nt = ID3(sys.argv[1])\n"
            "print(' '.join(c.sub_frames['TIT2'].text[0] for c in sorted(t.getall('CHAP'), "
            "key=lambda c: c.start_time)), t['TIT2'].text[0], int(t.getall('CTOC')[0].flags))\" " +
            quoted(renamed) + " 2>/dev/null");
    EXPECT_EQ(mutagen, "Marker 1 Marker 2 Appended Kept markers 3\n");

    // Changed while not recording: renamed and removed in the file.
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
    Document& doc = *m_document;
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    const fs::path path(doc.current().path);
    record_for(0.5);
    // About 100 bytes each: the room kept for markers is used up after some 80.
    const std::u16string label(80, u'x');
    for (int i = 0; i < 120; ++i) {
        ASSERT_GE(doc.add_marker(label), 0) << i;
        pump(0.05);
    }
    record_for(doc.recorded_seconds() + 1.0);
    const double recorded = doc.recorded_seconds();
    doc.stop();
    EXPECT_EQ(run("ffmpeg -v warning -i " + quoted(path) +
                  " -f null - 2>&1 | grep -v 'Estimating duration'"),
              "");
    EXPECT_NEAR(duration_of(path), recorded, 0.3) << "no audio lost or doubled";
    // The tag grew beyond its first room.
    std::ifstream in(path, std::ios::binary);
    unsigned char head[10] = {};
    in.read(reinterpret_cast<char*>(head), 10);
    EXPECT_GT((head[6] << 21) | (head[7] << 14) | (head[8] << 7) | head[9], 9000);
    EXPECT_EQ(
        run("ffprobe -v error -show_chapters -of csv=p=0 " + quoted(path) + " 2>/dev/null | wc -l"),
        "120\n");
}

TEST_F(DocumentTest, AFullDiskIsSaidWhenARecordingCannotStartOrATitleCannotBeSaved) {
    Document& doc = *m_document;
    const fs::path documents = m_world.root() / "home/Documents";
    {
        ScopedEnv full("QUILLORY_FULL_DISK", documents.string());
        EXPECT_FALSE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
        EXPECT_EQ(m_events.codes(), (std::vector<int>{int(DocumentEvent::NoSpace)}));
        EXPECT_TRUE(doc.records().empty());
        EXPECT_FALSE(fs::exists(m_world.main_folder()) && !fs::is_empty(m_world.main_folder()))
            << "no tag-only file is left behind";
    }
    ASSERT_TRUE(doc.record(RecordingKind::Note, u"", u"", CallDirection::None));
    record_for(0.5);
    doc.stop();
    const fs::path path(doc.current().path);
    const std::string title = id3_frames(path)["TIT2"];
    ASSERT_FALSE(title.empty());
    m_events.seen.clear();
    {
        // A title longer than the tag's room (new recordings keep 8 KB for markers) needs a
        // new copy of the file, which a full disk cannot take: the record keeps its name and
        // title, and the screens are told.
        ScopedEnv full("QUILLORY_FULL_DISK", documents.string());
        doc.rename(std::u16string(9000, u'n'));
    }
    EXPECT_EQ(m_events.codes(), (std::vector<int>{int(DocumentEvent::NoSpace)}));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(id3_frames(path)["TIT2"], title);
    // With room again the same rename goes through.
    m_events.seen.clear();
    doc.rename(std::u16string(9000, u'n'));
    EXPECT_EQ(m_events.codes(), (std::vector<int>{int(DocumentEvent::CurrentRenamed)}));
    EXPECT_EQ(id3_frames(fs::path(doc.current().path))["TIT2"], std::string(9000, 'n'));
}

TEST_F(DocumentTest, PlaybackPositionIsWhatHasBeenHeard) {
    Document& doc = *m_document;
    // The output takes a second of sound and then no more: what it holds in its own buffer is
    // never heard, while the player has pulled over a second ahead. In real time, so that a
    // loaded machine cannot let the second pass before the first buffer is queued.
    ScopedEnv real_time("QUILLORY_AUDIO_SPEED", "1");
    ScopedEnv stall("QUILLORY_AUDIO_STALL_AFTER_MS", "1000");
    ASSERT_TRUE(doc.play(fs::path(data_dir + "speech.wav").u16string(), 0));
    double highest = 0;
    bool sought = false;
    ASSERT_TRUE(pump(400, [&] {
        const double position = doc.play_position();
        if (!sought)
            highest = std::max(highest, position);
        // Then a seek: the frames read before it are held by the stalled output and never
        // heard, so the place sought is what shows.
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
    Document& doc = *m_document;
    fs::create_directories(m_world.main_folder());
    doc.refresh();
    auto listed = [&](const fs::path& path) {
        int count = 0;
        for (const auto& record : doc.records())
            count += record.path == path.u16string();
        return count;
    };
    // Written under a temporary name, then put in place, as copying programs do.
    const fs::path copied = m_world.main_folder() / "Copied note.wav";
    run("sox " + quoted(fs::path(data_dir + "speech.wav")) + " -t wav " +
        quoted(fs::path(copied.string() + ".part")) + " trim 0 1");
    fs::rename(copied.string() + ".part", copied);
    ASSERT_TRUE(pump(400, [&] { return listed(copied) == 1; }));
    EXPECT_EQ(doc.records().size(), 1u) << "the temporary file is not listed";

    // A recording by quillory-cli, into a call folder that did not exist before.
    const std::string cli = std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
    const std::string made =
        run(quoted(fs::path(cli)) + " record --seconds 1 2>/dev/null | head -n 1");
    const fs::path recorded(made.substr(0, made.find('\n')));
    ASSERT_TRUE(fs::exists(recorded)) << made;
    ASSERT_TRUE(pump(400, [&] { return listed(recorded) == 1; }));
    EXPECT_EQ(doc.records().size(), 2u);
    const fs::path call = m_world.main_folder() / "Incoming/Caller.wav";
    fs::create_directories(call.parent_path());
    fs::copy_file(copied, call);
    ASSERT_TRUE(pump(400, [&] { return listed(call) == 1; }));

    // A new title from another tagger shows in the row; the record keeps its place.
    const int index = [&] {
        for (size_t i = 0; i < doc.records().size(); ++i)
            if (doc.records()[i].path == recorded.u16string())
                return int(i);
        return -1;
    }();
    m_events.seen.clear();
    run("/usr/bin/python3 -c 'import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]); "
        "t.add(m.TIT2(encoding=3, text=[\"Retitled\"])); t.save(v2_version=3)' " +
        quoted(recorded));
    ASSERT_TRUE(pump(400, [&] { return doc.records()[size_t(index)].title == u"Retitled"; }));
    EXPECT_EQ(m_events.seen,
              (std::vector<std::pair<int, int>>{{int(DocumentEvent::CurrentRenamed), index}}));

    // Gone: the rows go, each once.
    m_events.seen.clear();
    fs::remove(copied);
    fs::remove_all(call.parent_path());
    ASSERT_TRUE(pump(400, [&] { return doc.records().size() == 1u; }));
    EXPECT_EQ(doc.records()[0].path, recorded.u16string());
    EXPECT_EQ(m_events.codes(), (std::vector<int>{int(DocumentEvent::RecordRemoved),
                                                  int(DocumentEvent::RecordRemoved)}));
    // The call folder made again is watched again.
    fs::create_directories(call.parent_path());
    fs::copy_file(recorded, call.parent_path() / "Again.mp3");
    ASSERT_TRUE(pump(400, [&] { return listed(call.parent_path() / "Again.mp3") == 1; }));
}
