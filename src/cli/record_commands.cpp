// record, append, list, rename and send: the recording controller from the command line. Each
// command works through a Document exactly as the program's screens do.

#include "cli/command.h"
#include "controller/document.h"
#include "controller/record_storage.h"
#include "foundation/active_scheduler.h"
#include "foundation/number.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "localisation/languages.h"
#include "platform/messages.h"
#include "platform/wave_device.h"
#include "sharing/send_mail.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace {

using foundation::from_utf8;
using foundation::to_utf8;

struct Options {
    std::vector<std::string> words;
    std::optional<double> seconds;
    std::optional<std::string> format;
    std::optional<std::string> boost;
    std::optional<double> vas;
    // Recorded seconds at which markers are set.
    std::vector<double> marks;
    bool save{false};
};

bool parse_seconds(const std::string& text, double& out) {
    const auto value = foundation::parse_number<double>(text);
    if (!value || !(*value >= 0))
        return false;
    out = *value;
    return true;
}

bool parse_options(const cli::Arguments& args, Options& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "quillory-cli: %s needs a value\n", arg.c_str());
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        double number = 0;
        if (arg == "--seconds" || arg == "--vas") {
            if (!value(text) || !parse_seconds(text, number)) {
                std::fprintf(stderr, "quillory-cli: %s wants a number\n", arg.c_str());
                return false;
            }
            (arg == "--seconds" ? options.seconds : options.vas) = number;
        } else if (arg == "--format") {
            if (!value(text))
                return false;
            if (text != "Mp3Low" && text != "Mp3Middle" && text != "Mp3High") {
                std::fprintf(stderr, "quillory-cli: unknown format '%s'\n", text.c_str());
                return false;
            }
            options.format = text;
        } else if (arg == "--boost") {
            if (!value(text))
                return false;
            if (text != "BoostOff" && text != "Boost1" && text != "Boost2" && text != "Boost3") {
                std::fprintf(stderr, "quillory-cli: unknown boost '%s'\n", text.c_str());
                return false;
            }
            options.boost = text;
        } else if (arg == "--mark-at") {
            if (!value(text) || !parse_seconds(text, number)) {
                std::fprintf(stderr, "quillory-cli: %s wants a number\n", arg.c_str());
                return false;
            }
            options.marks.push_back(number);
        } else if (arg == "--save") {
            options.save = true;
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "quillory-cli: unknown option '%s'\n", arg.c_str());
            return false;
        } else {
            options.words.push_back(arg);
        }
    }
    return true;
}

// What the screens say when a recording stops on its own: the text of "Sorry_card_problem",
// "Sorry_no_memory" or "Sorry_too_slow_device" in the user's language, or in English when no
// language file can be read.
class Outcome : public controller::DocumentListener {
public:
    controller::DocumentEvent failure{controller::DocumentEvent::Stopped};
    void on_document_event(controller::DocumentEvent event, int) override {
        using controller::DocumentEvent;
        if (event == DocumentEvent::StorageFailed || event == DocumentEvent::WritingFailed ||
            event == DocumentEvent::BufferLimit || event == DocumentEvent::SoundDeviceLost ||
            event == DocumentEvent::NoSpace)
            failure = event;
    }
    int report() const {
        using controller::DocumentEvent;
        if (failure == DocumentEvent::Stopped)
            return 0;
        struct Message {
            const char16_t* key;
            const char* english;
        };
        const Message message =
            failure == DocumentEvent::StorageFailed
                ? Message{u"Sorry_card_problem",
                          "Sorry, recording stopped: the storage is no longer available (card "
                          "removed or folder deleted)."}
            : failure == DocumentEvent::WritingFailed
                ? Message{u"Sorry_no_memory",
                          "Sorry, recording stopped: there is not enough free space."}
            : failure == DocumentEvent::SoundDeviceLost
                ? Message{u"Sorry_sound_device",
                          "Sorry, the microphone or speaker was disconnected."}
            : failure == DocumentEvent::NoSpace
                ? Message{u"Sorry_no_space", "Sorry, there is not enough free space."}
                : Message{u"Sorry_too_slow_device",
                          "Sorry, recording stopped: this device is too slow for this quality."};
        localisation::TextTable texts;
        localisation::Languages languages(texts);
        const std::string text = languages.choose_at_start() && texts.has(message.key)
                                     ? to_utf8(texts.text(message.key))
                                     : std::string(message.english);
        std::fprintf(stderr, "quillory-cli: %s\n", text.c_str());
        return 1;
    }
};

