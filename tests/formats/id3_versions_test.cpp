// Tags of every version this program reads: what it finds in them, and that a title change
// keeps everything else, judged by mutagen.

#include "formats/id3_tag.h"
#include "formats_support.h"
#include "foundation/file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace formats_test;
using formats::Id3Tag;
using testing_support::TempDir;

namespace {

// Runs a Python script (mutagen's side) with the file as its argument; its output.
std::string python(const TempDir& dir, const std::string& script,
                   const std::filesystem::path& file) {
    std::filesystem::path source = dir / "script.py";
    std::ofstream(source) << script;
    std::string out;
    EXPECT_TRUE(run("/usr/bin/python3 " + quote(source) + " " + quote(file), &out)) << script;
    return out;
}

// Every frame mutagen finds, by its key, as mutagen describes it; "version" too.
std::map<std::string, std::string> mutagen_frames(const TempDir& dir,
                                                  const std::filesystem::path& file) {
    std::string out = python(dir, R"PY(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print('version\t%d.%d' % t.version[:2])
for k in sorted(t.keys()):
    print('%s\t%r' % (k, t[k]))
)PY",
                             file);
    std::map<std::string, std::string> frames;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        if (auto tab = line.find('\t'); tab != std::string::npos)
            frames[line.substr(0, tab)] = line.substr(tab + 1);
    return frames;
}

std::vector<uint8_t> audio_bytes() {
    std::vector<uint8_t> audio(3000);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = uint8_t(i * 7 + 1);
    return audio;
}

uint32_t tag_size_of(const std::filesystem::path& path) {
    foundation::File file(u16(path), foundation::File::Read);
    Id3Tag tag;
    return tag.parse(file);
}

bool ends_with_audio(const std::filesystem::path& path) {
    auto bytes = read_bytes(path);
    auto audio = audio_bytes();
    uint32_t size = tag_size_of(path);
    return size > 0 && bytes.size() == size + audio.size() &&
           std::equal(audio.begin(), audio.end(), bytes.begin() + size);
}

