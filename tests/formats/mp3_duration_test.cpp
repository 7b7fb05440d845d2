// MP3 durations from an encoder's information frame (Xing / Info, VBRI), judged against
// mpg123 and ffmpeg.

#include "formats/mp3_header.h"
#include "formats/mp3_reader.h"
#include "formats_support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

// A variable bit rate file: a sweep under a pulsing tone, so frames differ in size.
std::filesystem::path vbr_file(const TempDir& dir, const std::string& name, double seconds) {
    auto wav = dir / (name + ".wav");
    auto mp3 = dir / name;
    EXPECT_TRUE(shell("sox -n -r 44100 -c 2 -b 16 " + quote(wav) + " synth " +
                      std::to_string(seconds) + " sine 100-6000 sine 300 tremolo 3 80 vol 0.5"));
    EXPECT_TRUE(shell("ffmpeg -nostdin -v error -i " + quote(wav) + " -c:a libmp3lame -q:a 2 " +
                      quote(mp3)));
    return mp3;
}

size_t decoded_frames(formats::FileReaderMP3& reader) {
    Decoded decoded = pull_all(reader);
    return decoded.channels ? decoded.samples.size() / size_t(decoded.channels) : 0;
}

// Where the first frame starts: after the ID3 tag.
size_t first_frame(const std::vector<uint8_t>& bytes) {
    return 10 + size_t((bytes[6] << 21) | (bytes[7] << 14) | (bytes[8] << 7) | bytes[9]);
}

} // namespace

