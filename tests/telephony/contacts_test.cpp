#include "foundation/text.h"
#include "support/temp_dir.h"
#include "telephony/contacts.h"

#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <map>

using namespace telephony;
using testing_support::TempDir;

namespace {

void write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string base64(const std::vector<uint8_t>& bytes) {
    gchar* text = g_base64_encode(bytes.data(), bytes.size());
    const std::string out(text);
    g_free(text);
    return out;
}

std::vector<uint8_t> png_bytes(std::size_t size) {
    std::vector<uint8_t> bytes(size, 0x5A);
    const uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::copy(std::begin(signature), std::end(signature), bytes.begin());
    return bytes;
}

// Folds a long line at 75 characters as vCard writers do.
std::string folded(const std::string& line) {
    std::string out = line.substr(0, 75);
    for (std::size_t i = 75; i < line.size(); i += 74)
        out += "\r\n " + line.substr(i, 74);
    return out + "\r\n";
}

} // namespace

TEST(PhoneNumbers, MatchOnDigitsAllowingMissingCountryCode) {
    EXPECT_TRUE(same_phone_number(u"+44 20 7946 0958", u"020 7946 0958"));
    EXPECT_TRUE(same_phone_number(u"0044-20-7946-0958", u"(020) 7946 0958"));
    EXPECT_TRUE(same_phone_number(u"+1 555 010 1234", u"555-010-1234"));
    EXPECT_FALSE(same_phone_number(u"020 7946 0958", u"020 7946 0959"));
    EXPECT_FALSE(same_phone_number(u"4958", u"020 7946 0958")) << "a short tail is not a match";
    EXPECT_FALSE(same_phone_number(u"", u""));
    EXPECT_FALSE(same_phone_number(u"private", u"unknown"));
}

TEST(VCard, NamesAndFieldsByIndex) {
    ParsedCard card;
    ASSERT_TRUE(parse_vcard("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;Augusta;;Countess\r\n"
                            "FN:Ada Lovelace\r\nORG:Analytical Engines;Research\r\n"
                            "TEL;TYPE=CELL:+44 7700 900123\r\nTEL;TYPE=WORK,VOICE:020 1\r\n"
                            "TEL;TYPE=WORK:020 2\r\nTEL;TYPE=WORK:020 3\r\nTEL;TYPE=FAX:020 9\r\n"
                            "item1.EMAIL;TYPE=INTERNET:ada@example.org\r\nURL:https://ex.org/\r\n"
                            "NICKNAME:Enchantress\r\nTITLE:Analyst\r\nEND:VCARD\r\n",
                            card));
    EXPECT_EQ(card.details.names[0], u"Ada");
    EXPECT_EQ(card.details.names[1], u"Lovelace");
    EXPECT_EQ(card.details.names[2], u"Analytical Engines");
    std::vector<std::pair<int, int>> kinds;
    std::map<int, std::u16string> texts;
    for (const auto& field : card.details.fields) {
        kinds.emplace_back(field.index, field.kind);
        texts[field.index] = field.text;
    }
    // clang-format off
    EXPECT_EQ(kinds, (std::vector<std::pair<int, int>>{{0, Telephone}, {1, Telephone},
        {2, Telephone}, {9, EMail}, {12, WebPage}, {13, Other}, {14, Other}, {15, Other},
        {16, Other}, {17, Other}}));
    // clang-format on
    EXPECT_EQ(texts[0], u"+44 7700 900123");
    EXPECT_EQ(texts[16], u"Research");
    EXPECT_EQ(card.phones.size(), 5u) << "a third work number and the fax still match calls";
}

TEST(VCard, OnlyAMobileNumber) {
    ParsedCard card;
    ASSERT_TRUE(parse_vcard("BEGIN:VCARD\nVERSION:4.0\nTEL;VALUE=uri;TYPE=cell:tel:+15550101\n"
                            "END:VCARD\n",
                            card));
    ASSERT_EQ(card.details.fields.size(), 1u);
    EXPECT_EQ(card.details.fields[0].index, 0);
    EXPECT_EQ(card.details.fields[0].text, u"+15550101");
    EXPECT_TRUE(card.details.names[0].empty());
}

