#pragma once

// Ogg Vorbis files through Tremor's vorbisfile, reading with our own file functions.

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
    bool seek_locked(double position) override;

private:
    struct Stream;
    foundation::File m_file;
    std::unique_ptr<Stream> m_stream;
};

} // namespace formats
