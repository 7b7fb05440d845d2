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
