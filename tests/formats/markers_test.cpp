// Markers as ID3v2 chapter frames: read back by mutagen, damaged ones read as far as they are
// sound, and the markers command.

#include "formats/id3_tag.h"
#include "formats_support.h"
#include "foundation/file.h"

#include <gtest/gtest.h>

using namespace formats_test;
using formats::Id3Tag;
using formats::Marker;

namespace {

// A 10 s mono record with our tag in front.
std::filesystem::path tagged_mp3(const TempDir& dir, const std::vector<Marker>& markers) {
    Id3Tag tag;
    tag.set_text(formats::kId3Title, u"Lecture");
    EXPECT_TRUE(tag.set_markers(markers, 10000));
    write_record(dir / "marked.mp3", &tag, sine(220500, 440, 22050), 1, 22050, 32000);
    write_record(dir / "plain.mp3", nullptr, sine(220500, 440, 22050), 1, 22050, 32000);
    return dir / "marked.mp3";
}

std::string mutagen_chapters(const std::filesystem::path& path) {
    return python(R"(import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
for c in sorted(t.getall('CHAP'), key=lambda c: c.start_time):
  print(c.element_id, c.start_time, c.end_time, c.sub_frames['TIT2'].text[0])
for c in t.getall('CTOC'):
  print('toc', int(c.flags), ','.join(c.child_element_ids)))",
                  path);
}

// A raw chapter frame's data: element id, times, offsets, then `sub` bytes.
std::vector<uint8_t> chap_data(const std::string& id, uint32_t start,
                               const std::vector<uint8_t>& sub) {
    std::vector<uint8_t> data = join({text_of(id), {0}});
    for (uint32_t v : {start, start + 1000, 0xFFFFFFFFu, 0xFFFFFFFFu})
        put_be(data, v, 4);
    data.insert(data.end(), sub.begin(), sub.end());
    return data;
}

std::vector<uint8_t> title_sub(const std::string& text, uint32_t declared = 0) {
    std::vector<uint8_t> sub = text_of("TIT2");
    put_be(sub, declared ? declared : uint32_t(text.size() + 1), 4);
    return join({sub, {0, 0, 0}, text_of(text)});
}

// A 2.3 tag of the given frames (id, data), then a little audio.
std::vector<uint8_t>
raw_tag(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& frames) {
    std::vector<uint8_t> body;
    for (const auto& [id, data] : frames)
        body = join({body, id3_frame(3, id, data)});
    return id3_file(3, 0, body, 64, std::vector<uint8_t>(500, 0x55));
}

std::vector<Marker> parsed_markers(const std::filesystem::path& path) {
    foundation::File file(u16(path), foundation::File::Read);
    Id3Tag tag;
    EXPECT_GT(tag.parse(file), 0u);
    return tag.markers();
}

} // namespace

TEST(Markers, DamagedChapterFramesAreReadAsFarAsSound) {
    TempDir dir;
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::vector<uint8_t>>> frames;
        std::vector<Marker> expected;
    };
    std::vector<uint8_t> no_terminator = {'c', 'h', 'p', '0'};
    std::vector<uint8_t> short_times = {'c', '0', 0, 0, 0, 1};
    std::vector<uint8_t> toc = {'t', 'o', 'c', 0, 3, 3, 'a', 0, 'g', 'o', 'n', 'e', 0, 'b', 0};
    const std::vector<Case> cases = {
        {"sound", {{"CHAP", chap_data("a", 500, title_sub("One"))}}, {{500, u"One"}}},
        {"element id without terminator", {{"CHAP", no_terminator}}, {}},
        {"times cut short", {{"CHAP", short_times}, {"CHAP", chap_data("b", 9, {})}}, {{9, u""}}},
        {"repeated element id keeps the first",
         {{"CHAP", chap_data("a", 800, title_sub("First"))},
          {"CHAP", chap_data("a", 100, title_sub("Again"))}},
         {{800, u"First"}}},
        {"overlapping chapters are ordered by start",
         {{"CHAP", chap_data("a", 3000, title_sub("Late"))},
          {"CHAP", chap_data("b", 1000, title_sub("Early"))}},
         {{1000, u"Early"}, {3000, u"Late"}}},
        {"title sub-frame past the chapter's end",
         {{"CHAP", chap_data("a", 42, title_sub("Long", 4000))}},
         {{42, u""}}},
        {"table naming a missing chapter",
         {{"CTOC", toc},
          {"CHAP", chap_data("a", 1, title_sub("A"))},
          {"CHAP", chap_data("b", 2, title_sub("B"))}},
         {{1, u"A"}, {2, u"B"}}},
        {"broken UTF-8 in a label",
         {{"CHAP", chap_data("a", 7, {'T', 'I', 'T', '2', 0, 0, 0, 3, 0, 0, 3, 'A', 0xC0})}},
         {{7, u"A\uFFFD"}}},
        {"other sub-frames first",
         {{"CHAP", chap_data("a", 5, join({id3_text(3, "TIT3", "x"), title_sub("Found")}))}},
         {{5, u"Found"}}},
    };
    for (const Case& c : cases) {
        write_bytes(dir / "damaged.mp3", raw_tag(c.frames));
        EXPECT_EQ(parsed_markers(dir / "damaged.mp3"), c.expected) << c.what;
    }
}