void put_be(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void put_syncsafe(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(uint8_t((value >> shift) & 0x7F));
}

std::vector<uint8_t> bytes_of(std::initializer_list<int> values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

std::vector<uint8_t> text_of(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A whole file: tag header of the version and flags, the frames, padding, then the audio.
std::vector<uint8_t> tagged_file(int version, uint8_t flags, const std::vector<uint8_t>& frames,
                                 size_t padding) {
    std::vector<uint8_t> out = {'I', 'D', '3', uint8_t(version), 0, flags};
    put_syncsafe(out, uint32_t(frames.size() + padding));
    out.insert(out.end(), frames.begin(), frames.end());
    out.resize(out.size() + padding, 0);
    auto audio = audio_bytes();
    out.insert(out.end(), audio.begin(), audio.end());
    return out;
}

std::vector<uint8_t> frame22(const char* id, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(id, id + 3);
    put_be(out, uint32_t(data.size()), 3);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> frame24(const char* id, uint16_t flags, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(id, id + 4);
    put_syncsafe(out, uint32_t(data.size()));
    put_be(out, flags, 2);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

const std::u16string kLongTitle = u"\u00c5ngstr\u00f6m " + std::u16string(700, u'\u00e9');

} // namespace

TEST(Id3Versions, Version22IsReadAndBecomes23WithItsFramesOnRename) {
    TempDir dir;
    auto path = dir / "v22.mp3";
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 9, 8, 7};
    auto frames = join({
        frame22("TT2", join({{0}, text_of("Old title")})),
        frame22("TP1", bytes_of({1, 0xFF, 0xFE, 'C', 0, 0xE9, 0, 'o', 0})),
        frame22("TAL", join({{0}, text_of("Album"), {0}})),
        frame22("COM", join({{0}, text_of("eng"), {0}, text_of("said")})),
        frame22("PIC", join({{0}, text_of("PNG"), {3}, {0}, png})),
        frame22("TYE", join({{0}, text_of("2024")})),
        // iTunes' compilation flag and sort orders.
        frame22("TCP", join({{0}, text_of("1")})),
        frame22("TST", join({{0}, text_of("Title, sorted")})),
        frame22("TSA", join({{0}, text_of("Album, sorted")})),
        frame22("TSP", join({{0}, text_of("Artist, sorted")})),
        frame22("TS2", join({{0}, text_of("Band, sorted")})),
        frame22("TSC", join({{0}, text_of("Composer, sorted")})),
    });
    write_bytes(path, tagged_file(2, 0, frames, 0));

    // Our reading of the hand-made tag agrees with mutagen's.
    auto theirs = mutagen_frames(dir, path);
    ASSERT_EQ(theirs["version"], "2.2");
    EXPECT_NE(theirs["TIT2"].find("Old title"), std::string::npos);
    {
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        ASSERT_EQ(tag.parse(file), 10 + frames.size());
        EXPECT_EQ(tag.version(), 2);
        EXPECT_EQ(tag.written_version(), 3);
        EXPECT_EQ(tag.frames().size(), 12u);
        EXPECT_EQ(tag.text(formats::kId3Artist), u"C\u00e9o");
        EXPECT_EQ(tag.text(formats::kId3Title), u"Old title");
        EXPECT_EQ(tag.text(formats::kId3Album), u"Album");
        EXPECT_EQ(tag.text(formats::kId3Year), u"2024");
    }

    ASSERT_EQ(formats::set_file_text(u16(path), formats::kId3Title, kLongTitle),
              formats::Id3Update::Written);
    auto after = mutagen_frames(dir, path);
    EXPECT_EQ(after["version"], "2.3");
    EXPECT_NE(after["TIT2"].find("\u00c5ngstr\u00f6m"), std::string::npos);
    EXPECT_EQ(after["TPE1"], theirs["TPE1"]);
    EXPECT_EQ(after["TALB"], theirs["TALB"]);
    EXPECT_EQ(after["COMM::eng"], theirs["COMM::eng"]);
    for (const char* id : {"TCMP", "TSOT", "TSOA", "TSOP", "TSO2", "TSOC"}) {
        EXPECT_FALSE(theirs[id].empty()) << id;
        EXPECT_EQ(after[id], theirs[id]) << id;
    }
    EXPECT_EQ(after.size(), theirs.size());
    EXPECT_NE(after["APIC:"].find("mime='image/png'"), std::string::npos) << after["APIC:"];
    EXPECT_NE(after["APIC:"].find("data=b'\\x89PNG\\r\\n\\x1a\\n\\t\\x08\\x07'"), std::string::npos)
        << after["APIC:"];
    // mutagen shows 2.3's year as 2.4's recording time.
    EXPECT_NE(after["TDRC"].find("2024"), std::string::npos);
    EXPECT_TRUE(ends_with_audio(path));
}

TEST(Id3Versions, Version22WithFramesThatHaveNo23FormStays22AndKeepsThemAll) {
    TempDir dir;
    auto path = dir / "v22.mp3";
    const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3};
    auto frames = join({
        frame22("TT2", join({{0}, text_of("Old title")})),
        frame22("TP1", join({{0}, text_of("Ann")})),
        // Encrypted meta data and a link to another file's frame have no 2.3 form.
        frame22("CRM", text_of("owner\0xx")),
        frame22("LNK", join({text_of("TT2"), text_of("http://example.org/"), {0}})),
        frame22("PIC", join({{0}, text_of("GIF"), {3}, text_of("cover"), {0}, gif})),
        frame22("TCP", join({{0}, text_of("1")})),
    });
    write_bytes(path, tagged_file(2, 0, frames, 30));
    auto theirs = mutagen_frames(dir, path);
    ASSERT_EQ(theirs["version"], "2.2");
    {
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        ASSERT_GT(tag.parse(file), 0u);
        EXPECT_EQ(tag.frames().size(), 6u);
        EXPECT_EQ(tag.written_version(), 2);
    }
    // In place (the padding has room) and rewritten whole (it has not).
    for (const std::u16string& title : {std::u16string(u"New"), kLongTitle}) {
        ASSERT_EQ(formats::set_file_text(u16(path), formats::kId3Title, title),
                  formats::Id3Update::Written);
        auto after = mutagen_frames(dir, path);
        EXPECT_EQ(after["version"], "2.2");
        EXPECT_NE(after["TIT2"].find(foundation::to_utf8(title.substr(0, 6))), std::string::npos)
            << after["TIT2"];
        after.erase("TIT2");
        auto expected = theirs;
        expected.erase("TIT2");
        EXPECT_EQ(after, expected);
        // The untouched frames are the very same bytes.
        auto bytes = read_bytes(path);
        for (const char* id : {"CRM", "LNK", "PIC", "TCP"}) {
            auto pos = std::search(frames.begin(), frames.end(), id, id + 3);
            auto length = (size_t(pos[3]) << 16 | size_t(pos[4]) << 8 | pos[5]) + 6;
            EXPECT_NE(std::search(bytes.begin(), bytes.end(), pos, pos + long(length)), bytes.end())
                << id;
        }
        EXPECT_TRUE(ends_with_audio(path));
    }
}

TEST(Id3Versions, EmptyFramesArePassedOverAndEveryFrameAfterThemIsKept) {
    TempDir dir;
    auto path = dir / "empty.mp3";
    auto frame23 = [](const char* id, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> out(id, id + 4);
        put_be(out, uint32_t(data.size()), 4);
        put_be(out, 0, 2);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    };
    // As old Windows Media Player leaves them: empty frames among the full ones.
    auto frames = join({
        frame23("TIT2", join({{0}, text_of("Title")})),
        frame23("TPE2", {}),
        frame23("TPE1", join({{0}, text_of("Artist")})),
        frame23("TALB", join({{0}, text_of("Album")})),
        frame23("TCOM", {}),
        frame23("TRCK", join({{0}, text_of("4")})),
        frame23("TYER", join({{0}, text_of("2001")})),
        frame23("TCON", join({{0}, text_of("Speech")})),
        frame23("COMM", join({{0}, text_of("eng"), {0}, text_of("kept")})),
    });
    write_bytes(path, tagged_file(3, 0, frames, 100));
    {
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        ASSERT_GT(tag.parse(file), 0u);
        EXPECT_EQ(tag.frames().size(), 7u);
        EXPECT_EQ(tag.text(formats::kId3Artist), u"Artist");
        EXPECT_EQ(tag.text(formats::kId3Album), u"Album");
    }
    auto theirs = mutagen_frames(dir, path);
    ASSERT_EQ(formats::set_file_text(u16(path), formats::kId3Title, u"Renamed"),
              formats::Id3Update::Written);
    auto after = mutagen_frames(dir, path);
    EXPECT_NE(after["TIT2"].find("'Renamed'"), std::string::npos);
    // (mutagen shows 2.3's year as 2.4's recording time.)
    for (const char* id : {"TPE1", "TALB", "TRCK", "TDRC", "TCON", "COMM::eng"}) {
        EXPECT_FALSE(after[id].empty()) << id;
        EXPECT_EQ(after[id], theirs[id]) << id;
    }
    EXPECT_TRUE(ends_with_audio(path));
}

TEST(Id3Versions, Version24FrameFlagsAndWholeTagUnsynchronisation) {
    TempDir dir;
    auto path = dir / "flags.mp3";
    // TPE1 with its own unsynchronisation and data length indicator: UTF-16's FF FE
    // byte-order mark is stored as FF 00 FE.
    const auto artist_plain = bytes_of({1, 0xFF, 0xFE, 'Z', 0, 0xFF, 0});
    std::vector<uint8_t> artist = {0, 0, 0, uint8_t(artist_plain.size())};
    auto coded = bytes_of({1, 0xFF, 0x00, 0xFE, 'Z', 0, 0xFF, 0x00, 0});
    artist.insert(artist.end(), coded.begin(), coded.end());
    const auto group = bytes_of({7});
    auto frames = join({
        frame24("TPE1", 0x0003, artist),
        frame24("TIT2", 0, join({{3}, text_of("Gr\xc3\xbc\xc3\x9f")})),
        frame24("TALB", 0x0040, join({group, bytes_of({2, 0, 'A', 0, 'l'})})),
        frame24("PRIV", 0x0000, join({text_of("me"), {0}, bytes_of({0xFF, 0xE0, 1})})),
    });
    write_bytes(path, tagged_file(4, 0, frames, 20));
    {
        auto theirs = mutagen_frames(dir, path);
        EXPECT_NE(theirs["TPE1"].find("text=['Z\u00ff']"), std::string::npos) << theirs["TPE1"];
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        ASSERT_GT(tag.parse(file), 0u);
        EXPECT_EQ(tag.text(formats::kId3Artist), u"Z\u00ff");
        EXPECT_EQ(tag.text(formats::kId3Title), u"Gr\u00fc\u00df");
        EXPECT_EQ(tag.text(formats::kId3Album), u"Al");
    }
    ASSERT_EQ(formats::set_file_text(u16(path), formats::kId3Title, u"New"),
              formats::Id3Update::Written);
    // The frames we did not touch are the very same bytes, flags included.
    auto bytes = read_bytes(path);
    auto untouched = frame24("TPE1", 0x0003, artist);
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), untouched.begin(), untouched.end()),
              bytes.end());
    auto album = frame24("TALB", 0x0040, join({group, bytes_of({2, 0, 'A', 0, 'l'})}));
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), album.begin(), album.end()), bytes.end());
    auto after = mutagen_frames(dir, path);
    EXPECT_NE(after["TIT2"].find("'New'"), std::string::npos);
    EXPECT_NE(after["TPE1"].find("text=['Z\u00ff']"), std::string::npos);
    EXPECT_TRUE(ends_with_audio(path));

    // Whole-tag unsynchronisation: 2.3 undoes it over the whole tag, 2.4 frame by frame.
    auto title23 =
        bytes_of({'T', 'I', 'T', '2', 0, 0, 0, 7, 0, 0, 1, 0xFF, 0x00, 0xFE, 'Q', 0, 0xE9, 0});
    // 7 bytes once decoded: 01 FF FE 51 00 E9 00.
    write_bytes(path, tagged_file(3, 0x80, title23, 10));
    {
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        ASSERT_GT(tag.parse(file), 0u);
        EXPECT_EQ(tag.text(formats::kId3Title), u"Q\u00e9");
    }
    auto title24 = frame24("TIT2", 0, bytes_of({1, 0xFF, 0x00, 0xFE, 'Q', 0}));
    write_bytes(path, tagged_file(4, 0x80, title24, 10));
    {
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        ASSERT_GT(tag.parse(file), 0u);
        EXPECT_EQ(tag.text(formats::kId3Title), u"Q");
    }
    EXPECT_NE(mutagen_frames(dir, path)["TIT2"].find("'Q'"), std::string::npos);
}

