#include "localisation/text_table.h"

#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/unicode.h"

namespace localisation {

namespace {

// The wide-character blank test: white space other than the line ends, including the Unicode
// spaces (the no-break spaces are not blanks).
bool is_blank(char16_t c) {
    switch (c) {
    case u' ':
    case u'\t':
    case u'\v':
    case u'\f':
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return (c >= 0x2000 && c <= 0x2006) || (c >= 0x2008 && c <= 0x200A);
    }
}

bool is_line_end(char16_t c) {
    return c == u'\r' || c == u'\n';
}

// UTF-8 with each malformed byte (an overlong form, a surrogate, a code point above U+10FFFF,
// a cut sequence, a stray continuation byte) read as U+FFFD. Counts the well-formed multi-byte
// sequences and the malformed bytes.
struct Utf8Reading {
    std::u16string text;
    size_t sequences{0};
    size_t malformed{0};
};

Utf8Reading decode_utf8(const uint8_t* p, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(p), size);
    Utf8Reading out;
    out.text.reserve(size);
    for (size_t i = 0; i < size;) {
        uint32_t code = 0;
        const size_t length = foundation::utf8_sequence(bytes, i, code);
        if (length == 0) {
            // One replacement for the lead byte; what follows is read afresh.
            out.text.push_back(foundation::replacement_character);
            ++out.malformed;
            ++i;
            continue;
        }
        foundation::append_utf16(out.text, code);
        out.sequences += length > 1;
        i += length;
    }
    return out;
}

std::u16string decode_utf16(const std::vector<uint8_t>& bytes, bool big_endian) {
    const size_t units = (bytes.size() - 2) / 2;
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i) {
        const uint8_t first = bytes[2 + 2 * i];
        const uint8_t second = bytes[3 + 2 * i];
        text[i] = big_endian ? char16_t((first << 8) | second) : char16_t(first | (second << 8));
    }
    return text;
}

} // namespace

std::u16string TextTable::decode(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return decode_utf16(bytes, false);
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return decode_utf16(bytes, true);
    size_t start = 0;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        start = 3;
    Utf8Reading utf8 = decode_utf8(bytes.data() + start, bytes.size() - start);
    // A file written as UTF-8 keeps its text when a few bytes in it are damaged; one whose
    // malformed bytes are as many as its sequences (or that has none) was written in Latin-1.
    if (utf8.malformed == 0 || start > 0 || utf8.malformed < utf8.sequences)
        return std::move(utf8.text);
    std::u16string text(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = char16_t(bytes[i]);
    return text;
}

TextTable::Entries TextTable::parse(const std::vector<uint8_t>& bytes) {
    const std::u16string text = decode(bytes);
    Entries entries;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        // Blanks and line ends before a key.
        while (i < n && (is_blank(text[i]) || is_line_end(text[i])))
            ++i;
        size_t key_start = i;
        while (i < n && !is_blank(text[i]) && !is_line_end(text[i]) && text[i] != u'=')
            ++i;
        size_t key_end = i;
        if (i < n && text[i] == u'=') {
            ++i;
        } else {
            while (i < n && is_blank(text[i]))
                ++i;
        }
        size_t value_start = i;
        while (i < n && !is_line_end(text[i]))
            ++i;
        if (key_end > key_start) {
            entries.insert_or_assign(text.substr(key_start, key_end - key_start),
                                     text.substr(value_start, i - value_start));
        }
    }
    return entries;
}

bool TextTable::load(const std::u16string& path) {
    std::vector<uint8_t> bytes;
    switch (foundation::read_whole_file(path, max_file_size, bytes)) {
    case foundation::WholeFile::CannotOpen:
        return false;
    case foundation::WholeFile::TooLarge:
        foundation::log() << "TextTable::load too large {" << path
                          << "} size=" << foundation::FileInfo(path).size() << "\n";
        return false;
    case foundation::WholeFile::CannotRead:
        foundation::log() << "TextTable::load failed to read {" << path << "}\n";
        return false;
    case foundation::WholeFile::Read:
        break;
    }
    Entries entries = parse(bytes);
    if (entries.empty()) {
        foundation::log() << "TextTable::load no keys in {" << path << "}\n";
        return false;
    }
    m_entries = std::move(entries);
    m_path = path;
    return true;
}

std::u16string TextTable::text(std::u16string_view key) const {
    auto found = m_entries.find(key);
    return found == m_entries.end() ? std::u16string(key) : found->second;
}

std::u16string TextTable::text(std::u16string_view key, std::u16string_view fallback) const {
    auto found = m_entries.find(key);
    return found == m_entries.end() ? std::u16string(fallback) : found->second;
}

void TextTable::assign(Entries entries, std::u16string path) {
    m_entries = std::move(entries);
    m_path = std::move(path);
}

} // namespace localisation
