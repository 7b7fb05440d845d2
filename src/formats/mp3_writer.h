#pragma once

// The MP3 writer: an encoder stage that cuts PCM into encoder frames and codes them with LAME,
// followed by a buffered file sink. Both run on the recording buffer's writer thread;
// is_valid() may be asked from any thread.

#include "audio/file_io.h"
#include "audio/link.h"
#include "foundation/file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct lame_global_struct;

namespace formats {

// Codes 16-bit (or 8-bit) mono or stereo PCM into MP3 frames at a constant bit rate and pushes
// the coded bytes on, one push per encoder frame (an encoder that holds its output back still
// pushes an empty block). A change of channels or rate ends the current stream and starts a
// new encoder. Destroying the stage flushes the encoder into its outlet; the PCM left over
// (less than one frame) is not coded.
class Mp3EncoderStage : public audio::Stage {
public:
    explicit Mp3EncoderStage(int bit_rate);
    ~Mp3EncoderStage() override;

    void on_data(const audio::AudioBlock& block) override;
    // Samples per channel in one encoder frame; 0 before the first block.
    int frame_size() const;

protected:
    void process(audio::AudioBlock& out, const audio::AudioBlock& in) override;

private:
    bool create_encoder(int channels, int rate);
    void close_encoder();
    void encode_frame(const uint8_t* frame);

    lame_global_struct* m_encoder{nullptr};
    int m_bit_rate;
    int m_channels{0};
    int m_rate{0};
    int m_bits{0};
    int m_frame_size{0};
    std::vector<uint8_t> m_carry;
    size_t m_carry_size{0};
    std::vector<int16_t> m_left;
    std::vector<int16_t> m_right;
    std::vector<uint8_t> m_out;
};

// Appends coded bytes to the file in writes of about 16 KB. A failed write makes it invalid:
// the file is cut back to the end of the last successful write and later blocks are ignored.
class FileWriterMP3 : public audio::Inlet {
public:
    static constexpr size_t kBufferSize = 16384;

    FileWriterMP3(const std::u16string& path, bool append);
    ~FileWriterMP3() override;

    void on_data(const audio::AudioBlock& block) override;
    bool is_valid() const;
    // Bytes written or buffered, counting the file's size when appending.
    uint64_t total() const;

private:
    bool write_out(const uint8_t* bytes, size_t size, const char* label);

    std::u16string m_path;
    foundation::File m_file;
    bool m_append;
    bool m_ok{true};
    uint64_t m_total{0};
    uint64_t m_written{0}; // file offset after the last successful write
    std::vector<uint8_t> m_buffer;
    size_t m_buffered{0};
};

class Mp3Writer : public audio::FileWriter {
public:
    Mp3Writer(const std::u16string& path, int bit_rate, bool append);
    ~Mp3Writer() override;
    audio::Inlet& input() override { return *m_encoder; }
    bool is_valid() const override { return m_file_writer->is_valid(); }

private:
    std::u16string m_path;
    std::unique_ptr<FileWriterMP3> m_file_writer;
    std::unique_ptr<Mp3EncoderStage> m_encoder;
};

} // namespace formats