TEST(Mp3Duration, InformationFramesAreUsedUnlessTheBytesCannotHoldTheirCount) {
    TempDir dir;
    auto whole = vbr_file(dir, "whole.mp3", 20);
    auto bytes = read_bytes(whole);
    const size_t tag = first_frame(bytes);
    formats::Mp3Header header;
    ASSERT_TRUE(formats::parse_mp3_header(bytes.data() + tag, header));
    const size_t audio = tag + size_t(header.frame_length);
    formats::Mp3InfoFrame xing;
    ASSERT_TRUE(formats::parse_mp3_info_frame(bytes.data() + tag, size_t(header.frame_length),
                                              header, xing));
    // The Xing frame's count, at 36 bytes into the frame, after its tag and flags.
    auto with_count = [&](std::vector<uint8_t> file, uint32_t frames) {
        for (int i = 0; i < 4; ++i)
            file[tag + 36 + 8 + size_t(i)] = uint8_t(frames >> (24 - 8 * i));
        return file;
    };
    auto cut = [&](size_t size) {
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(size));
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool trusted;
    } cases[] = {
        {"whole", bytes, true},
        {"cut to 40 %", cut(bytes.size() * 2 / 5), false},
        {"cut to 8 KB, counting a million frames", with_count(cut(8192), 1000000), false},
        {"whole, counting a third of its frames", with_count(bytes, xing.frames / 3), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir / "case.mp3";
        write_bytes(path, c.file);
        formats::FileReaderMP3 reader(u16(path));
        ASSERT_TRUE(reader.is_valid());
        EXPECT_TRUE(reader.has_info_frame());
        EXPECT_EQ(reader.info_frame_trusted(), c.trusted);
        if (c.trusted) {
            // Gapless, as mpg123 decodes: the encoder's delay and padding are left out, and the
            // information frame is not played.
            const double frames = mpg123_frames(path, 2, true);
            EXPECT_NEAR(reader.duration() * 44100, frames, 0.05);
            EXPECT_EQ(double(decoded_frames(reader)), frames);
        } else {
            // Every whole frame after the information frame, as mpg123 decodes them (it skips
            // the Xing frame too, and drops a frame cut short).
            const double frames = mpg123_frames(path, 2, false);
            EXPECT_NEAR(reader.duration() * 44100, frames, 1152);
            EXPECT_NEAR(double(decoded_frames(reader)), frames, 1152);
        }
        // The seek table puts the middle at the middle, give or take its one-percent steps;
        // without it seeking goes by the bytes. Past the end, nothing is left to play.
        ASSERT_TRUE(reader.seek(reader.duration() / 2));
        EXPECT_NEAR(double(decoded_frames(reader)) / 44100, reader.duration() / 2,
                    c.trusted ? 0.25 : 0.1 * reader.duration() + 0.06);
        if (!c.trusted)
            continue;
        ASSERT_TRUE(reader.seek(1000));
        EXPECT_EQ(decoded_frames(reader), 0u);
    }

    // No frame of audio after the information frame: not a playable file.
    auto empty = dir / "empty.mp3";
    auto no_audio = cut(audio);
    no_audio.insert(no_audio.end(), 3000, 0);
    write_bytes(empty, no_audio);
    EXPECT_FALSE(formats::FileReaderMP3(u16(empty)).is_valid());

    // Constant bit rate: an "Info" frame.
    auto wav = dir / "cbr.wav";
    auto cbr = dir / "cbr.mp3";
    ASSERT_TRUE(shell("sox -n -r 22050 -c 1 -b 16 " + quote(wav) + " synth 4.3 sine 440"));
    ASSERT_TRUE(shell("ffmpeg -nostdin -v error -i " + quote(wav) + " -c:a libmp3lame -b:a 32k " +
                      quote(cbr)));
    {
        formats::FileReaderMP3 reader(u16(cbr));
        ASSERT_TRUE(reader.is_valid());
        EXPECT_TRUE(reader.has_info_frame());
        EXPECT_NEAR(reader.duration(), ffprobe_duration(cbr), 0.12);
        EXPECT_EQ(double(decoded_frames(reader)), mpg123_frames(cbr, 1, true));
    }

    // The same variable-bit-rate stream with a VBRI frame in place of its Xing frame.
    ASSERT_EQ(std::memcmp(bytes.data() + tag + 36, "Xing", 4), 0);
    std::fill(bytes.begin() + long(tag) + 36, bytes.begin() + long(tag) + header.frame_length, 0);
    const uint8_t vbri[] = {'V', 'B', 'R', 'I', 0, 1, 0x04, 0x40, 0, 75, 0, 0, 0, 0, 0, 0, 0, 0};
    std::copy(std::begin(vbri), std::end(vbri), bytes.begin() + long(tag) + 36);
    for (int i = 0; i < 4; ++i) {
        bytes[tag + 36 + 10 + size_t(i)] = uint8_t((bytes.size() - tag) >> (24 - 8 * i));
        bytes[tag + 36 + 14 + size_t(i)] = uint8_t(xing.frames >> (24 - 8 * i));
    }
    auto vbri_path = dir / "vbri.mp3";
    write_bytes(vbri_path, bytes);
    {
        formats::FileReaderMP3 reader(u16(vbri_path));
        ASSERT_TRUE(reader.is_valid());
        EXPECT_TRUE(reader.has_info_frame());
        EXPECT_NEAR(reader.duration(), double(xing.frames) * 1152 / 44100, 1e-9);
        EXPECT_NEAR(reader.duration(), ffprobe_duration(vbri_path), 0.03);
        // mpg123 does not know VBRI and plays that frame; ffmpeg passes over it as we do.
        std::string out;
        ASSERT_TRUE(
            shell("ffmpeg -nostdin -v error -i " + quote(vbri_path) + " -f s16le - | wc -c", &out));
        EXPECT_EQ(double(decoded_frames(reader)), std::atof(out.c_str()) / 4);
    }

    // Without the information frame (cleared, so it plays as a silent frame), the frames
    // themselves give the duration, not the first frame's bit rate.
    std::fill(bytes.begin() + long(tag) + 36, bytes.begin() + long(tag) + header.frame_length, 0);
    write_bytes(vbri_path, bytes);
    formats::FileReaderMP3 reader(u16(vbri_path));
    ASSERT_TRUE(reader.is_valid());
    EXPECT_FALSE(reader.has_info_frame());
    EXPECT_NEAR(reader.duration(), double(xing.frames + 1) * 1152 / 44100, 1e-9);
    EXPECT_NEAR(reader.duration() * 44100, mpg123_frames(vbri_path, 2, false), 0.5);
    // The bit rate is the bytes over the time they play.
    const double average = double(bytes.size() - tag) * 8 / reader.duration();
    EXPECT_NEAR(reader.bit_rate(), average, 0.02 * average);

    // Information frames that are cut short or count nothing are ignored.
    std::vector<uint8_t> frame(bytes.begin() + long(tag), bytes.begin() + long(tag) + 200);
    std::memcpy(frame.data() + 36, "Xing\0\0\0\x07\0\0\0\0", 12);
    formats::Mp3InfoFrame info;
    EXPECT_FALSE(formats::parse_mp3_info_frame(frame.data(), frame.size(), header, info));
    std::memcpy(frame.data() + 36, "Xing\0\0\0\x03\0\0\0\x09", 12);
    EXPECT_FALSE(formats::parse_mp3_info_frame(frame.data(), 44, header, info));
    EXPECT_TRUE(formats::parse_mp3_info_frame(frame.data(), 52, header, info));
    EXPECT_EQ(info.frames, 9u);
}

