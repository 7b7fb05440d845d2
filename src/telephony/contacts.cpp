#include "telephony/contacts.h"

#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/threads.h"
#include "platform/address_book.h"
#include "platform/file_watch.h"
#include "platform/system_paths.h"
#include "platform/xdg_folders.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace telephony {

namespace fs = std::filesystem;

namespace {

// File names travel as the program's text; the file system gets their bytes back.
fs::path to_fs_path(std::u16string_view path) {
    return fs::path(foundation::to_utf8(path));
}

std::u16string text_of(const fs::path& path) {
    return foundation::from_utf8(path.native());
}

// A vCard file larger than this is not read at all.
constexpr std::uintmax_t max_card_bytes = 8u << 20;
constexpr int collected_fields = 19;

constexpr std::array<std::u16string_view, 22> field_names = {
    u"Mobile",        u"BusinessTel",    u"Business2Tel", u"HomeTel",    u"Home2Tel",   u"CarTel",
    u"RadioTel",      u"CompanyMainTel", u"AssistantTel", u"Email1",     u"Email2",     u"Email3",
    u"WebPage",       u"MiddleName",     u"Suffix",       u"NickName",   u"Department", u"JobTitle",
    u"AssistantName", u"BusinessFax",    u"HomeFax",      u"PagerNumber"};

int kind_of(int index) {
    if (index >= 0 && index <= 8)
        return Telephone;
    if (index >= 9 && index <= 11)
        return EMail;
    if (index == 12)
        return WebPage;
    return Other;
}

std::string ascii_lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

bool ends_with_vcf(std::u16string_view name) {
    if (name.size() < 4)
        return false;
    auto tail = name.substr(name.size() - 4);
    std::u16string lower;
    for (char16_t c : tail)
        lower += (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
    return lower == u".vcf";
}

// Unfolds continuation lines and splits into logical lines. Quoted-printable soft breaks
// ("=" at the end of a line) are joined as well.
std::vector<std::string> logical_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    std::size_t position = 0;
    while (position <= text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(position, end - position);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !lines.empty() &&
            current.empty()) {
            lines.back().append(line.substr(1));
        } else if (!current.empty()) {
            current.append(line);
            if (current.back() != '=' ||
                ascii_lower(current).find("quoted-printable") == std::string::npos) {
                lines.push_back(std::move(current));
                current.clear();
            } else {
                current.pop_back();
            }
        } else if (!line.empty() && line.back() == '=' &&
                   ascii_lower(line).find("quoted-printable") != std::string::npos) {
            current.assign(line.substr(0, line.size() - 1));
        } else {
            lines.emplace_back(line);
        }
        position = end + 1;
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Bytes written as a marker and two hexadecimal digits ("=41" or "%41") decoded; anything
// else, a marker without two digits included, kept as it is.
std::string decode_hex_escapes(std::string_view text, char marker) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == marker && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            out += char(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string decode_quoted_printable(std::string_view text) {
    return decode_hex_escapes(text, '=');
}

// Splits a structured value on unescaped ";" and resolves the text escapes.
std::vector<std::u16string> components(std::string_view value) {
    std::vector<std::u16string> parts;
    std::string current;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            current += (next == 'n' || next == 'N') ? '\n' : next;
        } else if (c == ';') {
            parts.push_back(foundation::from_utf8(current, foundation::Utf8Errors::Replace));
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(foundation::from_utf8(current, foundation::Utf8Errors::Replace));
    return parts;
}

std::u16string text_value(std::string_view value) {
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char next = value[++i];
            unescaped += (next == 'n' || next == 'N') ? '\n' : next;
        } else {
            unescaped += value[i];
        }
    }
    return foundation::from_utf8(unescaped, foundation::Utf8Errors::Replace);
}

bool has_type(const std::string& parameters, std::string_view type) {
    // Parameters are lower-cased, e.g. ";type=cell,voice;pref" or ";cell".
    std::size_t position = 0;
    while ((position = parameters.find(type, position)) != std::string::npos) {
        char before = position == 0 ? ';' : parameters[position - 1];
        std::size_t after_index = position + type.size();
        char after = after_index < parameters.size() ? parameters[after_index] : ';';
        bool starts = before == ';' || before == ',' || before == '=' || before == '"';
        bool ends = after == ';' || after == ',' || after == '"';
        if (starts && ends)
            return true;
        position = after_index;
    }
    return false;
}

// Where a telephone number goes among the collected fields: candidates in order of preference;
// empty for kinds that are not collected (fax, pager).
std::vector<int> telephone_slots(const std::string& parameters) {
    if (has_type(parameters, "fax") || has_type(parameters, "pager"))
        return {};
    if (has_type(parameters, "cell") || has_type(parameters, "mobile"))
        return {0};
    if (has_type(parameters, "car"))
        return {5};
    if (has_type(parameters, "x-radio") || has_type(parameters, "radio"))
        return {6};
    if (has_type(parameters, "main") || has_type(parameters, "x-company"))
        return {7};
    if (has_type(parameters, "x-assistant") || has_type(parameters, "assistant"))
        return {8};
    if (has_type(parameters, "work"))
        return {1, 2};
    if (has_type(parameters, "home"))
        return {3, 4};
    return {0, 3, 4, 1, 2};
}

std::optional<std::string> read_small_file(const fs::path& path, std::uintmax_t limit) {
    std::vector<uint8_t> bytes;
    if (foundation::read_whole_file(foundation::from_utf8(path.string()), limit, bytes) !=
        foundation::WholeFile::Read)
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> decode_base64(std::string_view text, std::size_t limit, bool& ok) {
    ok = false;
    std::size_t significant = 0;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '=')
            ++significant;
    if (significant * 3 / 4 > limit)
        return {};
    std::vector<uint8_t> bytes;
    bytes.reserve(significant * 3 / 4);
    uint32_t accumulator = 0;
    int bits = 0;
    bool padding = false;
    for (char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+' || c == '-')
            value = 62;
        else if (c == '/' || c == '_')
            value = 63;
        else if (c == '=') {
            padding = true;
            continue;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        else
            return {};
        if (padding)
            return {};
        accumulator = (accumulator << 6) | uint32_t(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(uint8_t(accumulator >> bits));
            accumulator &= (1u << bits) - 1;
        }
    }
    ok = true;
    return bytes;
}

std::string percent_decode(std::string_view text) {
    return decode_hex_escapes(text, '%');
}

// PNG, JPEG or GIF, by the first bytes.
bool is_picture(std::string_view bytes) {
    static constexpr std::string_view png("\x89PNG\r\n\x1A\n", 8);
    static constexpr std::string_view jpeg("\xFF\xD8\xFF", 3);
    return bytes.substr(0, png.size()) == png || bytes.substr(0, jpeg.size()) == jpeg ||
           bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a";
}

// Whether `inner` (both resolved) is `outer` or lies inside it, by whole components.
bool lies_in(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty() && std::next(o) == outer.end())
            break; // a trailing separator
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

// A card's picture link may name a regular file inside the contacts folder or the user's home
// only (links resolved first), never a device, a folder or another user's file.
bool allowed_picture_file(const fs::path& path, const fs::path& card_folder) {
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    if (error || !fs::is_regular_file(target, error))
        return false;
    for (const fs::path& base : {card_folder, fs::path(platform::home_directory())}) {
        std::error_code base_error;
        const fs::path root = fs::canonical(base, base_error);
        if (!base_error && !root.empty() && root != "/" && lies_in(target, root))
            return true;
    }
    foundation::log() << "contact_picture: refused {" << text_of(path) << "}\n";
    return false;
}

std::vector<uint8_t> picture_from(const std::string& value, const std::string& parameters,
                                  const fs::path& card_folder) {
    std::string lower_value = ascii_lower(value.substr(0, std::min<std::size_t>(value.size(), 64)));
    bool ok = false;
    if (lower_value.rfind("data:", 0) == 0) {
        auto comma = value.find(',');
        if (comma == std::string::npos ||
            ascii_lower(value.substr(0, comma)).find(";base64") == std::string::npos)
            return {};
        auto bytes =
            decode_base64(std::string_view(value).substr(comma + 1), max_picture_bytes, ok);
        return ok && bytes.size() <= max_picture_bytes ? bytes : std::vector<uint8_t>{};
    }
    if (lower_value.rfind("file:", 0) == 0) {
        std::string_view rest = std::string_view(value).substr(5);
        if (rest.rfind("//", 0) == 0) {
            rest.remove_prefix(2);
            auto slash = rest.find('/');
            if (slash == std::string_view::npos)
                return {};
            auto host = ascii_lower(rest.substr(0, slash));
            if (!host.empty() && host != "localhost")
                return {};
            rest.remove_prefix(slash);
        }
        fs::path path(percent_decode(rest));
        if (path.is_relative())
            path = card_folder / path;
        if (!allowed_picture_file(path, card_folder))
            return {};
        auto bytes = read_small_file(path, max_picture_bytes);
        if (!bytes || !is_picture(*bytes))
            return {};
        return std::vector<uint8_t>(bytes->begin(), bytes->end());
    }
    if (has_type(parameters, "b") || has_type(parameters, "base64")) {
        auto bytes = decode_base64(value, max_picture_bytes, ok);
        return ok && bytes.size() <= max_picture_bytes ? bytes : std::vector<uint8_t>{};
    }
    return {};
}

std::u16string default_folder() {
    return foundation::from_utf8(platform::contacts_directory());
}

std::string digits_of(std::u16string_view number) {
    std::string digits;
    for (char16_t c : number)
        if (c >= u'0' && c <= u'9')
            digits += char(c);
    return digits;
}

} // namespace

std::u16string_view field_name(int index) {
    if (index < 0 || index >= int(field_names.size()))
        return {};
    return field_names[std::size_t(index)];
}

std::u16string ContactDetails::display_name() const {
    std::u16string name;
    if (!names[0].empty() || !names[1].empty()) {
        name = names[0];
        if (!names[0].empty() && !names[1].empty())
            name += u' ';
        name += names[1];
        return name;
    }
    return names[2];
}

bool same_phone_number(std::u16string_view a, std::u16string_view b) {
    std::string left = digits_of(a);
    std::string right = digits_of(b);
    // International ("00") and trunk ("0") prefixes carry no identity.
    auto strip = [](std::string& digits) {
        std::size_t zeros = digits.find_first_not_of('0');
        digits.erase(0, zeros == std::string::npos ? digits.size() : zeros);
    };
    strip(left);
    strip(right);
    if (left.empty() || right.empty())
        return false;
    if (left == right)
        return true;
    const std::string& longer = left.size() > right.size() ? left : right;
    const std::string& shorter = left.size() > right.size() ? right : left;
    // The longer one may carry a country code of 1 to 3 digits in front.
    if (shorter.size() < 6 || longer.size() - shorter.size() > 3)
        return false;
    return longer.compare(longer.size() - shorter.size(), shorter.size(), shorter) == 0;
}

bool parse_vcard(std::string_view text, ParsedCard& out) {
    ParsedCard card;
    bool inside = false;
    bool complete = false;
    std::array<std::optional<std::u16string>, collected_fields> slots;
    int next_email = 9;
    for (std::string& line : logical_lines(text)) {
        std::size_t colon = std::string::npos;
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (line[i] == ':' && !quoted) {
                colon = i;
                break;
            }
        }
        if (colon == std::string::npos)
            continue;
        std::string head = ascii_lower(line.substr(0, colon));
        std::string value = line.substr(colon + 1);
        std::size_t semicolon = head.find(';');
        std::string name = head.substr(0, semicolon);
        std::string parameters = semicolon == std::string::npos ? "" : head.substr(semicolon);
        if (auto dot = name.rfind('.'); dot != std::string::npos)
            name.erase(0, dot + 1);
        if (parameters.find("quoted-printable") != std::string::npos)
            value = decode_quoted_printable(value);

        if (!inside) {
            if (name == "begin" && ascii_lower(value) == "vcard")
                inside = true;
            continue;
        }
        if (name == "end" && ascii_lower(value) == "vcard") {
            complete = true;
            break;
        }
        if (name == "fn") {
            card.formatted_name = text_value(value);
        } else if (name == "n") {
            auto parts = components(value);
            parts.resize(5);
            card.details.names[0] = parts[1];
            card.details.names[1] = parts[0];
            if (!parts[2].empty())
                slots[13] = parts[2];
            if (!parts[4].empty())
                slots[14] = parts[4];
        } else if (name == "org") {
            auto parts = components(value);
            card.details.names[2] = parts[0];
            if (parts.size() > 1 && !parts[1].empty())
                slots[16] = parts[1];
        } else if (name == "tel") {
            std::string number = value;
            if (ascii_lower(number.substr(0, 4)) == "tel:")
                number.erase(0, 4);
            std::u16string phone = text_value(number);
            card.phones.push_back(phone);
            for (int slot : telephone_slots(parameters)) {
                if (!slots[std::size_t(slot)]) {
                    slots[std::size_t(slot)] = phone;
                    break;
                }
            }
        } else if (name == "email") {
            if (next_email <= 11)
                slots[std::size_t(next_email++)] = text_value(value);
        } else if (name == "url") {
            if (!slots[12])
                slots[12] = text_value(value);
        } else if (name == "nickname") {
            slots[15] = text_value(value);
        } else if (name == "title") {
            slots[17] = text_value(value);
        } else if (name == "x-assistant") {
            slots[18] = text_value(value);
        } else if (name == "photo") {
            card.photo_value = value;
            card.photo_parameters = parameters;
        }
    }
    if (!inside || !complete)
        return false;
    for (int index = 0; index < collected_fields; ++index) {
        const auto& slot = slots[std::size_t(index)];
        if (slot && !slot->empty())
            card.details.fields.push_back({kind_of(index), index, *slot});
    }
    out = std::move(card);
    return true;
}

