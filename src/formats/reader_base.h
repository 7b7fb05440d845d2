#pragma once

// Common ground of the file readers: the outlet the player pulls from, the lock that keeps a
// pull on the player's thread apart from a seek on the user-interface thread, and the
// conversion of a stream whose format changes part-way (a chained Ogg's links, MP3 frames of
// another rate) to the format the reader reports, that of its first part.

#include "audio/file_io.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace audio {
class PcmConverter;
}

namespace formats {

class ReaderBase : public audio::FileReader {
public:
    audio::Outlet& output() override { return m_output; }
    [[nodiscard]] bool is_valid() const override { return m_valid; }
    int channels() const override { return m_channels; }
    int bits_per_sample() const override { return m_bits; }
    int sample_rate() const override { return m_rate; }
    int bit_rate() const override { return m_bit_rate; }
    double duration() const override { return m_duration; }
    // Positions before the start (or not a number) mean the start; beyond the end, the end.
    [[nodiscard]] bool seek(double position) override {
        std::lock_guard guard(m_lock);
        if (!(position > 0))
            position = 0;
        drop_conversion();
        return m_valid && seek_locked(std::min(position, m_duration + 1.0));
    }

protected:
    ReaderBase();
    ~ReaderBase() override;

    // Fills `out` with the next decoded PCM (about max_bytes at most); an empty block at the
    // end of the stream. Called under the reader's lock.
    virtual void read_block(audio::AudioBlock& out, int max_bytes) = 0;
    [[nodiscard]] virtual bool seek_locked(double position) = 0;

    // Set by the constructors of the readers; fixed afterwards.
    bool m_valid{false};
    int m_channels{0};
    int m_bits{0};
    int m_rate{0};
    int m_bit_rate{0};
    double m_duration{0};

private:
    class Output : public audio::Outlet {
    public:
        explicit Output(ReaderBase& reader) : m_reader(reader) {}
        void get_data(audio::AudioBlock& out, int max_bytes) override {
            std::lock_guard guard(m_reader.m_lock);
            out = audio::AudioBlock{};
            if (m_reader.m_valid)
                m_reader.next_block(out, max_bytes);
        }

    private:
        ReaderBase& m_reader;
    };

    // read_block() with every block in the reported format. Under the reader's lock.
    void next_block(audio::AudioBlock& out, int max_bytes);
    [[nodiscard]] bool in_reported_format(const audio::AudioBlock& block) const;
    void drop_conversion();

    std::mutex m_lock;
    Output m_output;
    // A block read but not yet handed on: it waits while the converter gives up the last part.
    audio::AudioBlock m_held;
    std::unique_ptr<audio::PcmConverter> m_converter; // from the current part's format
    int m_converting_channels{0};
    int m_converting_rate{0};
    bool m_converter_flushed{false};
};

} // namespace formats
