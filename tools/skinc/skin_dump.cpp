#include "foundation/text.h"
#include "skin/skin_image.h"
#include "skin_source.h"

#include <cstdio>
#include <sstream>

namespace skinc {

namespace {

using skin::NodeDir;
using skin::SkinImage;

std::string quoted(const std::u16string& text) {
    std::string out = "\"";
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c < 0x20 || foundation::is_surrogate(c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", unsigned(c));
            out += escape;
        } else {
            out += foundation::to_utf8(std::u16string(1, c));
        }
    }
    return out + "\"";
}

// A name as a bare word when the lexer reads it back as one, else quoted.
std::string word(const std::u16string& name) {
    bool bare = !name.empty() && name != u"outer" && name != u"inner" && name != u"flag" &&
                ((name[0] >= u'a' && name[0] <= u'z') || (name[0] >= u'A' && name[0] <= u'Z') ||
                 name[0] == u'_');
    for (char16_t c : name) {
        bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                  (c >= u'0' && c <= u'9') || c == u'_' || c == u'.' || c == u'/' || c == u'-';
        bare = bare && ok;
    }
    return bare ? foundation::to_utf8(name) : quoted(name);
}

class Dumper {
public:
    explicit Dumper(const SkinImage& image) : m_image(image) {}

    std::string dump() {
        m_out << "# skinc dump\n";
        for (uint32_t i = 0; i < m_image.picture_count(); ++i)
            m_out << "picture " << word(m_image.picture_name(i)) << "\n";
        for (uint32_t i = 0; i < m_image.font_count(); ++i)
            m_out << "font f" << i << " = " << quoted(m_image.font_spec(i)) << "\n";
        for (uint32_t i = 0; i < m_image.string_count(); ++i)
            m_out << "string s" << i << " = " << quoted(m_image.string_at(i)) << "\n";
        for (const auto& [name, dir] : m_image.named_nodes()) {
            m_out << "\nnode " << word(name) << " ";
            node(dir, 0);
        }
        return m_out.str();
    }

private:
    void node(NodeDir dir, int depth) {
        std::string pad(4 * (depth + 1), ' ');
        m_out << "{\n";
        for (int s = 0; s < SkinImage::SectionCount; ++s) {
            auto section = static_cast<SkinImage::Section>(s);
            for (const auto& name : m_image.attribute_names(dir, section)) {
                m_out << pad;
                attribute(dir, section, name);
                m_out << "\n";
            }
        }
        for (uint32_t i = 0; i < m_image.child_count(dir); ++i) {
            m_out << pad << "node ";
            node(m_image.child(dir, i), depth + 1);
        }
        m_out << std::string(4 * depth, ' ') << "}\n";
    }

    void attribute(NodeDir dir, SkinImage::Section section, const std::u16string& name) {
        switch (section) {
        case SkinImage::Integers:
            m_out << "int " << word(name) << " = " << *m_image.find_integer(dir, name);
            break;
        case SkinImage::Fonts:
            m_out << "font " << word(name) << " = f" << *m_image.find_font(dir, name);
            break;
        case SkinImage::Points: {
            auto p = *m_image.find_point(dir, name);
            m_out << "point " << word(name) << " = " << p.x << ", " << p.y;
            break;
        }
        case SkinImage::Strings:
            m_out << "string " << word(name) << " = s" << *m_image.find_string(dir, name);
            break;
        case SkinImage::Pictures: {
            auto p = *m_image.find_picture(dir, name);
            m_out << "picture " << word(name) << " = " << word(m_image.picture_name(p.picture))
                  << " outer " << p.outer_min.x << "," << p.outer_min.y << " " << p.outer_max.x
                  << "," << p.outer_max.y << " inner " << p.inner_min.x << "," << p.inner_min.y
                  << " " << p.inner_max.x << "," << p.inner_max.y << " flag " << (p.flag ? 1 : 0);
            break;
        }
        case SkinImage::Colors: {
            auto c = *m_image.find_color(dir, name);
            char hex[8];
            std::snprintf(hex, sizeof hex, "#%02X%02X%02X", c.red, c.green, c.blue);
            m_out << "color " << word(name) << " = " << hex;
            break;
        }
        default:
            break;
        }
    }

    const SkinImage& m_image;
    std::ostringstream m_out;
};

} // namespace

std::string dump_skin(const std::vector<uint8_t>& bytes, std::string* reason) {
    auto image = SkinImage::from_bytes(bytes);
    if (!image) {
        if (reason)
            *reason = SkinImage::last_error();
        return {};
    }
    return Dumper(*image).dump();
}

} // namespace skinc
