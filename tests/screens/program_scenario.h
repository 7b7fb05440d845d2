#pragma once

// The user's round through the real program, step by step, for any way of giving it input
// (its test input file, or xdotool on an X server). Steps report failures through GoogleTest
// with the last inspector text, the program's messages and a picture of the screen.

#include "support/program_driver.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace screens_e2e {

using namespace std::chrono_literals;
using testing_support::Inspection;
using testing_support::InspectNode;

class ProgramScenario {
public:
    // name: the stem of the screenshots a failure saves.
    ProgramScenario(testing_support::ProgramSession& session, testing_support::InputDriver& input,
                    std::string name);
    ~ProgramScenario();

    // Every step below in order, stopping at the first that fails.
    void run_all();

    // A 120 s tone as an older record ("Zed other"), and the contact card for the call.
    void prepare();
    // Starts the program and waits for the main form with `rows` rows.
    void start(size_t rows);
    // Record (a double tap), a marker, 5 s of speech, stop: a new row and an MP3.
    void record_with_a_marker();
    // Play the new record, jump back to the marker with a tap on its tick and play on to the
    // end; trim the record from the marker on: the file keeps the rest, the original goes to
    // the trash.
    void jump_to_marker_and_trim();
    // Play "Zed other", pause it, drag its position knob far ahead, tap the waveform half way
    // and play the rest at 2x.
    void seek_with_knob_and_waveform();
    // A call started with "call" is recorded into Incoming under the contact's name, and the
    // program ends with the call.
    void call_recording();

    // Taps the middle of a shown control of the top form (twice, as a double tap).
    void tap(const std::string& id, bool twice = false);
    // Taps the row of the top form's list that shows this text.
    void tap_row(const std::string& text);
    // Waits for the condition; on failure reports what was awaited with the screen's state.
    bool wait(const std::function<bool(const Inspection&)>& done, const std::string& what,
              std::chrono::milliseconds deadline = 40s);
    bool wait_form(const std::string& id);
    bool wait_shown(const std::string& id, const std::string& what);
    // Waits until a shown control of the top form shows this text.
    bool wait_text(const std::string& id, const std::string& text, const std::string& what);
    // Waits until the form's clock shows at least that many seconds.
    bool elapsed(int seconds, const std::string& what);
    void report(const std::string& what);
    // The language text of a key, from the shipped English file.
    static std::string caption(const std::string& key);

private:
    bool wait_recording_form();
    // Taps stop, not sooner than a user's next tap could be told from a double tap on record.
    void stop_recording();

    testing_support::ProgramSession& m_session;
    testing_support::InputDriver& m_input;
    std::string m_name;
    std::unique_ptr<testing_support::Process> m_program;
    std::filesystem::path m_record; // the record this round made
    int m_reports{0};
    std::chrono::steady_clock::time_point m_recording_seen;
};

} // namespace screens_e2e
