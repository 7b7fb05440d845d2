#pragma once

// Ogg Vorbis files through Tremor's vorbisfile, reading with our own file functions. A chained
// file (several linked streams) is read link after link, each block in its own link's format;
// the information (channels, rate) is the first link's, the duration that of all links.

#include "audio/audio_block.h"
#include "formats/reader_base.h"
#include "foundation/file.h"

#include <memory>
#include <string>

namespace formats {

class VorbisReader : public ReaderBase {
public:
    explicit VorbisReader(const std::u16string& path);
    ~VorbisReader() override;
    std::u16string codec_name() const override { return u"Vorbis"; }

protected:
    void read_block(audio::AudioBlock& out, int max_bytes) override;
    [[nodiscard]] bool seek_locked(double position) override;

private:
    struct Stream;
    foundation::File m_file;
    std::unique_ptr<Stream> m_stream;
    // Frames of the next link read while a block of the previous one was being filled.
    audio::AudioBlock m_pending;
};

} // namespace formats
