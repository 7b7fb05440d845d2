#pragma once

// WAV writers for the factory: PCM, Microsoft ADPCM and GSM 06.10. Each is the inlet that PCM
// blocks are pushed into and writes the file as they come; the header is written with the
// first accepted block and completed when the writer is destroyed.
//
// Blocks whose format differs from the first one are ignored. A failed write makes the writer
// invalid: the file is cut back to the last whole block written and its header completed, so
// everything written before the failure stays readable.

#include "audio/file_io.h"
#include "formats/wav_header.h"
#include "foundation/file.h"

#include <memory>
#include <string>
#include <vector>

struct gsm_state;

namespace formats {

class WavWriter : public audio::FileWriter, public audio::Inlet {
public:
    ~WavWriter() override;
    audio::Inlet& input() override { return *this; }
    bool is_valid() const override;
    void on_data(const audio::AudioBlock& block) override;

protected:
    WavWriter(const std::u16string& path, bool append);

    // Whether the first block's format can be coded; fills the header's coding fields.
    virtual bool start(const audio::AudioBlock& first, WavHeader& header) = 0;
    // Codes a block of the accepted format and writes the result with write_data().
    virtual void code(const audio::AudioBlock& block) = 0;
    // Codes whatever is held back at the end of the stream.
    virtual void finish() {}

    // Appends whole blocks of coded bytes; false (and the writer invalid) on failure.
    bool write_data(const uint8_t* bytes, size_t size);
    void add_samples(uint32_t frames) { m_header.fact_samples += frames; }
    const WavHeader& header() const { return m_header; }

    // Called by the most derived destructor before its coder goes away.
    void complete();

private:
    std::u16string m_path;
    bool m_append;
    foundation::File m_file;
    bool m_started{false};
    bool m_ok{true};
    bool m_completed{false};
    uint64_t m_header_offset{0};
    WavHeader m_header;
    audio::AudioBlock m_format;
};

class PcmWavWriter : public WavWriter {
public:
    PcmWavWriter(const std::u16string& path, bool append) : WavWriter(path, append) {}
    ~PcmWavWriter() override;

protected:
    bool start(const audio::AudioBlock& first, WavHeader& header) override;
    void code(const audio::AudioBlock& block) override;

private:
    std::vector<uint8_t> m_partial; // bytes of an incomplete frame
};

class AdpcmWavWriter : public WavWriter {
public:
    AdpcmWavWriter(const std::u16string& path, bool append) : WavWriter(path, append) {}
    ~AdpcmWavWriter() override;

protected:
    bool start(const audio::AudioBlock& first, WavHeader& header) override;
    void code(const audio::AudioBlock& block) override;
    void finish() override;

private:
    void encode_pending();

    int m_channels{0};
    int m_block_align{0};
    int m_frames_per_block{0};
    std::vector<int16_t> m_pending; // interleaved samples of the block being filled
    size_t m_pending_count{0};
    std::vector<uint8_t> m_partial; // bytes of an incomplete sample
    std::vector<uint8_t> m_coded;
};

class GsmWavWriter : public WavWriter {
public:
    GsmWavWriter(const std::u16string& path, bool append);
    ~GsmWavWriter() override;

protected:
    bool start(const audio::AudioBlock& first, WavHeader& header) override;
    void code(const audio::AudioBlock& block) override;
    void finish() override;

private:
    void encode_pending();

    gsm_state* m_gsm{nullptr};
    int16_t m_pending[320]{};
    size_t m_pending_count{0};
    bool m_odd_byte{false};
    uint8_t m_last_byte{0};
};

} // namespace formats
