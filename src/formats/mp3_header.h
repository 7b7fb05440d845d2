#pragma once

// MPEG audio frame headers (MPEG-1, MPEG-2 and MPEG-2.5, layers I to III).

#include <cstddef>
#include <cstdint>

namespace formats {

struct Mp3Header {
    enum Version { Mpeg1 = 0, Mpeg2 = 1, Mpeg25 = 2 };
    int version{0};
    int layer{0};       // 1..3
    int bit_rate{0};    // kilobits per second
    int sample_rate{0}; // Hz
    int padding{0};
    int channel_mode{0}; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int frame_length{0}; // bytes, header included
    int samples{0};      // per channel in one frame

    int channels() const { return channel_mode == 3 ? 1 : 2; }
    // Same stream: version, layer, sample rate and channel count. Bit rate and padding may
    // change from frame to frame.
    [[nodiscard]] bool agrees(const Mp3Header& other) const;
};

// What an encoder's information frame (Xing / Info, or VBRI) at the start of a stream says.
// The frame itself holds no audio.
struct Mp3InfoFrame {
    uint32_t frames{0}; // audio frames in the stream, the information frame not counted
    uint32_t bytes{0};  // bytes of the stream from the information frame on; 0 when not given
    bool has_toc{false};
    // Xing's seek table: toc[i] * bytes / 256 is the offset of i percent of the duration.
    uint8_t toc[100]{};
    // LAME's extension: the encoder's delay before the first sample and its padding after the
    // last, both in samples, which gapless decoders leave out (with the decoder's own delay).
    bool gapless{false};
    uint32_t delay{0};
    uint32_t padding{0};
};

// Reads the information frame in the `size` bytes of the frame at p, whose header is `header`.
// False when the frame is none, or gives no frame count.
[[nodiscard]] bool parse_mp3_info_frame(const uint8_t* p, size_t size, const Mp3Header& header,
                                        Mp3InfoFrame& info);

// Parses the 4 bytes at p. False for anything but a complete header with a known bit rate
// (free format is refused), sample rate and layer.
[[nodiscard]] bool parse_mp3_header(const uint8_t* p, Mp3Header& header);

} // namespace formats
