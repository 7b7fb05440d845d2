// Trimming without coding again, judged by ffmpeg, mpg123 and our own reader: no decoder
// complaints, the length asked for, the samples of the original from the start on, the frames
// in between byte for byte, markers moved or dropped, the original in the trash.

#include "formats/id3_tag.h"
#include "formats/trim.h"
#include "formats_support.h"
#include "foundation/file.h"
#include "foundation/paths.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace formats_test;
using formats::Marker;
using testing_support::TempDir;

namespace {

bool have_tools() {
    for (const char* tool : {"ffmpeg", "ffprobe", "mpg123", "sox"}) {
        if (!run(std::string("command -v ") + tool)) {
            if (std::getenv("CI") && std::string(std::getenv("CI")) == "true")
                ADD_FAILURE() << tool << " is missing";
            return false;
        }
    }
    return std::filesystem::exists(cli_path());
}

std::vector<int16_t> raw_samples(const std::string& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(uint8_t(bytes[2 * i]) | (uint8_t(bytes[2 * i + 1]) << 8)));
    return samples;
}

// Decoded 16-bit samples; `complaints` collects what the decoder said on its error stream.
std::vector<int16_t> decode(const std::string& tool, const std::filesystem::path& path,
                            std::string& complaints) {
    std::filesystem::path err = path;
    err += ".err";
    std::string out;
    if (tool == "quillory") {
        // Our own reader, as the player hears the record.
        std::filesystem::path wav = path;
        wav += ".wav";
        run("(" + cli_path() + " decode " + quote(path) + " " + quote(wav) + " 2>" + quote(err) +
            ")");
        auto text = read_bytes(err);
        complaints.assign(text.begin(), text.end());
        return sox_samples(wav);
    }
    const std::string command =
        tool == "ffmpeg"
            ? "ffmpeg -nostdin -v warning -i " + quote(path) + " -f s16le - 2>" + quote(err)
            : "mpg123 -q -s " + quote(path) + " 2>" + quote(err);
    run("(" + command + ")", &out);
    auto text = read_bytes(err);
    complaints.assign(text.begin(), text.end());
    return raw_samples(out);
}

class Trim : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_tools())
            GTEST_SKIP() << "ffmpeg, ffprobe, mpg123, sox or quillory-cli missing";
        env = "HOME=" + quote(dir / "home") + " XDG_DATA_HOME=" + quote(dir / "home/.local/share") +
              " ";
        std::filesystem::create_directories(dir / "home");
    }
    // A record as the recorder makes it: our encoder, our tag, with markers.
    std::filesystem::path record(int rate, int bit_rate, const std::vector<Marker>& markers) {
        auto wav = dir / "source.wav";
        run("sox -n -r " + std::to_string(rate) + " -c 1 -b 16 " + quote(wav) +
            " synth 20 sine 200-3000 vol 0.5");
        auto coded = dir / "coded.mp3";
        EXPECT_TRUE(run(cli_path() + " encode " + quote(wav) + " " + quote(coded) +
                        " --codec mp3 --bitrate " + std::to_string(bit_rate)));
        auto path = dir / "Record.mp3";
        {
            foundation::File file(u16(path), foundation::File::WriteNew);
            formats::Id3Tag tag;
            tag.set_text(formats::kId3Title, u"Seminar");
            EXPECT_TRUE(tag.set_markers(markers, 20000));
            EXPECT_TRUE(tag.write(file, 0));
            auto audio = read_bytes(coded);
            EXPECT_TRUE(file.write(audio.data(), uint32_t(audio.size())));
        }
        return path;
    }
    std::string trim(const std::filesystem::path& path, const std::string& range, bool* ok) {
        std::string out;
        *ok = run("(" + env + cli_path() + " trim " + quote(path) + " " + range + " 2>&1)", &out);
        return out;
    }
    TempDir dir;
    std::string env;
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
        auto path = record(c.rate, c.bit_rate,
                           {{1000, u"One"}, {5000, u"Five"}, {10000, u"Ten"}, {15000, u"Fifteen"}});
        const auto original_bytes = read_bytes(path);
        std::string complaints;
        const auto original = decode("ffmpeg", path, complaints);
        char range[64];
        std::snprintf(range, sizeof range, "%.4f %.4f", c.start, c.end);
        bool ok = false;
        std::string said = trim(path, range, &ok);
        ASSERT_TRUE(ok) << said;

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

        // The original is in the trash.
        auto kept = dir / "home/.local/share/Trash/files/Record (untrimmed).mp3";
        EXPECT_EQ(read_bytes(kept), original_bytes);
        std::filesystem::remove_all(dir / "home/.local/share/Trash");
    }
}

