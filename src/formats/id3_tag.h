#pragma once

// ID3v2 tags at the start of record files: what records carry about who was recorded, when,
// and the caller's picture. Versions 2.2, 2.3 and 2.4 are read; new tags are 2.3. A tag read
// from a file is written back in its own version (2.3 or 2.4; a 2.2 tag becomes 2.3 unless it
// holds a frame 2.3 has no name for, then it stays 2.2) with every frame this program does not
// change kept as it was. Parsing never reads beyond the tag's
// declared size or the file; every size taken from the file is checked before anything is
// allocated.

#include "audio/shared_bytes.h"
#include "formats/marker.h"

#include <cstdint>
#include <functional>
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
// Chapter frames (the ID3v2 chapter addendum): one per marker, and one table of contents.
inline constexpr char kId3Chapter[] = "CHAP";
inline constexpr char kId3Contents[] = "CTOC";

struct Id3Frame {
    std::string id; // 4 ASCII characters; 3 for a frame kept from a 2.2 tag
    // The frame's flags in the layout of the tag's version (2.3 and 2.4 differ); 0 for frames
    // this program made.
    uint16_t flags{0};
    // The frame's bytes as stored (after any whole-tag unsynchronisation was undone): with a
    // 2.4 frame's own unsynchronisation, data length indicator or group byte still in place.
    audio::ByteSlice data;
};

class Id3Tag {
public:
    // Largest tag size (and frame size) a tag may declare: 2^28 - 1.
    static constexpr uint32_t kMaxSize = 268435455;
    // Padding given to a new tag, room for later changes.
    static constexpr uint32_t kNewTagPadding = 1024;

    // Reads the tag at the start of the file (the file position moves). Returns the whole tag's
    // size in bytes, header (and a 2.4 footer) included, or 0 when the file has no acceptable
    // tag (also when the tag claims more bytes than the file holds, or is of a version other
    // than 2.2, 2.3 or 2.4). Frames are read up to padding or the first frame larger than what
    // remains of the tag; empty frames are passed over. Frames of a 2.2 tag are converted to
    // their 2.3 form; a 2.2 frame that 2.3 has no place for is kept under its 2.2 name (three
    // characters), and the tag is then written back as 2.2.
    uint32_t parse(foundation::File& file);

    // 2, 3 or 4: the version the tag was read in; 3 for a new tag.
    int version() const { return m_version; }
    // The version write() uses: 4 for a tag read as 2.4, 2 for a 2.2 tag with frames 2.3 has
    // no names for, otherwise 3.
    int written_version() const {
        return m_version == 4 ? 4 : m_version == 2 && m_keeps_22 ? 2 : 3;
    }

    // Decoded text of the first frame with the identifier, or empty (also when the frame is
    // compressed or encrypted).
    std::u16string text(std::string_view id) const;
    // Replaces the frame's text, adding the frame at the end when missing. ISO 8859-1 when
    // every character is in 32..127, else UTF-16 with a byte-order mark. A NUL ends the text;
    // an empty text leaves the tag unchanged.
    void set_text(std::string_view id, std::u16string_view text);
    // With at least 8 bytes replaces or adds the picture frame (MIME type from the image's
    // first bytes); with fewer removes it.
    void set_picture(const uint8_t* bytes, size_t size);

    // The markers the tag's chapter frames hold, ordered by time (frames of equal time in tag
    // order). Each chapter frame is read as far as it is sound: one that is cut short, lacks
    // its times or repeats an element id already seen is left out; a missing or damaged
    // title sub-frame gives an empty label. Tables of contents are not needed to find the
    // chapters: a table naming chapters that do not exist changes nothing.
    std::vector<Marker> markers() const;
    // Replaces every chapter frame and table of contents with one chapter per marker (in time
    // order, its label in a title sub-frame; chapter N ends where N+1 begins, the last at
    // end_ms or at its own start when that is later) and one top-level ordered table of
    // contents listing them. No markers: no chapter frames and no table. More than
    // kMaxMarkers markers: false and the tag is unchanged.
    [[nodiscard]] bool set_markers(std::vector<Marker> markers, uint32_t end_ms);

    // Bytes the frames take with their headers in the written version, padding not included;
    // more than kMaxSize when a frame cannot be written in that version.
    uint64_t frames_size() const;

    // Writes the tag at the file's current position. size_limit 0: a new tag, padded with
    // `padding` zero bytes (1024 unless given). Otherwise the size of the tag already in the file,
    // which is rewritten in place with the same size. Writes nothing and returns false when there
    // are no frames, the frames exceed 2^28 - 1 bytes or do not fit within size_limit; false also
    // when a write fails.
    [[nodiscard]] bool write(foundation::File& file, uint32_t size_limit,
                             uint32_t padding = kNewTagPadding) const;

    const std::vector<Id3Frame>& frames() const { return m_frames; }
    const Id3Frame* find(std::string_view id) const;

private:
    void set_frame(std::string_view id, audio::ByteSlice data);
    // Reads the frames it can; a damaged frame ends the reading, the frames before it kept.
    void parse_frames(const uint8_t* body, size_t size);
    // The frames under their 2.2 names and in 2.2's picture form; empty when one has no 2.2
    // form.
    std::vector<Id3Frame> frames_as_22() const;

    std::vector<Id3Frame> m_frames;
    int m_version{3};
    bool m_keeps_22{false};
};

// What became of a tag update of a file.
enum class Id3Update {
    Written, // the file holds the new tag
    NoTag,   // the file has no tag; nothing was changed
    Failed,  // nothing was changed (unreadable, unwritable, or the tag would be too large)
    NoRoom,  // the changed tag does not fit the room of the old one; nothing was changed
};

enum class Id3Growth {
    Allowed,     // a tag that outgrows its room is written with the audio into a new file
    InPlaceOnly, // only a rewrite in place (the audio may be open for writing elsewhere),
                 // not synced: it survives the process being killed, and the writer that
                 // has the file open syncs it
};

// Reads the tag at the start of the file, lets `change` change it (false: give up, nothing
// written) and writes it back: in place when it fits the room the old one takes (synced, but
// with InPlaceOnly only written); otherwise, when growth is allowed, the file is written anew
// beside the old one (the grown tag with fresh padding, then the audio), synced and renamed
// over it, keeping the file's date.
// Either the file has the changed tag or it is unchanged.
[[nodiscard]] Id3Update update_file_tag(const std::u16string& path,
                                        const std::function<bool(Id3Tag&)>& change,
                                        Id3Growth growth = Id3Growth::Allowed);

// The frame's content with its own layers (group byte, data length, unsynchronisation) taken
// off, for a frame of the given tag version and flags; false for compressed or encrypted
// frames. `plain` holds the bytes when they had to be changed.
[[nodiscard]] bool id3_frame_content(int version, uint16_t flags, const uint8_t*& p, size_t& size,
                                     std::vector<uint8_t>& plain);
// A text frame's text (encoding byte first).
std::u16string id3_decode_text(const uint8_t* p, size_t size);
// A text as text-frame bytes: ISO 8859-1 when every character is in 32..127, else UTF-16 with
// a byte-order mark; a NUL ends it.
std::vector<uint8_t> id3_encode_text(std::u16string_view text);

// Sets a text frame of the tag at the start of the file. The tag is rewritten in place when it
// fits the room the old one takes; otherwise the file is written anew beside the old one (the
// grown tag with fresh padding, then the audio), synced and renamed over it, keeping the
// file's date. Either the file has the new text or it is unchanged.
[[nodiscard]] Id3Update set_file_text(const std::u16string& path, std::string_view id,
                                      std::u16string_view text);

} // namespace formats
