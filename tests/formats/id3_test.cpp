// ID3 tags of every version this program reads: what we write is read by mutagen, what others
// write is read by us, a title change keeps everything else, and damaged tags are bounded.

#include "formats/id3_tag.h"
#include "formats_support.h"
#include "foundation/file.h"

#include <map>
#include <sstream>

using namespace formats_test;
using formats::Id3Tag;

namespace {

// Every frame mutagen finds, by its key, as mutagen describes it; "version" too.
std::map<std::string, std::string> mutagen_frames(const std::filesystem::path& file) {
    bool ok = false;
    std::istringstream lines(python(R"(import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print('version\t%d.%d' % t.version[:2])
for k in sorted(t.keys()): print('%s\t%r' % (k, t[k])))",
                                    file, &ok));
    EXPECT_TRUE(ok);
    std::map<std::string, std::string> frames;
    for (std::string line; std::getline(lines, line);)
        if (auto tab = line.find('\t'); tab != std::string::npos)
            frames[line.substr(0, tab)] = line.substr(tab + 1);
    return frames;
}

const std::vector<uint8_t> kAudio = [] {
    std::vector<uint8_t> audio(3000);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = uint8_t(i * 7 + 1);
    return audio;
}();

std::vector<uint8_t> tagged_file(int version, uint8_t flags, const std::vector<uint8_t>& frames,
                                 size_t padding) {
    return id3_file(version, flags, frames, padding, kAudio);
}

Id3Tag parsed(const std::filesystem::path& path, uint32_t* size = nullptr) {
    foundation::File file(u16(path), foundation::File::Read);
    Id3Tag tag;
    const uint32_t got = tag.parse(file);
    if (size)
        *size = got;
    return tag;
}

// The tag is followed by the very audio it had.
bool ends_with_audio(const std::filesystem::path& path) {
    auto bytes = read_bytes(path);
    uint32_t size = 0;
    parsed(path, &size);
    return size > 0 && bytes.size() == size + kAudio.size() &&
           std::equal(kAudio.begin(), kAudio.end(), bytes.begin() + size);
}

bool contains(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// Gives the file a new title; what mutagen reads after. The title is the new one, the `kept`
// frames are as mutagen read them before (and not empty), and the audio follows unchanged.
std::map<std::string, std::string> retitle(const std::filesystem::path& path,
                                           const std::u16string& title,
                                           std::initializer_list<const char*> kept = {}) {
    auto before = mutagen_frames(path);
    EXPECT_EQ(formats::set_file_text(u16(path), formats::kId3Title, title),
              formats::Id3Update::Written);
    auto after = mutagen_frames(path);
    EXPECT_THAT(after["TIT2"], HasSubstr(foundation::to_utf8(title.substr(0, 6))));
    for (const char* id : kept) {
        EXPECT_FALSE(before[id].empty()) << id;
        EXPECT_EQ(after[id], before[id]) << id;
    }
    EXPECT_TRUE(ends_with_audio(path));
    return after;
}

const std::u16string kLongTitle = u"\u00c5ngstr\u00f6m " + std::u16string(700, u'\u00e9');
const std::vector<uint8_t> kPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4};
const std::vector<uint8_t> kTitle = text_of("TIT2");
const char* kPngData = "data=b'\\x89PNG\\r\\n\\x1a\\n\\x01\\x02\\x03\\x04'";

} // namespace

