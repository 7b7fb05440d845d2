// WAV files as other programs write them (WAVE_FORMAT_EXTENSIBLE, floating point, many
// channels, chunks before "fmt "), read by our reader and judged against sox.

#include "formats/factory.h"
#include "formats/wav_reader.h"
#include "formats_support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

// Samples as signed integers of the given width, little-endian bytes.
std::vector<int32_t> unpack(const uint8_t* p, size_t size, int bits) {
    const size_t bytes = size_t(bits / 8);
    std::vector<int32_t> out;
    for (size_t at = 0; at + bytes <= size; at += bytes) {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value |= uint32_t(p[at + i]) << (8 * i);
        if (bits == 8) {
            out.push_back(int32_t(value) - 128);
            continue;
        }
        // Sign-extend from the sample's width.
        const int shift = 32 - bits;
        out.push_back(int32_t(value << shift) >> shift);
    }
    return out;
}

// What sox decodes, as signed integers of `bits` (no dither).
std::vector<int32_t> sox_decoded(const std::filesystem::path& path, int bits) {
    std::filesystem::path raw = path;
    raw += ".raw";
    if (!shell("sox -D " + quote(path) + " -t raw -e signed -b " + std::to_string(bits) + " -L " +
               quote(raw)))
        return {};
    auto bytes = read_bytes(raw);
    return unpack(bytes.data(), bytes.size(), bits);
}

// The reader's stream as signed integers of its own width.
std::vector<int32_t> samples_of(const Decoded& decoded) {
    return unpack(decoded.bytes.data(), decoded.bytes.size(), decoded.bits);
}

} // namespace

TEST(WavVariants, ExtensibleFloatAndManyChannelsReadAsTheToolsReadThem) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string command; // makes "$OUT"
        int channels, bits, rate;
        int32_t tolerance;
    } cases[] = {
        {"sox 24-bit stereo (extensible)",
         "sox -n -r 44100 -b 24 -c 2 $OUT synth 0.7 sine 440 sine 660", 2, 24, 44100, 0},
        {"ffmpeg 16-bit six channels (extensible)",
         "ffmpeg -nostdin -v error -f lavfi -i sine=f=300:d=0.6 -ac 6 -c:a pcm_s16le $OUT", 6, 16,
         44100, 0},
        {"ffmpeg 32-bit float mono (format 3)",
         "ffmpeg -nostdin -v error -f lavfi -i sine=f=500:d=0.5:sample_rate=22050 -c:a pcm_f32le "
         "$OUT",
         1, 32, 22050, 256},
        {"sox 32-bit float three channels (extensible)",
         "sox -n -r 16000 -e floating-point -b 32 -c 3 $OUT synth 0.5 sine 200 sine 300 sine 400",
         3, 32, 16000, 256},
        {"ffmpeg 64-bit float stereo",
         "ffmpeg -nostdin -v error -f lavfi -i sine=f=700:d=0.4 -ac 2 -c:a pcm_f64le $OUT", 2, 32,
         44100, 256},
        {"sox 32-bit integer", "sox -n -r 8000 -b 32 -c 1 $OUT synth 0.5 sine 100", 1, 32, 8000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir / "variant.wav";
        std::filesystem::remove(path);
        std::string command = c.command;
        command.replace(command.find("$OUT"), 4, quote(path));
        ASSERT_TRUE(shell(command)) << command;

        auto reader = formats::open_reader(u16(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), u"PCM");
        EXPECT_EQ(reader->channels(), c.channels);
        EXPECT_EQ(reader->bits_per_sample(), c.bits);
        EXPECT_EQ(reader->sample_rate(), c.rate);
        EXPECT_NEAR(reader->duration(), soxi(path, "-D"), 0.001);

        const Decoded decoded = pull_all(*reader, 9000);
        EXPECT_TRUE(decoded.consistent);
        EXPECT_EQ(decoded.channels, c.channels);
        EXPECT_EQ(decoded.bits, c.bits);
        EXPECT_EQ(decoded.rate, c.rate);
        const auto ours = samples_of(decoded);
        auto theirs = sox_decoded(path, c.bits);
        ASSERT_EQ(ours.size(), theirs.size());
        ASSERT_FALSE(theirs.empty());
        int32_t worst = 0;
        double energy = 0;
        for (size_t i = 0; i < theirs.size(); ++i) {
            worst = std::max(worst, int32_t(std::min<int64_t>(
                                        std::llabs(int64_t(ours[i]) - theirs[i]), INT32_MAX)));
            energy += double(theirs[i]) * theirs[i];
        }
        EXPECT_LE(worst, c.tolerance);
        EXPECT_GT(energy, 0) << "a sine, not silence";

        // Seeking lands on whole frames of the stored format.
        ASSERT_TRUE(reader->seek(0.25));
        const auto rest = samples_of(pull_all(*reader, 9000));
        const size_t skipped = size_t(0.25 * c.rate) * size_t(c.channels);
        ASSERT_EQ(rest.size(), theirs.size() - skipped);
        EXPECT_LE(std::llabs(int64_t(rest[0]) - theirs[skipped]), c.tolerance);
    }
}