TEST(VCard, MalformedInputIsRejectedWithoutHarm) {
    ParsedCard card;
    EXPECT_FALSE(parse_vcard("", card));
    EXPECT_FALSE(parse_vcard("BEGIN:VCARD\nFN:never ends\n", card));
    EXPECT_FALSE(parse_vcard("no card here\n\n::;;\\", card));
    static const char with_nul[] = "BEGIN:VCARD\nN:\\\0;\xff\xfe;\nEND:VCAR";
    EXPECT_FALSE(parse_vcard(std::string(with_nul, sizeof with_nul - 1), card));
    ASSERT_TRUE(parse_vcard("BEGIN:VCARD\nN:\\;;;\\\nFN;CHARSET=\"a:b\":x\nTEL\nEND:VCARD", card));
    EXPECT_EQ(card.formatted_name, u"x");
}

TEST(ContactStore, FindsByNumberAndReadsPictures) {
    TempDir dir;
    const auto picture = png_bytes(3000);
    write_file(dir / "ada.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Lovelace\r\n"
                                "N:Lovelace;Ada;;;\r\nTEL;TYPE=CELL:+44 20 7946 0958\r\n" +
                                    folded("PHOTO;ENCODING=b;TYPE=PNG:" + base64(picture)) +
                                    "END:VCARD\r\n");
    write_file(dir / "photo.png", std::string(picture.begin(), picture.end()));
    write_file(dir / "bob.vcf", "BEGIN:VCARD\nVERSION:4.0\nFN:Bob\nTEL:555 0101\n"
                                "PHOTO:file://" +
                                    (dir / "photo.png").string() + "\nEND:VCARD\n");
    // Carl's picture is one byte over the limit, Dora's just at it.
    for (const auto& [name, number, size] : {std::tuple{"Carl", "555 0202", max_picture_bytes + 1},
                                             {"Dora", "555 0303", max_picture_bytes}})
        write_file(dir / (std::string(name) + ".vcf"),
                   std::string("BEGIN:VCARD\nFN:") + name + "\nTEL:" + number +
                       "\nPHOTO:data:image/png;base64," + base64(png_bytes(size)) +
                       "\nEND:VCARD\n");
    write_file(dir / "broken.vcf", "BEGIN:VCARD\nTEL:555 0404\nPHOTO;ENCODING=b:@@@@\n");
    write_file(dir / "notes.txt", "BEGIN:VCARD\nFN:Not a contact\nTEL:555 0505\nEND:VCARD\n");

    ContactStore store(dir.path().u16string());
    // Bob has no N, so his formatted name; Carl's picture is over the limit.
    for (const auto& [number, name, size] :
         {std::tuple{u"020 7946 0958", u"Ada Lovelace", picture.size()},
          {u"5550101", u"Bob", picture.size()},
          {u"555 0202", u"Carl", size_t(0)},
          {u"555 0303", u"Dora", max_picture_bytes}}) {
        ContactDetails found;
        ASSERT_TRUE(store.find_contact_by_phone(number, found)) << foundation::to_utf8(name);
        EXPECT_EQ(found.display_name(), name);
        const auto bytes = store.contact_picture(found.item_id);
        EXPECT_EQ(bytes.size(), size) << foundation::to_utf8(name);
        if (size == picture.size()) {
            EXPECT_EQ(bytes, picture);
        }
    }
    ContactDetails none;
    EXPECT_FALSE(store.find_contact_by_phone(u"555 0404", none)) << "an unfinished card";
    EXPECT_FALSE(store.find_contact_by_phone(u"555 0505", none)) << "not a .vcf file";
    EXPECT_FALSE(ContactStore(u"/nonexistent/contacts").find_contact_by_phone(u"5550101", none));
    EXPECT_TRUE(store.contact_picture(12345).empty());
}