TEST(Id3Tags, WrittenTagIsReadByMutagenAndByUsAndARenameFitsThePaddingOrChangesNothing) {
    TempDir dir;
    auto path = dir / "tagged.mp3";
    Id3Tag tag;
    tag.set_text(formats::kId3Artist, u"Ann Example");
    tag.set_text(formats::kId3Title, u"Caf\u00e9 \u65e5\u672c 12:30");
    tag.set_text(formats::kId3Album, u"Record");
    tag.set_text(formats::kId3Genre, u"Quillory Vozir");
    tag.set_text(formats::kId3Year, u"2026");
    tag.set_text(formats::kId3Date, u"0612");
    tag.set_picture(kPng.data(), kPng.size());
    {
        foundation::File file(u16(path), foundation::File::WriteNew);
        ASSERT_TRUE(tag.write(file, 0));
        ASSERT_TRUE(file.write(kAudio.data(), uint32_t(kAudio.size())));
    }
    auto theirs = mutagen_frames(path);
    EXPECT_EQ(theirs["version"], "2.3");
    EXPECT_THAT(theirs["TPE1"], HasSubstr("'Ann Example'"));
    EXPECT_THAT(theirs["TIT2"], HasSubstr("'Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac 12:30'"));
    EXPECT_THAT(theirs["TALB"], HasSubstr("'Record'"));
    EXPECT_THAT(theirs["TCON"], HasSubstr("'Quillory Vozir'"));
    EXPECT_THAT(theirs["APIC:"], HasSubstr("mime='image/png'"));
    EXPECT_THAT(theirs["APIC:"], HasSubstr(kPngData));

    // Plain ASCII is ISO 8859-1 (encoding 0), anything else UTF-16 with a byte-order mark.
    auto bytes = read_bytes(path);
    EXPECT_TRUE(contains(bytes, join({text_of("TPE1"), {0, 0, 0, 12, 0, 0, 0}, text_of("Ann")})));
    const auto tit2 = std::search(bytes.begin(), bytes.end(), kTitle.begin(), kTitle.end());
    ASSERT_LT(tit2 + 13, bytes.end());
    EXPECT_EQ(std::vector<uint8_t>(tit2 + 10, tit2 + 13), (std::vector<uint8_t>{1, 0xFF, 0xFE}));
    Id3Tag ours = parsed(path);
    EXPECT_EQ(ours.text(formats::kId3Title), u"Caf\u00e9 \u65e5\u672c 12:30");
    EXPECT_EQ(ours.text(formats::kId3Date), u"0612");
    EXPECT_EQ(ours.frames().size(), 7u);
    EXPECT_TRUE(ends_with_audio(path));
    // Nothing to write: refused.
    foundation::File other(u16(dir / "e.mp3"), foundation::File::WriteNew);
    EXPECT_FALSE(Id3Tag().write(other, 0));
    EXPECT_EQ(other.size(), 0u);

    // A title change in place: same size, audio untouched; beyond the padding the file stays.
    retitle(path, u"A much longer title that still fits in the padding");
    const auto after = read_bytes(path);
    ASSERT_EQ(after.size(), bytes.size());
    foundation::File file(u16(path), foundation::File::ReadWrite);
    Id3Tag again;
    const uint32_t size = again.parse(file);
    again.set_text(formats::kId3Title, std::u16string(2000, u'y'));
    EXPECT_TRUE(file.seek(0));
    EXPECT_FALSE(again.write(file, size));
    EXPECT_EQ(read_bytes(path), after);
}

TEST(Id3Versions, Version22IsReadAndBecomes23WithItsFramesOnRename) {
    TempDir dir;
    auto path = dir / "v22.mp3";
    auto frames = join({
        id3_text(2, "TT2", "Old title"),
        id3_frame(2, "TP1", {1, 0xFF, 0xFE, 'C', 0, 0xE9, 0, 'o', 0}),
        id3_frame(2, "TAL", join({{0}, text_of("Album"), {0}})),
        id3_frame(2, "COM", join({{0}, text_of("eng"), {0}, text_of("said")})),
        id3_frame(2, "PIC", join({{0}, text_of("PNG"), {3}, {0}, kPng})),
        id3_text(2, "TYE", "2024"),
        // iTunes' compilation flag and sort orders.
        id3_text(2, "TCP", "1"),
        id3_text(2, "TST", "Title, sorted"),
        id3_text(2, "TSA", "Album, sorted"),
        id3_text(2, "TSP", "Artist, sorted"),
        id3_text(2, "TS2", "Band, sorted"),
        id3_text(2, "TSC", "Composer, sorted"),
    });
    write_bytes(path, tagged_file(2, 0, frames, 0));

    // Our reading of the hand-made tag agrees with mutagen's.
    auto theirs = mutagen_frames(path);
    ASSERT_EQ(theirs["version"], "2.2");
    EXPECT_THAT(theirs["TIT2"], HasSubstr("Old title"));
    uint32_t size = 0;
    Id3Tag tag = parsed(path, &size);
    EXPECT_EQ(size, 10 + frames.size());
    EXPECT_EQ(tag.version(), 2);
    EXPECT_EQ(tag.written_version(), 3);
    EXPECT_EQ(tag.frames().size(), 12u);
    EXPECT_EQ(tag.text(formats::kId3Artist), u"C\u00e9o");
    EXPECT_EQ(tag.text(formats::kId3Album), u"Album");
    EXPECT_EQ(tag.text(formats::kId3Year), u"2024");

    auto after =
        retitle(path, kLongTitle,
                {"TPE1", "TALB", "COMM::eng", "TCMP", "TSOT", "TSOA", "TSOP", "TSO2", "TSOC"});
    EXPECT_EQ(after["version"], "2.3");
    EXPECT_EQ(after.size(), theirs.size());
    EXPECT_THAT(after["APIC:"], HasSubstr("mime='image/png'"));
    EXPECT_THAT(after["APIC:"], HasSubstr(kPngData));
    EXPECT_THAT(after["TDRC"], HasSubstr("2024")); // mutagen shows 2.3's year as 2.4's date
}