TEST(Mp3Duration, StreamsThatChangeFormatPlayWholeInTheFirstFormat) {
    TempDir dir;
    struct Part {
        int rate, channels;
        double seconds;
        const char* tone;
    };
    struct Case {
        const char* name;
        Part first, second;
    } cases[] = {
        {"44.1 then 48 kHz", {44100, 2, 2.0, "sine 440"}, {48000, 2, 1.5, "sine 660"}},
        {"stereo then mono", {44100, 2, 1.0, "sine 440"}, {44100, 1, 1.2, "sine 660"}},
        {"mono 22.05 then stereo 32 kHz", {22050, 1, 1.0, "sine 440"}, {32000, 2, 1.0, "sine 330"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double expected = 0;
        std::vector<uint8_t> joined;
        for (const Part* part : {&c.first, &c.second}) {
            auto wav = dir / "part.wav";
            auto mp3 = dir / "part.mp3";
            ASSERT_TRUE(shell("sox -n -r " + std::to_string(part->rate) + " -c " +
                              std::to_string(part->channels) + " -b 16 " + quote(wav) + " synth " +
                              std::to_string(part->seconds) + " " + part->tone + " vol 0.5"));
            // Plain frames: no tag, no information frame.
            ASSERT_TRUE(shell("ffmpeg -nostdin -v error -y -i " + quote(wav) +
                              " -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 -f mp3 " +
                              quote(mp3)));
            auto bytes = read_bytes(mp3);
            ASSERT_FALSE(bytes.size() > 3 && std::memcmp(bytes.data(), "ID3", 3) == 0);
            joined.insert(joined.end(), bytes.begin(), bytes.end());
            // In the first part's rate, as mpg123 counts this part's samples.
            expected += mpg123_frames(mp3, part->channels, false) / part->rate;
        }
        auto path = dir / "joined.mp3";
        write_bytes(path, joined);
        formats::FileReaderMP3 reader(u16(path));
        ASSERT_TRUE(reader.is_valid());
        EXPECT_EQ(reader.sample_rate(), c.first.rate);
        EXPECT_EQ(reader.channels(), c.first.channels);
        EXPECT_NEAR(reader.duration(), expected, 1e-6);
        Decoded decoded = pull_all(reader);
        EXPECT_EQ(decoded.rate, c.first.rate);
        EXPECT_EQ(decoded.channels, c.first.channels);
        ASSERT_GT(decoded.channels, 0);
        EXPECT_NEAR(double(decoded.samples.size()) / decoded.channels / c.first.rate, expected,
                    0.01);
        // The second part is there, at its own pitch: its zero crossings over its middle.
        const size_t channels = size_t(c.first.channels);
        const size_t start = size_t((c.first.seconds + 0.25) * c.first.rate);
        const size_t length = size_t(0.5 * c.first.rate);
        ASSERT_LE((start + length) * channels, decoded.samples.size());
        const double hertz = std::atof(c.second.tone + 5);
        EXPECT_NEAR(sign_changes(&decoded.samples[start * channels], length, channels),
                    2 * hertz * 0.5, 4);
    }
}