TEST(ContactStore, PictureLinksReadOnlyImagesInTheContactsOrHome) {
    TempDir dir;
    namespace fs = std::filesystem;
    const fs::path contacts = dir / "contacts";
    const fs::path home = dir / "home";
    fs::create_directories(contacts);
    fs::create_directories(home / "Pictures");
    testing_support::ScopedEnv home_env("HOME", home.string());
    const auto png = png_bytes(500);
    const std::string gif = "GIF89a" + std::string(200, '\x01');
    const std::string jpeg = "\xFF\xD8\xFF\xE0" + std::string(200, '\x02');
    write_file(contacts / "ada.png", std::string(png.begin(), png.end()));
    write_file(contacts / "bob.gif", gif);
    write_file(home / "Pictures" / "carl.jpg", jpeg);
    write_file(contacts / "secret.txt", "not a picture");
    write_file(dir / "outside.png", std::string(png.begin(), png.end()));
    fs::create_symlink(dir / "outside.png", contacts / "escape.png");
    // A folder whose name begins like the home folder's is not inside it.
    fs::create_directories(dir / "home2");
    write_file(dir / "home2" / "eve.png", std::string(png.begin(), png.end()));

    const std::vector<std::pair<std::string, std::string>> cards = {
        {"ada", "file://" + (contacts / "ada.png").string()},
        {"bob", "file:bob.gif"},
        {"carl", "file://localhost" + (home / "Pictures" / "carl.jpg").string()},
        {"dan", "file://" + (contacts / "secret.txt").string()},
        {"eve", "file://" + (dir / "home2" / "eve.png").string()},
        {"fay", "file://" + (dir / "outside.png").string()},
        {"gus", "file://" + (contacts / "escape.png").string()},
        {"hal", "file:///dev/zero"},
        {"ian", "file://" + (contacts / "..").string() + "/outside.png"},
        {"jo", "file://" + contacts.string()},
    };
    auto number = [](size_t i) { return "555 0" + std::to_string(100 + i); };
    for (size_t i = 0; i < cards.size(); ++i)
        write_file(contacts / (cards[i].first + ".vcf"),
                   "BEGIN:VCARD\nFN:" + cards[i].first + "\nTEL:" + number(i) +
                       "\nPHOTO:" + cards[i].second + "\nEND:VCARD\n");
    ContactStore store(contacts.u16string());
    std::map<std::string, std::size_t> sizes;
    for (size_t i = 0; i < cards.size(); ++i) {
        ContactDetails details;
        ASSERT_TRUE(store.find_contact_by_phone(foundation::from_utf8(number(i)), details)) << i;
        sizes[cards[i].first] = store.contact_picture(details.item_id).size();
    }
    EXPECT_EQ(sizes["ada"], png.size()) << "a PNG in the contacts folder";
    EXPECT_EQ(sizes["bob"], gif.size()) << "a GIF beside the card, by a relative link";
    EXPECT_EQ(sizes["carl"], jpeg.size()) << "a JPEG in the home folder";
    for (const char* refused : {"dan", "eve", "fay", "gus", "hal", "ian", "jo"})
        EXPECT_EQ(sizes[refused], 0u) << refused;
}

namespace {
struct Changes : ContactListener {
    std::vector<std::string> seen;
    void on_contact_created(const ContactDetails& details) override {
        seen.push_back("created " + foundation::to_utf8(details.display_name()));
    }
    void on_contact_changed(uint32_t id) override {
        seen.push_back("changed " + std::to_string(id));
    }
    void on_contact_deleted(uint32_t id) override {
        seen.push_back("deleted " + std::to_string(id));
    }
};
} // namespace

TEST(ContactStore, NotifiesCreatedChangedDeleted) {
    TempDir dir;
    ContactStore store(dir.path().u16string());
    Changes changes;
    store.set_listener(&changes);
    ASSERT_TRUE(store.start_watching());
    const std::string card = "BEGIN:VCARD\nFN:Eve\nTEL:555 0606\nEND:VCARD\n";
    write_file(dir / "eve.vcf", card);
    write_file(dir / "ignored.txt", card);
    store.check_changes();
    const std::string id = std::to_string(ContactStore::item_id_of(u"eve.vcf"));
    ASSERT_GE(changes.seen.size(), 1u);
    EXPECT_EQ(changes.seen[0], "created Eve");
    changes.seen.clear();
    write_file(dir / "eve.vcf", card);
    store.check_changes();
    EXPECT_EQ(changes.seen, std::vector<std::string>{"changed " + id});
    changes.seen.clear();
    std::filesystem::remove(dir / "eve.vcf");
    store.check_changes();
    EXPECT_EQ(changes.seen, std::vector<std::string>{"deleted " + id});
    EXPECT_FALSE(ContactStore(u"/nonexistent/contacts").start_watching());
}
