// Skin images from arbitrary bytes: refused or walked completely, never read outside the bytes.

#include "fuzz_support.h"
#include "skin/skin_image.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

int g_visited = 0;

void visit(const skin::SkinImage& image, skin::NodeDir dir, int depth) {
    if (depth > 64 || ++g_visited > 4096)
        return;
    (void)image.has_integers(dir);
    (void)image.has_points(dir);
    for (int s = 0; s < skin::SkinImage::SectionCount; ++s) {
        auto section = static_cast<skin::SkinImage::Section>(s);
        for (const std::u16string& name : image.attribute_names(dir, section)) {
            switch (section) {
            case skin::SkinImage::Integers:
                (void)image.find_integer(dir, name);
                break;
            case skin::SkinImage::Fonts:
                if (auto font = image.find_font(dir, name); font && *font < image.font_count())
                    (void)image.font_spec(*font);
                break;
            case skin::SkinImage::Points:
                (void)image.find_point(dir, name);
                break;
            case skin::SkinImage::Strings:
                if (auto text = image.find_string(dir, name); text && *text < image.string_count())
                    (void)image.string_at(*text);
                break;
            case skin::SkinImage::Pictures:
                if (auto picture = image.find_picture(dir, name);
                    picture && picture->picture < image.picture_count())
                    (void)image.picture_name(picture->picture);
                break;
            case skin::SkinImage::Colors:
                (void)image.find_color(dir, name);
                break;
            default:
                break;
            }
        }
    }
    (void)image.find_integer(dir, u"x");
    (void)image.find_point(dir, u"zz");
    uint32_t children = image.child_count(dir);
    for (uint32_t i = 0; i < children && i < 256; ++i)
        visit(image, image.child(dir, i), depth + 1);
    (void)image.child(dir, children);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto image = skin::SkinImage::from_bytes(std::vector<uint8_t>(data, data + size));
    if (!image)
        return 0;
    // A half step: every point goes through the rounding.
    image->set_scale(skin::Scale::from_halves(3));
    g_visited = 0;
    for (const auto& [name, dir] : image->named_nodes()) {
        if (image->find_named_node(name) != dir)
            __builtin_trap();
        visit(*image, dir, 0);
    }
    (void)image->find_named_node(u"NoSuchNode");
    visit(*image, skin::NodeDir{}, 0);
    return 0;
}
