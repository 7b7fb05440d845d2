// Chained Ogg Vorbis files: every link decodes, converted to the first link's format, with
// nothing wrong at the joins, judged against sox decoding (and converting) each link.

#include "formats/factory.h"
#include "formats_support.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace formats_test;

TEST(ChainedOgg, EveryLinkDecodesInTheFirstLinksFormat) {
    TempDir dir;
    const std::string links[] = {
        "-r 22050 -c 1 $WAV synth 1.0 sine 440", "-r 44100 -c 2 $WAV synth 0.8 sine 300 sine 500",
        "-r 16000 -c 1 $WAV synth 0.6 sine 250",
        "-r 22050 -c 2 $WAV synth 0.5 sine 350", // the first link's rate, other channels
    };
    std::string parts;
    // Each link as sox decodes it, converted to the first link's format.
    std::vector<std::vector<int16_t>> expected;
    double total = 0;
    for (size_t i = 0; i < std::size(links); ++i) {
        auto wav = dir / ("link" + std::to_string(i) + ".wav");
        auto ogg = dir / ("link" + std::to_string(i) + ".ogg");
        auto converted = dir / ("link" + std::to_string(i) + ".22050.wav");
        std::string synth = links[i];
        synth.replace(synth.find("$WAV"), 4, quote(wav));
        ASSERT_TRUE(shell("sox -n -b 16 " + synth));
        ASSERT_TRUE(shell("oggenc -Q -q 3 -o " + quote(ogg) + " " + quote(wav)));
        ASSERT_TRUE(shell("sox " + quote(ogg) + " -b 16 -r 22050 -c 1 " + quote(converted)));
        expected.push_back(sox_samples(converted));
        ASSERT_FALSE(expected.back().empty());
        total += double(expected.back().size()) / 22050;
        parts += " " + quote(ogg);
    }
    auto chained = dir / "chained.ogg";
    ASSERT_TRUE(shell("cat" + parts + " > " + quote(chained)));

    auto reader = formats::open_reader(u16(chained));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->codec_name(), u"Vorbis");
    EXPECT_EQ(reader->channels(), 1);
    EXPECT_EQ(reader->sample_rate(), 22050);
    EXPECT_NEAR(reader->duration(), total, 0.002);

    for (int max_bytes : {8820, 4097, 65536}) {
        SCOPED_TRACE(max_bytes);
        ASSERT_TRUE(reader->seek(0));
        const Decoded decoded = pull_all(*reader, max_bytes);
        EXPECT_TRUE(decoded.consistent);
        EXPECT_EQ(decoded.bits, 16);
        EXPECT_EQ(decoded.channels, 1);
        EXPECT_EQ(decoded.rate, 22050);
        const auto& got = decoded.samples;
        EXPECT_NEAR(double(got.size()) / 22050, total, 0.01);
        size_t at = 0;
        for (size_t i = 0; i < std::size(links); ++i) {
            SCOPED_TRACE(i);
            // The middle of each link, away from the joins and the resamplers' edges, by what
            // two resamplers agree on (their filters differ sample by sample).
            const size_t n = expected[i].size();
            ASSERT_LE(at + n, got.size() + 64);
            const size_t from = n / 4, length = n / 2;
            const int16_t* ours = got.data() + at + from;
            const int16_t* theirs = expected[i].data() + from;
            EXPECT_NEAR(rms(ours, length), rms(theirs, length), 0.05 * rms(theirs, length));
            EXPECT_NEAR(sign_changes(ours, length), sign_changes(theirs, length),
                        0.02 * sign_changes(theirs, length) + 2);
            if (i == 0) {
                // The first link is not converted at all: Tremor's integer decoder and sox's
                // floating-point one differ by a few units at most.
                int worst = 0;
                for (size_t k = 0; k < n; ++k)
                    worst = std::max(worst, std::abs(int(got[k]) - int(expected[0][k])));
                EXPECT_LE(worst, 16);
            }
            at += n;
        }
    }

    // A seek into the second link goes on from there, still in the first link's format.
    ASSERT_TRUE(reader->seek(1.2));
    const Decoded rest = pull_all(*reader);
    EXPECT_TRUE(rest.consistent);
    EXPECT_EQ(rest.channels, 1);
    EXPECT_NEAR(double(rest.samples.size()) / 22050, total - 1.2, 0.01);
}
