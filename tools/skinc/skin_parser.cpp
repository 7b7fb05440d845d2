#include "foundation/file.h"
#include "foundation/number.h"
#include "foundation/text.h"
#include "png_convert.h"
#include "skin/bitmap.h"
#include "skin_source.h"

#include <cctype>
#include <fstream>
#include <limits>
#include <set>

namespace skinc {

namespace {

constexpr int max_depth = 64;

enum class Tok { End, Ident, Number, String, Color, LBrace, RBrace, Equals, Comma };

struct Token {
    Tok type{Tok::End};
    std::string text;
    int64_t number{0};
    int line{1};
};

class Lexer {
public:
    Lexer(const std::string& text, std::string file) : m_text(text), m_file(std::move(file)) {}

    [[noreturn]] void fail(int line, const std::string& reason) const {
        throw SourceError(m_file, line, reason);
    }

    Token next() {
        skip_blank();
        Token token;
        token.line = m_line;
        if (m_pos >= m_text.size())
            return token;
        char c = m_text[m_pos];
        if (c == '{' || c == '}' || c == '=' || c == ',') {
            ++m_pos;
            token.type = c == '{'   ? Tok::LBrace
                         : c == '}' ? Tok::RBrace
                         : c == '=' ? Tok::Equals
                                    : Tok::Comma;
            token.text = std::string(1, c);
            return token;
        }
        if (c == '"')
            return string_token(token);
        if (c == '#')
            return color_token(token);
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+')
            return number_token(token);
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t start = m_pos;
            while (m_pos < m_text.size() &&
                   (std::isalnum(static_cast<unsigned char>(m_text[m_pos])) ||
                    m_text[m_pos] == '_' || m_text[m_pos] == '.' || m_text[m_pos] == '/' ||
                    m_text[m_pos] == '-'))
                ++m_pos;
            token.type = Tok::Ident;
            token.text = m_text.substr(start, m_pos - start);
            return token;
        }
        fail(m_line, std::string("unexpected character '") + c + "'");
    }

private:
    bool hex_at(size_t pos) const {
        return pos < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[pos]));
    }

    void skip_blank() {
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++m_pos;
            } else if (c == '#' && !hex_at(m_pos + 1)) {
                while (m_pos < m_text.size() && m_text[m_pos] != '\n')
                    ++m_pos;
            } else {
                break;
            }
        }
    }

    Token string_token(Token& token) {
        ++m_pos;
        std::string value;
        while (true) {
            if (m_pos >= m_text.size() || m_text[m_pos] == '\n')
                fail(token.line, "unterminated string");
            char c = m_text[m_pos++];
            if (c == '"')
                break;
            if (c != '\\') {
                value += c;
                continue;
            }
            if (m_pos >= m_text.size())
                fail(token.line, "unterminated string");
            char e = m_text[m_pos++];
            switch (e) {
            case 'n':
                value += '\n';
                break;
            case 't':
                value += '\t';
                break;
            case 'r':
                value += '\r';
                break;
            case '\\':
            case '"':
                value += e;
                break;
            case 'u': {
                if (m_pos + 4 > m_text.size())
                    fail(token.line, "bad \\u escape");
                for (size_t i = 0; i < 4; ++i)
                    if (!hex_at(m_pos + i))
                        fail(token.line, "bad \\u escape");
                const unsigned code =
                    foundation::parse_number<unsigned>(m_text.substr(m_pos, 4), 16).value_or(0);
                m_pos += 4;
                // Kept as a marker and turned into one UTF-16 unit after conversion.
                value += '\x01';
                value += static_cast<char>(0x40 | (code >> 12));
                value += static_cast<char>(0x40 | ((code >> 6) & 0x3F));
                value += static_cast<char>(0x40 | (code & 0x3F));
                break;
            }
            default:
                fail(token.line, std::string("unknown escape \\") + e);
            }
        }
        token.type = Tok::String;
        token.text = value;
        return token;
    }

    Token color_token(Token& token) {
        size_t start = ++m_pos;
        while (hex_at(m_pos))
            ++m_pos;
        if (m_pos - start != 6)
            fail(token.line, "a colour is # and six hex digits");
        token.type = Tok::Color;
        token.text = m_text.substr(start, 6);
        token.number = foundation::parse_number<int64_t>(token.text, 16).value_or(0);
        return token;
    }

    Token number_token(Token& token) {
        size_t start = m_pos;
        bool negative = false;
        if (m_text[m_pos] == '-' || m_text[m_pos] == '+')
            negative = m_text[m_pos++] == '-';
        int base = 10;
        if (m_pos + 1 < m_text.size() && m_text[m_pos] == '0' &&
            (m_text[m_pos + 1] == 'x' || m_text[m_pos + 1] == 'X')) {
            base = 16;
            m_pos += 2;
        }
        size_t digits = m_pos;
        while (
            m_pos < m_text.size() &&
            (base == 16 ? hex_at(m_pos) : std::isdigit(static_cast<unsigned char>(m_text[m_pos]))))
            ++m_pos;
        if (digits == m_pos || m_pos - digits > 12)
            fail(token.line, "bad number '" + m_text.substr(start, m_pos - start + 1) + "'");
        const int64_t value =
            foundation::parse_number<int64_t>(m_text.substr(digits, m_pos - digits), base)
                .value_or(0);
        token.type = Tok::Number;
        token.number = negative ? -value : value;
        token.text = m_text.substr(start, m_pos - start);
        return token;
    }

    const std::string& m_text;
    std::string m_file;
    size_t m_pos{0};
    int m_line{1};
};

