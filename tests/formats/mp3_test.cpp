#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "formats/mp3_reader.h"
#include "formats/mp3_writer.h"
#include "formats_support.h"
#include "foundation/file.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

std::vector<int16_t> tone(int rate, int channels, double seconds) {
    return sine(size_t(rate * seconds), 300, rate, 8000, channels);
}

std::filesystem::path record(const TempDir& dir, const std::string& name,
                             const std::vector<int16_t>& samples, int channels, int rate,
                             int bit_rate, bool with_tag = true) {
    formats::Id3Tag tag;
    tag.set_text(formats::kId3Artist, u"Tester");
    write_record(dir / name, with_tag ? &tag : nullptr, samples, channels, rate, bit_rate);
    return dir / name;
}

} // namespace

TEST(Mp3Files, IndependentDecodersAgreeWithUs) {
    TempDir dir;
    struct Case {
        int rate;
        int channels;
        int bit_rate;
        int coded_rate; // LAME picks a lower rate for low bit rates
        int frame_samples;
    } cases[] = {
        {44100, 1, 64000, 44100, 1152},
        {22050, 1, 32000, 22050, 576},
        {44100, 2, 96000, 32000, 1152},
        {44100, 1, 32000, 22050, 576},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.channels) + "/" +
                     std::to_string(c.bit_rate));
        auto input = tone(c.rate, c.channels, 5.3);
        auto path = record(dir, "rec" + std::to_string(&c - cases) + ".mp3", input, c.channels,
                           c.rate, c.bit_rate);
        double frame = double(c.frame_samples) / c.coded_rate;

        EXPECT_EQ(ffprobe_stream(path, "sample_rate"), std::to_string(c.coded_rate));
        EXPECT_EQ(ffprobe_stream(path, "channels"), std::to_string(c.channels));
        EXPECT_EQ(ffprobe_stream(path, "bit_rate"), std::to_string(c.bit_rate));

        auto wav = dir / "mpg123.wav";
        ASSERT_TRUE(shell("mpg123 -q -w " + quote(wav) + " " + quote(path)));
        const double mpg123_seconds = soxi(wav, "-s") / c.coded_rate;
        EXPECT_EQ(soxi(wav, "-r"), c.coded_rate);

        auto reader = formats::open_reader(u16(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), u"mp3");
        EXPECT_EQ(reader->sample_rate(), c.coded_rate);
        EXPECT_EQ(reader->channels(), c.channels);
        EXPECT_EQ(reader->bit_rate(), c.bit_rate);
        EXPECT_NEAR(reader->duration(), ffprobe_duration(path), frame);
        EXPECT_NEAR(reader->duration(), mpg123_seconds, frame);
        // The coded stream is longer than the input by the encoder's delay, its padding and
        // its placeholder frame, less the PCM under one frame that was never coded.
        EXPECT_NEAR(reader->duration(), 5.3, 3 * frame);

        Decoded decoded = pull_all(*reader);
        EXPECT_EQ(decoded.rate, c.coded_rate);
        EXPECT_EQ(decoded.channels, c.channels);
        EXPECT_EQ(decoded.samples.size() / size_t(c.channels * c.frame_samples), decoded.blocks);
        EXPECT_NEAR(double(decoded.samples.size() / size_t(c.channels)) / c.coded_rate,
                    mpg123_seconds, 1e-9);
        // Our samples are mpg123's samples.
        auto theirs = sox_samples(wav);
        ASSERT_EQ(theirs.size(), decoded.samples.size());
        size_t differ = 0;
        for (size_t i = 0; i < theirs.size(); ++i)
            differ += std::abs(theirs[i] - decoded.samples[i]) > 1;
        EXPECT_EQ(differ, 0u);
    }
}

TEST(Mp3Files, DurationAndAverageBitRateFromEveryFrame) {
    TempDir dir;
    // No information frame: the duration comes from the frames themselves, not from the first
    // frame's bit rate or from a few probes.
    auto small = record(dir, "small.mp3", tone(44100, 1, 2), 1, 44100, 64000, false);
    auto big = record(dir, "big.mp3", tone(44100, 1, 80), 1, 44100, 128000, false);
    auto first = record(dir, "first.mp3", tone(44100, 1, 120), 1, 44100, 64000, false);
    auto small_bytes = read_bytes(small);
    auto big_bytes = read_bytes(big);
    auto part1 = read_bytes(first);
    ASSERT_GT(part1.size(), 950000u);
    ASSERT_GT(big_bytes.size(), 1050000u);
    struct Case {
        const char* name;
        std::vector<uint8_t> first;
        size_t first_bytes;
        size_t second_bytes;
    } cases[] = {
        {"small, then 30000 bytes at twice the rate", small_bytes, small_bytes.size(), 30000},
        {"950000 bytes at 64 kbit/s, then 1050000 at 128", part1, 950000, 1050000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> joined(c.first.begin(), c.first.begin() + long(c.first_bytes));
        joined.insert(joined.end(), big_bytes.begin(), big_bytes.begin() + long(c.second_bytes));
        auto path = dir / "two_rates.mp3";
        write_bytes(path, joined);
        formats::FileReaderMP3 reader(u16(path));
        ASSERT_TRUE(reader.is_valid());
        const double seconds = mpg123_frames(path, 1, false) / 44100;
        EXPECT_NEAR(reader.duration(), seconds, 1152.0 / 44100);
        // The bytes over the time they play (frames cut at the join count as bytes, not time).
        const double expected = double(joined.size()) * 8 / seconds;
        EXPECT_NEAR(reader.bit_rate(), expected, 0.02 * expected);
    }
}

TEST(Mp3Files, FramesOfTheWriterAreWholeEncoderFrames) {
    // The stage pushes one block per encoder frame, whatever the size of the blocks pushed in.
    class Counter : public audio::Inlet {
    public:
        void on_data(const audio::AudioBlock&) override { ++pushes; }
        int pushes{0};
    };
    formats::Mp3EncoderStage stage(32000);
    Counter counter;
    audio::connect(stage.output(), &counter);
    auto samples = tone(22050, 1, 1.0);
    push_samples(stage, samples, 1, 22050, 1000);
    EXPECT_EQ(counter.pushes, int(samples.size() / size_t(stage.frame_size())));
}
