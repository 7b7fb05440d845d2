#include "formats/id3_tag.h"
#include "formats_support.h"
#include "foundation/file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace formats_test;
using formats::Id3Tag;
using testing_support::TempDir;

namespace {

const std::vector<uint8_t> kPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4};

// What mutagen (an independent reader) finds in the file: "ID=text" lines and the picture.
std::string mutagen_dump(const std::filesystem::path& path) {
    std::string out;
    run("/usr/bin/python3 -c \"import sys\nfrom mutagen.id3 import ID3\nt = ID3(sys.argv[1])\n"
        "print('version=%d.%d' % t.version[:2])\nfor k in sorted(t.keys()):\n"
        "  f = t[k]\n"
        "  if k.startswith('APIC'): print('APIC=%s %d %s' % (f.mime, f.type, f.data.hex()))\n"
        "  else: print('%s=%s' % (k, str(f.text[0])))\" " +
            quote(path),
        &out);
    return out;
}

std::vector<uint8_t> audio_bytes() {
    std::vector<uint8_t> audio(5000);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = uint8_t(i * 31);
    return audio;
}

void append(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    foundation::File file(u16(path), foundation::File::Append);
    ASSERT_TRUE(file.write(bytes.data(), uint32_t(bytes.size())));
}

} // namespace

TEST(Id3Tags, WrittenTagIsReadByMutagenAndByUs) {
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
    }
    append(path, audio_bytes());

    std::string dump = mutagen_dump(path);
    EXPECT_NE(dump.find("version=2.3"), std::string::npos) << dump;
    EXPECT_NE(dump.find("TPE1=Ann Example\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("TIT2=Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac 12:30\n"), std::string::npos)
        << dump;
    EXPECT_NE(dump.find("TALB=Record\n"), std::string::npos);
    EXPECT_NE(dump.find("TCON=Quillory Vozir\n"), std::string::npos);
    EXPECT_NE(dump.find("APIC=image/png 0 89504e470d0a1a0a01020304\n"), std::string::npos) << dump;

    // Plain ASCII is ISO 8859-1 (encoding 0), anything else UTF-16 with a byte-order mark.
    auto bytes = read_bytes(path);
    std::string raw(bytes.begin(), bytes.end());
    size_t artist = raw.find("TPE1");
    size_t title = raw.find("TIT2");
    ASSERT_NE(artist, std::string::npos);
    EXPECT_EQ(bytes[artist + 10], 0);
    EXPECT_EQ(raw.substr(artist + 11, 11), "Ann Example");
    EXPECT_EQ(bytes[title + 10], 1);
    EXPECT_EQ(bytes[title + 11], 0xFF);
    EXPECT_EQ(bytes[title + 12], 0xFE);

    foundation::File file(u16(path), foundation::File::Read);
    Id3Tag parsed;
    uint32_t size = parsed.parse(file);
    EXPECT_EQ(size + audio_bytes().size(), bytes.size());
    EXPECT_EQ(parsed.text(formats::kId3Title), u"Caf\u00e9 \u65e5\u672c 12:30");
    EXPECT_EQ(parsed.text(formats::kId3Date), u"0612");
    EXPECT_EQ(parsed.frames().size(), 7u);
}

TEST(Id3Tags, NewTagSizeIncludesPadding) {
    TempDir dir;
    Id3Tag tag;
    // 190 bytes of data + 10 of frame header: 200.
    tag.set_text(formats::kId3Title, std::u16string(189, u'x'));
    foundation::File file(u16(dir / "t.mp3"), foundation::File::WriteNew);
    ASSERT_TRUE(tag.write(file, 0));
    file.close();
    auto bytes = read_bytes(dir / "t.mp3");
    ASSERT_EQ(bytes.size(), 1234u);
    uint32_t size = (bytes[6] << 21) | (bytes[7] << 14) | (bytes[8] << 7) | bytes[9];
    EXPECT_EQ(size, 1224u);
    // Nothing to write: refused.
    foundation::File other(u16(dir / "e.mp3"), foundation::File::WriteNew);
    EXPECT_FALSE(Id3Tag().write(other, 0));
    EXPECT_EQ(other.size(), 0u);
}

TEST(Id3Tags, RenameRewritesInPlace) {
    TempDir dir;
    auto path = dir / "rename.mp3";
    {
        Id3Tag tag;
        tag.set_text(formats::kId3Title, u"Short");
        tag.set_text(formats::kId3Artist, u"Bob");
        foundation::File file(u16(path), foundation::File::WriteNew);
        ASSERT_TRUE(tag.write(file, 0));
    }
    append(path, audio_bytes());
    auto before = read_bytes(path);

    auto rename = [&](const std::u16string& title) {
        foundation::File file(u16(path), foundation::File::ReadWrite);
        Id3Tag tag;
        uint32_t size = tag.parse(file);
        EXPECT_GT(size, 0u);
        tag.set_text(formats::kId3Title, title);
        EXPECT_TRUE(file.seek(0));
        return tag.write(file, size);
    };
    ASSERT_TRUE(rename(u"A much longer title that still fits in the padding"));
    auto after = read_bytes(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(after.end() - 5000, after.end(), audio_bytes().begin()));
    EXPECT_NE(mutagen_dump(path).find("TIT2=A much longer title that still fits in the padding"),
              std::string::npos);

    // A title beyond the padding is not written; the file stays as it was.
    EXPECT_FALSE(rename(std::u16string(2000, u'y')));
    EXPECT_EQ(read_bytes(path), after);
}

TEST(Id3Tags, PictureRules) {
    Id3Tag tag;
    tag.set_text(formats::kId3Title, u"t");
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'};
    const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
    const uint8_t other[] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        const uint8_t* bytes;
        size_t size;
        std::string mime;
    } cases[] = {{jpeg, sizeof jpeg, "image/jpeg"},
                 {gif, sizeof gif, "image/gif"},
                 {kPng.data(), kPng.size(), "image/png"},
                 {other, sizeof other, "image/xyz"}};
    for (const Case& c : cases) {
        tag.set_picture(c.bytes, c.size);
        const formats::Id3Frame* frame = tag.find(formats::kId3Picture);
        ASSERT_TRUE(frame);
        std::string data(reinterpret_cast<const char*>(frame->data.data()), frame->data.size());
        EXPECT_EQ(data.substr(0, c.mime.size() + 4),
                  std::string(1, '\0') + c.mime + std::string(3, '\0'));
        EXPECT_EQ(frame->data.size(), c.mime.size() + 4 + c.size);
    }
    EXPECT_EQ(tag.frames().size(), 2u);
    // Under 8 bytes: no picture at all.
    tag.set_picture(jpeg, 4);
    EXPECT_FALSE(tag.find(formats::kId3Picture));
    EXPECT_EQ(tag.frames().size(), 1u);
}

