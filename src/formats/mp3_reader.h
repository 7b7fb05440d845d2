#pragma once

// The MP3 reader: its own frame search over a 10000-byte window of the file, and a decoding
// stage that turns one coded frame into one block of 16-bit PCM with libmpg123.

#include "audio/audio_block.h"
#include "formats/mp3_header.h"
#include "formats/reader_base.h"
#include "foundation/file.h"

#include <cstdint>
#include <string>

struct mpg123_handle_struct;

namespace formats {

// How much of the sound a decoder keeps. Preview is for drawing waveforms: libmpg123 mixes
// the channels down to one, which halves the synthesis of stereo streams.
enum class Mp3Decoding { Full, Preview };

// Decodes whole frames, one per call, in stream order; reset() after a jump.
class Mp3FrameDecoder {
public:
    explicit Mp3FrameDecoder(Mp3Decoding decoding = Mp3Decoding::Full);
    ~Mp3FrameDecoder();
    Mp3FrameDecoder(const Mp3FrameDecoder&) = delete;
    Mp3FrameDecoder& operator=(const Mp3FrameDecoder&) = delete;

    // `frame` holds `size` bytes from a frame header on (the whole frame). An empty block for a
    // sample rate outside 8000..48000 Hz's nine MPEG rates or a decoding error.
    audio::AudioBlock decode(const uint8_t* frame, size_t size);
    void reset();
    // The channels and rate of what decode() gives for a stream of these.
    int output_channels(int channels) const { return m_mono ? 1 : channels; }
    int output_rate(int rate) const { return rate >> m_down_sample; }

private:
    mpg123_handle_struct* m_handle{nullptr};
    int m_down_sample{0}; // the output rate is the stream's rate shifted right by this
    bool m_mono{false};
};

class FileReaderMP3 : public ReaderBase {
public:
    static constexpr size_t kBufferSize = 10000;

    explicit FileReaderMP3(const std::u16string& path, Mp3Decoding decoding = Mp3Decoding::Full);
    std::u16string codec_name() const override { return u"mp3"; }

    // File offset of the first frame of audio (after any ID3 tag and information frame).
    uint64_t audio_start() const { return m_audio_start; }
    // Whether the stream starts with an encoder's information frame.
    [[nodiscard]] bool has_info_frame() const { return m_has_info; }
    // Whether its frame count gave the duration: false when the frames the file holds differ
    // from it by more than one frame.
    [[nodiscard]] bool info_frame_trusted() const { return m_has_info && m_trust_info; }

protected:
    void read_block(audio::AudioBlock& out, int max_bytes) override;
    [[nodiscard]] bool seek_locked(double position) override;

private:
    // Refills until at least `count` unread bytes are in the window, or the file has no more;
    // whether they are. Callers that can work with less look at the window's fill instead.
    bool ensure(size_t count);
    void restart_at(uint64_t offset);
    // Advances to the next frame header: one that agrees with `reference`, or one of any
    // format that is confirmed by an agreeing header one frame length further on (a stream
    // may change its rate or channels). Gives up after `limit` bytes. On success the window's
    // read position is at the header.
    [[nodiscard]] bool find_frame(const Mp3Header* reference, uint64_t limit, Mp3Header& found);
    struct Walk {
        uint64_t frames{0};
        double seconds{0};
        uint64_t end{0}; // file offset after the last whole frame
    };
    // Goes through every frame from the start of the audio by its header alone.
    Walk walk_frames();
    uint64_t offset_of_position() const { return m_file_position - (m_fill - m_position); }

    foundation::File m_file;
    uint64_t m_file_size{0};
    uint8_t m_buffer[kBufferSize];
    size_t m_fill{0};
    size_t m_position{0};
    uint64_t m_file_position{0};
    bool m_more{false};
    Mp3Header m_first;
    Mp3Header m_previous; // the last frame read: the format the stream has come to
    int m_average_kbps{0};
    uint64_t m_audio_start{0};
    bool m_has_info{false};
    bool m_trust_info{true};
    Mp3InfoFrame m_info;
    uint64_t m_info_start{0}; // file offset of the information frame
    // Gapless decoding, as the information frame's encoder delay and padding ask: the samples
    // the decoder gives before m_skip and after m_skip + m_keep are left out. m_decoded counts
    // them from the start of the audio while that count is known (not after a seek elsewhere).
    uint64_t m_skip{0};
    uint64_t m_keep{0};
    uint64_t m_decoded{0};
    bool m_counting{true};
    Mp3FrameDecoder m_decoder;
};

} // namespace formats
