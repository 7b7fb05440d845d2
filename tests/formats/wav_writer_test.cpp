// The WAV writers: appending, sizes kept current while writing, blocks of other formats, empty
// input and the 4 GiB limit, judged by sox and our own reader.

#include "formats/factory.h"
#include "formats_support.h"
#include "platform/clock.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

// A tone that changes pitch, so that parts of it can be told apart.
std::vector<int16_t> tone(size_t frames, double hz, int channels = 1) {
    return sine(frames, hz, 8000, 9000, channels);
}

void write_file(const std::filesystem::path& path, const char* codec, bool append,
                const std::vector<int16_t>& samples, int channels = 1, int rate = 8000) {
    auto writer =
        formats::create_writer(u16(path), foundation::widen(codec), channels, 16, rate, 0, append);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->is_valid());
    push_samples(writer->input(), samples, channels, rate, 333);
    EXPECT_TRUE(writer->complete());
}

// The sizes in the header agree with the file.
void expect_consistent_sizes(const std::filesystem::path& path, uint32_t header_size) {
    auto bytes = read_bytes(path);
    ASSERT_GE(bytes.size(), header_size);
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8) << "RIFF size";
    const uint32_t data = le32(bytes, header_size - 4);
    EXPECT_EQ(data + (data & 1), bytes.size() - header_size) << "data size and pad byte";
}

struct Coding {
    const char* codec;
    uint32_t header_size;
    uint32_t samples_per_block;
};

} // namespace

TEST(WavWriter, EmptyFilesAndAppendsThatContinueTheDataOfEveryCoding) {
    TempDir dir;
    const Coding codings[] = {{"PCM", 44, 1}, {"ADPCM", 90, 500}, {"GSM", 60, 320}};
    const auto first = tone(6100, 440); // ends inside an ADPCM and a GSM block
    const auto second = tone(7000, 880);
    for (const Coding& coding : codings) {
        SCOPED_TRACE(coding.codec);
        // Empty input gives a valid empty file.
        const auto empty = dir / (std::string(coding.codec) + "-empty.wav");
        write_file(empty, coding.codec, false, {});
        EXPECT_EQ(soxi(empty, "-s"), 0) << "sox opens it";
        EXPECT_EQ(soxi(empty, "-r"), 8000);
        auto reader = formats::open_reader(u16(empty));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->duration(), 0.0);
        // Appending to a missing file makes it new.
        const auto path = dir / (std::string(coding.codec) + ".wav");
        write_file(path, coding.codec, true, first);
        const std::vector<int16_t> before = sox_samples(path);
        write_file(path, coding.codec, true, second);
        expect_consistent_sizes(path, coding.header_size);

        // The old part is still there, whole, and the new part follows it.
        const std::vector<int16_t> after = sox_samples(path);
        const size_t first_blocks =
            (first.size() + coding.samples_per_block - 1) / coding.samples_per_block;
        const size_t old_part = first_blocks * coding.samples_per_block;
        ASSERT_GE(after.size(), old_part + second.size());
        EXPECT_LE(after.size(), old_part + second.size() + coding.samples_per_block);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
        const double loudness = rms(second.data() + 500, 6000);
        EXPECT_NEAR(rms(after.data() + old_part + 500, 6000), loudness, 0.15 * loudness);

        reader = formats::open_reader(u16(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), foundation::widen(coding.codec));
        EXPECT_NEAR(reader->duration(), double(old_part + second.size()) / 8000, 0.07);
        const Decoded ours = pull_all(*reader);
        EXPECT_GE(ours.samples.size(), old_part + second.size());
        if (std::string(coding.codec) == "PCM") {
            EXPECT_EQ(ours.samples, after);
        }
        if (coding.header_size > 44) {
            const auto bytes = read_bytes(path);
            EXPECT_EQ(le32(bytes, coding.header_size - 12), old_part + second.size())
                << "fact: the old blocks whole, then the new samples";
        }
    }
}

TEST(WavWriter, AppendingToAKilledRecordingKeepsEverythingWritten) {
    TempDir dir;
    const auto path = dir / "killed.wav";
    const auto first = tone(8000, 440);
    write_file(path, "PCM", false, first);
    // Sizes that fell behind the data, and half a frame at the end, as a kill leaves them.
    auto bytes = read_bytes(path);
    set_le32(bytes, 4, 36 + 4000);
    set_le32(bytes, 40, 4000);
    bytes.push_back(0x11);
    write_bytes(path, bytes);

    const auto second = tone(2000, 880);
    write_file(path, "PCM", true, second);
    expect_consistent_sizes(path, 44);
    std::vector<int16_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sox_samples(path), expected);
}

TEST(WavWriter, AppendingRefusesOtherCodingsAndChunksAfterTheData) {
    TempDir dir;
    const auto gsm = dir / "gsm.wav";
    write_file(gsm, "GSM", false, tone(3200, 440));
    const auto gsm_bytes = read_bytes(gsm);
    auto writer = formats::create_writer(u16(gsm), u"PCM", 1, 16, 8000, 0, true);
    EXPECT_FALSE(writer->is_valid());
    writer.reset();
    EXPECT_EQ(read_bytes(gsm), gsm_bytes);

    const auto listed = dir / "listed.wav";
    write_file(listed, "PCM", false, tone(3000, 440));
    auto bytes = read_bytes(listed);
    const char list[] = "LIST\x04\0\0\0abcd";
    bytes.insert(bytes.end(), list, list + 12);
    set_le32(bytes, 4, uint32_t(bytes.size() - 8));
    write_bytes(listed, bytes);
    writer = formats::create_writer(u16(listed), u"PCM", 1, 16, 8000, 0, true);
    EXPECT_FALSE(writer->is_valid());
    writer.reset();
    EXPECT_EQ(read_bytes(listed), bytes);
}

