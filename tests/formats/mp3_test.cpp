#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "formats_support.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace formats_test;

// What our writer makes is read alike by mpg123 and by our reader.
TEST(Mp3Files, IndependentDecodersAgreeWithUs) {
    TempDir dir;
    formats::Id3Tag tag;
    tag.set_text(formats::kId3Artist, u"Tester");
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
        const auto path = dir / ("rec" + std::to_string(&c - cases) + ".mp3");
        write_record(path, &tag, sine(size_t(c.rate * 5.3), 300, c.rate, 8000, c.channels),
                     c.channels, c.rate, c.bit_rate);
        double frame = double(c.frame_samples) / c.coded_rate;

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