std::u16string to_u16(const std::string& text) {
    std::u16string wide = foundation::from_utf8(text);
    std::u16string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == 1 && i + 3 < wide.size()) {
            out.push_back(static_cast<char16_t>(
                ((wide[i + 1] & 0x3F) << 12) | ((wide[i + 2] & 0x3F) << 6) | (wide[i + 3] & 0x3F)));
            i += 3;
        } else {
            out.push_back(wide[i]);
        }
    }
    return out;
}

class Parser {
public:
    Parser(const std::string& text, const std::filesystem::path& file,
           const std::filesystem::path& picture_dir)
        : m_lexer(text, file.string()), m_file(file), m_picture_dir(picture_dir) {
        advance();
    }

    Skin parse() {
        while (m_token.type != Tok::End) {
            Token word = expect(Tok::Ident, "a declaration");
            if (word.text == "picture")
                picture_declaration();
            else if (word.text == "font")
                font_declaration();
            else if (word.text == "string")
                string_declaration();
            else if (word.text == "node")
                named_node(word.line);
            else
                fail(word.line, "unknown declaration '" + word.text + "'");
        }
        return std::move(m_skin);
    }

private:
    [[noreturn]] void fail(int line, const std::string& reason) { m_lexer.fail(line, reason); }

    void advance() { m_token = m_lexer.next(); }

    Token expect(Tok type, const std::string& what) {
        if (m_token.type != type)
            fail(m_token.line, "expected " + what +
                                   (m_token.type == Tok::End ? std::string(" before the end")
                                                             : " at '" + m_token.text + "'"));
        Token token = m_token;
        advance();
        return token;
    }

    bool accept(Tok type) {
        if (m_token.type != type)
            return false;
        advance();
        return true;
    }

    std::string name(const std::string& what) {
        if (m_token.type == Tok::Ident || m_token.type == Tok::String) {
            Token token = m_token;
            advance();
            if (token.text.empty())
                fail(token.line, what + " is empty");
            return token.text;
        }
        expect(Tok::Ident, what);
        return {};
    }

    int64_t number(int64_t low, int64_t high, const std::string& what) {
        Token token = expect(Tok::Number, what);
        if (token.number < low || token.number > high)
            fail(token.line, what + " " + token.text + " out of range " + std::to_string(low) +
                                 ".." + std::to_string(high));
        return token.number;
    }