TEST(WavWriter, HeaderKeepsUpWhileWriting) {
    TempDir dir;
    const auto path = dir / "live.wav";
    FakeClock clock(1000);
    auto writer = formats::create_writer(u16(path), u"PCM", 1, 16, 8000, 0, false);
    // Two seconds in pieces of a tenth of a second: the file's header counts all but the last
    // half second at any time.
    const auto samples = tone(16000, 440);
    for (size_t at = 0; at < samples.size(); at += 800) {
        push_samples(writer->input(),
                     {samples.begin() + long(at), samples.begin() + long(at + 800)}, 1, 8000, 800);
        const auto bytes = read_bytes(path);
        const uint32_t written = uint32_t(2 * (at + 800));
        EXPECT_GE(le32(bytes, 40) + 8000, written) << "at " << at;
        EXPECT_EQ(le32(bytes, 4), le32(bytes, 40) + 36);
    }
    // Time alone brings the rest in: a piece too small for the amount, then an empty push
    // once half a second has passed.
    push_samples(writer->input(), tone(100, 440), 1, 8000);
    const uint32_t counted = le32(read_bytes(path), 40);
    EXPECT_LT(counted, 32200u);
    platform::advance_fake_clock(600);
    push_nothing(writer->input());
    EXPECT_EQ(le32(read_bytes(path), 40), 32200u);
    EXPECT_TRUE(writer->complete());
}

TEST(WavWriter, OtherFormatsAreConvertedOrRefused) {
    TempDir dir;
    const auto path = dir / "mixed.wav";
    auto writer = formats::create_writer(u16(path), u"PCM", 2, 16, 8000, 0, false);
    const auto stereo = tone(1000, 440, 2);
    push_samples(writer->input(), stereo, 2, 8000);
    const auto mono = tone(1000, 660);
    push_samples(writer->input(), mono, 1, 8000);
    // 8-bit unsigned mono.
    const uint8_t eight[] = {0x80, 0xC0, 0x40, 0xFF};
    {
        std::lock_guard guard(writer->input().lock());
        writer->input().on_data(byte_block(eight, 4, 1, 8, 8000));
    }
    EXPECT_TRUE(writer->is_valid());
    EXPECT_TRUE(writer->complete());

    const auto samples = sox_samples(path);
    ASSERT_EQ(samples.size(), 2u * (1000 + 1000 + 4));
    EXPECT_TRUE(std::equal(stereo.begin(), stereo.end(), samples.begin()));
    for (size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(samples[2000 + 2 * i], mono[i]);
        ASSERT_EQ(samples[2000 + 2 * i + 1], mono[i]);
    }
    const int16_t widened[] = {0, 0x4000, -0x4000, 0x7F00};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(samples[4000 + 2 * i], widened[i]);

    // ADPCM takes stereo mixes down to mono when it began mono.
    const auto adpcm = dir / "mixed_adpcm.wav";
    writer = formats::create_writer(u16(adpcm), u"ADPCM", 1, 16, 8000, 0, false);
    push_samples(writer->input(), mono, 1, 8000);
    push_samples(writer->input(), stereo, 2, 8000);
    EXPECT_TRUE(writer->complete());
    EXPECT_NEAR(ffprobe_duration(adpcm), 2000.0 / 8000, 0.07);

    // What cannot be coded is refused, not dropped in silence: GSM codes only 8000 Hz, and no
    // writer takes a second rate.
    writer = formats::create_writer(u16(dir / "gsm.wav"), u"GSM", 1, 16, 22050, 0, false);
    push_samples(writer->input(), tone(2205, 440), 1, 22050);
    EXPECT_FALSE(writer->is_valid());
    EXPECT_FALSE(writer->complete());
    writer = formats::create_writer(u16(dir / "rates.wav"), u"PCM", 1, 16, 8000, 0, false);
    push_samples(writer->input(), mono, 1, 8000);
    EXPECT_TRUE(writer->is_valid());
    push_samples(writer->input(), mono, 1, 16000);
    EXPECT_FALSE(writer->is_valid());
    EXPECT_FALSE(writer->complete());
}

TEST(WavWriter, FileThatWouldPassFourGibibytesStopsInsteadOfWrapping) {
    TempDir dir;
    const auto path = dir / "huge.wav";
    write_file(path, "PCM", false, tone(100, 440));
    // Nearly 4 GiB of data, held sparsely: the header says so, the file is that long.
    const uint32_t data = 0xFFFFFFFFu - 44 - 1001; // room for 1001 more bytes
    auto header = read_bytes(path);
    header.resize(44);
    set_le32(header, 4, data + 36);
    set_le32(header, 40, data);
    write_bytes(path, header);
    std::filesystem::resize_file(path, 44 + uint64_t(data));

    auto writer = formats::create_writer(u16(path), u"PCM", 1, 16, 8000, 0, true);
    ASSERT_TRUE(writer->is_valid());
    push_samples(writer->input(), tone(400, 440), 1, 8000, 400); // 800 bytes fit
    EXPECT_TRUE(writer->is_valid());
    push_samples(writer->input(), tone(400, 440), 1, 8000, 400); // these would not
    EXPECT_FALSE(writer->is_valid());
    EXPECT_FALSE(writer->complete());
    writer.reset();
    EXPECT_EQ(std::filesystem::file_size(path), 44 + uint64_t(data) + 800);
    std::vector<uint8_t> now(44);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(now.data()), 44);
    EXPECT_EQ(le32(now, 40), data + 800);
    EXPECT_EQ(le32(now, 4), data + 800 + 36);
}