TEST(WavVariants, ChunksBeforeFormatAreSkipped) {
    TempDir dir;
    auto path = dir / "chunks.wav";
    auto chunk = [](const char* id, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> out = join({text_of(id), {0, 0, 0, 0}, data});
        set_le32(out, 4, uint32_t(data.size()));
        if (data.size() & 1)
            out.push_back(0);
        return out;
    };
    std::vector<uint8_t> samples;
    for (int16_t s : sine(4000, 8000 * 0.05 / (2 * M_PI), 8000))
        samples.insert(samples.end(), {uint8_t(s), uint8_t(uint16_t(s) >> 8)});
    // A format of 18 bytes (with an empty extension); a LIST of odd size, with its pad byte.
    std::vector<uint8_t> fmt(18, 0);
    const uint32_t fields[] = {0x00010001u, 8000u, 16000u, 0x00100002u};
    for (size_t i = 0; i < 4; ++i)
        set_le32(fmt, 4 * i, fields[i]);
    auto file = join({text_of("RIFF0000WAVE"), chunk("LIST", text_of("INFOx")),
                      chunk("bext", std::vector<uint8_t>(602, 'b')),
                      chunk("JUNK", std::vector<uint8_t>(28, 0)), chunk("fmt ", fmt),
                      chunk("data", samples)});
    set_le32(file, 4, uint32_t(file.size() - 8));
    write_bytes(path, file);

    auto reader = formats::open_reader(u16(path));
    ASSERT_TRUE(reader);
    EXPECT_DOUBLE_EQ(reader->duration(), 0.5);
    const auto ours = samples_of(pull_all(*reader));
    EXPECT_EQ(ours, sox_decoded(path, 16));
    EXPECT_EQ(ours.size(), 4000u);

    // A chunk before "fmt " that claims more than the file holds: not a WAV.
    write_bytes(
        path,
        join(
            {text_of("RIFF"), {30, 0, 0, 0}, text_of("WAVEJUNK"), {0xF0, 0xFF, 0xFF, 0xFF, 0, 0}}));
    EXPECT_FALSE(formats::PcmWavReader(u16(path)).is_valid());
    // An extensible header whose sub-format is not of the standard family: refused.
    ASSERT_TRUE(shell("sox -n -r 8000 -b 24 -c 1 " + quote(dir / "x.wav") + " synth 0.1 sine 100"));
    auto odd = read_bytes(dir / "x.wav");
    ASSERT_EQ(std::memcmp(odd.data() + 46, "\x00\x00\x00\x00\x10\x00\x80\x00", 8), 0);
    odd[50] ^= 1;
    write_bytes(dir / "x.wav", odd);
    EXPECT_FALSE(formats::PcmWavReader(u16(dir / "x.wav")).is_valid());
}
