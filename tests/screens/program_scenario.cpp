#include "screens/program_scenario.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using testing_support::media_duration;
using testing_support::media_tag;
using testing_support::seconds_shown;

namespace screens_e2e {

namespace {

const std::string zed_title = "Zed other";
const std::string caller_number = "+15551234";
const std::string caller_name = "Ada Lovelace";

std::vector<fs::path> files_in(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file())
            out.push_back(entry.path());
    return out;
}

bool playing(const Inspection& i) {
    return i.shown("btnPause") && !i.shown("btnPlay");
}

bool stopped(const Inspection& i) {
    return i.shown("btnPlay") && !i.shown("btnPause");
}

// Points from one place to another in four steps, as a finger drags.
std::vector<std::pair<int, int>> drag_path(int from_x, int to_x, int y) {
    std::vector<std::pair<int, int>> path;
    for (int step = 0; step <= 4; ++step)
        path.emplace_back(from_x + (to_x - from_x) * step / 4, y);
    return path;
}

} // namespace

ProgramScenario::ProgramScenario(testing_support::ProgramSession& session,
                                 testing_support::InputDriver& input, std::string name)
    : m_session(session), m_input(input), m_name(std::move(name)) {}

ProgramScenario::~ProgramScenario() {
    if (m_program)
        m_program->terminate(10s);
}

