#include "formats/mp3_reader.h"

#include "foundation/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mpg123.h>

namespace formats {

namespace {

// The first frame must turn up this close to the start of the audio.
constexpr uint64_t kFirstFrameLimit = 1 << 20;
// Preview decoding synthesises at the stream's rate shifted right by this. libmpg123's 2:1 and
// 4:1 synthesis save little (under 10 %: the bit stream, not the synthesis, costs most in mono)
// and move column peaks of speech by up to 2 % and 6 %, so previews keep the full rate.
constexpr int kPreviewDownSample = 0;
// Samples a layer III decoder gives before the encoder's first: gapless decoders leave out the
// encoder delay plus these.
constexpr uint64_t kDecoderDelay = 529;

const long kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

bool known_rate(int rate) {
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

// Size of an ID3v2 tag at the start, header included; 0 without one.
uint64_t id3_size(const uint8_t* p, size_t size) {
    if (size < 10 || std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF)
        return 0;
    for (int i = 6; i < 10; ++i)
        if (p[i] & 0x80)
            return 0;
    uint64_t tag = (uint64_t(p[6]) << 21) | (uint64_t(p[7]) << 14) | (uint64_t(p[8]) << 7) | p[9];
    // A footer (version 4, flag bit 4) adds 10 bytes.
    return tag + 10 + ((p[3] == 4 && (p[5] & 0x10)) ? 10 : 0);
}

} // namespace

// Decoding stage

Mp3FrameDecoder::Mp3FrameDecoder(Mp3Decoding decoding) {
    static const bool initialised = [] {
        mpg123_init();
        return true;
    }();
    (void)initialised;
    int error = 0;
    m_handle = mpg123_new(nullptr, &error);
    if (!m_handle)
        return;
    long flags = MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_IGNORE_INFOFRAME;
    if (decoding == Mp3Decoding::Preview) {
        m_down_sample = kPreviewDownSample;
        m_mono = true;
        flags |= MPG123_MONO_MIX;
        mpg123_param(m_handle, MPG123_DOWN_SAMPLE, m_down_sample, 0);
    }
    mpg123_param(m_handle, MPG123_FLAGS, flags, 0);
    mpg123_format_none(m_handle);
    for (long rate : kRates)
        mpg123_format(m_handle, rate >> m_down_sample,
                      m_mono ? MPG123_MONO : MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(m_handle) != MPG123_OK) {
        mpg123_delete(m_handle);
        m_handle = nullptr;
    }
}

Mp3FrameDecoder::~Mp3FrameDecoder() {
    if (m_handle)
        mpg123_delete(m_handle);
}

void Mp3FrameDecoder::reset() {
    if (!m_handle)
        return;
    mpg123_close(m_handle);
    mpg123_open_feed(m_handle);
}

audio::AudioBlock Mp3FrameDecoder::decode(const uint8_t* frame, size_t size) {
    audio::AudioBlock out;
    Mp3Header header;
    if (!m_handle || size < 4 || !parse_mp3_header(frame, header) ||
        !known_rate(header.sample_rate))
        return out;
    size = std::min(size, size_t(header.frame_length));
    if (mpg123_feed(m_handle, frame, size) != MPG123_OK)
        return out;
    const int channels = output_channels(header.channels());
    size_t capacity = size_t(channels) * size_t(header.samples >> m_down_sample) * 2;
    for (int attempt = 0; attempt < 4; ++attempt) {
        off_t number = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        int result = mpg123_decode_frame(m_handle, &number, &audio, &bytes);
        if (result == MPG123_NEW_FORMAT)
            continue;
        if (result == MPG123_OK && bytes > 0) {
            out.bytes = audio::ByteSlice::copy_of(std::min(bytes, capacity), audio);
            out.channels = channels;
            out.bits_per_sample = 16;
            out.sample_rate = output_rate(header.sample_rate);
            return out;
        }
        if (result == MPG123_OK)
            continue;
        break;
    }
    // Whatever the library still holds of this frame would only confuse the next one.
    reset();
    return out;
}

// The reader

FileReaderMP3::FileReaderMP3(const std::u16string& path, Mp3Decoding decoding)
    : m_decoder(decoding) {
    if (!m_file.open(path, foundation::File::Read))
        return;
    m_file_size = m_file.size();
    if (m_file_size == 0)
        return;
    restart_at(0);
    ensure(10);
    m_audio_start = std::min(id3_size(m_buffer, m_fill), m_file_size);
    if (m_audio_start > 0)
        restart_at(m_audio_start);
    if (!find_frame(nullptr, kFirstFrameLimit, m_first))
        return;
    m_audio_start = offset_of_position();

    // An encoder's information frame counts the frames: the duration is exact, also for a
    // variable bit rate. The frame itself is not audio.
    ensure(size_t(m_first.frame_length));
    m_has_info = parse_mp3_info_frame(m_buffer + m_position, m_fill - m_position, m_first, m_info);
    if (m_has_info) {
        m_info_start = m_audio_start;
        m_audio_start = std::min(m_audio_start + uint64_t(m_first.frame_length), m_file_size);
    }

    // What the file's bytes hold: every whole frame after the start, headers only.
    const Walk walk = walk_frames();
    if (walk.frames == 0) {
        foundation::log() << "FileReaderMP3: no audio frames\n";
        return;
    }
    const double frame_seconds = double(m_first.samples) / m_first.sample_rate;
    const double counted = m_has_info ? double(m_info.frames) * frame_seconds : 0;
    if (m_has_info && std::abs(counted - walk.seconds) <= frame_seconds) {
        m_duration = counted;
        const uint64_t bytes = m_info.bytes > 0 ? m_info.bytes : m_file_size - m_info_start;
        m_average_kbps = int(std::clamp(std::lround(double(bytes) * 8 / m_duration / 1000), 1L,
                                        long(INT32_MAX / 1000)));
    } else {
        // No count, or one the bytes cannot bear out (a cut file, a wrong count): the frames
        // found are the duration, and seeking goes by their bytes.
        if (m_has_info)
            foundation::log() << "FileReaderMP3: information frame says " << counted
                              << " s, the frames hold " << walk.seconds << " s\n";
        m_trust_info = false;
        m_duration = walk.seconds;
        m_average_kbps =
            int(std::clamp(std::lround(double(walk.end - m_audio_start) * 8 / walk.seconds / 1000),
                           1L, long(INT32_MAX / 1000)));
    }
    if (m_has_info && m_trust_info && m_info.gapless) {
        const uint64_t decoded = uint64_t(m_info.frames) * uint64_t(m_first.samples);
        if (decoded > uint64_t(m_info.delay) + m_info.padding + kDecoderDelay) {
            m_skip = m_info.delay + kDecoderDelay;
            m_keep = decoded - m_info.delay - m_info.padding;
            m_duration = double(m_keep) / m_first.sample_rate;
        }
    }
    restart_at(m_audio_start);
    m_decoded = 0;
    m_counting = true;

    m_valid = true;
    m_channels = m_decoder.output_channels(m_first.channels());
    m_bits = 16;
    m_rate = m_decoder.output_rate(m_first.sample_rate);
    m_bit_rate = m_average_kbps * 1000;
}

FileReaderMP3::Walk FileReaderMP3::walk_frames() {
    Walk walk;
    restart_at(m_audio_start);
    Mp3Header previous = m_first;
    Mp3Header header;
    // As read_block() goes through the stream, without decoding.
    while (find_frame(&previous, m_file_size, header)) {
        const uint64_t at = offset_of_position();
        const size_t length = size_t(header.frame_length);
        if (at + length > m_file_size)
            break;
        ++walk.frames;
        walk.seconds += double(header.samples) / header.sample_rate;
        walk.end = at + length;
        if (!ensure(length))
            break;
        m_position += length;
        previous = header;
    }
    return walk;
}

void FileReaderMP3::restart_at(uint64_t offset) {
    offset = std::min(offset, m_file_size);
    m_previous = m_first;
    m_fill = 0;
    m_position = 0;
    m_file_position = offset;
    m_more = m_file.seek(offset) && offset < m_file_size;
}

bool FileReaderMP3::ensure(size_t count) {
    if (m_fill - m_position >= count)
        return true;
    if (!m_more)
        return false;
    size_t unread = m_fill - m_position;
    std::memmove(m_buffer, m_buffer + m_position, unread);
    m_fill = unread;
    m_position = 0;
    uint64_t left = m_file_size - m_file_position;
    uint32_t want = uint32_t(std::min<uint64_t>(kBufferSize - unread, left));
    uint32_t got = want ? m_file.read(m_buffer + m_fill, want) : 0;
    if (got < want) {
        foundation::log() << "FileReaderMP3::read_more error=" << got << "/" << want << "\n";
        m_more = false;
    }
    if (got == 0)
        m_more = false;
    m_fill += got;
    m_file_position += got;
    if (m_file_position >= m_file_size)
        m_more = false;
    return m_fill - m_position >= count;
}

bool FileReaderMP3::find_frame(const Mp3Header* reference, uint64_t limit, Mp3Header& found) {
    for (uint64_t searched = 0; searched <= limit; ++searched, ++m_position) {
        if (!ensure(4))
            return false;
        Mp3Header header;
        if (!parse_mp3_header(m_buffer + m_position, header))
            continue;
        if (!reference || !header.agrees(*reference)) {
            // A header of another format (or the first one) counts when the next frame agrees.
            size_t next = size_t(header.frame_length);
            if (!ensure(next + 4))
                continue;
            Mp3Header following;
            if (!parse_mp3_header(m_buffer + m_position + next, following) ||
                !following.agrees(header))
                continue;
        }
        found = header;
        return true;
    }
    return false;
}

void FileReaderMP3::read_block(audio::AudioBlock& out, int) {
    // Frames wholly within the left-out start give nothing: the next one is read.
    for (;;) {
        Mp3Header header;
        // A stream that went wrong midway is searched again, as far as the whole file if need be.
        if (!find_frame(&m_previous, m_file_size, header))
            return;
        m_previous = header;
        size_t length = size_t(header.frame_length);
        ensure(length);
        size_t available = std::min(length, m_fill - m_position);
        if (available < length) {
            // The file ends inside this frame.
            m_position = m_fill;
            return;
        }
        out = m_decoder.decode(m_buffer + m_position, available);
        m_position += length;
        if (!m_counting || (m_skip == 0 && m_keep == 0))
            return;
        const uint64_t begin = m_decoded;
        const uint64_t end = begin + (out.empty() ? uint64_t(header.samples) : out.frames());
        m_decoded = end;
        if (out.empty())
            return;
        const uint64_t from = std::max(begin, m_skip);
        const uint64_t to = m_keep ? std::min(end, m_skip + m_keep) : end;
        if (from >= to) {
            out = audio::AudioBlock{};
            if (begin >= m_skip)
                return; // past the padding: the end of the stream
            continue;
        }
        const size_t frame_bytes = size_t(out.bytes_per_frame());
        out.bytes =
            out.bytes.slice(size_t(from - begin) * frame_bytes, size_t(to - from) * frame_bytes);
        return;
    }
}

bool FileReaderMP3::seek_locked(double position) {
    // The start is found exactly; elsewhere the left-out start counts as stream time.
    m_counting = position <= 0;
    m_decoded = 0;
    if (!m_counting)
        position += double(m_skip) / m_first.sample_rate;
    uint64_t offset = m_audio_start + uint64_t(position * m_average_kbps * 125);
    if (m_has_info && m_trust_info && m_info.has_toc && m_duration > 0) {
        // Xing's table maps percents of the duration to 256ths of the stream's bytes.
        const double percent = std::clamp(position / m_duration * 100, 0.0, 100.0);
        const int index = std::min(99, int(percent));
        const double from = m_info.toc[index];
        const double to = index < 99 ? m_info.toc[index + 1] : 256.0;
        const double share = (from + (to - from) * (percent - index)) / 256;
        offset = std::max(m_audio_start, m_info_start + uint64_t(share * m_info.bytes));
    }
    restart_at(std::min(offset, m_file_size));
    m_decoder.reset();
    return true;
}

} // namespace formats
