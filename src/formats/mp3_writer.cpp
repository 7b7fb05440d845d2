#include "formats/mp3_writer.h"

#include "formats/mp3_header.h"
#include "foundation/log.h"
#include "foundation/paths.h"

#include <algorithm>
#include <cstring>
#include <lame/lame.h>
#include <mutex>

namespace formats {

namespace {
constexpr int kMaxFrameSize = 1152;
// LAME's own bound for one call: 1.25 x samples + 7200 bytes.
constexpr size_t kOutSize = kMaxFrameSize * 5 / 4 + 7200;
} // namespace

// Encoder stage

Mp3EncoderStage::Mp3EncoderStage(int bit_rate)
    : m_bit_rate(bit_rate), m_carry(kMaxFrameSize * 2 * 2), m_left(kMaxFrameSize),
      m_right(kMaxFrameSize), m_out(kOutSize) {}

Mp3EncoderStage::~Mp3EncoderStage() {
    if (audio::Outlet* upstream = peer())
        audio::connect(*upstream, nullptr);
    std::lock_guard guard(lock());
    close_encoder();
}

void Mp3EncoderStage::flush() {
    std::lock_guard guard(lock());
    close_encoder();
}

uint64_t Mp3EncoderStage::frames_coded() const {
    std::lock_guard guard(lock());
    return m_frames_coded;
}

void Mp3EncoderStage::process(audio::AudioBlock& out, const audio::AudioBlock&) {
    out = audio::AudioBlock{};
}

bool Mp3EncoderStage::create_encoder(int channels, int rate) {
    lame_global_flags* encoder = lame_init();
    if (!encoder)
        return false;
    lame_set_in_samplerate(encoder, rate);
    lame_set_num_channels(encoder, channels);
    lame_set_brate(encoder, m_bit_rate / 1000);
    if (lame_init_params(encoder) < 0) {
        foundation::log() << "Mp3EncoderStage::create_encoder rate=" << rate
                          << " channels=" << channels << " refused\n";
        lame_close(encoder);
        return false;
    }
    int frame_size = lame_get_framesize(encoder);
    if (frame_size <= 0 || frame_size > kMaxFrameSize) {
        lame_close(encoder);
        return false;
    }
    m_encoder = encoder;
    m_frame_size = frame_size;
    m_carry_size = 0;
    return true;
}

void Mp3EncoderStage::close_encoder() {
    if (!m_encoder)
        return;
    int size = lame_encode_flush(m_encoder, m_out.data(), int(m_out.size()));
    if (size >= 0) {
        audio::AudioBlock coded;
        coded.bytes = audio::ByteSlice::copy_of(size_t(size), m_out.data());
        coded.channels = m_channels;
        coded.bits_per_sample = 16;
        coded.sample_rate = m_rate;
        audio::push(output(), coded);
    }
    lame_close(m_encoder);
    m_encoder = nullptr;
    m_frame_size = 0;
    m_carry_size = 0;
}

void Mp3EncoderStage::encode_frame(const uint8_t* frame) {
    const int n = m_frame_size;
    if (m_bits == 16) {
        if (m_channels == 1) {
            std::memcpy(m_left.data(), frame, size_t(n) * 2);
            std::fill(m_right.begin(), m_right.begin() + n, int16_t(0));
        } else {
            for (int i = 0; i < n; ++i) {
                std::memcpy(&m_left[size_t(i)], frame + 4 * i, 2);
                std::memcpy(&m_right[size_t(i)], frame + 4 * i + 2, 2);
            }
        }
    } else {
        // 8-bit PCM is unsigned; widen it to 16 bits.
        for (int i = 0; i < n; ++i) {
            m_left[size_t(i)] = int16_t((frame[i * m_channels] - 128) * 256);
            m_right[size_t(i)] =
                m_channels == 2 ? int16_t((frame[i * 2 + 1] - 128) * 256) : int16_t(0);
        }
    }
    int size = lame_encode_buffer(m_encoder, m_left.data(), m_right.data(), n, m_out.data(),
                                  int(m_out.size()));
    if (size < 0) {
        foundation::log() << "Mp3EncoderStage::encode_frame error=" << size << "\n";
        return;
    }
    ++m_frames_coded;
    audio::AudioBlock coded;
    coded.bytes = audio::ByteSlice::copy_of(size_t(size), m_out.data());
    coded.channels = m_channels;
    coded.bits_per_sample = 16;
    coded.sample_rate = m_rate;
    audio::push(output(), coded);
}

void Mp3EncoderStage::on_data(const audio::AudioBlock& block) {
    std::lock_guard guard(lock());
    if (block.empty()) {
        // Nothing to code; the file writer may have output due by time.
        audio::push(output(), block);
        return;
    }
    if (block.sample_rate <= 0 || (block.bits_per_sample != 16 && block.bits_per_sample != 8) ||
        (block.channels != 1 && block.channels != 2))
        return;
    if (m_encoder && (block.channels != m_channels || block.sample_rate != m_rate ||
                      block.bits_per_sample != m_bits))
        close_encoder();
    m_channels = block.channels;
    m_rate = block.sample_rate;
    m_bits = block.bits_per_sample;
    if (!m_encoder && !create_encoder(m_channels, m_rate))
        return;

    const size_t frame_bytes = size_t(m_frame_size) * size_t(m_bits / 8) * size_t(m_channels);
    const uint8_t* data = block.bytes.data();
    size_t left = block.size();
    while (m_carry_size + left >= frame_bytes) {
        if (m_carry_size == 0) {
            encode_frame(data);
            data += frame_bytes;
            left -= frame_bytes;
        } else {
            size_t take = frame_bytes - m_carry_size;
            std::memcpy(m_carry.data() + m_carry_size, data, take);
            data += take;
            left -= take;
            m_carry_size = 0;
            encode_frame(m_carry.data());
        }
        if (!m_encoder)
            return;
    }
    std::memcpy(m_carry.data() + m_carry_size, data, left);
    m_carry_size += left;
}

// File sink

namespace {

// Bytes an ID3 version 2 tag at the file's start takes, or 0.
uint64_t id3_size(foundation::File& file) {
    uint8_t header[10];
    if (!file.seek(0) || file.read(header, 10) != 10 || std::memcmp(header, "ID3", 3) != 0)
        return 0;
    if ((header[6] | header[7] | header[8] | header[9]) & 0x80)
        return 0;
    const uint64_t size = uint64_t(header[6]) << 21 | uint64_t(header[7]) << 14 |
                          uint64_t(header[8]) << 7 | uint64_t(header[9]);
    const bool footer = (header[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

} // namespace

uint64_t end_of_whole_frames(foundation::File& file, uint64_t audio_start) {
    const uint64_t size = file.size();
    if (audio_start >= size)
        return size;
    // The longest layer III frame is 1441 bytes; the tail holds several whole frames before
    // the last one, enough to follow a chain of them from a true frame start.
    constexpr uint64_t kTail = 8192;
    const uint64_t window_start = size - audio_start > kTail ? size - kTail : audio_start;
    std::vector<uint8_t> tail(size_t(size - window_start));
    if (!file.seek(window_start) || file.read(tail.data(), uint32_t(tail.size())) != tail.size())
        return size;
    const size_t n = tail.size();
    for (size_t first = 0; first + 4 <= n; ++first) {
        Mp3Header reference;
        if (!parse_mp3_header(&tail[first], reference))
            continue;
        // Follow the chain of frames that agree with the first one.
        size_t position = first;
        int whole = 0;
        for (;;) {
            Mp3Header header;
            if (position == n)
                return size; // ends exactly with a whole frame
            if (position + 4 > n || !parse_mp3_header(&tail[position], header) ||
                !header.agrees(reference))
                break;
            if (position + size_t(header.frame_length) > n)
                break;
            position += size_t(header.frame_length);
            ++whole;
        }
        // A chain of whole frames from a known frame start, or long enough not to be chance.
        const bool trusted = whole >= 3 || (window_start == audio_start && first == 0 && whole > 0);
        if (!trusted)
            continue;
        Mp3Header header;
        const size_t left = n - position;
        // What follows the last whole frame: the start of one more, cut short, or other data.
        const bool cut_frame = left < 4 ? tail[position] == 0xFF
                                        : parse_mp3_header(&tail[position], header) &&
                                              header.agrees(reference) &&
                                              size_t(header.frame_length) > left;
        return cut_frame ? window_start + position : size;
    }
    return size;
}

FileWriterMP3::FileWriterMP3(const std::u16string& path, bool append, uint32_t bytes_per_second)
    : m_path(path), m_append(append),
      m_due_bytes(bytes_per_second > 0
                      ? std::min<uint64_t>(write_out_bytes(bytes_per_second), kBufferSize)
                      : kBufferSize),
      m_buffer(kBufferSize) {
    if (append) {
        uint64_t end = 0;
        {
            foundation::File reader(path, foundation::File::Read);
            if (reader.is_open())
                end = end_of_whole_frames(reader, id3_size(reader));
        }
        if (m_file.open(path, foundation::File::Append)) {
            m_total = m_file.size();
            if (end < m_total && m_file.seek(end) && m_file.truncate()) {
                foundation::log() << "FileWriterMP3::FileWriterMP3 cut " << (m_total - end)
                                  << " bytes of an unfinished frame\n";
                m_total = end;
            }
            // Appending anywhere but at the end would spoil the file: the writer fails instead.
            if (!m_file.seek(m_total))
                m_file.close();
        }
    } else {
        // A file that cannot be made leaves the file closed, which is said below.
        (void)m_file.open(path, foundation::File::WriteNew);
    }
    m_start = m_total;
    m_written = m_total;
    if (!m_file.is_open())
        foundation::log() << "FileWriterMP3::FileWriterMP3 cannot open the file\n";
}

FileWriterMP3::~FileWriterMP3() {
    if (audio::Outlet* upstream = peer())
        audio::connect(*upstream, nullptr);
    // A failed end was logged where it failed; nobody is left to tell.
    (void)close();
}

bool FileWriterMP3::close() {
    std::lock_guard guard(lock());
    if (m_closed)
        return m_ok;
    m_closed = true;
    if (!m_file.is_open()) {
        m_ok = false;
        return false;
    }
    if (m_ok && m_buffered > 0)
        write_buffer("FileWriterMP3::close error=");
    // The recording is on the disk when the writer says it is complete.
    if (m_ok && !m_file.flush()) {
        foundation::log() << "FileWriterMP3::close sync failed\n";
        m_ok = false;
    }
    const bool empty = !m_append && m_file.size() == 0;
    m_file.close();
    if (empty && !foundation::delete_file(m_path))
        foundation::log() << "FileWriterMP3::close cannot delete the empty file\n";
    return m_ok;
}

bool FileWriterMP3::while_closed(const std::function<bool()>& work) {
    std::lock_guard guard(lock());
    if (!m_ok || m_closed || !m_file.is_open())
        return false;
    if (m_buffered > 0 && !write_buffer("FileWriterMP3::while_closed error="))
        return false;
    const uint64_t before = m_file.size();
    m_file.close();
    const bool result = work();
    if (!m_file.open(m_path, foundation::File::Append)) {
        foundation::log() << "FileWriterMP3::while_closed cannot open the file again\n";
        m_ok = false;
        return result;
    }
    // Whatever came before this writer's bytes (the tag) may have grown.
    const uint64_t after = m_file.size();
    const uint64_t shift = after > before ? after - before : 0;
    m_start += shift;
    m_written += shift;
    m_total += shift;
    if (!m_file.seek(after)) {
        foundation::log() << "FileWriterMP3::while_closed cannot find the end again\n";
        m_ok = false;
    }
    return result;
}

bool FileWriterMP3::is_valid() const {
    std::lock_guard guard(lock());
    return m_ok && (m_closed || m_file.is_open());
}

uint64_t FileWriterMP3::total() const {
    std::lock_guard guard(lock());
    return m_total;
}

uint64_t FileWriterMP3::written() const {
    std::lock_guard guard(lock());
    return m_written - m_start;
}

bool FileWriterMP3::write_out(const uint8_t* bytes, size_t size, const char* label) {
    m_clock.restart();
    if (m_file.write(bytes, uint32_t(size))) {
        m_written += size;
        return true;
    }
    foundation::log() << label << "write failed\n";
    m_ok = false;
    // Keep the file as it was after the last complete write.
    if (!m_file.seek(m_written) || !m_file.truncate())
        foundation::log() << label << "cannot cut the partial write off\n";
    return false;
}

bool FileWriterMP3::write_buffer(const char* label) {
    const bool ok = write_out(m_buffer.data(), m_buffered, label);
    m_buffered = 0;
    return ok;
}

void FileWriterMP3::on_data(const audio::AudioBlock& block) {
    std::lock_guard guard(lock());
    if (!m_ok || m_closed || !m_file.is_open())
        return;
    const size_t size = block.size();
    if (size > 0) {
        m_total += size;
        if (m_buffered + size > kBufferSize && !write_buffer("FileWriterMP3::on_data1 error="))
            return;
        if (size > kBufferSize) {
            // A failed write leaves m_ok false, which the recorder looks at.
            (void)write_out(block.bytes.data(), size, "FileWriterMP3::on_data2 error=");
            return;
        }
        std::memcpy(m_buffer.data() + m_buffered, block.bytes.data(), size);
        m_buffered += size;
    }
    if (m_buffered > 0 && (m_buffered >= m_due_bytes || m_clock.due()))
        write_buffer("FileWriterMP3::on_data3 error=");
}

// The writer

Mp3Writer::Mp3Writer(const std::u16string& path, int bit_rate, bool append)
    : m_path(path), m_file_writer(std::make_unique<FileWriterMP3>(
                        path, append, uint32_t(std::max(bit_rate, 0) / 8))),
      m_encoder(std::make_unique<Mp3EncoderStage>(bit_rate)) {
    audio::connect(m_encoder->output(), m_file_writer.get());
}

bool Mp3Writer::complete() {
    if (audio::Outlet* upstream = m_encoder->peer())
        audio::connect(*upstream, nullptr);
    m_encoder->flush();
    return m_file_writer->close();
}

Mp3Writer::~Mp3Writer() {
    // The encoder flushes into the file writer before the file is closed.
    m_encoder.reset();
    m_file_writer.reset();
}

} // namespace formats