// A recording that the sound system dropped audio from says how much, in the user's language
// ("Audio_lost"), on standard error; the exit status stays that of the recording.
void report_lost_audio(const controller::Document& document) {
    const double lost = document.lost_seconds();
    if (lost <= 0)
        return;
    localisation::TextTable texts;
    localisation::Languages languages(texts);
    const std::u16string pattern = languages.choose_at_start() && texts.has(u"Audio_lost")
                                       ? texts.text(u"Audio_lost")
                                       : std::u16string(u"Audio lost: %seconds% s");
    std::fprintf(stderr, "quillory-cli: %s\n",
                 to_utf8(controller::lost_audio_text(pattern, lost)).c_str());
}

std::atomic<bool> g_interrupted{false};

void on_record_interrupt(int) {
    g_interrupted.store(true);
}

// Runs the message loop (and with it the Document's timers) until the recording holds the given
// seconds of audio, stops by itself, or Ctrl-C asks for the end (the caller's stop() then
// completes the file). With the voice-operated switch on, silence is left out of the file, so
// capture time decides instead.
void run_recording(controller::Document& document, double seconds, std::vector<double> marks = {}) {
    std::sort(marks.begin(), marks.end());
    size_t next_mark = 0;
    g_interrupted.store(false);
    struct InterruptGuard {
        void (*previous)(int) = std::signal(SIGINT, on_record_interrupt);
        void (*previous_term)(int) = std::signal(SIGTERM, on_record_interrupt);
        // A closed terminal or an ended session ends the recording as a TERM does.
        void (*previous_hangup)(int) = std::signal(SIGHUP, on_record_interrupt);
        ~InterruptGuard() {
            std::signal(SIGINT, previous);
            std::signal(SIGTERM, previous_term);
            std::signal(SIGHUP, previous_hangup);
        }
    } guard;
    const auto start = std::chrono::steady_clock::now();
    // The file device may be paced faster than real time.
    const double capture_seconds = seconds / platform::audio_device_speed();
    const bool gated = document.vas_level() > 0;
    const auto wait_ms = uint32_t(std::clamp(100.0 / platform::audio_device_speed(), 1.0, 100.0));
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    // Nobody watches: capture moves its audio on in larger steps, until the last second, in
    // which every buffer counts at once so that the end comes when it should.
    document.set_capture_lively(false);
    bool near_end = false;
    while (document.is_recording() && !g_interrupted.load()) {
        if (gated ? elapsed() >= capture_seconds
                  : document.recorded_seconds() >= seconds || elapsed() >= 2 * capture_seconds + 2)
            break;
        if (!near_end &&
            (gated ? elapsed() >= capture_seconds - 1.0 / platform::audio_device_speed()
                   : document.recorded_seconds() >= seconds - 1.0)) {
            near_end = true;
            document.set_capture_lively(true);
        }
        // A marker as the recording passes its time: said on standard output once it is in
        // the file.
        if (next_mark < marks.size() && document.recorded_seconds() >= marks[next_mark]) {
            ++next_mark;
            const auto before = std::chrono::steady_clock::now();
            const int index = document.add_marker();
            const double took =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                    .count();
            if (index >= 0)
                std::printf("marked %u (%.2f ms)\n", document.markers()[size_t(index)].time_ms,
                            took);
            else
                std::printf("marker not written\n");
            std::fflush(stdout);
        }
        platform::Message message;
        while (platform::peek_message(message))
            platform::dispatch_message(message);
        // Timers and posted messages wake the loop; the timeout only bounds how late an
        // interrupt, a marker or the end of the wanted length is seen. Far from the end and from
        // the next marker, the Document's own watch of the recording wakes the loop often enough.
        const bool mark_soon =
            next_mark < marks.size() && marks[next_mark] - document.recorded_seconds() < 1.0;
        platform::wait_message(near_end || mark_soon ? wait_ms : 4 * wait_ms);
    }
}

// The path's bytes are kept as they are (any file name, UTF-8 or not).
std::u16string absolute_path(const std::string& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(std::filesystem::path(path), error);
    return from_utf8(error ? path : absolute.lexically_normal().native());
}

// False, with the reason on standard error, when the path is not an existing file we may read.
bool usable_file(const char* command, const std::string& shown, const std::u16string& path) {
    std::string reason;
    if (foundation::is_readable_file(path, reason))
        return true;
    std::fprintf(stderr, "quillory-cli %s: %s: %s\n", command, shown.c_str(), reason.c_str());
    return false;
}

struct Session {
    foundation::CActiveScheduler scheduler;
    controller::Document document;
    Outcome outcome;
    Session() { document.add_listener(&outcome); }
    ~Session() { document.remove_listener(&outcome); }
};

