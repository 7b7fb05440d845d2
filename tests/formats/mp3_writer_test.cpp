// The MP3 writer's file output: written out every half second of audio or of time, appends
// that continue after the last whole frame, and what counts as audio.

#include "formats/factory.h"
#include "formats/mp3_writer.h"
#include "formats_support.h"
#include "foundation/file.h"
#include "platform/clock.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

std::vector<int16_t> tone(int rate, double seconds) {
    return sine(size_t(rate * seconds), 350, rate, 7000);
}

// What mpg123 complains about while decoding the whole file (a broken frame makes it resync).
std::string decode_errors(const std::filesystem::path& path) {
    std::string said;
    shell("mpg123 -t " + quote(path) + " 2>&1 | grep -iE 'resync|skipped|illegal|error|junk'",
          &said);
    return said;
}

uint64_t whole_frames_end(const std::filesystem::path& path, uint64_t audio_start) {
    foundation::File file(u16(path), foundation::File::Read);
    return formats::end_of_whole_frames(file, audio_start);
}

// A small ID3 version 2.3 tag with padding only.
const std::vector<uint8_t> kEmptyTag = id3_file(3, 0, {}, 100, {});

} // namespace

TEST(Mp3Writer, CodedAudioReachesTheFileEveryHalfSecond) {
    TempDir dir;
    const auto path = dir / "live.mp3";
    FakeClock clock; // time stands still: only the amount decides
    auto writer = formats::create_writer(u16(path), u"mp3", 1, 16, 22050, 32000, false);
    const auto samples = tone(22050, 3.0);
    const size_t piece = 2205; // a tenth of a second
    for (size_t at = 0; at + piece <= samples.size(); at += piece) {
        push_samples(writer->input(),
                     {samples.begin() + long(at), samples.begin() + long(at + piece)}, 1, 22050,
                     piece);
        const double pushed = double(at + piece) / 22050;
        // 4000 bytes a second; the encoder holds back about a tenth of a second itself.
        EXPECT_GE(double(std::filesystem::file_size(path)), (pushed - 0.5 - 0.15) * 4000)
            << "after " << pushed << " s";
    }
    EXPECT_GT(ffprobe_duration(path), 2.3) << "the open file plays up to its last write";
    EXPECT_TRUE(writer->complete());
    EXPECT_TRUE(writer->has_audio());
    EXPECT_NEAR(ffprobe_duration(path), 3.0, 0.1);
}

TEST(Mp3Writer, TimeAloneWritesOutWhatWaits) {
    TempDir dir;
    const auto path = dir / "idle.mp3";
    FakeClock clock;
    auto writer = formats::create_writer(u16(path), u"mp3", 1, 16, 44100, 96000, false);
    push_samples(writer->input(), tone(44100, 0.2), 1, 44100);
    EXPECT_EQ(std::filesystem::file_size(path), 0u) << "less than half a second waits";
    platform::advance_fake_clock(400);
    push_nothing(writer->input());
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    platform::advance_fake_clock(200);
    push_nothing(writer->input());
    EXPECT_GT(std::filesystem::file_size(path), 1000u) << "half a second after the last write";
}

TEST(Mp3Writer, AppendCutsAFrameLeftUnfinishedButATailThatIsNoFrameIsKept) {
    TempDir dir;
    const auto path = dir / "killed.mp3";
    write_bytes(path, kEmptyTag);
    {
        auto writer = formats::create_writer(u16(path), u"mp3", 1, 16, 22050, 32000, true);
        push_samples(writer->input(), tone(22050, 1.0), 1, 22050);
        EXPECT_TRUE(writer->complete());
    }
    // A kill in the middle of a write leaves part of a frame at the end.
    auto bytes = read_bytes(path);
    const uint64_t whole = bytes.size();
    EXPECT_EQ(whole_frames_end(path, 110), whole);
    bytes.resize(bytes.size() - 37);
    write_bytes(path, bytes);
    const uint64_t cut_at = whole_frames_end(path, 110);
    EXPECT_LT(cut_at, bytes.size());
    EXPECT_GT(cut_at + 144, bytes.size()) << "only the unfinished frame goes";

    {
        auto writer = formats::create_writer(u16(path), u"mp3", 1, 16, 22050, 32000, true);
        push_samples(writer->input(), tone(22050, 1.0), 1, 22050);
        EXPECT_TRUE(writer->complete());
        EXPECT_TRUE(writer->has_audio());
    }
    const auto joined = read_bytes(path);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut_at), joined.begin()));
    EXPECT_EQ(whole_frames_end(path, 110), joined.size());
    EXPECT_EQ(decode_errors(path), "");
    EXPECT_NEAR(ffprobe_duration(path), 2.0, 0.15);

    // A tail that is no frame (an ID3v1 tag), too short to judge, or nothing but junk is kept.
    bytes = join({joined, text_of("TAG"), std::vector<uint8_t>(125, 0x20)});
    write_bytes(path, bytes);
    EXPECT_EQ(whole_frames_end(path, 110), bytes.size());
    write_bytes(path, std::vector<uint8_t>(300, 0xFF));
    EXPECT_EQ(whole_frames_end(path, 0), 300u);
}

TEST(Mp3Writer, LessThanOneFrameIsNoAudio) {
    TempDir dir;
    const auto path = dir / "blip.mp3";
    write_bytes(path, kEmptyTag);
    auto writer = formats::create_writer(u16(path), u"mp3", 1, 16, 44100, 64000, true);
    push_samples(writer->input(), tone(44100, 0.01), 1, 44100);
    EXPECT_TRUE(writer->complete());
    EXPECT_FALSE(writer->has_audio());
    EXPECT_TRUE(writer->complete()) << "the same answer again";
    // Only the tag and what the encoder's flush gave back.
    EXPECT_LT(std::filesystem::file_size(path), 110u + 3 * 210u);
}