TEST(Id3Versions, Version22WithFramesThatHaveNo23FormStays22AndKeepsThemAll) {
    TempDir dir;
    auto path = dir / "v22.mp3";
    const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3};
    // Encrypted meta data and a link to another file's frame have no 2.3 form.
    const std::vector<std::vector<uint8_t>> kept = {
        id3_frame(2, "CRM", text_of("owner\0xx")),
        id3_frame(2, "LNK", join({text_of("TT2"), text_of("http://example.org/"), {0}})),
        id3_frame(2, "PIC", join({{0}, text_of("GIF"), {3}, text_of("cover"), {0}, gif})),
        id3_text(2, "TCP", "1"),
    };
    write_bytes(path, tagged_file(2, 0,
                                  join({id3_text(2, "TT2", "Old title"), id3_text(2, "TP1", "Ann"),
                                        kept[0], kept[1], kept[2], kept[3]}),
                                  30));
    auto expected = mutagen_frames(path);
    ASSERT_EQ(expected["version"], "2.2");
    expected.erase("TIT2");
    EXPECT_EQ(parsed(path).frames().size(), 6u);
    EXPECT_EQ(parsed(path).written_version(), 2);
    // In place (the padding has room) and rewritten whole (it has not).
    for (const std::u16string& title : {std::u16string(u"New"), kLongTitle}) {
        auto after = retitle(path, title);
        after.erase("TIT2");
        EXPECT_EQ(after, expected);
        // The untouched frames are the very same bytes.
        for (const auto& frame : kept)
            EXPECT_TRUE(contains(read_bytes(path), frame));
    }
}

TEST(Id3Versions, Version24FrameFlagsAndWholeTagUnsynchronisation) {
    TempDir dir;
    auto path = dir / "flags.mp3";
    // TPE1 with its own unsynchronisation and data length indicator: UTF-16's FF FE
    // byte-order mark is stored as FF 00 FE.
    const auto artist =
        id3_frame(4, "TPE1", {0, 0, 0, 7, 1, 0xFF, 0x00, 0xFE, 'Z', 0, 0xFF, 0x00, 0}, 0x0003);
    const auto album = id3_frame(4, "TALB", {7, 2, 0, 'A', 0, 'l'}, 0x0040); // with a group
    write_bytes(
        path,
        tagged_file(4, 0,
                    join({artist, id3_frame(4, "TIT2", join({{3}, text_of("Gr\xc3\xbc\xc3\x9f")})),
                          album, id3_frame(4, "PRIV", join({text_of("me"), {0, 0xFF, 0xE0, 1}}))}),
                    20));
    EXPECT_THAT(mutagen_frames(path)["TPE1"], HasSubstr("text=['Z\u00ff']"));
    Id3Tag tag = parsed(path);
    EXPECT_EQ(tag.text(formats::kId3Artist), u"Z\u00ff");
    EXPECT_EQ(tag.text(formats::kId3Title), u"Gr\u00fc\u00df");
    EXPECT_EQ(tag.text(formats::kId3Album), u"Al");
    retitle(path, u"New", {"TPE1"});
    // The frames we did not touch are the very same bytes, flags included.
    EXPECT_TRUE(contains(read_bytes(path), artist));
    EXPECT_TRUE(contains(read_bytes(path), album));

    // Whole-tag unsynchronisation: 2.3 undoes it over the whole tag (7 bytes once decoded:
    // 01 FF FE 51 00 E9 00), 2.4 frame by frame.
    write_bytes(path, tagged_file(3, 0x80,
                                  {'T', 'I', 'T', '2', 0, 0, 0, 7, 0, 0, 1, 0xFF, 0x00, 0xFE, 'Q',
                                   0, 0xE9, 0},
                                  10));
    EXPECT_EQ(parsed(path).text(formats::kId3Title), u"Q\u00e9");
    write_bytes(path,
                tagged_file(4, 0x80, id3_frame(4, "TIT2", {1, 0xFF, 0x00, 0xFE, 'Q', 0}), 10));
    EXPECT_EQ(parsed(path).text(formats::kId3Title), u"Q");
    EXPECT_THAT(mutagen_frames(path)["TIT2"], HasSubstr("'Q'"));
}