void ProgramScenario::run_all() {
    const std::vector<std::pair<const char*, std::function<void()>>> steps{
        {"prepare", [&] { prepare(); }},
        {"start", [&] { start(1); }},
        {"record_with_a_marker", [&] { record_with_a_marker(); }},
        {"jump_to_marker_and_trim", [&] { jump_to_marker_and_trim(); }},
        {"seek_with_knob_and_waveform", [&] { seek_with_knob_and_waveform(); }},
        {"call_recording", [&] { call_recording(); }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(std::string("step ") + name);
        step();
        if (::testing::Test::HasFailure())
            return;
    }
}

std::string ProgramScenario::caption(const std::string& key) {
    std::ifstream in(std::string(QV_BUILD_DIR) + "/bin/english.lng");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    return key;
}

void ProgramScenario::report(const std::string& what) {
    const fs::path folder = fs::path(QV_BUILD_DIR) / "test-artifacts";
    std::error_code error;
    fs::create_directories(folder, error);
    fs::path picture = folder / (m_name + "-" + std::to_string(++m_reports) + ".png");
    if (!m_input.screenshot(picture))
        fs::copy_file(m_session.screenshot_file(), picture, fs::copy_options::overwrite_existing,
                      error);
    ADD_FAILURE() << "[" << m_input.name() << "] " << what << "\nscreenshot: " << picture.string()
                  << (error ? " (none: " + error.message() + ")" : "") << "\nprogram output:\n"
                  << testing_support::read_whole_file(m_session.log_file())
                  << "\nlast inspector text:\n"
                  << m_session.last_json();
}

bool ProgramScenario::wait(const std::function<bool(const Inspection&)>& done,
                           const std::string& what, std::chrono::milliseconds deadline) {
    if (m_session.wait(done, deadline))
        return true;
    report("timed out waiting for " + what);
    return false;
}

bool ProgramScenario::elapsed(int seconds, const std::string& what) {
    return wait([&](const Inspection& i) { return seconds_shown(i, "frmElapsed") >= seconds; },
                what);
}

bool ProgramScenario::wait_text(const std::string& id, const std::string& text,
                                const std::string& what) {
    return wait([&](const Inspection& i) { return i.shown(id) && i.shown(id)->has_text(text); },
                what);
}

bool ProgramScenario::wait_shown(const std::string& id, const std::string& what) {
    return wait([&](const Inspection& i) { return i.shown(id); }, what);
}

bool ProgramScenario::wait_form(const std::string& id) {
    return wait([&](const Inspection& i) { return i.at(id); }, "the form " + id);
}

void ProgramScenario::tap(const std::string& id, bool twice) {
    const InspectNode* node = nullptr;
    if (!wait([&](const Inspection& i) { return !i.transition && (node = i.shown(id)); },
              "a shown " + id))
        return;
    if (twice)
        m_input.double_tap(node->centre_x(), node->centre_y());
    else
        m_input.tap(node->centre_x(), node->centre_y());
}

void ProgramScenario::tap_row(const std::string& text) {
    const InspectNode* row = nullptr;
    if (wait([&](const Inspection& i) { return !i.transition && (row = i.row_with(text)); },
             "a row showing \"" + text + "\""))
        m_input.tap(row->centre_x(), row->centre_y());
}

bool ProgramScenario::wait_recording_form() {
    if (!wait_form("frmRecording"))
        return false;
    m_recording_seen = std::chrono::steady_clock::now();
    return true;
}

void ProgramScenario::stop_recording() {
    // Taps that come this soon after the recording form are the rest of a double tap on record.
    std::this_thread::sleep_until(m_recording_seen + 700ms);
    tap("btnClose");
}

void ProgramScenario::prepare() {
    const fs::path zed = m_session.records_folder() / (zed_title + ".wav");
    ASSERT_EQ(
        testing_support::run_command({"sox", "-n", "-r", "8000", "-b", "16", "-c", "1",
                                      zed.string(), "synth", "120", "sine", "440", "vol", "0.5"})
            .status,
        0);
    std::ofstream(m_session.contacts_folder() / "ada.vcf")
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nFN:" << caller_name
        << "\r\nTEL;TYPE=CELL:" << caller_number << "\r\nEND:VCARD\r\n";
}

void ProgramScenario::start(size_t rows) {
    m_program = m_session.start();
    if (wait([&](const Inspection& i) { return i.at("frmMain") && i.rows().size() == rows; },
             "the main form with " + std::to_string(rows) + " rows") &&
        !m_input.attach(40s))
        report("no window to give input to");
}

void ProgramScenario::record_with_a_marker() {
    // The second tap lands where the recording form has its stop button.
    tap("btnRecord", true);
    ASSERT_TRUE(wait_recording_form());
    // A marker a second in, with its tick heard on the output (the test device's file).
    ASSERT_TRUE(elapsed(1, "1 s"));
    tap("btnMark");
    ASSERT_TRUE(wait(
        [&](const Inspection&) {
            const double tick = media_duration(m_session.playback_file());
            return tick > 0.03 && tick < 0.1;
        },
        "the marker's tick played"));
    ASSERT_TRUE(elapsed(5, "5 s"));
    stop_recording();
    // A new row, which counts the record's marker.
    ASSERT_TRUE(wait(
        [](const Inspection& i) {
            const InspectNode* row = i.row_with("Record");
            const InspectNode* count = row ? row->find("markers") : nullptr;
            return i.at("frmMain") && i.rows().size() == 2 && count && count->text == "1";
        },
        "the new row with its marker count"));
    for (const fs::path& file : files_in(m_session.records_folder()))
        if (file.filename() != zed_title + ".wav")
            m_record = file;
    ASSERT_EQ(m_record.extension(), ".mp3");
    // Stopped by the tap after 5 s were shown: a slow machine may add some.
    const double seconds = media_duration(m_record);
    EXPECT_TRUE(seconds >= 4.9 && seconds < 17.0) << seconds << " s in " << m_record;
    const std::vector<double> markers = testing_support::media_chapters(m_record);
    ASSERT_EQ(markers.size(), 1u) << m_record;
    // Set after the first second was shown, inside the recording.
    EXPECT_TRUE(markers[0] >= 0.9 && markers[0] < seconds - 0.5) << markers[0];
}

void ProgramScenario::jump_to_marker_and_trim() {
    const std::vector<double> markers = testing_support::media_chapters(m_record);
    ASSERT_EQ(markers.size(), 1u) << m_record;
    const double before = media_duration(m_record);
    const std::string title = media_tag(m_record, "title");
    const fs::path trash = m_session.trash_folder() / "files";
    std::error_code error;
    fs::remove(m_session.playback_file(), error);
    tap_row("Record");
    ASSERT_TRUE(wait_form("frmView"));
    // Past the marker, a tap on its tick over the position bar plays from it again.
    ASSERT_TRUE(elapsed(int(markers[0]) + 2, "the playback past the marker"));
    const InspectNode* ticks = m_session.inspect().shown("posTicks");
    ASSERT_TRUE(ticks);
    const int tick_x = ticks->x + int(markers[0] / before * (ticks->w - 1) + 0.5);
    m_input.tap(tick_x, ticks->centre_y());
    ASSERT_TRUE(wait(stopped, "the playback to reach its end"));
    // The whole record and again from the marker to where the tap came, a second or more.
    EXPECT_GT(media_duration(m_session.playback_file()), before + 0.8);
    // At the end the clock and the position knob are back at the start.
    const Inspection& ended = m_session.inspect();
    EXPECT_EQ(seconds_shown(ended, "frmElapsed"), 0);
    const InspectNode* knob = ended.shown("btnPosition");
    const InspectNode* bar = ended.top()->find("pbPosition");
    ASSERT_TRUE(knob && bar);
    EXPECT_LE(std::abs(knob->x - bar->x), 2) << "knob at " << knob->x << ", bar at " << bar->x;
    // Trim: the start handle dragged to the marker's tick, then OK.
    tap("btnMenu");
    ASSERT_TRUE(wait_form("frmMenu"));
    tap_row(caption("Trim"));
    ASSERT_TRUE(wait_shown("btnTrimStart", "the trim handles"));
    const InspectNode handle = *m_session.inspect().shown("btnTrimStart");
    m_input.drag(drag_path(handle.centre_x(), tick_x, handle.centre_y()));
    // The playing position follows the handle.
    ASSERT_TRUE(wait(
        [&](const Inspection& i) {
            const InspectNode* moved = i.shown("btnTrimStart");
            return moved && std::abs(moved->centre_x() - tick_x) <= 2 &&
                   seconds_shown(i, "frmElapsed") >= int(markers[0]);
        },
        "the handle at the marker"));
    tap("btnTrimOk");
    ASSERT_TRUE(wait_shown("btnMarkPrev", "the marker buttons back"));
    EXPECT_NEAR(media_duration(m_record), before - markers[0], 0.15) << m_record;
    EXPECT_EQ(media_tag(m_record, "title"), title);
    EXPECT_EQ(files_in(trash).size(), 1u) << "the untrimmed record in the trash";
    tap("btnClose");
    ASSERT_TRUE(wait_form("frmMain"));
}

void ProgramScenario::seek_with_knob_and_waveform() {
    std::error_code error;
    fs::remove(m_session.playback_file(), error);
    tap_row(zed_title);
    ASSERT_TRUE(wait_form("frmView"));
    ASSERT_TRUE(wait(playing, "the playback to run"));
    // Paused, the knob stays where the inspector saw it until the pen takes it.
    tap("btnPause");
    ASSERT_TRUE(wait(
        [](const Inspection& i) {
            const InspectNode* wave = i.shown("waveform");
            return stopped(i) && wave && wave->w > 0 && wave->columns == wave->w;
        },
        "the playback paused and the whole waveform drawn"));
    const Inspection now = m_session.inspect();
    const InspectNode* knob = now.shown("btnPosition");
    const InspectNode* bar = now.top()->find("pbPosition");
    const InspectNode* wave = now.shown("waveform");
    ASSERT_TRUE(knob && bar && wave);
    const int paused_at = seconds_shown(now, "frmElapsed");
    ASSERT_LT(paused_at, 30) << "played too far before the drag";
    // Three quarters along the bar: about 90 s into the 120 s tone.
    m_input.drag(drag_path(knob->centre_x(), bar->x + (bar->w * 3) / 4, knob->centre_y()));
    ASSERT_TRUE(elapsed(75, "the position to jump ahead"));
    const InspectNode* moved = m_session.inspect().shown("btnPosition");
    ASSERT_TRUE(moved);
    EXPECT_GT(moved->x, knob->x + bar->w / 2) << "the knob stays where it was dragged";
    // A tap half way along the waveform: back to about 60 s.
    m_input.tap(wave->x + wave->w / 2, wave->centre_y());
    ASSERT_TRUE(wait(
        [](const Inspection& i) {
            const int at = seconds_shown(i, "frmElapsed");
            return at >= 50 && at < 70;
        },
        "the position to jump to the tap"));
    for (const char* speed : {"1.25\u00D7", "1.5\u00D7", "2\u00D7"}) {
        tap("btnSpeed");
        ASSERT_TRUE(wait_text("btnSpeed", speed, "the speed button to show the next speed"));
    }
    tap("btnPlay");
    ASSERT_TRUE(wait(playing, "the playback to go on"));
    ASSERT_TRUE(wait(stopped, "the playback to reach its end"));
    // Up to the pause at 1x, then the last 60 s of the record in about 30 s of sound.
    const double heard = media_duration(m_session.playback_file()) - paused_at;
    EXPECT_TRUE(heard > 24.0 && heard < 40.0) << heard;
    tap("btnClose");
    ASSERT_TRUE(wait_form("frmMain"));
}

void ProgramScenario::call_recording() {
    ASSERT_TRUE(m_program);
    EXPECT_EQ(m_program->terminate(40s), 0);
    m_program.reset();
    ASSERT_EQ(m_session.cli({"phone", "incoming", caller_number}).status, 0);
    ASSERT_EQ(m_session.cli({"phone", "connect"}).status, 0);
    // The test devices have no other side to give, and this time drop some audio: the form
    // says both where the format was.
    m_session.env()["QUILLORY_AUDIO_DROP_MS"] = "300:300";
    m_program = m_session.start({"call"});
    m_session.env().erase("QUILLORY_AUDIO_DROP_MS");
    ASSERT_TRUE(wait_form("frmRecording"));
    ASSERT_TRUE(wait(
        [&](const Inspection& i) {
            const InspectNode* artist = i.top()->find("frmArtist");
            const InspectNode* info = i.top()->find("frmInfo");
            return artist && artist->text == caller_name + " \u00b7 Other side not recorded" &&
                   seconds_shown(i, "frmElapsed") >= 2 && info &&
                   info->text.rfind("Audio lost: 0.", 0) == 0;
        },
        "the call recording under the caller's name, saying what it misses"));
    ASSERT_EQ(m_session.cli({"phone", "hangup"}).status, 0);
    const auto status = m_program->wait_exit(40s);
    if (!status)
        report("the program did not end after the call");
    EXPECT_EQ(status, 0);
    m_program.reset();
    const auto calls = files_in(m_session.records_folder() / "Incoming");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].filename().string().rfind(caller_name, 0), 0u) << calls[0];
    EXPECT_GE(media_duration(calls[0]), 1.9) << calls[0];
    EXPECT_EQ(media_tag(calls[0], "artist"), caller_name) << calls[0];
}

} // namespace screens_e2e
