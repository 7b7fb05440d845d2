// Caller lookup against a private Evolution Data Server, a silent one, and none at all.

#include "platform/address_book.h"
#include "platform/locale.h"
#include "support/private_bus.h"
#include "telephony_support.h"

using namespace telephony_test;

// The address-book client library leaks a little in a thread of its own when it goes; it is
// only seen in the allocation's stack with a full unwind, so this binary asks for one.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libedataserver-1.2.so\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace {

constexpr char kRegistry[] = "/usr/libexec/evolution-source-registry";
constexpr char kFactory[] = "/usr/libexec/evolution-addressbook-factory";
constexpr char kAddContact[] = QV_SOURCE_DIR "/tests/telephony/eds_add_contact.py";
constexpr char kSilentMock[] = QV_SOURCE_DIR "/tests/telephony/eds_silent_mock.py";

// A private home for the address books, and a contact only the vCard folder knows.
class ContactsEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"home/data/contacts", "home/config", "home/cache", "run"})
            std::filesystem::create_directories(m_dir / folder);
        std::filesystem::permissions(m_dir / "run", std::filesystem::perms::owner_all);
        // The address books read only their own settings schemas, compiled into a private folder.
        const std::filesystem::path schemas = m_dir / "schemas";
        std::filesystem::create_directories(schemas);
        const std::string home = (m_dir / "home").string();
        for (const auto& [name, value] : {std::pair{"HOME", home},
                                          {"XDG_DATA_HOME", home + "/data"},
                                          {"XDG_CONFIG_HOME", home + "/config"},
                                          {"XDG_CACHE_HOME", home + "/cache"},
                                          {"XDG_RUNTIME_DIR", (m_dir / "run").string()},
                                          {"GSETTINGS_BACKEND", "memory"},
                                          {"QUILLORY_CONTACTS", ""},
                                          {"DBUS_SESSION_BUS_ADDRESS", ""},
                                          {"GSETTINGS_SCHEMA_DIR", schemas.string()}})
            m_env.push_back(std::make_unique<ScopedEnv>(name, value));
        std::error_code none;
        for (const auto& entry :
             std::filesystem::directory_iterator("/usr/share/glib-2.0/schemas", none))
            if (const std::string name = entry.path().filename().string();
                (name.rfind("org.gnome.evolution", 0) == 0 ||
                 name.rfind("org.gnome.Evolution", 0) == 0) &&
                name.ends_with(".gschema.xml"))
                std::filesystem::copy_file(entry.path(), schemas / name);
        ASSERT_EQ(run_command({"glib-compile-schemas", schemas.string()}).status, 0);
        platform::set_locale_for_testing("en_GB");
        write_file(m_dir / "home/data/contacts/folder.vcf",
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Folder Only\r\nN:Only;Folder;;;\r\n"
                   "TEL;TYPE=CELL:+44 161 496 0123\r\nEND:VCARD\r\n");
    }
    void TearDown() override { platform::set_locale_for_testing(""); }

    // The session bus for everything started from now on, the books' services among them.
    void use_private_bus() {
        m_bus = std::make_unique<PrivateBus>((m_dir / "run").string());
        ASSERT_TRUE(m_bus->ready());
        m_env.push_back(std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", m_bus->address()));
    }

    // First made, last gone: the services' start and end are watched too.
    Watchdog m_watchdog{120, "address book test"};
    TempDir m_dir;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
    std::unique_ptr<PrivateBus> m_bus;
};

TEST_F(ContactsEnvironment, WithoutASessionBusTheVCardFolderAnswers) {
    ContactStore store;
    EXPECT_EQ(store.address_book(), nullptr);
    ContactDetails contact;
    ASSERT_TRUE(store.find_contact_by_phone(u"0161 496 0123", contact));
    EXPECT_EQ(contact.display_name(), u"Folder Only");
}

TEST_F(ContactsEnvironment, ABookThatNeverAnswersFilesTheCallerUnderTheNumber) {
    QV_REQUIRE_DBUS_TOOLS();
    use_private_bus();
    Child registry;
    ASSERT_TRUE(
        m_bus->start_mock(registry, kSilentMock, "org.gnome.evolution.dataserver.Sources5", false));
    ContactStore store;
    ASSERT_NE(store.address_book(), nullptr);
    // The books are the contacts here: a stranger at once, or at the deadline of one that waits.
    for (const int deadline_ms : {0, 200}) {
        store.set_address_book_deadline_ms(deadline_ms);
        ContactDetails contact;
        EXPECT_FALSE(store.find_contact_by_phone(u"0161 496 0123", contact));
        EXPECT_TRUE(store.last_lookup_late());
    }
    EXPECT_EQ(store.address_book()->state(), platform::AddressBook::State::Opening);
}

