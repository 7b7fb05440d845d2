#include "formats/factory.h"
#include "formats/wav_header.h"
#include "formats/wav_reader.h"
#include "formats_support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

std::vector<int16_t> speech(const TempDir& dir, const char* rate, const char* channels) {
    auto voice = dir / "voice.wav";
    auto out = dir / (std::string("speech_") + rate + "_" + channels + ".wav");
    if (!std::filesystem::exists(voice))
        shell("espeak-ng -w " + quote(voice) + " 'Quiet words are recorded and kept for later.'");
    shell("sox " + quote(voice) + " -r " + rate + " -c " + channels + " -b 16 " + quote(out));
    return sox_samples(out);
}

std::filesystem::path write_with(const TempDir& dir, const char* codec, const std::string& name,
                                 const std::vector<int16_t>& samples, int channels, int rate) {
    auto path = dir / name;
    auto writer =
        formats::create_writer(u16(path), foundation::widen(codec), channels, 16, rate, 0, false);
    EXPECT_TRUE(writer);
    push_samples(writer->input(), samples, channels, rate, 1001);
    EXPECT_TRUE(writer->is_valid());
    return path;
}

} // namespace

TEST(WavFiles, SoxAdpcmAndGsmDecodeBitExact) {
    TempDir dir;
    speech(dir, "22050", "1");
    struct Case {
        const char* name;
        const char* sox_options;
        const char16_t* codec;
    } cases[] = {
        {"adpcm_mono.wav", "-r 22050 -c 1 -e ms-adpcm", u"ADPCM"},
        {"adpcm_stereo.wav", "-r 44100 -c 2 -e ms-adpcm", u"ADPCM"},
        {"adpcm_8k.wav", "-r 8000 -c 1 -e ms-adpcm", u"ADPCM"},
        {"gsm.wav", "-r 8000 -c 1 -e gsm-full-rate", u"GSM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir / c.name;
        ASSERT_TRUE(
            shell("sox " + quote(dir / "voice.wav") + " " + c.sox_options + " " + quote(path)));
        auto reader = formats::open_reader(u16(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), c.codec);
        Decoded ours = pull_all(*reader);
        // sox decodes the padding of the last block too; the file's sample count ends ours.
        auto theirs = sox_samples(path);
        ASSERT_LE(ours.samples.size(), theirs.size());
        EXPECT_GT(ours.samples.size(), 0u);
        EXPECT_TRUE(std::equal(ours.samples.begin(), ours.samples.end(), theirs.begin()));
        EXPECT_NEAR(
            reader->duration(),
            double(ours.samples.size() / size_t(reader->channels())) / reader->sample_rate(), 1e-9);
    }
}

TEST(WavFiles, OurCodingsAreReadBySoxAndByUs) {
    TempDir dir;
    auto mono8k = speech(dir, "8000", "1");
    auto stereo = speech(dir, "44100", "2");
    auto pcm = speech(dir, "22050", "2");
    ASSERT_GT(pcm.size(), 20000u);
    struct Case {
        const char* codec;
        const std::vector<int16_t>* input;
        int channels;
        int rate;
    } cases[] = {
        {"PCM", &pcm, 2, 22050},
        {"ADPCM", &mono8k, 1, 8000},
        {"ADPCM", &stereo, 2, 44100},
        {"GSM", &mono8k, 1, 8000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.rate));
        auto path = write_with(dir, c.codec, std::string(c.codec) + std::to_string(c.rate) + ".wav",
                               *c.input, c.channels, c.rate);
        EXPECT_EQ(soxi(path, "-r"), c.rate);
        // Our decoding agrees with sox's on our own file, and keeps the input's length.
        auto theirs = sox_samples(path);
        auto reader = formats::open_reader(u16(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), foundation::widen(c.codec));
        Decoded ours = pull_all(*reader);
        EXPECT_EQ(ours.samples.size(), c.input->size());
        ASSERT_LE(ours.samples.size(), theirs.size());
        EXPECT_TRUE(std::equal(ours.samples.begin(), ours.samples.end(), theirs.begin()));
        // A lossy coding still follows the speech: compare energy of the difference.
        double signal = 0, noise = 0;
        for (size_t i = 0; i < ours.samples.size(); ++i) {
            double s = (*c.input)[i];
            signal += s * s;
            noise += (s - ours.samples[i]) * (s - ours.samples[i]);
        }
        EXPECT_LT(noise, signal * 0.25);
        if (std::string(c.codec) != "PCM")
            continue;
        EXPECT_EQ(theirs, *c.input);
        EXPECT_NEAR(reader->duration(), double(c.input->size() / 2) / 22050, 1e-9);
        // Seeking to 1 s lands on frame 22050.
        ASSERT_TRUE(reader->seek(1.0));
        Decoded rest = pull_all(*reader);
        ASSERT_EQ(rest.samples.size(), c.input->size() - 2 * 22050);
        EXPECT_TRUE(
            std::equal(rest.samples.begin(), rest.samples.end(), c.input->begin() + 2 * 22050));
    }
}

TEST(WavFiles, WriteFailureKeepsWhatWasWritten) {
    TempDir dir;
    // A writer on a device that takes nothing becomes invalid at its first block.
    {
        auto writer = formats::create_writer(u"/dev/full", u"PCM", 1, 16, 8000, 0, false);
        push_samples(writer->input(), std::vector<int16_t>(800, 5), 1, 8000);
        EXPECT_FALSE(writer->is_valid());
    }
    // A file size limit stands in for a full storage card: the file keeps a complete header
    // and every whole block written before the failure.
    if (!std::filesystem::exists(cli_path()))
        GTEST_SKIP() << "quillory-cli is not built";
    speech(dir, "44100", "2");
    auto big = dir / "speech_44100_2.wav";
    for (const char* codec : {"PCM", "ADPCM", "mp3"}) {
        SCOPED_TRACE(codec);
        auto out = dir / (std::string("limited_") + codec);
        bool ok =
            shell("bash -c \"trap '' XFSZ; ulimit -f 40; exec " + cli_path() + " encode " +
                  quote(big) + " " + quote(out) + " --codec " + codec + " --bitrate 320000\"");
        EXPECT_FALSE(ok);
        auto bytes = read_bytes(out);
        ASSERT_GT(bytes.size(), 1000u);
        EXPECT_LE(bytes.size(), 40u * 1024u);
        if (std::string(codec) == "mp3")
            continue;
        uint32_t data_size = le32(bytes, bytes.size() > 90 && codec[0] == 'A' ? 86 : 40);
        uint32_t header = codec[0] == 'A' ? 90 : 44;
        EXPECT_EQ(data_size + header, bytes.size());
        EXPECT_EQ(le32(bytes, 4) + 8, bytes.size());
        auto reader = formats::open_reader(u16(out));
        ASSERT_TRUE(reader);
        EXPECT_GT(pull_all(*reader).samples.size(), 0u);
    }
}