TEST(Markers, TwoPointFourTagsKeepSyncsafeSubFrames) {
    TempDir dir;
    auto path = dir / "v24.mp3";
    // mutagen writes a 2.4 tag with a chapter; we change it and mutagen reads ours.
    write_bytes(path, std::vector<uint8_t>(400, 0x55));
    bool ok = false;
    python("import sys\nfrom mutagen.id3 import ID3, CHAP, TIT2\nt = ID3()\nt.add(CHAP("
           "element_id='x', start_time=1200, end_time=5000, sub_frames=[TIT2(encoding=3, text=['" +
               std::string(200, 'L') + "'])]))\nt.save(sys.argv[1], v2_version=4)",
           path, &ok);
    ASSERT_TRUE(ok);
    auto markers = parsed_markers(path);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0].time_ms, 1200u);
    EXPECT_EQ(markers[0].label, std::u16string(200, u'L'));
    markers.push_back({3000, std::u16string(130, u'M')});
    ASSERT_EQ(formats::update_file_tag(u16(path),
                                       [&](Id3Tag& tag) { return tag.set_markers(markers, 5000); }),
              formats::Id3Update::Written);
    EXPECT_EQ(mutagen_chapters(path), "chp0 1200 3000 " + std::string(200, 'L') +
                                          "\nchp1 3000 5000 " + std::string(130, 'M') +
                                          "\ntoc 3 chp0,chp1\n");
    // Removing every marker leaves no chapter frame and no table.
    ASSERT_EQ(formats::update_file_tag(u16(path),
                                       [](Id3Tag& tag) {
                                           tag.set_text(formats::kId3Title, u"Kept");
                                           return tag.set_markers({}, 5000);
                                       }),
              formats::Id3Update::Written);
    EXPECT_EQ(mutagen_chapters(path), "");
}

// The markers command adds, lists, renames, removes and exports; bad requests change nothing.
TEST(Markers, CommandEditsAndExports) {
    if (!std::filesystem::exists(cli_path()))
        GTEST_SKIP() << "quillory-cli is not built";
    TempDir dir;
    const auto path = tagged_mp3(dir, {});
    bool ok = false;
    auto cli = [&](const std::string& arguments, const std::filesystem::path& file = {}) {
        std::string out;
        ok = shell("(" + cli_path() + " markers " + quote(file.empty() ? path : file) + " " +
                       arguments + ")",
                   &out);
        return out;
    };
    for (const char* add : {"--add 4.5", "--add 0:01.25 Intro", "--add 0:00:08 'Q & A'"}) {
        cli(add);
        ASSERT_TRUE(ok) << add;
    }
    EXPECT_EQ(cli(""), "1\t0:01.250\tIntro\n2\t0:04.500\tMarker 1\n3\t0:08.000\tQ & A\n");
    cli("--rename 2 \"Main \\\"part\\\"\"");
    ASSERT_TRUE(ok);
    EXPECT_EQ(cli("--cue"), "FILE \"marked.mp3\" MP3\n"
                            "  TRACK 01 AUDIO\n    TITLE \"Intro\"\n    INDEX 01 00:01:18\n"
                            "  TRACK 02 AUDIO\n    TITLE \"Main 'part'\"\n    INDEX 01 00:04:37\n"
                            "  TRACK 03 AUDIO\n    TITLE \"Q & A\"\n    INDEX 01 00:08:00\n");
    cli("--remove 1");
    ASSERT_TRUE(ok);
    // The last chapter runs to the end of the audio.
    const std::string vtt = cli("--vtt");
    const std::string head = "WEBVTT\n\n1\n00:00:04.500 --> 00:00:08.000\nMain \"part\"\n\n2\n"
                             "00:00:08.000 --> 00:00:1";
    EXPECT_EQ(vtt.substr(0, head.size()), head);
    EXPECT_EQ(vtt.substr(vtt.size() - 7), "\nQ & A\n") << vtt;
    EXPECT_EQ(mutagen_chapters(path).substr(0, 31), "chp0 4500 8000 Main \"part\"\nchp1") << vtt;

    // Bad requests change nothing.
    const auto before = read_bytes(path);
    for (const char* bad :
         {"--remove 3", "--rename 0 X", "--add 11", "--add 1:75", "--add x", "--bogus"}) {
        cli(bad);
        EXPECT_FALSE(ok) << bad;
    }
    EXPECT_EQ(read_bytes(path), before);
    // A file without a tag says so and stays as it was.
    const auto plain = read_bytes(dir / "plain.mp3");
    EXPECT_THAT(cli("--add 2 2>&1", dir / "plain.mp3"), HasSubstr("has no ID3 tag"));
    EXPECT_EQ(read_bytes(dir / "plain.mp3"), plain);
}
