#include "foundation/file.h"
#include "foundation/text.h"
#include "png_convert.h"
#include "skin/skin_image.h"
#include "skin_source.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace skinc {

namespace {

constexpr uint32_t none = 0xFFFFFFFF;
constexpr uint32_t record_sizes[6] = {8, 8, 8, 4, 20, 8};

class Writer {
public:
    Writer(const Skin& skin, std::string file) : m_skin(skin), m_file(std::move(file)) {}

    std::vector<uint8_t> write() {
        m_out.assign(skin::SkinImage::header_size, 0);
        const uint16_t magic[4] = {0x0421, 0x043A, 0x0438, 0x043D};
        for (int i = 0; i < 4; ++i)
            set16(2 * i, magic[i]);

        for (const auto& [name, node] : m_skin.named)
            collect_names(*node);
        for (auto& [name, offset] : m_names) {
            offset = static_cast<uint32_t>(m_out.size());
            text(name);
            if (m_out.size() > 0x10000)
                throw SourceError(m_file, m_name_lines[name],
                                  "attribute names pass the first 65536 bytes of the skin");
        }

        uint32_t pool = static_cast<uint32_t>(m_out.size());
        for (const auto& picture : m_skin.pictures)
            text(picture.name);
        for (const auto& font : m_skin.fonts)
            text(font);
        for (const auto& string : m_skin.strings)
            text(string);

        std::vector<size_t> order(m_skin.named.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return m_skin.named[a].first < m_skin.named[b].first;
        });
        std::vector<uint32_t> name_offsets(order.size());
        for (size_t k = 0; k < order.size(); ++k) {
            name_offsets[k] = static_cast<uint32_t>(m_out.size());
            text(m_skin.named[order[k]].first);
        }
        align();

        std::vector<uint32_t> records(order.size());
        for (size_t k = 0; k < order.size(); ++k) {
            records[k] = static_cast<uint32_t>(m_out.size());
            put32(none);
            put32(none);
            put32(name_offsets[k]);
            directory(*m_skin.named[order[k]].second);
        }
        uint32_t root = link(records, 0, records.size());

        set32(72, root);
        set32(76, static_cast<uint32_t>(m_skin.pictures.size()));
        set32(80, static_cast<uint32_t>(m_skin.fonts.size()));
        set32(84, pool);
        set32(88, static_cast<uint32_t>(m_skin.strings.size()));
        return std::move(m_out);
    }

private:
    void collect_names(const Node& node) {
        for (const auto& attribute : node.attributes) {
            if (m_names.emplace(attribute.name, 0).second)
                m_name_lines[attribute.name] = attribute.line;
        }
        for (const auto& child : node.children)
            collect_names(*child);
    }

    // A balanced tree over the records of [lo, hi), which are in name order.
    uint32_t link(const std::vector<uint32_t>& records, size_t lo, size_t hi) {
        if (lo >= hi)
            return none;
        size_t mid = (lo + hi) / 2;
        set32(records[mid], link(records, lo, mid));
        set32(records[mid] + 4, link(records, mid + 1, hi));
        return records[mid];
    }

    uint32_t directory(const Node& node) {
        uint32_t dir = static_cast<uint32_t>(m_out.size());
        std::vector<const Attribute*> sections[6];
        for (const auto& attribute : node.attributes)
            sections[int(attribute.kind)].push_back(&attribute);
        uint32_t bound = 16 + 4 * static_cast<uint32_t>(node.children.size());
        uint16_t bounds[7];
        for (int s = 0; s < 6; ++s) {
            std::sort(sections[s].begin(), sections[s].end(),
                      [](const Attribute* a, const Attribute* b) { return a->name < b->name; });
            bounds[s] = static_cast<uint16_t>(bound);
            bound += record_sizes[s] * static_cast<uint32_t>(sections[s].size());
            if (bound > 0xFFFF)
                throw SourceError(m_file, node.line, "node has too many attributes");
        }
        bounds[6] = static_cast<uint16_t>(bound);
        for (uint16_t b : bounds)
            put16(b);
        put16(static_cast<uint16_t>(node.children.size()));
        for (size_t i = 0; i < node.children.size(); ++i)
            put32(none);
        for (int s = 0; s < 6; ++s) {
            for (const Attribute* a : sections[s])
                record(*a);
        }
        for (size_t i = 0; i < node.children.size(); ++i) {
            uint32_t child = directory(*node.children[i]);
            set32(dir + 16 + 4 * static_cast<uint32_t>(i), child);
        }
        return dir;
    }