    void picture_declaration() {
        int line = m_token.line;
        PictureDecl decl;
        decl.name = to_u16(name("a picture name"));
        decl.line = line;
        for (const auto& other : m_skin.pictures) {
            if (other.name == decl.name)
                fail(line, "picture '" + foundation::to_utf8(decl.name) + "' declared twice");
        }
        if (m_skin.pictures.size() >= 256)
            fail(line, "a skin holds at most 256 pictures");
        if (accept(Tok::Equals)) {
            Token file = expect(Tok::String, "a picture file name");
            decl.file = m_file.parent_path() / file.text;
            std::error_code error;
            if (!m_picture_dir.empty() && !std::filesystem::exists(decl.file, error))
                decl.file = m_picture_dir / file.text;
            read_picture_size(decl, file.line);
        }
        m_picture_index[decl.name] = static_cast<uint32_t>(m_skin.pictures.size());
        m_skin.pictures.push_back(std::move(decl));
    }

    void read_picture_size(PictureDecl& decl, int line) {
        std::string ext = decl.file.extension().string();
        for (auto& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".png") {
            RgbaImage image;
            std::string reason;
            if (!read_png(decl.file, image, reason))
                fail(line, reason);
            decl.width = image.width;
            decl.height = image.height;
        } else if (ext == ".bmp") {
            std::vector<uint8_t> bytes;
            if (foundation::read_whole_file(foundation::from_utf8(decl.file.string()), UINT32_MAX,
                                            bytes) == foundation::WholeFile::CannotOpen)
                fail(line, "cannot open " + decl.file.string());
            auto bitmap = skin::decode_bmp_565(bytes, decl.file.u16string());
            if (!bitmap)
                fail(line, decl.file.string() + " is not a 16-bit BMP");
            decl.width = bitmap->width();
            decl.height = bitmap->height();
        } else {
            fail(line, "pictures are .png or .bmp files: " + decl.file.string());
        }
    }

    uint32_t add_font(const std::u16string& spec) {
        for (size_t i = 0; i < m_skin.fonts.size(); ++i) {
            if (m_skin.fonts[i] == spec)
                return static_cast<uint32_t>(i);
        }
        m_skin.fonts.push_back(spec);
        return static_cast<uint32_t>(m_skin.fonts.size() - 1);
    }

    uint32_t add_string(const std::u16string& text, int line) {
        auto found = m_string_index.find(text);
        if (found != m_string_index.end())
            return found->second;
        if (m_skin.strings.size() >= 0xFFFF)
            fail(line, "a skin holds at most 65535 strings");
        m_skin.strings.push_back(text);
        return m_string_index[text] = static_cast<uint32_t>(m_skin.strings.size() - 1);
    }

    void font_declaration() {
        int line = m_token.line;
        std::string alias = name("a font name");
        expect(Tok::Equals, "'='");
        Token spec = expect(Tok::String, "a font specification");
        if (m_font_alias.count(alias))
            fail(line, "font '" + alias + "' declared twice");
        // Declared fonts keep their own table entries, in order.
        m_skin.fonts.push_back(to_u16(spec.text));
        m_font_alias[alias] = static_cast<uint32_t>(m_skin.fonts.size() - 1);
    }

    void string_declaration() {
        int line = m_token.line;
        std::string alias = name("a string name");
        expect(Tok::Equals, "'='");
        Token text = expect(Tok::String, "a quoted text");
        if (m_string_alias.count(alias))
            fail(line, "string '" + alias + "' declared twice");
        if (m_skin.strings.size() >= 0xFFFF)
            fail(line, "a skin holds at most 65535 strings");
        std::u16string value = to_u16(text.text);
        m_skin.strings.push_back(value);
        uint32_t index = static_cast<uint32_t>(m_skin.strings.size() - 1);
        m_string_index.emplace(value, index);
        m_string_alias[alias] = index;
    }

