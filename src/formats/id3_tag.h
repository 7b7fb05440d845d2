#pragma once

// ID3 version 2.3 tags at the start of record files: what records carry about who was recorded,
// when, and the caller's picture. Parsing never reads beyond the tag's declared size or the
// file; every size taken from the file is checked before anything is allocated.

#include "audio/shared_bytes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {
class File;
}

namespace formats {

// Frame identifiers this program writes and reads.
inline constexpr char kId3Artist[] = "TPE1";
inline constexpr char kId3Title[] = "TIT2";
inline constexpr char kId3Album[] = "TALB";
inline constexpr char kId3Genre[] = "TCON";
inline constexpr char kId3Year[] = "TYER";
inline constexpr char kId3Date[] = "TDAT";
inline constexpr char kId3Track[] = "TRCK";
inline constexpr char kId3Picture[] = "APIC";

struct Id3Frame {
    std::string id; // 4 ASCII characters
    uint16_t flags{0};
    audio::ByteSlice data;
};

class Id3Tag {
public:
    // Largest tag size (and frame size) a tag may declare: 2^28 - 1.
    static constexpr uint32_t kMaxSize = 268435455;

    // Reads the tag at the start of the file (the file position moves). Returns the whole tag's
    // size in bytes, 10-byte header included, or 0 when the file has no acceptable tag (also
    // when the tag claims more bytes than the file holds). Frames are read up to the first
    // that is empty, padding, or larger than what remains of the tag.
    uint32_t parse(foundation::File& file);

    // Decoded text of the first frame with the identifier, or empty.
    std::u16string text(std::string_view id) const;
    // Replaces the frame's text, adding the frame at the end when missing. ISO 8859-1 when
    // every character is in 32..127, else UTF-16 with a byte-order mark. A NUL ends the text;
    // an empty text leaves the tag unchanged.
    void set_text(std::string_view id, std::u16string_view text);
    // With at least 8 bytes replaces or adds the picture frame (MIME type from the image's
    // first bytes); with fewer removes it.
    void set_picture(const uint8_t* bytes, size_t size);

    // Writes the tag at the file's current position. size_limit 0: a new tag, padded with
    // 1024 zero bytes. Otherwise the size of the tag already in the file, which is rewritten in
    // place with the same size. Writes nothing and returns false when there are no frames, the
    // frames exceed 2^28 - 1 bytes or do not fit within size_limit; false also when a write
    // fails.
    bool write(foundation::File& file, uint32_t size_limit) const;

    const std::vector<Id3Frame>& frames() const { return m_frames; }
    const Id3Frame* find(std::string_view id) const;

private:
    void set_frame(std::string_view id, audio::ByteSlice data);

    std::vector<Id3Frame> m_frames;
};

} // namespace formats