class PrivateAddressBook : public ContactsEnvironment {
protected:
    void SetUp() override {
        ContactsEnvironment::SetUp();
        QV_REQUIRE_DBUS_TOOLS();
        QV_SKIP_IF_MISSING(std::filesystem::exists(kRegistry) && std::filesystem::exists(kFactory)
                               ? ""
                               : "evolution-data-server");
        use_private_bus();
        ASSERT_TRUE(m_registry.start(kRegistry, {}));
        ASSERT_TRUE(wait_for([&] { return m_bus->name_owned(m_registry_name); }, 15000));
        ASSERT_TRUE(m_factory.start(kFactory, {}));
        ASSERT_TRUE(wait_for([&] { return m_bus->name_owned(m_factory_name); }, 15000));
    }

    void add_contacts(const std::vector<std::string>& vcards) {
        std::string command = "timeout 20 /usr/bin/python3 " + std::string(kAddContact);
        for (std::size_t i = 0; i < vcards.size(); ++i) {
            const auto file = m_dir / ("card" + std::to_string(i) + ".vcf");
            write_file(file, vcards[i]);
            command += " " + file.string();
        }
        ASSERT_EQ(run_command({"/bin/sh", "-c", command + " >/dev/null"}).status, 0)
            << "contacts not added";
    }

    const std::string m_registry_name = "org.gnome.evolution.dataserver.Sources5";
    const std::string m_factory_name = "org.gnome.evolution.dataserver.AddressBook10";
    Child m_registry;
    Child m_factory;
};

TEST_F(PrivateAddressBook, NamesTheCallerWithPictureInEveryFormatOfTheNumber) {
    const std::string picture =
        read_whole_file(QV_SOURCE_DIR "/tests/data/skin/shipped_splash.png");
    ASSERT_EQ(picture.substr(0, 4), "\x89PNG");
    add_contacts({"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Lovelace\r\nN:Lovelace;Ada;;;\r\n"
                  "ORG:Analytical Engines\r\nTEL;TYPE=CELL:020 7946 0018\r\n"
                  "PHOTO;ENCODING=b;TYPE=PNG:" +
                      base64(picture) + "\r\nEND:VCARD\r\n",
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ends Alike\r\nTEL;TYPE=HOME:+1 555 946 0018\r\n"
                  "END:VCARD\r\n"});

    ContactStore store;
    ASSERT_NE(store.address_book(), nullptr);
    // Asked without waiting, the books answer in the background; the next lookup has the name.
    ContactDetails early;
    ASSERT_TRUE(
        wait_for([&] { return store.find_contact_by_phone(u"020 7946 0018", early); }, 30000));
    EXPECT_EQ(early.display_name(), u"Ada Lovelace");
    ASSERT_EQ(store.address_book()->state(), platform::AddressBook::State::Ready);
    // The answers are waited for here; the deadline is not what is tested.
    store.set_address_book_deadline_ms(15000);

    struct Case {
        std::u16string number;
        std::u16string name; // empty: a stranger
    };
    const Case cases[] = {
        {u"+44 20 7946 0018", u"Ada Lovelace"},
        {u"020 7946 0018", u"Ada Lovelace"},
        {u"02079460018", u"Ada Lovelace"},
        {u"0044 20 7946 0018", u"Ada Lovelace"},
        {u"+1 555 946 0018", u"Ends Alike"},
        {u"+44 20 7946 0019", u""},
        {u"+33 20 7946 0018", u""},
        // Known only to the vCard folder, which is not asked when the books are there.
        {u"0161 496 0123", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.number.begin(), c.number.end()));
        ContactDetails contact;
        const bool found = store.find_contact_by_phone(c.number, contact);
        EXPECT_EQ(found, !c.name.empty());
        if (!found)
            continue;
        EXPECT_EQ(contact.display_name(), c.name);
        if (c.name == u"Ada Lovelace") {
            EXPECT_EQ(contact.names[2], u"Analytical Engines");
            ASSERT_FALSE(contact.fields.empty());
            EXPECT_EQ(contact.fields[0].index, 0) << "the mobile number";
            const auto bytes = store.contact_picture(contact.item_id);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), picture);
        } else {
            EXPECT_TRUE(store.contact_picture(contact.item_id).empty());
        }
    }
}

} // namespace