    void named_node(int line) {
        std::u16string node_name = to_u16(name("a node name"));
        for (const auto& [other, node] : m_skin.named) {
            if (other == node_name)
                fail(line, "node '" + foundation::to_utf8(node_name) + "' declared twice");
        }
        auto node = body(line, 1);
        m_skin.named.emplace_back(node_name, std::move(node));
    }

    std::unique_ptr<Node> body(int line, int depth) {
        if (depth > max_depth)
            fail(line, "nodes nested too deeply");
        auto node = std::make_unique<Node>();
        node->line = line;
        expect(Tok::LBrace, "'{'");
        std::set<std::pair<int, std::u16string>> seen;
        while (!accept(Tok::RBrace)) {
            Token word = expect(Tok::Ident, "an attribute or 'node'");
            if (word.text == "node") {
                if (node->children.size() >= 0xFFFF)
                    fail(word.line, "a node holds at most 65535 children");
                node->children.push_back(body(word.line, depth + 1));
                continue;
            }
            Attribute attribute = this->attribute(word);
            if (!seen.insert({int(attribute.kind), attribute.name}).second)
                fail(word.line,
                     word.text + " '" + foundation::to_utf8(attribute.name) + "' given twice");
            node->attributes.push_back(std::move(attribute));
        }
        return node;
    }

    Attribute attribute(const Token& word) {
        Attribute attribute;
        attribute.line = word.line;
        if (word.text == "type" || word.text == "id") {
            attribute.kind = Kind::String;
            attribute.name = to_u16(word.text);
            accept(Tok::Equals);
            Token text = expect(Tok::String, "a quoted text");
            attribute.value = add_string(to_u16(text.text), text.line);
            return attribute;
        }
        attribute.name = to_u16(name("an attribute name"));
        expect(Tok::Equals, "'='");
        if (word.text == "int") {
            attribute.kind = Kind::Integer;
            attribute.value =
                static_cast<uint32_t>(number(std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<uint32_t>::max(), "integer"));
        } else if (word.text == "point") {
            attribute.kind = Kind::Point;
            attribute.x = static_cast<int16_t>(number(-32768, 32767, "x"));
            expect(Tok::Comma, "','");
            attribute.y = static_cast<int16_t>(number(-32768, 32767, "y"));
        } else if (word.text == "color") {
            attribute.kind = Kind::Color;
            if (m_token.type == Tok::Color) {
                uint32_t rgb = static_cast<uint32_t>(m_token.number);
                advance();
                attribute.red = uint8_t(rgb >> 16);
                attribute.green = uint8_t(rgb >> 8);
                attribute.blue = uint8_t(rgb);
            } else {
                attribute.red = static_cast<uint8_t>(number(0, 255, "red"));
                expect(Tok::Comma, "','");
                attribute.green = static_cast<uint8_t>(number(0, 255, "green"));
                expect(Tok::Comma, "','");
                attribute.blue = static_cast<uint8_t>(number(0, 255, "blue"));
            }
        } else if (word.text == "string") {
            attribute.kind = Kind::String;
            if (m_token.type == Tok::String) {
                Token text = expect(Tok::String, "a quoted text");
                attribute.value = add_string(to_u16(text.text), text.line);
            } else {
                Token alias = expect(Tok::Ident, "a quoted text or a string name");
                auto found = m_string_alias.find(alias.text);
                if (found == m_string_alias.end())
                    fail(alias.line, "no string named '" + alias.text + "'");
                attribute.value = found->second;
            }
        } else if (word.text == "font") {
            attribute.kind = Kind::Font;
            if (m_token.type == Tok::String) {
                Token spec = expect(Tok::String, "a font");
                attribute.value = add_font(to_u16(spec.text));
            } else {
                Token alias = expect(Tok::Ident, "a font name or specification");
                auto found = m_font_alias.find(alias.text);
                if (found == m_font_alias.end())
                    fail(alias.line, "no font named '" + alias.text + "'");
                attribute.value = found->second;
            }
        } else if (word.text == "picture") {
            picture_value(attribute);
        } else {
            fail(word.line, "unknown attribute kind '" + word.text +
                                "' (int, point, color, string, font, picture)");
        }
        return attribute;
    }