    void record(const Attribute& a) {
        put16(static_cast<uint16_t>(m_names.at(a.name)));
        switch (a.kind) {
        case Kind::Integer:
        case Kind::Font:
            put16(0);
            put32(a.value);
            break;
        case Kind::Point:
            put16(0);
            put16(static_cast<uint16_t>(a.x));
            put16(static_cast<uint16_t>(a.y));
            break;
        case Kind::String:
            put16(static_cast<uint16_t>(a.value));
            break;
        case Kind::Picture:
            for (uint16_t c : a.corners)
                put16(c);
            m_out.push_back(static_cast<uint8_t>(a.value));
            m_out.push_back(a.flag);
            break;
        case Kind::Color:
            put16(0);
            m_out.push_back(a.red);
            m_out.push_back(a.green);
            m_out.push_back(a.blue);
            m_out.push_back(0);
            break;
        }
    }

    void text(const std::u16string& value) {
        for (char16_t c : value)
            put16(static_cast<uint16_t>(c));
        put16(0);
    }
    void align() {
        while (m_out.size() % 4)
            m_out.push_back(0);
    }
    void put16(uint16_t v) {
        m_out.push_back(uint8_t(v));
        m_out.push_back(uint8_t(v >> 8));
    }
    void put32(uint32_t v) {
        put16(uint16_t(v));
        put16(uint16_t(v >> 16));
    }
    void set16(size_t at, uint16_t v) {
        m_out[at] = uint8_t(v);
        m_out[at + 1] = uint8_t(v >> 8);
    }
    void set32(size_t at, uint32_t v) {
        set16(at, uint16_t(v));
        set16(at + 2, uint16_t(v >> 16));
    }

    const Skin& m_skin;
    std::string m_file;
    std::vector<uint8_t> m_out;
    std::map<std::u16string, uint32_t> m_names;
    std::map<std::u16string, int> m_name_lines;
};

} // namespace

std::vector<uint8_t> write_skin(const Skin& skin, const std::string& file_name) {
    return Writer(skin, file_name).write();
}

void write_pictures(const Skin& skin, const std::filesystem::path& out_folder,
                    const std::string& file_name) {
    for (const auto& picture : skin.pictures) {
        if (picture.file.empty())
            continue;
        std::vector<uint8_t> bytes;
        if (picture.file.extension() == ".bmp" || picture.file.extension() == ".BMP") {
            if (foundation::read_whole_file(foundation::from_utf8(picture.file.string()),
                                            UINT32_MAX, bytes) != foundation::WholeFile::Read)
                bytes.clear();
        } else {
            RgbaImage image;
            std::string reason;
            if (!read_png(picture.file, image, reason))
                throw SourceError(file_name, picture.line, reason);
            std::vector<uint16_t> pixels = to_skin_pixels(image);
            bytes = encode_bmp_565(image.width, image.height, pixels.data(), image.width);
        }
        std::filesystem::path out = out_folder / (foundation::to_utf8(picture.name) + ".bmp");
        std::error_code error;
        std::filesystem::create_directories(out.parent_path(), error);
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file)
            throw SourceError(file_name, picture.line, "cannot write " + out.string());
    }
}

void write_hires_pictures(const Skin& skin, const std::filesystem::path& out_folder,
                          const std::string& file_name, const std::filesystem::path& picture_dir,
                          const std::filesystem::path& hires_dir, skin::Scale scale) {
    for (const auto& picture : skin.pictures) {
        if (picture.file.empty() || picture_dir.empty())
            continue;
        std::filesystem::path relative = picture.file.lexically_relative(picture_dir);
        if (relative.empty() || *relative.begin() == "..")
            continue;
        std::filesystem::path hires = hires_dir / relative;
        std::error_code error;
        if (!std::filesystem::exists(hires, error))
            continue;
        RgbaImage image;
        std::string reason;
        if (!read_png(hires, image, reason))
            throw SourceError(file_name, picture.line, reason);
        std::vector<uint16_t> pixels = to_skin_pixels(image);
        std::vector<uint8_t> bytes =
            encode_bmp_565(image.width, image.height, pixels.data(), image.width);
        std::filesystem::path out =
            out_folder / (foundation::to_utf8(picture.name) + "@" + scale.name() + "x.bmp");
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file)
            throw SourceError(file_name, picture.line, "cannot write " + out.string());
    }
}

} // namespace skinc
