// Chained Ogg Vorbis files (links of different formats one after the other): each link decodes
// in its own format, with nothing wrong at the joins, judged against sox decoding each link.

#include "formats/factory.h"
#include "formats_support.h"
#include "support/temp_dir.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace formats_test;
using testing_support::TempDir;

namespace {

struct Run {
    int channels{0}, rate{0};
    std::vector<int16_t> samples;
};

// The reader's stream as runs of blocks of one format.
std::vector<Run> runs_of(audio::FileReader& reader, int max_bytes) {
    std::vector<Run> runs;
    Collector end;
    audio::connect(reader.output(), &end);
    for (int i = 0; i < 100000; ++i) {
        audio::AudioBlock block;
        audio::pull(end, block, max_bytes);
        if (block.empty())
            break;
        EXPECT_EQ(block.bits_per_sample, 16);
        EXPECT_EQ(block.size() % size_t(block.bytes_per_frame()), 0u);
        if (runs.empty() || runs.back().channels != block.channels ||
            runs.back().rate != block.sample_rate)
            runs.push_back({block.channels, block.sample_rate, {}});
        auto* p = reinterpret_cast<const int16_t*>(block.bytes.data());
        runs.back().samples.insert(runs.back().samples.end(), p, p + block.size() / 2);
    }
    audio::connect(reader.output(), nullptr);
    return runs;
}

} // namespace

TEST(ChainedOgg, EachLinkDecodesInItsOwnFormatWithCleanJoins) {
    TempDir dir;
    struct Link {
        const char* synth;
        int channels, rate;
    } links[] = {
        {"-r 22050 -c 1 $WAV synth 1.0 sine 440", 1, 22050},
        {"-r 44100 -c 2 $WAV synth 0.8 sine 300 sine 500", 2, 44100},
        {"-r 16000 -c 1 $WAV synth 0.6 sine 250", 1, 16000},
    };
    std::string parts;
    std::vector<std::vector<int16_t>> expected;
    double total = 0;
    for (size_t i = 0; i < std::size(links); ++i) {
        auto wav = dir / ("link" + std::to_string(i) + ".wav");
        auto ogg = dir / ("link" + std::to_string(i) + ".ogg");
        std::string synth = links[i].synth;
        synth.replace(synth.find("$WAV"), 4, quote(wav));
        ASSERT_TRUE(run("sox -n -b 16 " + synth));
        ASSERT_TRUE(run("oggenc -Q -q 3 -o " + quote(ogg) + " " + quote(wav)));
        expected.push_back(sox_samples(ogg));
        ASSERT_FALSE(expected.back().empty());
        total += double(expected.back().size()) / links[i].channels / links[i].rate;
        parts += " " + quote(ogg);
    }
    auto chained = dir / "chained.ogg";
    ASSERT_TRUE(run("cat" + parts + " > " + quote(chained)));

    auto reader = formats::open_reader(u16(chained));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->codec_name(), u"Vorbis");
    EXPECT_EQ(reader->channels(), 1);
    EXPECT_EQ(reader->sample_rate(), 22050);
    EXPECT_NEAR(reader->duration(), total, 0.002);

    for (int max_bytes : {8820, 4097, 65536}) {
        SCOPED_TRACE(max_bytes);
        ASSERT_TRUE(reader->seek(0));
        auto runs = runs_of(*reader, max_bytes);
        ASSERT_EQ(runs.size(), std::size(links));
        for (size_t i = 0; i < runs.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(runs[i].channels, links[i].channels);
            EXPECT_EQ(runs[i].rate, links[i].rate);
            ASSERT_EQ(runs[i].samples.size(), expected[i].size());
            // Tremor's integer decoder and sox's floating-point one differ by a few units at
            // most; a sample of the wrong format or link is thousands off.
            int worst = 0;
            double error = 0;
            for (size_t k = 0; k < expected[i].size(); ++k) {
                int difference = std::abs(int(runs[i].samples[k]) - int(expected[i][k]));
                worst = std::max(worst, difference);
                error += double(difference) * difference;
            }
            EXPECT_LE(worst, 16);
            EXPECT_LT(std::sqrt(error / double(expected[i].size())), 4.0);
        }
    }

    // A seek into the second link goes on in that link's format.
    ASSERT_TRUE(reader->seek(1.2));
    auto runs = runs_of(*reader, 8820);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].channels, 2);
    EXPECT_EQ(runs[0].rate, 44100);
    EXPECT_NEAR(double(runs[0].samples.size()) / 2 / 44100, 0.6, 0.01);
}