    // Two corners "x,y x,y" into the slots of the first and the second.
    void corner_pair(Attribute& attribute, int first, int second) {
        for (int slot : {first, second}) {
            attribute.corners[slot] = static_cast<uint16_t>(number(0, 65535, "x"));
            expect(Tok::Comma, "','");
            attribute.corners[slot + 1] = static_cast<uint16_t>(number(0, 65535, "y"));
        }
    }

    void picture_value(Attribute& attribute) {
        attribute.kind = Kind::Picture;
        int line = m_token.line;
        std::u16string picture = to_u16(name("a picture name"));
        auto found = m_picture_index.find(picture);
        if (found == m_picture_index.end())
            fail(line, "no picture named '" + foundation::to_utf8(picture) + "'");
        attribute.value = found->second;
        const PictureDecl& decl = m_skin.pictures[found->second];
        bool outer = false, inner = false;
        while (m_token.type == Tok::Ident) {
            if (m_token.text == "outer" && !outer) {
                advance();
                corner_pair(attribute, 0, 6);
                outer = true;
            } else if (m_token.text == "inner" && !inner) {
                advance();
                corner_pair(attribute, 2, 4);
                inner = true;
            } else if (m_token.text == "flag") {
                advance();
                attribute.flag = static_cast<uint8_t>(number(0, 1, "flag"));
            } else {
                break;
            }
        }
        uint16_t* c = attribute.corners;
        if (!outer) {
            if (decl.width < 0)
                fail(line, "picture '" + foundation::to_utf8(picture) +
                               "' has no file: give its outer corners");
            c[0] = c[1] = 0;
            c[6] = static_cast<uint16_t>(decl.width);
            c[7] = static_cast<uint16_t>(decl.height);
        }
        if (!inner) {
            c[2] = c[0];
            c[3] = c[1];
            c[4] = c[6];
            c[5] = c[7];
        }
        for (int axis = 0; axis < 2; ++axis) {
            if (!(c[axis] <= c[2 + axis] && c[2 + axis] <= c[4 + axis] &&
                  c[4 + axis] <= c[6 + axis]))
                fail(line, "picture corners must run outer_min <= inner_min <= inner_max <= "
                           "outer_max");
        }
        if (decl.width >= 0 && (c[6] > decl.width || c[7] > decl.height))
            fail(line, "picture rectangle reaches past the picture's " +
                           std::to_string(decl.width) + "x" + std::to_string(decl.height));
    }

    Lexer m_lexer;
    std::filesystem::path m_file;
    std::filesystem::path m_picture_dir;
    Token m_token;
    Skin m_skin;
    std::map<std::u16string, uint32_t> m_picture_index;
    std::map<std::string, uint32_t> m_font_alias;
    std::map<std::string, uint32_t> m_string_alias;
    std::map<std::u16string, uint32_t> m_string_index;
};

} // namespace

Skin parse_skin(const std::string& text, const std::filesystem::path& file,
                const std::filesystem::path& picture_dir) {
    return Parser(text, file, picture_dir).parse();
}

Skin parse_skin_file(const std::filesystem::path& file, const std::filesystem::path& picture_dir) {
    std::vector<uint8_t> bytes;
    if (foundation::read_whole_file(foundation::from_utf8(file.string()), UINT32_MAX, bytes) !=
        foundation::WholeFile::Read)
        throw SourceError(file.string(), 0, "cannot open the source");
    return parse_skin(std::string(bytes.begin(), bytes.end()), file, picture_dir);
}

} // namespace skinc
