#pragma once

// WAV readers: PCM (format tag 1, and floating point, 3, also as WAVE_FORMAT_EXTENSIBLE),
// Microsoft ADPCM (2) and GSM 06.10 (49). Each parses the header at construction and is valid
// only for a complete header of its own coding; data is delivered as 16-bit PCM for the coded
// ones and as stored for integer PCM (8-bit unsigned, 16, 24 or 32-bit signed, any number of
// channels; samples narrower than their container come as the container's width). Floating
// point becomes 32-bit signed integer PCM. Every block carries the format of its bytes.

#include "formats/reader_base.h"
#include "formats/wav_header.h"
#include "foundation/file.h"

#include <string>
#include <vector>

struct gsm_state;

namespace formats {

class WavReader : public ReaderBase {
protected:
    explicit WavReader(const std::u16string& path);
    // Opens the file and parses the header; false when it is not a complete WAV header.
    [[nodiscard]] bool open_header();
    // Fills the information fields once a subclass has accepted the header.
    void accept(double frames);
    // Position of the read pointer within the data chunk.
    uint32_t data_position() const;
    // Reads up to `count` bytes of the data chunk; the bytes actually read.
    uint32_t read_data(uint8_t* buffer, uint32_t count);
    [[nodiscard]] bool seek_data(uint64_t offset);

    std::u16string m_path;
    foundation::File m_file;
    WavHeader m_header;
    uint64_t m_data_read{0};
};

class PcmWavReader : public WavReader {
public:
    explicit PcmWavReader(const std::u16string& path);
    std::u16string codec_name() const override { return u"PCM"; }

protected:
    void read_block(audio::AudioBlock& out, int max_bytes) override;
    [[nodiscard]] bool seek_locked(double position) override;

private:
    // Bytes of one stored sample (1 to 4, or 4 and 8 for floating point).
    int m_sample_bytes{0};
    bool m_float{false};
};

class AdpcmWavReader : public WavReader {
public:
    explicit AdpcmWavReader(const std::u16string& path);
    std::u16string codec_name() const override { return u"ADPCM"; }

protected:
    void read_block(audio::AudioBlock& out, int max_bytes) override;
    [[nodiscard]] bool seek_locked(double position) override;

private:
    uint64_t m_frames_left{0}; // of the fact sample count
    std::vector<uint8_t> m_block;
};

class GsmWavReader : public WavReader {
public:
    explicit GsmWavReader(const std::u16string& path);
    ~GsmWavReader() override;
    std::u16string codec_name() const override { return u"GSM"; }

protected:
    void read_block(audio::AudioBlock& out, int max_bytes) override;
    [[nodiscard]] bool seek_locked(double position) override;

private:
    gsm_state* m_gsm{nullptr};
    uint64_t m_frames_left{0};
};

} // namespace formats
