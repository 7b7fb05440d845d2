// Trimming without coding again, judged by ffmpeg, mpg123 and our own reader: no complaints,
// the length and samples asked for, markers moved or dropped, the original in the trash.

#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "formats/trim.h"
#include "formats_support.h"
#include "foundation/file.h"
#include "foundation/paths.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace formats_test;
using formats::Marker;

namespace {

// Decoded 16-bit samples; `complaints` gets what the decoder said on its error stream.
std::vector<int16_t> decode(const std::string& tool, const std::filesystem::path& path,
                            std::string& complaints) {
    complaints.clear();
    if (tool == "quillory") {
        // Our own reader, as the player hears the record.
        auto reader = formats::open_reader(u16(path));
        return reader ? pull_all(*reader).samples : std::vector<int16_t>();
    }
    std::filesystem::path err = path;
    err += ".err";
    std::string out;
    shell("(" +
              (tool == "ffmpeg" ? "ffmpeg -nostdin -v warning -i " + quote(path) + " -f s16le -"
                                : "mpg123 -q -s " + quote(path)) +
              " 2>" + quote(err) + ")",
          &out);
    auto text = read_bytes(err);
    complaints.assign(text.begin(), text.end());
    std::vector<int16_t> samples(out.size() / 2);
    std::memcpy(samples.data(), out.data(), samples.size() * 2);
    return samples;
}

class Trim : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_tools({"ffmpeg", "ffprobe", "mpg123", "sox"}))
            GTEST_SKIP() << "ffmpeg, ffprobe, mpg123 or sox missing";
    }
    // A record as the recorder makes it: our tag with markers, then our encoder.
    std::filesystem::path record(int rate, int bit_rate, const std::vector<Marker>& markers) {
        auto wav = dir / "source.wav";
        shell("sox -n -r " + std::to_string(rate) + " -c 1 -b 16 " + quote(wav) +
              " synth 20 sine 200-3000 vol 0.5");
        auto path = dir / "Record.mp3";
        formats::Id3Tag tag;
        tag.set_text(formats::kId3Title, u"Seminar");
        EXPECT_TRUE(tag.set_markers(markers, 20000));
        write_record(path, &tag, sox_samples(wav), 1, rate, bit_rate);
        return path;
    }
    formats::TrimResult trim(const std::filesystem::path& path, double start, double end) {
        return formats::trim_record(u16(path), uint32_t(start * 1000 + 0.5),
                                    uint32_t(end * 1000 + 0.5));
    }
    TempDir dir;
    ScopedEnv data_home{"XDG_DATA_HOME", (dir / "share").string()};
    std::filesystem::path trash = dir / "share/Trash";
};

} // namespace

TEST_F(Trim, DecodersFindTheStretchAskedForWithoutComplaint) {
    struct Case {
        int rate, bit_rate;
        double start, end;
    };
    // MPEG-2 (576 samples a frame) and MPEG-1 (1152); starts on and off frame boundaries; an
    // end past the record's end is clamped.
    const Case cases[] = {
        {22050, 32000, 3.3, 12.71}, {44100, 64000, 3.3, 12.71},    {44100, 96000, 0, 0.5},
        {16000, 32000, 17.9, 30},   {44100, 64000, 0.0261, 19.99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " " + std::to_string(c.start));
        auto path = record(c.rate, c.bit_rate, {{1000, u"One"}, {15000, u"Fifteen"}});
        const auto original_bytes = read_bytes(path);
        std::string complaints;
        const auto original = decode("ffmpeg", path, complaints);
        auto result = trim(path, c.start, c.end);
        ASSERT_TRUE(result.ok) << result.reason;

        const size_t s = size_t(c.start * 1000 + 0.5) * size_t(c.rate) / 1000;
        const size_t e =
            std::min(original.size(), size_t(c.end * 1000 + 0.5) * size_t(c.rate) / 1000);
        for (const std::string tool : {"ffmpeg", "mpg123", "quillory"}) {
            const auto trimmed = decode(tool, path, complaints);
            EXPECT_EQ(complaints, "") << tool;
            // Sample-exact with gapless decoding: the frame's leeway is not even needed.
            EXPECT_EQ(trimmed.size(), e - s) << tool;
            int worst = 0;
            for (size_t i = 0; i < trimmed.size() && s + i < original.size(); ++i)
                worst = std::max(worst, std::abs(int(trimmed[i]) - int(original[s + i])));
            EXPECT_LE(worst, 2) << tool;
        }

        // Everything after the first few frames is the original's bytes.
        const auto trimmed_bytes = read_bytes(path);
        const size_t from = trimmed_bytes.size() > 6000 ? 3000 : trimmed_bytes.size() / 2;
        EXPECT_NE(std::search(original_bytes.begin(), original_bytes.end(),
                              trimmed_bytes.begin() + long(from), trimmed_bytes.end()),
                  original_bytes.end());
        EXPECT_EQ(read_bytes(trash / "files/Record (untrimmed).mp3"), original_bytes);
        std::filesystem::remove_all(trash);
    }
}

