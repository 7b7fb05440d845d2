#include "formats/factory.h"
#include "formats/mp3_reader.h"
#include "formats/mpc_reader.h"
#include "formats/vorbis_reader.h"
#include "formats_support.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

using namespace formats_test;

TEST(CompressedFiles, VorbisAndMusepackDecodeWithTheRightDuration) {
    TempDir dir;
    const auto wav = dir / "source.wav";
    ASSERT_TRUE(shell("sox -n -r 44100 -c 2 -b 16 " + quote(wav) +
                      " synth 3.3 sine 200-3000 sine 440 tremolo 4 60"));
    const double expected = 3.3;
    ASSERT_TRUE(shell("oggenc -Q -q 3 -o " + quote(dir / "a.ogg") + " " + quote(wav)));
    ASSERT_TRUE(shell("mpcenc --silent --overwrite " + quote(wav) + " " + quote(dir / "a.mpc")));
    struct Case {
        const char* file;
        const char16_t* codec;
    } cases[] = {{"a.ogg", u"Vorbis"}, {"a.mpc", u"MPC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto reader = formats::open_reader(u16(dir / c.file));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), c.codec);
        EXPECT_EQ(reader->channels(), 2);
        EXPECT_EQ(reader->sample_rate(), 44100);
        EXPECT_GT(reader->bit_rate(), 32000);
        EXPECT_NEAR(reader->duration(), expected, 0.05);
        Decoded decoded = pull_all(*reader);
        EXPECT_EQ(decoded.channels, 2);
        EXPECT_EQ(decoded.rate, 44100);
        double seconds = double(decoded.samples.size() / 2) / 44100;
        EXPECT_NEAR(seconds, expected, 0.05);
        // Seeking half way leaves half to play.
        ASSERT_TRUE(reader->seek(expected / 2));
        Decoded rest = pull_all(*reader);
        EXPECT_NEAR(double(rest.samples.size() / 2) / 44100, expected / 2, 0.05);
    }
}

TEST(CompressedFiles, HostileWavAndMp3FilesAreRefusedOrEndCleanly) {
    TempDir dir;
    shell("sox -n -r 8000 -c 1 -b 16 " + quote(dir / "p.wav") + " synth 1 sine 300");
    shell("sox " + quote(dir / "p.wav") + " -e ms-adpcm " + quote(dir / "a.wav"));
    shell("sox " + quote(dir / "p.wav") + " -e gsm-full-rate " + quote(dir / "g.wav"));
    auto pcm = read_bytes(dir / "p.wav");
    auto adpcm = read_bytes(dir / "a.wav");
    auto gsm = read_bytes(dir / "g.wav");
    ASSERT_GT(adpcm.size(), 600u);
    formats::Id3Tag tag;
    tag.set_text(formats::kId3Artist, u"Tester");
    write_record(dir / "good.mp3", &tag, sine(22050 * 3, 300, 22050), 1, 22050, 32000);
    auto mp3 = read_bytes(dir / "good.mp3");
    auto with = [](std::vector<uint8_t> b, size_t at, std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), b.begin() + std::ptrdiff_t(at));
        return b;
    };
    auto cut = [](const std::vector<uint8_t>& b, size_t from, size_t to) {
        return std::vector<uint8_t>(b.begin() + long(from), b.begin() + long(to));
    };
    std::vector<uint8_t> noise(300000);
    uint32_t seed = 12345;
    for (auto& b : noise) {
        seed = seed * 1103515245 + 12345;
        b = uint8_t(seed >> 16);
    }
    std::vector<uint8_t> holes = mp3;
    for (size_t i = 2000; i + 100 < holes.size(); i += 997)
        std::fill(holes.begin() + std::ptrdiff_t(i), holes.begin() + std::ptrdiff_t(i + 60), 0xFF);
    const size_t any = SIZE_MAX;
    // sox writes the ADPCM data from offset 90 and the fact count at 78.
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool readable;
        size_t max_samples;
    } cases[] = {
        {"empty.wav", {}, false, 0},
        {"RIFF only.wav", cut(pcm, 0, 12), false, 0},
        {"data size beyond the file.wav", with(pcm, 40, {0xF0, 0xFF, 0xFF, 0x7F}), true, 8000},
        {"fmt size beyond the file.wav", with(pcm, 16, {0xFF, 0xFF, 0xFF, 0xFF}), false, 0},
        {"block align 0.wav", with(pcm, 32, {0, 0}), false, 0},
        {"cut inside the data.wav", cut(pcm, 0, pcm.size() - 1001), true, 8000},
        {"ADPCM 200 coefficient pairs.wav", with(adpcm, 40, {200, 0}), false, 0},
        {"ADPCM samples per block beyond the block.wav", with(adpcm, 38, {0xFF, 0x7F}), false, 0},
        {"ADPCM predictor 7 in the first block.wav", with(adpcm, 90, {7}), true, 0},
        {"ADPCM fact count huge.wav", with(adpcm, 78, {0xFF, 0xFF, 0xFF, 0xFF}), true, 8192},
        {"GSM odd block count.wav", cut(gsm, 0, gsm.size() - 30), true, 8000},
        {"GSM chunk size wraps.wav", with(gsm, 52, {0xFF, 0xFF, 0xFF, 0xFF}), false, 0},
        {"GSM claiming 16000 Hz.wav", with(gsm, 24, {0x80, 0x3E, 0, 0}), false, 0},
        {"empty.mp3", {}, false, 0},
        {"tag only.mp3", cut(mp3, 0, 1100), false, 0},
        {"cut in a frame.mp3", cut(mp3, 0, mp3.size() - 37), true, any},
        {"tag beyond the file.mp3", with(mp3, 6, {0x7F, 0x7F, 0x7F, 0x7F}), false, 0},
        {"noise.mp3", noise, false, 0},
        {"damaged frames.mp3", holes, true, any},
        {"sync bytes everywhere.mp3", std::vector<uint8_t>(50000, 0xFF), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool is_mp3 = std::string(c.name).ends_with(".mp3");
        write_bytes(dir / c.name, c.bytes);
        std::unique_ptr<audio::FileReader> reader;
        if (is_mp3)
            reader = std::make_unique<formats::FileReaderMP3>(u16(dir / c.name));
        else
            reader = formats::open_reader(u16(dir / c.name));
        EXPECT_EQ(reader && reader->is_valid(), c.readable);
        if (!reader || !reader->is_valid())
            continue;
        Decoded decoded = pull_all(*reader, 8820, 10000);
        EXPECT_LT(decoded.blocks, 10000u);
        if (c.max_samples != any) {
            EXPECT_LE(decoded.samples.size(), c.max_samples);
            // The duration never claims more than the file's bytes can hold.
            EXPECT_LE(reader->duration() * reader->sample_rate(), 8192.0);
        }
        // A hostile file may refuse the seek; it must not hang the reading after it.
        (void)reader->seek(1.5);
        pull_all(*reader, 8820, 10000);
    }
}

