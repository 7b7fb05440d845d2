// markers: list, add, remove and rename the markers of a record, or print them as a cue sheet
// or WebVTT chapters.

#include "cli/command.h"
#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "formats/marker.h"
#include "formats/trim.h"
#include "foundation/file.h"
#include "foundation/number.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using foundation::from_utf8;
using foundation::to_utf8;

constexpr char kUsage[] =
    "usage: quillory-cli markers FILE [--add TIME [LABEL] | --remove N | --rename N LABEL | "
    "--cue | --vtt]\n";

struct Record {
    std::vector<formats::Marker> markers;
    uint32_t duration_ms{0};
    bool has_tag{false};
};

bool load(const std::string& path, Record& record) {
    auto reader = formats::open_reader(from_utf8(path));
    if (!reader)
        return false;
    const double duration = reader->duration();
    record.duration_ms =
        duration > 0 ? uint32_t(std::min(std::llround(duration * 1000), 0xFFFFFFFEll)) : 0;
    foundation::File file(from_utf8(path), foundation::File::Read);
    formats::Id3Tag tag;
    record.has_tag = tag.parse(file) > 0;
    if (record.has_tag)
        record.markers = formats::markers_within(tag.markers(), record.duration_ms);
    return true;
}

// Marker number as typed (1-based); false when it names no marker.
bool marker_number(const std::string& text, size_t count, size_t& index) {
    const long value = foundation::parse_number<long>(text).value_or(0);
    if (value < 1 || size_t(value) > count)
        return false;
    index = size_t(value - 1);
    return true;
}

std::u16string label_of(const std::vector<formats::Marker>& markers, size_t index) {
    return markers[index].label.empty() ? formats::default_marker_label(index + 1)
                                        : markers[index].label;
}

// Quotes in cue sheet titles become apostrophes: the format has no escape.
std::string cue_text(std::string text) {
    for (char& c : text)
        if (c == '"')
            c = '\'';
    return text;
}

std::string cue_time(uint32_t time_ms) {
    // Minutes, seconds and frames of 1/75 s.
    const uint32_t frames = uint32_t((uint64_t(time_ms) * 75) / 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 75 / 60, frames / 75 % 60,
                  frames % 75);
    return text;
}

std::string vtt_time(uint32_t time_ms) {
    const uint32_t s = time_ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", s / 3600, s / 60 % 60, s % 60,
                  time_ms % 1000);
    return text;
}

// WebVTT cue texts may not hold "-->" nor begin a line; a label is one line.
std::string vtt_text(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    for (size_t at; (at = text.find("-->")) != std::string::npos;)
        text.replace(at, 3, "->");
    return text;
}

int print_cue(const std::string& path, const Record& record) {
    std::string name = to_utf8(foundation::name_of(from_utf8(path)));
    const bool mp3 = name.size() > 4 && (name.substr(name.size() - 4) == ".mp3" ||
                                         name.substr(name.size() - 4) == ".MP3");
    std::printf("FILE \"%s\" %s\n", cue_text(name).c_str(), mp3 ? "MP3" : "WAVE");
    for (size_t i = 0; i < record.markers.size() && i < 99; ++i) {
        std::printf("  TRACK %02zu AUDIO\n", i + 1);
        std::printf("    TITLE \"%s\"\n", cue_text(to_utf8(label_of(record.markers, i))).c_str());
        std::printf("    INDEX 01 %s\n", cue_time(record.markers[i].time_ms).c_str());
    }
    return 0;
}

int print_vtt(const Record& record) {
    std::printf("WEBVTT\n");
    for (size_t i = 0; i < record.markers.size(); ++i) {
        const uint32_t start = record.markers[i].time_ms;
        const uint32_t end = i + 1 < record.markers.size() ? record.markers[i + 1].time_ms
                                                           : std::max(start, record.duration_ms);
        std::printf("\n%zu\n%s --> %s\n%s\n", i + 1, vtt_time(start).c_str(), vtt_time(end).c_str(),
                    vtt_text(to_utf8(label_of(record.markers, i))).c_str());
    }
    return 0;
}