TEST_F(Trim, MarkersInsideMoveAndTheTagStays) {
    // Given out of order; a label beyond Latin-1 is stored as UTF-16.
    auto path = record(22050, 32000,
                       {{10000, u"\u0421\u043b\u0430\u0439\u0434"},
                        {1000, u"Before"},
                        {5000, u"Five"},
                        {15000, u"After"}});
    auto result = trim(path, 3.5, 12);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.kept_ms, 8500u);
    EXPECT_EQ(result.markers, 2u);
    std::string out;
    shell("ffprobe -v error -show_chapters -show_entries format_tags=title -of compact=p=0 " +
              quote(path),
          &out);
    EXPECT_THAT(
        out, HasSubstr("start=1500|start_time=1.500000|end=6500|end_time=6.500000|tag:title=Five"));
    EXPECT_THAT(out, HasSubstr("start=6500|start_time=6.500000|end=8500|end_time=8.500000|"
                               "tag:title=\xd0\xa1\xd0\xbb\xd0\xb0\xd0\xb9\xd0\xb4"));
    EXPECT_THAT(out, HasSubstr("tag:title=Seminar"));
}

TEST_F(Trim, FailuresLeaveTheRecordAsItWas) {
    auto path = record(22050, 32000, {});
    const auto before = read_bytes(path);
    struct Case {
        double start, end;
        const char* reason;
    };
    const Case cases[] = {
        {5, 5, "the start is not before the end"},
        {7, 3, "the start is not before the end"},
        {5, 5.02, "shorter than one MP3 frame"},
        {25, 30, "shorter than one MP3 frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        auto result = trim(path, c.start, c.end);
        EXPECT_FALSE(result.ok);
        EXPECT_THAT(result.reason, HasSubstr(c.reason));
        EXPECT_EQ(read_bytes(path), before);
    }
    EXPECT_EQ(trim(dir / "gone.mp3", 1, 2).reason, "no such file");

    // A file we may not write, through the command (root writes anyway: it runs as nobody).
    if (std::filesystem::exists(cli_path())) {
        EXPECT_THAT(cli_on_read_only(path, "trim " + quote(path) + " 1 2"),
                    HasSubstr("read-only; left unchanged"));
        EXPECT_EQ(read_bytes(path), before);
    }

    // A full disk.
    foundation::set_free_space_for_testing(u16(dir.path()), 1000);
    auto result = trim(path, 1, 5);
    foundation::set_free_space_for_testing(u16(dir.path()), -1);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "not enough free space on the disk");
    EXPECT_EQ(read_bytes(path), before);
    // No leftovers beside it.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.path().filename().string().rfind(".trim", 0) == 0;
    EXPECT_EQ(files, 0u);
}

TEST_F(Trim, WavRecordsAreCutAtWholeBlocks) {
    const auto tone = sine(80000, 300, 8000);
    for (const char16_t* codec : {u"PCM", u"ADPCM", u"GSM"}) {
        SCOPED_TRACE(foundation::to_utf8(codec));
        auto path = dir / "cut.wav";
        std::filesystem::remove(path);
        push_samples(formats::create_writer(u16(path), codec, 1, 16, 8000, 0, false)->input(), tone,
                     1, 8000);
        const auto original = sox_samples(path);
        auto result = trim(path, 2.0, 6.5);
        ASSERT_TRUE(result.ok) << result.reason;
        const auto trimmed = sox_samples(path);
        // Whole blocks around the stretch: at most one block (320 samples for GSM, 500 for
        // ADPCM) more on either side.
        EXPECT_GE(trimmed.size(), size_t(36000));
        EXPECT_LE(trimmed.size(), size_t(36000 + 2 * 505));
        // The cut's samples are the original's from a block boundary at or before 2.0 s. (GSM
        // decoding carries state from frame to frame: there only the length is the same.)
        if (codec[0] == u'G')
            continue;
        bool found = false;
        for (size_t lag = 0; lag <= 505 && !found; ++lag)
            found = std::equal(trimmed.begin(), trimmed.begin() + 1000,
                               original.begin() + long(16000 - lag));
        EXPECT_TRUE(found);
        std::filesystem::remove_all(trash);
    }
}