TEST(Id3Tags, TagsFromMutagenAreRead) {
    TempDir dir;
    auto path = dir / "theirs.mp3";
    write_bytes(path, audio_bytes());
    ASSERT_TRUE(run("/usr/bin/python3 -c \"import sys\nfrom mutagen.id3 import ID3, TPE1, TIT2, "
                    "TALB\nt = ID3()\nt.add(TPE1(encoding=1, text='\u00c5sa'))\n"
                    "t.add(TIT2(encoding=0, text='Plain'))\nt.add(TALB(encoding=3, "
                    "text='\u00dcber'))\nt.save(sys.argv[1], v2_version=3)\" " +
                    quote(path)));
    foundation::File file(u16(path), foundation::File::Read);
    Id3Tag tag;
    EXPECT_GT(tag.parse(file), 10u);
    EXPECT_EQ(tag.text(formats::kId3Artist), u"\u00c5sa");
    EXPECT_EQ(tag.text(formats::kId3Title), u"Plain");
    EXPECT_EQ(tag.text(formats::kId3Album), u"\u00dcber");
}

TEST(Id3Tags, HostileTagsAreBounded) {
    TempDir dir;
    auto make = [](uint8_t flags, uint32_t tag_size, uint32_t frame_size, size_t data) {
        std::vector<uint8_t> b = {'I', 'D', '3', 3, 0, flags};
        for (int shift = 21; shift >= 0; shift -= 7)
            b.push_back(uint8_t((tag_size >> shift) & 0x7F));
        const char id[] = "TIT2";
        b.insert(b.end(), id, id + 4);
        for (int shift = 24; shift >= 0; shift -= 8)
            b.push_back(uint8_t(frame_size >> shift));
        b.push_back(0);
        b.push_back(0);
        b.push_back(0);
        b.insert(b.end(), data, 'a');
        // Small tags are padded out to their declared size.
        if (tag_size < 1000 && b.size() < 10 + tag_size)
            b.resize(10 + tag_size, 0);
        return b;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t size;
        size_t frames;
    } cases[] = {
        {"sound", make(0, 100, 6, 5), 110, 1},
        {"flag bit 0", make(1, 100, 6, 5), 0, 0},
        {"frame of 2^28", make(0, 100, 1u << 28, 5), 110, 0},
        {"frame beyond the tag", make(0, 30, 50, 60), 40, 0},
        {"frame size 2^32 - 1", make(0, 100, 0xFFFFFFFF, 90), 110, 0},
        {"tag beyond the file", make(0, 0x0FFFFFFF, 6, 5), 0, 0},
        {"extended header cut short", make(0x40, 6, 6, 0), 16, 0},
        {"five bytes", {'I', 'D', '3', 3, 0}, 0, 0},
        {"size byte with high bit", {'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0, 0}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_bytes(dir / "h.mp3", c.bytes);
        foundation::File file(u16(dir / "h.mp3"), foundation::File::Read);
        Id3Tag tag;
        EXPECT_EQ(tag.parse(file), c.size);
        EXPECT_EQ(tag.frames().size(), c.frames);
        tag.text(formats::kId3Title);
    }
}