int write_markers(const std::string& path, const Record& record,
                  std::vector<formats::Marker> markers) {
    if (!record.has_tag) {
        std::fprintf(stderr,
                     "quillory-cli markers: %s has no ID3 tag to keep markers in; left "
                     "unchanged\n",
                     path.c_str());
        return 1;
    }
    if (markers.size() > formats::kMaxMarkers) {
        std::fprintf(stderr, "quillory-cli markers: %s: at most %zu markers; left unchanged\n",
                     path.c_str(), formats::kMaxMarkers);
        return 1;
    }
    const formats::Id3Update update =
        formats::update_file_tag(from_utf8(path), [&](formats::Id3Tag& tag) {
            return tag.set_markers(markers, record.duration_ms);
        });
    if (update != formats::Id3Update::Written) {
        const foundation::FileInfo info(from_utf8(path));
        const char* reason = !info.exists() ? "no such file"
                             : (info.attributes() & foundation::FileInfo::attribute_read_only)
                                 ? "the file is read-only"
                                 : "the tag could not be written";
        std::fprintf(stderr, "quillory-cli markers: %s: %s; left unchanged\n", path.c_str(),
                     reason);
        return 1;
    }
    return 0;
}

int markers(const cli::Arguments& args) {
    if (args.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    const std::string& path = args[0];
    Record record;
    if (!load(path, record)) {
        std::string reason;
        if (foundation::is_readable_file(from_utf8(path), reason))
            reason = "not an audio file this program reads";
        std::fprintf(stderr, "quillory-cli markers: %s: %s\n", path.c_str(), reason.c_str());
        return 1;
    }
    if (args.size() == 1) {
        for (size_t i = 0; i < record.markers.size(); ++i)
            std::printf("%zu\t%s\t%s\n", i + 1,
                        formats::format_marker_time(record.markers[i].time_ms).c_str(),
                        to_utf8(label_of(record.markers, i)).c_str());
        return 0;
    }
    const std::string& option = args[1];
    std::vector<formats::Marker> markers = record.markers;
    size_t index = 0;
    if (option == "--cue" && args.size() == 2)
        return print_cue(path, record);
    if (option == "--vtt" && args.size() == 2)
        return print_vtt(record);
    if (option == "--add" && (args.size() == 3 || args.size() == 4)) {
        uint32_t time_ms = 0;
        if (!formats::parse_marker_time(args[2], time_ms)) {
            std::fprintf(stderr, "quillory-cli markers: bad time %s (seconds, m:ss or h:mm:ss)\n",
                         args[2].c_str());
            return 2;
        }
        if (time_ms > record.duration_ms) {
            std::fprintf(stderr, "quillory-cli markers: %s is past the end (%s)\n", args[2].c_str(),
                         formats::format_marker_time(record.duration_ms).c_str());
            return 2;
        }
        std::u16string label = args.size() == 4 ? from_utf8(args[3]) : std::u16string();
        if (label.empty())
            label = formats::default_marker_label(markers.size() + 1);
        markers.push_back({time_ms, label});
        return write_markers(path, record, std::move(markers));
    }
    if ((option == "--remove" && args.size() == 3) || (option == "--rename" && args.size() == 4)) {
        if (!marker_number(args[2], markers.size(), index)) {
            std::fprintf(stderr, "quillory-cli markers: %s has no marker %s\n", path.c_str(),
                         args[2].c_str());
            return 2;
        }
        if (option == "--remove")
            markers.erase(markers.begin() + long(index));
        else
            markers[index].label = from_utf8(args[3]);
        return write_markers(path, record, std::move(markers));
    }
    std::fprintf(stderr, "%s", kUsage);
    return 2;
}

} // namespace

QV_CLI_COMMAND("markers",
               "markers FILE [--add TIME [LABEL] | --remove N | --rename N LABEL | --cue | --vtt]"
               "  (the markers of a record)",
               markers);

namespace {

int trim(const cli::Arguments& args) {
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: quillory-cli trim FILE START END\n");
        return 2;
    }
    uint32_t start_ms = 0;
    uint32_t end_ms = 0;
    for (size_t i = 1; i < 3; ++i) {
        if (!formats::parse_marker_time(args[i], i == 1 ? start_ms : end_ms)) {
            std::fprintf(stderr, "quillory-cli trim: bad time %s (seconds, m:ss or h:mm:ss)\n",
                         args[i].c_str());
            return 2;
        }
    }
    const formats::TrimResult result = formats::trim_record(from_utf8(args[0]), start_ms, end_ms);
    if (!result.ok) {
        std::fprintf(stderr, "quillory-cli trim: %s: %s; left unchanged\n", args[0].c_str(),
                     result.reason.c_str());
        return 1;
    }
    std::printf("kept %s, %u marker(s)\n", formats::format_marker_time(result.kept_ms).c_str(),
                result.markers);
    return 0;
}

} // namespace

QV_CLI_COMMAND("trim",
               "trim FILE START END  (cut a record without coding it again; the original goes "
               "to the trash)",
               trim);