TEST(Id3Versions, FilesWithoutTagsOrWithBadOnesAreLeftAlone) {
    TempDir dir;
    auto plain = dir / "plain.mp3";
    write_bytes(plain, audio_bytes());
    EXPECT_EQ(formats::set_file_text(u16(plain), formats::kId3Title, u"x"),
              formats::Id3Update::NoTag);
    EXPECT_EQ(read_bytes(plain), audio_bytes());
    EXPECT_EQ(formats::set_file_text(u16(dir / "missing.mp3"), formats::kId3Title, u"x"),
              formats::Id3Update::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mp3"));
    EXPECT_EQ(formats::set_file_text(u16(dir.path()), formats::kId3Title, u"x"),
              formats::Id3Update::Failed);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t size;
        size_t frames;
    } cases[] = {
        {"version 5", tagged_file(5, 0, frame24("TIT2", 0, {0, 'a'}), 0), 0, 0},
        {"2.2 compressed", tagged_file(2, 0x40, frame22("TT2", {0, 'a'}), 0), 0, 0},
        {"2.3 footer flag", tagged_file(3, 0x10, frame24("TIT2", 0, {0, 'a'}), 0), 0, 0},
        {"2.2 frame beyond the tag", tagged_file(2, 0, bytes_of({'T', 'T', '2', 0, 1, 0}), 4), 20,
         0},
        {"2.4 extended header beyond the tag",
         tagged_file(4, 0x40, bytes_of({0x7F, 0x7F, 0x7F, 0x7F, 1, 0}), 0), 16, 0},
        {"2.4 frame with a bad identifier",
         tagged_file(4, 0, join({frame24("TIT2", 0, {0, 'a'}), frame24("ti t", 0, {0, 'b'})}), 0),
         34, 1},
        {"2.4 data length beyond the frame", tagged_file(4, 0, frame24("TIT2", 1, {0, 'a'}), 0), 22,
         1},
        {"2.2 empty frame between two",
         tagged_file(2, 0,
                     join({frame22("TT2", {0, 'a'}), frame22("TP1", {}), frame22("TAL", {0})}), 4),
         35, 2},
        {"2.4 empty frame between two",
         tagged_file(4, 0,
                     join({frame24("TIT2", 0, {0, 'a'}), frame24("TPE1", 0, {}),
                           frame24("TALB", 0, {0, 'b'})}),
                     0),
         44, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir / "bad.mp3";
        write_bytes(path, c.bytes);
        foundation::File file(u16(path), foundation::File::Read);
        Id3Tag tag;
        EXPECT_EQ(tag.parse(file), c.size);
        EXPECT_EQ(tag.frames().size(), c.frames);
        tag.text(formats::kId3Title);
    }
}