TEST_F(Trim, MarkersInsideMoveAndTheTagStays) {
    auto path = record(22050, 32000,
                       {{1000, u"Before"}, {5000, u"Five"}, {10000, u"Ten"}, {15000, u"After"}});
    bool ok = false;
    std::string said = trim(path, "3.5 12", &ok);
    ASSERT_TRUE(ok) << said;
    EXPECT_EQ(said, "kept 0:08.500, 2 marker(s)\n");
    std::string out;
    run("ffprobe -v error -show_chapters -show_entries format_tags=title -of compact=p=0 " +
            quote(path),
        &out);
    EXPECT_NE(out.find("start=1500|start_time=1.500000|end=6500|end_time=6.500000|tag:title=Five"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("start=6500|start_time=6.500000|end=8500|end_time=8.500000|tag:title=Ten"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("tag:title=Seminar"), std::string::npos) << out;
    run("/usr/bin/python3 -c \"import sys\nfrom mutagen.mp3 import MP3\nm = MP3(sys.argv[1])\n"
        "print(round(m.info.length, 2), m.tags['TIT2'].text[0], len(m.tags.getall('CHAP')))\" " +
            quote(path),
        &out);
    EXPECT_EQ(out, "8.5 Seminar 2\n");
}

TEST_F(Trim, FailuresLeaveTheRecordAsItWas) {
    auto path = record(22050, 32000, {});
    const auto before = read_bytes(path);
    struct Case {
        const char* range;
        const char* reason;
    };
    const Case cases[] = {
        {"5 5", "the start is not before the end"},
        {"7 3", "the start is not before the end"},
        {"5 5.02", "shorter than one MP3 frame"},
        {"25 30", "shorter than one MP3 frame"},
        {"x 3", "bad time x"},
    };
    for (const Case& c : cases) {
        bool ok = true;
        std::string said = trim(path, c.range, &ok);
        EXPECT_FALSE(ok) << c.range;
        EXPECT_NE(said.find(c.reason), std::string::npos) << said;
        EXPECT_EQ(read_bytes(path), before) << c.range;
    }
    bool ok = true;
    EXPECT_NE(trim(dir / "gone.mp3", "1 2", &ok).find("no such file"), std::string::npos);

    // A file we may not write (root writes anyway: then as nobody).
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string out;
    run("(" +
            std::string(geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups "
                                       : "") +
            cli_path() + " trim " + quote(path) + " 1 2 2>&1)",
        &out);
    EXPECT_NE(out.find("read-only; left unchanged"), std::string::npos) << out;
    chmod(path.c_str(), 0644);

    // A full disk.
    foundation::set_free_space_for_testing(u16(dir.path()), 1000);
    auto result = formats::trim_record(u16(path), 1000, 5000);
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
    run("sox -n -r 8000 -c 1 -b 16 " + quote(dir / "tone.wav") + " synth 10 sine 300");
    for (const char* codec : {"PCM", "ADPCM", "GSM"}) {
        SCOPED_TRACE(codec);
        auto path = dir / "cut.wav";
        ASSERT_TRUE(run(cli_path() + " encode " + quote(dir / "tone.wav") + " " + quote(path) +
                        " --codec " + codec));
        const auto original = sox_samples(path);
        bool ok = false;
        std::string said = trim(path, "2.0 6.5", &ok);
        ASSERT_TRUE(ok) << said;
        const auto trimmed = sox_samples(path);
        // Whole blocks around the stretch: at most one block (320 samples for GSM, 505 for
        // this ADPCM) more on either side.
        EXPECT_GE(trimmed.size(), size_t(36000));
        EXPECT_LE(trimmed.size(), size_t(36000 + 2 * 505));
        // The cut's samples are the original's from a block boundary at or before 2.0 s. (GSM
        // decoding carries state from frame to frame: there only the length is the same.)
        if (std::string(codec) == "GSM")
            continue;
        bool found = false;
        for (size_t lag = 0; lag <= 505 && !found; ++lag)
            found = std::equal(trimmed.begin(), trimmed.begin() + 1000,
                               original.begin() + long(16000 - lag));
        EXPECT_TRUE(found);
        std::filesystem::remove_all(dir / "home/.local/share/Trash");
    }
}