int record_command(const cli::Arguments& args) {
    Options options;
    if (!parse_options(args, options) || !options.words.empty()) {
        std::fprintf(stderr, "usage: quillory-cli record [--seconds N] [--format F] [--boost B] "
                             "[--vas LEVEL] [--mark-at SECONDS]... [--save]\n");
        return 2;
    }
    Session session;
    auto& document = session.document;
    if (options.format)
        document.set_format(from_utf8(*options.format));
    if (options.boost)
        document.set_boost(from_utf8(*options.boost));
    if (options.vas)
        document.set_vas_level(*options.vas);
    if (options.save)
        document.save_settings();
    if (!document.record(controller::RecordingKind::Note, u"", u"",
                         telephony::CallDirection::None)) {
        // Why, when the Document could tell.
        if (session.outcome.report() == 0)
            std::fprintf(stderr, "quillory-cli: the recording could not be started\n");
        return 1;
    }
    std::printf("%s\n", to_utf8(document.current().path).c_str());
    std::fflush(stdout);
    run_recording(document, options.seconds.value_or(10.0), options.marks);
    document.stop();
    report_lost_audio(document);
    return session.outcome.report();
}

int append_command(const cli::Arguments& args) {
    Options options;
    if (!parse_options(args, options) || options.words.size() != 1) {
        std::fprintf(stderr, "usage: quillory-cli append PATH [--seconds N] [--mark-at S]...\n");
        return 2;
    }
    const std::u16string path = absolute_path(options.words[0]);
    if (!usable_file("append", options.words[0], path))
        return 1;
    Session session;
    auto& document = session.document;
    if (!document.select_record(path)) {
        std::fprintf(stderr, "quillory-cli append: %s: not an audio file this program reads\n",
                     options.words[0].c_str());
        return 1;
    }
    if (!document.append()) {
        std::fprintf(stderr, "quillory-cli: cannot append to '%s'\n", options.words[0].c_str());
        return 1;
    }
    std::printf("%s\n", to_utf8(document.current().path).c_str());
    std::fflush(stdout);
    run_recording(document, options.seconds.value_or(10.0), options.marks);
    document.stop();
    report_lost_audio(document);
    return session.outcome.report();
}

int list_command(const cli::Arguments& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: quillory-cli list\n");
        return 2;
    }
    Session session;
    session.document.refresh();
    for (const auto& record : session.document.records()) {
        std::printf("%s\t%s\t%s\t%s\t%s\n", to_utf8(record.path).c_str(),
                    to_utf8(record.artist).c_str(), to_utf8(record.title).c_str(),
                    to_utf8(record.album).c_str(), to_utf8(record.size_text).c_str());
    }
    return 0;
}

int rename_command(const cli::Arguments& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: quillory-cli rename PATH TITLE\n");
        return 2;
    }
    const std::u16string path = absolute_path(args[0]);
    if (!usable_file("rename", args[0], path))
        return 1;
    Session session;
    auto& document = session.document;
    document.refresh();
    document.select_record(path);
    bool listed = false;
    for (const auto& record : document.records())
        listed = listed || record.path == path;
    if (!listed) {
        std::fprintf(stderr, "quillory-cli: '%s' is not a record\n", args[0].c_str());
        return 1;
    }
    // A record whose tag cannot take the title keeps its name and title. One whose file could
    // not be moved keeps its name with the new title: it is listed under the path printed.
    if (document.rename(from_utf8(args[1])) == controller::RenameOutcome::Failed) {
        std::fprintf(stderr, "quillory-cli: '%s' could not be renamed\n", args[0].c_str());
        return 1;
    }
    std::printf("%s\n", to_utf8(document.current().path).c_str());
    return 0;
}

int send_command(const cli::Arguments& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quillory-cli send PATH\n");
        return 2;
    }
    const std::u16string path = absolute_path(args[0]);
    if (!usable_file("send", args[0], path))
        return 1;
    if (!sharing::send_by_mail(path)) {
        std::fprintf(stderr, "quillory-cli: the mail program could not be started\n");
        return 1;
    }
    return 0;
}

} // namespace

QV_CLI_COMMAND(
    "record",
    "record [--seconds N] [--format Mp3Low|Mp3Middle|Mp3High] "
    "[--boost BoostOff|Boost1|Boost2|Boost3] [--vas LEVEL] [--mark-at SECONDS]... [--save]",
    record_command);
QV_CLI_COMMAND("append", "append PATH [--seconds N] [--mark-at SECONDS]...", append_command);
QV_CLI_COMMAND("list", "list", list_command);
QV_CLI_COMMAND("rename", "rename PATH TITLE", rename_command);
QV_CLI_COMMAND("send", "send PATH", send_command);
