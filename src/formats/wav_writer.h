#pragma once

// WAV writers for the factory: PCM, Microsoft ADPCM and GSM 06.10. Each is the inlet that PCM
// blocks are pushed into and writes the file as they come; the header is written with the
// first block, its sizes brought up to date at least every half second of audio or of time
// (so a killed recording keeps all but its last moments), and completed when the writer is
// completed or destroyed.
//
// The file's PCM format is fixed by the first block (or, when appending, by the file). Blocks
// of another channel count or sample size are converted to it; a block at another sample rate
// makes the writer invalid. A failed write makes the writer invalid: the file is cut back to
// the last whole block written and its header completed, so everything written before the
// failure stays readable. A file that would pass what a WAV header can describe (4 GiB) stops
// the same way before the block that would not fit.
//
// Appending continues the data chunk of an existing file of the writer's coding and format and
// rewrites its sizes (RIFF, data, fact). A file whose header sizes fell behind its data (a
// killed recording) is continued after all of its whole blocks. A file whose data chunk is
// followed by other chunks is refused.

#include "audio/file_io.h"
#include "formats/wav_header.h"
#include "formats/write_out.h"
#include "foundation/file.h"

#include <memory>
#include <string>
#include <vector>

struct gsm_state;

namespace formats {

class WavWriter : public audio::FileWriter, public audio::Inlet {
public:
    // The largest file whose sizes a RIFF header holds.
    static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;

    ~WavWriter() override;
    audio::Inlet& input() override { return *this; }
    [[nodiscard]] bool is_valid() const override;
    bool complete() override;
    [[nodiscard]] bool has_audio() const override;
    void on_data(const audio::AudioBlock& block) override;

protected:
    // `declared`: the PCM format (channels, bits, rate) written when no block ever arrives.
    WavWriter(const std::u16string& path, bool append, const audio::AudioBlock& declared);

    // Whether PCM in the format `offered` can be coded. Sets `accepted` to the PCM format the
    // coder takes (blocks are converted to it) and fills the header's coding fields.
    [[nodiscard]] virtual bool start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                                     WavHeader& header) = 0;
    // Whether an existing file with this header is continued by this writer; sets up the coder
    // and `accepted` as start() does.
    [[nodiscard]] virtual bool resume(const WavHeader& existing, audio::AudioBlock& accepted) = 0;
    // Codes a block of the accepted format and writes the result with write_data().
    virtual void code(const audio::AudioBlock& block) = 0;
    // Codes whatever is held back at the end of the stream.
    virtual void finish() {}

    // Appends whole blocks of coded bytes; false (and the writer invalid) on failure.
    [[nodiscard]] bool write_data(const uint8_t* bytes, size_t size);
    void add_samples(uint32_t frames) { m_header.fact_samples += frames; }
    const WavHeader& header() const { return m_header; }

    // Opens an existing file for appending; called by the most derived constructor.
    void open_for_append();

private:
    // Both record a failure through fail() (is_valid() turns false); their results only
    // spare a caller that goes on at once a look at it.
    bool create_file(const audio::AudioBlock& format);
    // padded: a pad byte follows the data of odd size.
    bool write_sizes(bool padded = false);
    void fail(const char* reason);

    std::u16string m_path;
    bool m_append;
    audio::AudioBlock m_declared;
    foundation::File m_file;
    bool m_started{false};
    bool m_ok{true};
    bool m_completed{false};
    bool m_sizes_changed{false}; // the header's sizes differ from the file's
    WavHeader m_header;
    uint64_t m_data_size_offset{0};
    uint64_t m_fact_offset{0}; // 0: no fact chunk
    uint64_t m_written{0};     // data bytes this writer added
    uint64_t m_unsaved{0};     // data bytes not yet counted in the file's header
    uint64_t m_due_bytes{1};
    WriteOutClock m_clock;
    audio::AudioBlock m_format;
    std::vector<uint8_t> m_converted;
};

class PcmWavWriter : public WavWriter {
public:
    PcmWavWriter(const std::u16string& path, bool append,
                 const audio::AudioBlock& declared = audio::AudioBlock{});
    ~PcmWavWriter() override;

protected:
    [[nodiscard]] bool start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                             WavHeader& header) override;
    [[nodiscard]] bool resume(const WavHeader& existing, audio::AudioBlock& accepted) override;
    void code(const audio::AudioBlock& block) override;

private:
    std::vector<uint8_t> m_partial; // bytes of an incomplete frame
};

class AdpcmWavWriter : public WavWriter {
public:
    AdpcmWavWriter(const std::u16string& path, bool append,
                   const audio::AudioBlock& declared = audio::AudioBlock{});
    ~AdpcmWavWriter() override;

protected:
    [[nodiscard]] bool start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                             WavHeader& header) override;
    [[nodiscard]] bool resume(const WavHeader& existing, audio::AudioBlock& accepted) override;
    void code(const audio::AudioBlock& block) override;
    void finish() override;

private:
    void set_up(int channels, int block_align);
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
    GsmWavWriter(const std::u16string& path, bool append,
                 const audio::AudioBlock& declared = audio::AudioBlock{});
    ~GsmWavWriter() override;

protected:
    [[nodiscard]] bool start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                             WavHeader& header) override;
    [[nodiscard]] bool resume(const WavHeader& existing, audio::AudioBlock& accepted) override;
    void code(const audio::AudioBlock& block) override;
    void finish() override;

private:
    [[nodiscard]] bool set_up();
    void encode_pending();

    gsm_state* m_gsm{nullptr};
    int16_t m_pending[320]{};
    size_t m_pending_count{0};
    bool m_odd_byte{false};
    uint8_t m_last_byte{0};
};

// Converts interleaved PCM between channel counts and sample sizes (8-bit unsigned, 16, 24 or
// 32-bit signed) at the same rate: one channel is copied to all, many are mixed into one,
// otherwise channels are kept by position and missing ones are silent. False for a rate change
// or a sample size it does not know.
[[nodiscard]] bool convert_pcm(const audio::AudioBlock& in, const audio::AudioBlock& format,
                               std::vector<uint8_t>& out);

} // namespace formats
