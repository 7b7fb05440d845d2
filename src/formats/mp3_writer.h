#pragma once

// The MP3 writer: an encoder stage that cuts PCM into encoder frames and codes them with LAME,
// followed by a buffered file sink. Both run on the recording buffer's writer thread;
// is_valid() may be asked from any thread.

#include "audio/file_io.h"
#include "audio/link.h"
#include "formats/write_out.h"
#include "foundation/file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct lame_global_struct;

namespace formats {

// Codes 16-bit (or 8-bit) mono or stereo PCM into MP3 frames at a constant bit rate and pushes
// the coded bytes on, one push per encoder frame (an encoder that holds its output back still
// pushes an empty block). A change of channels or rate ends the current stream and starts a
// new encoder. An empty block pushed in is passed on as it is. Destroying the stage flushes
// the encoder into its outlet; the PCM left over (less than one frame) is not coded.
class Mp3EncoderStage : public audio::Stage {
public:
    explicit Mp3EncoderStage(int bit_rate);
    ~Mp3EncoderStage() override;

    void on_data(const audio::AudioBlock& block) override;
    // Ends the stream now: the encoder's remaining frames are pushed on. A later block starts
    // a new stream.
    void flush();
    // Whole frames of PCM coded since construction.
    uint64_t frames_coded() const;

protected:
    void process(audio::AudioBlock& out, const audio::AudioBlock& in) override;

private:
    [[nodiscard]] bool create_encoder(int channels, int rate);
    void close_encoder();
    void encode_frame(const uint8_t* frame);

    lame_global_struct* m_encoder{nullptr};
    int m_bit_rate;
    int m_channels{0};
    int m_rate{0};
    int m_bits{0};
    int m_frame_size{0};
    uint64_t m_frames_coded{0};
    std::vector<uint8_t> m_carry;
    size_t m_carry_size{0};
    std::vector<int16_t> m_left;
    std::vector<int16_t> m_right;
    std::vector<uint8_t> m_out;
};

// Appends coded bytes to the file in writes of at most 16 KB, and at least every half second
// of audio (bytes_per_second: the coded bytes of one second, 0 when unknown) or of time, so
// that a killed recording keeps all but the last moments. An empty block only lets it write
// out what is due by time. A failed write makes it invalid: the file is cut back to the end of
// the last successful write and later blocks are ignored.
//
// Appending continues after the last whole MPEG frame: a frame left unfinished at the file's
// end (a killed recording) is cut first, so the join decodes cleanly.
class FileWriterMP3 : public audio::Inlet {
public:
    static constexpr size_t kBufferSize = 16384;

    FileWriterMP3(const std::u16string& path, bool append, uint32_t bytes_per_second = 0);
    ~FileWriterMP3() override;

    void on_data(const audio::AudioBlock& block) override;
    [[nodiscard]] bool is_valid() const;
    // Bytes written or buffered, counting the file's size when appending.
    uint64_t total() const;
    // Writes what is buffered and closes the file; true when the writer stayed valid. Later
    // calls give the same answer and later blocks are ignored.
    [[nodiscard]] bool close();
    // Bytes this writer put into the file.
    uint64_t written() const;
    // Writes what is buffered, closes the file, runs `work` and opens the file under its name
    // again at its end (the bytes before it may have moved by the size a grown tag added).
    // Invalid when the file cannot be opened again.
    [[nodiscard]] bool while_closed(const std::function<bool()>& work);

private:
    [[nodiscard]] bool write_out(const uint8_t* bytes, size_t size, const char* label);
    bool write_buffer(const char* label);

    std::u16string m_path;
    foundation::File m_file;
    bool m_append;
    bool m_ok{true};
    bool m_closed{false};
    uint64_t m_total{0};
    uint64_t m_start{0};   // file offset where this writer's bytes begin
    uint64_t m_written{0}; // file offset after the last successful write
    uint64_t m_due_bytes;
    WriteOutClock m_clock;
    std::vector<uint8_t> m_buffer;
    size_t m_buffered{0};
};

// Where an MPEG audio stream in the file ends in a whole frame: the file's size, or the start
// of a frame cut short at the end. `audio_start` is where the frames begin (after the tag).
// A tail that is not a cut frame (another tag, other data) is left alone: the file's size.
uint64_t end_of_whole_frames(foundation::File& file, uint64_t audio_start);

class Mp3Writer : public audio::FileWriter {
public:
    Mp3Writer(const std::u16string& path, int bit_rate, bool append);
    ~Mp3Writer() override;
    audio::Inlet& input() override { return *m_encoder; }
    [[nodiscard]] bool is_valid() const override { return m_file_writer->is_valid(); }
    bool complete() override;
    // A recording shorter than one encoder frame holds no audio: its PCM is never coded.
    [[nodiscard]] bool has_audio() const override {
        return m_encoder->frames_coded() > 0 && m_file_writer->written() > 0;
    }
    [[nodiscard]] bool while_closed(const std::function<bool()>& work) override {
        return m_file_writer->while_closed(work);
    }

private:
    std::u16string m_path;
    std::unique_ptr<FileWriterMP3> m_file_writer;
    std::unique_ptr<Mp3EncoderStage> m_encoder;
};

} // namespace formats