// Found by fuzzing: stream version 7 headers that claim billions of frames in a 29-byte file
// (seeking into it must end at once, its length is what the bytes can hold), or whose counts
// make the average bit rate infinite (it reads as unknown).
TEST(CompressedFiles, ForgedMusepackHeadersAreBounded) {
    TempDir dir;
    std::vector<uint8_t> bytes = {'M', 'P', '+'};
    bytes.insert(bytes.end(), 19, 0xD7);
    for (uint8_t b : {0x4D, 0x06, 0x00, 0x50, 0x43, 0x4B, 0x0D})
        bytes.push_back(b);
    write_bytes(dir / "forged.mpc", bytes);
    formats::MpcReader reader(u16(dir / "forged.mpc"));
    ASSERT_TRUE(reader.is_valid());
    EXPECT_LE(reader.duration() * reader.sample_rate(), 29.0 * 8 / 20 * 1152 + 1);
    testing_support::Watchdog watchdog(20, "seek into a forged Musepack file");
    // Whether a forged file can be sought in is its own affair: it must not hang.
    for (double at : {reader.duration() / 2, reader.duration()}) {
        (void)reader.seek(at);
        pull_all(reader, 8820, 2000);
    }

    write_bytes(dir / "rate.mpc", {0x4d, 0x50, 0x2b, 0x47, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x49, 0xac, 0x1e, 0x0f, 0x07, 0x61, 0x0a, 0x19, 0x1e, 0x49, 0x45,
                                   0x01, 0x80, 0x00, 0x10, 0x45, 0x05, 0xac, 0x1e, 0x47});
    formats::MpcReader odd(u16(dir / "rate.mpc"));
    ASSERT_TRUE(odd.is_valid());
    EXPECT_GE(odd.bit_rate(), 0);
    EXPECT_LT(odd.bit_rate(), 10000000);
}
