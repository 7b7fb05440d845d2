#pragma once

// Musepack files (stream versions 7 and 8) through libmpcdec.

#include "formats/reader_base.h"
#include "foundation/file.h"

#include <memory>
#include <string>

namespace formats {

class MpcReader : public ReaderBase {
public:
    explicit MpcReader(const std::u16string& path);
    ~MpcReader() override;
    std::u16string codec_name() const override { return u"MPC"; }

protected:
    void read_block(audio::AudioBlock& out, int max_bytes) override;
    [[nodiscard]] bool seek_locked(double position) override;

private:
    struct Stream;
    foundation::File m_file;
    std::unique_ptr<Stream> m_stream;
};

} // namespace formats
