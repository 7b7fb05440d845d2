#pragma once

// Shared helpers of the format tests: our readers' and writers' streams in full, the
// command-line program, mutagen, and ID3 tags made by hand.

#include "audio/file_io.h"
#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "foundation/file.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "support/audio_data.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace formats_test {

using namespace testing_support;
using ::testing::HasSubstr;

inline std::u16string u16(const std::filesystem::path& path) {
    return foundation::from_utf8(path.string());
}

struct Decoded {
    std::vector<int16_t> samples; // the bytes as 16-bit samples
    std::vector<uint8_t> bytes;
    size_t blocks{0};
    int channels{0}, rate{0}, bits{0};
    bool consistent{true}; // every block of one format, in whole frames
};

// Pulls the reader's whole stream (at most `limit` pulls).
inline Decoded pull_all(audio::FileReader& reader, int max_bytes = 8820, size_t limit = 1000000) {
    Decoded result;
    SampleSink end;
    audio::connect(reader.output(), &end);
    for (size_t i = 0; i < limit; ++i) {
        audio::AudioBlock block;
        audio::pull(end, block, max_bytes);
        if (block.empty())
            break;
        if ((result.blocks++ > 0 &&
             (result.channels != block.channels || result.rate != block.sample_rate ||
              result.bits != block.bits_per_sample)) ||
            block.size() % size_t(block.bytes_per_frame()) != 0)
            result.consistent = false;
        result.channels = block.channels;
        result.rate = block.sample_rate;
        result.bits = block.bits_per_sample;
        const uint8_t* p = block.bytes.data();
        result.bytes.insert(result.bytes.end(), p, p + block.size());
        auto* s = reinterpret_cast<const int16_t*>(p);
        result.samples.insert(result.samples.end(), s, s + block.size() / 2);
    }
    audio::connect(reader.output(), nullptr);
    return result;
}

// Pushes 16-bit PCM into a writer's input in pieces of `piece` frames.
inline void push_samples(audio::Inlet& input, const std::vector<int16_t>& samples, int channels,
                         int rate, size_t piece = 4410) {
    const size_t frames = samples.size() / size_t(channels);
    for (size_t start = 0; start < frames; start += piece) {
        const size_t count = std::min(piece, frames - start);
        std::lock_guard guard(input.lock());
        input.on_data(byte_block(samples.data() + start * size_t(channels),
                                 count * size_t(channels) * 2, channels, 16, rate));
    }
}

// An MP3 record as the recorder makes it: the tag first (when there is one), then our encoder
// appends the samples in 200 ms blocks.
inline void write_record(const std::filesystem::path& path, const formats::Id3Tag* tag,
                         const std::vector<int16_t>& samples, int channels, int rate,
                         int bit_rate) {
    if (tag) {
        foundation::File file(u16(path), foundation::File::WriteNew);
        EXPECT_TRUE(tag->write(file, 0));
    }
    auto writer = formats::create_writer(u16(path), u"mp3", channels, 16, rate, bit_rate, tag);
    push_samples(writer->input(), samples, channels, rate, size_t(rate / 5));
    EXPECT_TRUE(writer->complete());
}

// An empty push: lets a writer see that time has passed.
inline void push_nothing(audio::Inlet& input) {
    std::lock_guard guard(input.lock());
    input.on_data(audio::AudioBlock{});
}

// Time stands still while it lives, and moves only as the test says.
struct FakeClock {
    explicit FakeClock(uint32_t start_ms = 5000) { platform::use_fake_clock(true, start_ms); }
    ~FakeClock() { platform::use_fake_clock(false); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;
};

// A Python script (with mutagen) run on `file`; what it printed.
inline std::string python(const std::string& script, const std::filesystem::path& file,
                          bool* ok = nullptr) {
    std::string out;
    const bool done = shell("/usr/bin/python3 -c " + quote(script) + " " + quote(file), &out);
    if (ok)
        *ok = done;
    return out;
}

inline std::string cli_path() {
    return std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
}

// Runs the command-line program with `arguments` while `file` is read-only (as nobody when this
// is root, who writes anyway); what it said.
inline std::string cli_on_read_only(const std::filesystem::path& file,
                                    const std::string& arguments) {
    chmod(file.c_str(), 0444);
    chmod(file.parent_path().c_str(), 0755);
    std::string said;
    shell("(" +
              std::string(geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups "
                                         : "") +
              cli_path() + " " + arguments + " 2>&1)",
          &said);
    chmod(file.c_str(), 0644);
    return said;
}

inline uint32_t le32(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}

inline void set_le32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

// ID3v2 by hand: numbers, frames of each version, whole files.
inline void put_be(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(uint8_t(value >> (8 * i)));
}

inline void put_syncsafe(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(uint8_t((value >> shift) & 0x7F));
}

inline std::vector<uint8_t> text_of(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A frame of version 2 (three-letter name and size), 3 or 4 (its size sync-safe).
inline std::vector<uint8_t> id3_frame(int version, const std::string& id,
                                      const std::vector<uint8_t>& data, uint16_t flags = 0) {
    std::vector<uint8_t> out(id.begin(), id.end());
    if (version == 2) {
        put_be(out, uint32_t(data.size()), 3);
    } else {
        if (version == 4)
            put_syncsafe(out, uint32_t(data.size()));
        else
            put_be(out, uint32_t(data.size()), 4);
        put_be(out, flags, 2);
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A text frame of encoding 0 (ISO 8859-1).
inline std::vector<uint8_t> id3_text(int version, const std::string& id, const std::string& text) {
    return id3_frame(version, id, join({{0}, text_of(text)}));
}

// A whole file: the tag header of the version and flags, the frames, padding, then `audio`.
inline std::vector<uint8_t> id3_file(int version, uint8_t flags, const std::vector<uint8_t>& frames,
                                     size_t padding, const std::vector<uint8_t>& audio) {
    std::vector<uint8_t> out = {'I', 'D', '3', uint8_t(version), 0, flags};
    put_syncsafe(out, uint32_t(frames.size() + padding));
    out.insert(out.end(), frames.begin(), frames.end());
    out.resize(out.size() + padding, 0);
    out.insert(out.end(), audio.begin(), audio.end());
    return out;
}

} // namespace formats_test
