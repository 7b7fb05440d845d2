#pragma once

// The contacts store: the desktop's address books (Evolution Data Server) where there are any,
// else a folder of vCard files, one contact per ".vcf" file ($XDG_DATA_HOME/contacts, or
// ~/.local/share/contacts; QUILLORY_CONTACTS names another folder, and then only that folder is
// used). Used on the UI thread only. Files that are not valid vCards are skipped; nothing read
// from them is trusted beyond the limits below.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class AddressBook;
class FileWatch;
} // namespace platform

namespace telephony {

enum FieldKind : int { Telephone = 0, EMail = 1, WebPage = 2, Other = 4 };

// One collected contact property: kind, index (0 "Mobile" .. 18 "AssistantName") and text.
struct ContactField {
    int kind{Other};
    int index{22};
    std::u16string text;
};

struct ContactDetails {
    uint32_t item_id{0};
    // Given name, family name and company.
    std::u16string names[3];
    std::vector<ContactField> fields;

    // What a recording is filed under: the formatted name, else given and family name, else
    // the company.
    std::u16string display_name() const;
};

// Field names by index, "Mobile" (0) to "AssistantName" (18).
std::u16string_view field_name(int index);

// How long a lookup waits for the address books unless told otherwise: not at all, so that the
// UI thread never waits for them. A caller they have not named yet is filed under the number;
// their answer is there for the next lookup of that number.
inline constexpr int address_book_deadline_ms = 0;

// Pictures larger than this are not used.
inline constexpr std::size_t max_picture_bytes = 200000;

class ContactListener {
public:
    virtual ~ContactListener() = default;
    virtual void on_contact_created(const ContactDetails& details) = 0;
    virtual void on_contact_changed(uint32_t item_id) = 0;
    virtual void on_contact_deleted(uint32_t item_id) = 0;
};

class ContactStore {
public:
    // Notification messages, as the contacts system numbers them.
    enum : uint32_t {
        PIM_ITEM_CREATED_LOCAL = 0x8100,
        PIM_ITEM_DELETED_LOCAL = 0x8101,
        PIM_ITEM_CHANGED_LOCAL = 0x8102,
        PIM_ITEM_CREATED_REMOTE = 0x8105,
        PIM_ITEM_DELETED_REMOTE = 0x8106,
        PIM_ITEM_CHANGED_REMOTE = 0x8107,
    };

    // The address books, and the folder from the environment.
    ContactStore();
    // That folder only.
    explicit ContactStore(std::u16string folder);
    ~ContactStore();
    ContactStore(const ContactStore&) = delete;
    ContactStore& operator=(const ContactStore&) = delete;

    const std::u16string& folder() const { return m_folder; }

    // The contact with a telephone number equal to `number`: from the address books when they
    // are there (numbers compared as numbers of the user's country; false when they have not
    // answered within the deadline), else the first in the folder (in file-name
    // order) equal on its digits, where a number written without its country code or trunk
    // prefix still matches.
    [[nodiscard]] bool find_contact_by_phone(std::u16string_view number, ContactDetails& out);
    bool read_contact(uint32_t item_id, ContactDetails& out) const;
    // The contact's picture (inline base64 or a file URI), or empty when there is none, when it
    // cannot be read or when it is larger than max_picture_bytes.
    std::vector<uint8_t> contact_picture(uint32_t item_id) const;

    // How long a lookup waits for the address books (address_book_deadline_ms unless changed).
    void set_address_book_deadline_ms(int milliseconds) { m_deadline_ms = milliseconds; }
    // Whether the last lookup found nobody because the address books had not answered yet.
    [[nodiscard]] bool last_lookup_late() const { return m_late; }
    // The address books, or nullptr when there are none to ask.
    platform::AddressBook* address_book() const { return m_book.get(); }

    // Watching the folder for created, changed and deleted contacts. start_watching() is
    // false when the folder cannot be watched; check_changes() turns what happened since the
    // last call into notifications for the listener.
    void set_listener(ContactListener* listener) { m_listener = listener; }
    [[nodiscard]] bool start_watching();
    void check_changes();
    // One notification message with its item identifier; false for other messages.
    bool handle_notification(uint32_t message, uint32_t item_id);

    // The identifier of the contact stored in the file of that name (never 0).
    static uint32_t item_id_of(std::u16string_view file_name);

private:
    std::u16string file_of(uint32_t item_id) const;
    [[nodiscard]] bool find_in_address_book(std::u16string_view number, ContactDetails& out,
                                            bool& answered);

    std::u16string m_folder;
    std::unique_ptr<platform::AddressBook> m_book;
    int m_deadline_ms{address_book_deadline_ms};
    bool m_late{false};
    // The picture of the contact the address books gave last, by its item identifier.
    uint32_t m_book_item{0};
    std::string m_book_photo_value;
    std::string m_book_photo_parameters;
    ContactListener* m_listener{nullptr};
    std::unique_ptr<platform::FileWatch> m_watch;
};

// Parsing of one vCard's text (UTF-8), for the store and its tests. False when the text holds
// no vCard. `photo` receives the raw PHOTO value and its parameters.
struct ParsedCard {
    ContactDetails details;
    std::u16string formatted_name;
    std::vector<std::u16string> phones;
    std::string photo_value;
    std::string photo_parameters;
};
[[nodiscard]] bool parse_vcard(std::string_view text, ParsedCard& out);

// True when two telephone numbers are the same on their digits, allowing for a missing country
// code or trunk prefix on one side.
[[nodiscard]] bool same_phone_number(std::u16string_view a, std::u16string_view b);

} // namespace telephony