ContactStore::ContactStore() : ContactStore(default_folder()) {
    // A folder named by the user is their contacts; otherwise the desktop's books come first.
    if (const char* folder = std::getenv("QUILLORY_CONTACTS"); !folder || !*folder)
        m_book = platform::AddressBook::open();
}

ContactStore::ContactStore(std::u16string folder) : m_folder(std::move(folder)) {}

ContactStore::~ContactStore() = default;

uint32_t ContactStore::item_id_of(std::u16string_view file_name) {
    uint32_t hash = 2166136261u;
    for (char16_t c : file_name) {
        hash = (hash ^ uint32_t(c & 0xFF)) * 16777619u;
        hash = (hash ^ uint32_t(c >> 8)) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

namespace {

struct CardFile {
    fs::path path;
    std::u16string name;
};

std::vector<CardFile> card_files(const std::u16string& folder) {
    std::vector<CardFile> files;
    std::error_code error;
    fs::directory_iterator it(to_fs_path(folder), error);
    if (error)
        return files;
    for (const auto& entry : it) {
        std::u16string name = text_of(entry.path().filename());
        std::error_code kind_error;
        if (ends_with_vcf(name) && entry.is_regular_file(kind_error))
            files.push_back({entry.path(), name});
    }
    std::sort(files.begin(), files.end(),
              [](const CardFile& a, const CardFile& b) { return a.name < b.name; });
    return files;
}

bool load_card(const CardFile& file, ParsedCard& card) {
    auto text = read_small_file(file.path, max_card_bytes);
    if (!text) {
        foundation::log() << "contacts: skipping {" << file.name << "}\n";
        return false;
    }
    if (!parse_vcard(*text, card))
        return false;
    card.details.item_id = ContactStore::item_id_of(file.name);
    return true;
}

} // namespace

bool ContactStore::find_in_address_book(std::u16string_view number, ContactDetails& out,
                                        bool& answered) {
    answered = true;
    m_late = false;
    const std::string wanted = foundation::to_utf8(number);
    std::vector<platform::AddressBook::Card> cards;
    switch (m_book->find_by_phone(wanted, std::chrono::milliseconds(m_deadline_ms), cards)) {
    case platform::AddressBook::Answer::Found:
        break;
    case platform::AddressBook::Answer::NotFound:
        foundation::log() << "find_contact_by_phone: bad result\n";
        return false;
    case platform::AddressBook::Answer::Late:
        foundation::log() << "find_contact_by_phone: address book late\n";
        m_late = true;
        return false;
    case platform::AddressBook::Answer::Unavailable:
        answered = false;
        return false;
    }
    // The books' candidates include numbers that only end alike: each is checked here.
    for (const auto& found : cards) {
        ParsedCard card;
        if (!parse_vcard(found.vcard, card))
            continue;
        for (const auto& phone : card.phones) {
            const auto match = platform::compare_phone_numbers(foundation::to_utf8(phone), wanted);
            if (match == platform::PhoneMatch::Different ||
                (match == platform::PhoneMatch::Unknown && !same_phone_number(phone, number)))
                continue;
            if (card.details.names[0].empty() && card.details.names[1].empty() &&
                !card.formatted_name.empty())
                card.details.names[0] = card.formatted_name;
            std::string uid;
            for (const auto& line : logical_lines(found.vcard))
                if (ascii_lower(line.substr(0, 4)) == "uid:")
                    uid = line.substr(4);
            card.details.item_id = item_id_of(foundation::from_utf8(
                found.book + "\n" + uid + "\n" + found.vcard, foundation::Utf8Errors::Replace));
            m_book_item = card.details.item_id;
            m_book_photo_value = std::move(card.photo_value);
            m_book_photo_parameters = std::move(card.photo_parameters);
            out = std::move(card.details);
            return true;
        }
    }
    foundation::log() << "find_contact_by_phone: bad result\n";
    return false;
}

bool ContactStore::find_contact_by_phone(std::u16string_view number, ContactDetails& out) {
    if (m_book) {
        bool answered = false;
        const bool found = find_in_address_book(number, out, answered);
        if (answered)
            return found;
    }
    std::error_code error;
    if (!fs::is_directory(to_fs_path(m_folder), error)) {
        foundation::log() << "find_contact_by_phone: library not valid\n";
        return false;
    }
    if (digits_of(number).empty())
        return false;
    for (const auto& file : card_files(m_folder)) {
        ParsedCard card;
        if (!load_card(file, card))
            continue;
        for (const auto& phone : card.phones) {
            if (same_phone_number(phone, number)) {
                if (card.details.names[0].empty() && card.details.names[1].empty() &&
                    !card.formatted_name.empty())
                    card.details.names[0] = card.formatted_name;
                out = std::move(card.details);
                return true;
            }
        }
    }
    foundation::log() << "find_contact_by_phone: bad result\n";
    return false;
}

std::u16string ContactStore::file_of(uint32_t item_id) const {
    for (const auto& file : card_files(m_folder))
        if (item_id_of(file.name) == item_id)
            return text_of(file.path);
    return {};
}

bool ContactStore::read_contact(uint32_t item_id, ContactDetails& out) const {
    for (const auto& file : card_files(m_folder)) {
        if (item_id_of(file.name) != item_id)
            continue;
        ParsedCard card;
        if (!load_card(file, card))
            return false;
        if (card.details.names[0].empty() && card.details.names[1].empty() &&
            !card.formatted_name.empty())
            card.details.names[0] = card.formatted_name;
        out = std::move(card.details);
        return true;
    }
    return false;
}

std::vector<uint8_t> ContactStore::contact_picture(uint32_t item_id) const {
    if (item_id != 0 && item_id == m_book_item) {
        if (m_book_photo_value.empty())
            return {};
        return picture_from(m_book_photo_value, m_book_photo_parameters, to_fs_path(m_folder));
    }
    std::u16string path = file_of(item_id);
    if (path.empty())
        return {};
    ParsedCard card;
    CardFile file{to_fs_path(path), text_of(to_fs_path(path).filename())};
    if (!load_card(file, card) || card.photo_value.empty())
        return {};
    return picture_from(card.photo_value, card.photo_parameters, file.path.parent_path());
}

bool ContactStore::start_watching() {
    m_watch = platform::FileWatch::create(m_folder);
    return m_watch != nullptr;
}

void ContactStore::check_changes() {
    if (!m_watch)
        return;
    for (const auto& event : m_watch->poll()) {
        if (!ends_with_vcf(event.name))
            continue;
        uint32_t id = item_id_of(event.name);
        switch (event.change) {
        case platform::FileWatch::Change::Created:
            handle_notification(PIM_ITEM_CREATED_LOCAL, id);
            break;
        case platform::FileWatch::Change::Changed:
            handle_notification(PIM_ITEM_CHANGED_LOCAL, id);
            break;
        case platform::FileWatch::Change::Deleted:
            handle_notification(PIM_ITEM_DELETED_LOCAL, id);
            break;
        }
    }
}

bool ContactStore::handle_notification(uint32_t message, uint32_t item_id) {
    foundation::TickCounter ticks;
    switch (message) {
    case PIM_ITEM_CREATED_LOCAL:
    case PIM_ITEM_CREATED_REMOTE: {
        ContactDetails details;
        if (read_contact(item_id, details) && m_listener)
            m_listener->on_contact_created(details);
        foundation::log() << "PIM_ITEM_CREATED_LOCAL = " << ticks.lap() << "\n";
        return true;
    }
    case PIM_ITEM_DELETED_LOCAL:
    case PIM_ITEM_DELETED_REMOTE:
        if (m_listener)
            m_listener->on_contact_deleted(item_id);
        foundation::log() << "PIM_ITEM_DELETED_LOCAL = " << ticks.lap() << "\n";
        return true;
    case PIM_ITEM_CHANGED_LOCAL:
    case PIM_ITEM_CHANGED_REMOTE:
        if (m_listener)
            m_listener->on_contact_changed(item_id);
        foundation::log() << "PIM_ITEM_CHANGED_LOCAL = " << ticks.lap() << "\n";
        return true;
    default:
        return false;
    }
}

} // namespace telephony