TEST(Id3Versions, MissingOrDamagedTagsAreBoundedAndLeftAlone) {
    TempDir dir;
    auto plain = dir / "plain.mp3";
    write_bytes(plain, kAudio);
    const std::pair<std::filesystem::path, formats::Id3Update> files[] = {
        {plain, formats::Id3Update::NoTag},
        {dir / "missing.mp3", formats::Id3Update::Failed},
        {dir.path(), formats::Id3Update::Failed}};
    for (const auto& [path, update] : files)
        EXPECT_EQ(formats::set_file_text(u16(path), formats::kId3Title, u"x"), update) << path;
    EXPECT_EQ(read_bytes(plain), kAudio);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mp3"));

    // A 2.3 title frame of `frame_size` in a tag of `tag_size`, small tags padded out.
    auto v23 = [](uint8_t flags, uint32_t tag_size, uint32_t frame_size, size_t data) {
        std::vector<uint8_t> b = {'I', 'D', '3', 3, 0, flags};
        put_syncsafe(b, tag_size);
        b.insert(b.end(), {'T', 'I', 'T', '2'});
        put_be(b, frame_size, 4);
        b.insert(b.end(), {0, 0, 0});
        b.insert(b.end(), data, 'a');
        if (tag_size < 1000 && b.size() < 10 + tag_size)
            b.resize(10 + tag_size, 0);
        return b;
    };
    auto a = [](int version) {
        return id3_frame(version, version == 2 ? "TT2" : "TIT2", {0, 'a'});
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t size;
        size_t frames;
    } cases[] = {
        {"sound", v23(0, 100, 6, 5), 110, 1},
        {"flag bit 0", v23(1, 100, 6, 5), 0, 0},
        {"frame of 2^28", v23(0, 100, 1u << 28, 5), 110, 0},
        {"frame beyond the tag", v23(0, 30, 50, 60), 40, 0},
        {"frame size 2^32 - 1", v23(0, 100, 0xFFFFFFFF, 90), 110, 0},
        {"tag beyond the file", v23(0, 0x0FFFFFFF, 6, 5), 0, 0},
        {"extended header cut short", v23(0x40, 6, 6, 0), 16, 0},
        {"five bytes", {'I', 'D', '3', 3, 0}, 0, 0},
        {"size byte with high bit", {'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0, 0}, 0, 0},
        {"version 5", tagged_file(5, 0, a(4), 0), 0, 0},
        {"2.2 compressed", tagged_file(2, 0x40, a(2), 0), 0, 0},
        {"2.3 footer flag", tagged_file(3, 0x10, a(4), 0), 0, 0},
        {"2.2 frame beyond the tag", tagged_file(2, 0, {'T', 'T', '2', 0, 1, 0}, 4), 20, 0},
        {"2.4 extended header beyond the tag",
         tagged_file(4, 0x40, {0x7F, 0x7F, 0x7F, 0x7F, 1, 0}, 0), 16, 0},
        {"2.4 frame with a bad identifier",
         tagged_file(4, 0, join({a(4), id3_frame(4, "ti t", {0, 'b'})}), 0), 34, 1},
        {"2.4 data length beyond the frame",
         tagged_file(4, 0, id3_frame(4, "TIT2", {0, 'a'}, 1), 0), 22, 1},
        {"2.2 empty frame between two",
         tagged_file(2, 0, join({a(2), id3_frame(2, "TP1", {}), id3_frame(2, "TAL", {0})}), 4), 35,
         2},
        {"2.3 empty frame between two",
         tagged_file(3, 0, join({a(3), id3_frame(3, "TPE1", {}), id3_frame(3, "TALB", {0, 'b'})}),
                     0),
         44, 2},
        {"2.4 empty frame between two",
         tagged_file(4, 0, join({a(4), id3_frame(4, "TPE1", {}), id3_frame(4, "TALB", {0, 'b'})}),
                     0),
         44, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_bytes(dir / "bad.mp3", c.bytes);
        uint32_t size = 0;
        Id3Tag tag = parsed(dir / "bad.mp3", &size);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(tag.frames().size(), c.frames);
        tag.text(formats::kId3Title);
    }
}
