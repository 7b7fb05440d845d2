#include "skin/bitmap.h"

#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/text.h"

#include <cstring>
#include <limits>

namespace skin {

namespace {

constexpr size_t file_header_size = 14;
constexpr size_t info_header_size = 40;

uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

std::shared_ptr<Bitmap> refuse(const std::u16string& name, const char* reason) {
    foundation::log() << "load_565 " << name << " " << reason << "\n";
    return nullptr;
}

} // namespace

std::shared_ptr<Bitmap> decode_bmp_565(const std::vector<uint8_t>& bytes,
                                       const std::u16string& name) {
    if (bytes.size() < file_header_size + info_header_size)
        return refuse(name, "is too short for a bitmap");
    if (bytes[0] != 'B' || bytes[1] != 'M')
        return refuse(name, "is not a bitmap");
    uint32_t pixel_offset = le32(bytes, 10);
    uint32_t info_size = le32(bytes, 14);
    int32_t width = static_cast<int32_t>(le32(bytes, 18));
    int32_t height = static_cast<int32_t>(le32(bytes, 22));
    uint16_t bit_count = le16(bytes, 28);
    uint32_t compression = le32(bytes, 30);
    if (bit_count != 16)
        return refuse(name, "is not 16bit bitmap");
    // BI_RGB, or BI_BITFIELDS whose masks are skipped.
    if (info_size < info_header_size || (compression != 0 && compression != 3))
        return refuse(name, "is a compressed bitmap");
    if (height == std::numeric_limits<int32_t>::min())
        return refuse(name, "has an absurd size");
    bool top_down = height < 0;
    int32_t rows = top_down ? -height : height;
    if (width < 1 || rows < 1 || width > Surface::max_side || rows > Surface::max_side)
        return refuse(name, "has an absurd size");
    if (pixel_offset < file_header_size + info_header_size || pixel_offset > bytes.size())
        return refuse(name, "has its pixels outside the file");
    uint64_t stride = (16 * uint64_t(width) + 31) / 32 * 4;
    uint64_t row_bytes = uint64_t(width) * 2;
    // The last row's padding may be missing; its pixels may not.
    if (pixel_offset + stride * (rows - 1) + row_bytes > bytes.size())
        return refuse(name, "has truncated pixel rows");
    auto surface = Surface::create(width, rows);
    if (!surface)
        return refuse(name, "is too large");
    for (int32_t i = 0; i < rows; ++i) {
        int32_t y = top_down ? i : rows - 1 - i;
        const uint8_t* from = bytes.data() + pixel_offset + stride * i;
        uint16_t* to = surface->row(y);
        for (int32_t x = 0; x < width; ++x)
            to[x] = uint16_t(from[2 * x] | from[2 * x + 1] << 8);
    }
    return std::make_shared<Bitmap>(name, std::move(surface));
}

std::shared_ptr<Bitmap> load_565(const std::u16string& path) {
    std::u16string full = path + u".bmp";
    std::vector<uint8_t> bytes;
    // The limit is far above any picture of max_side x max_side pixels.
    switch (foundation::read_whole_file(
        full, uint64_t(Surface::max_side) * Surface::max_side * 2 + (1u << 20), bytes)) {
    case foundation::WholeFile::CannotOpen:
        return refuse(full, "cannot be opened");
    case foundation::WholeFile::TooLarge:
        return refuse(full, "is too large");
    case foundation::WholeFile::CannotRead:
        return refuse(full, "cannot be read");
    case foundation::WholeFile::Read:
        break;
    }
    return decode_bmp_565(bytes, path);
}

std::u16string picture_path(const std::u16string& skin_folder, const std::u16string& name) {
    if (skin_folder.empty())
        return name;
    return skin_folder + u"/" + name;
}

} // namespace skin
