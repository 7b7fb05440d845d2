// skin-render: draws a sample screen from a compiled skin into a PNG, to look at a skin's
// pictures and fonts without the program.
//
//   skin-render SKIN.skin OUT.png [DPI]
//   skin-render --form NAME SKIN.skin OUT.png [options]   (see preview.h)
//
// The skin's named node "Screen" gives picture "background", string "title", font "title_font"
// and colour "title_color"; the named node "Record" is one list row: picture "background",
// picture "icon", fonts "name_font" and "detail_font", colours "name_color" and
// "detail_color", strings "name" and "detail", integer "height". Rows fill the screen below
// the title. DPI (default 192) chooses the skin's scale (DPI / 96, to the half step below).

#include "foundation/number.h"
#include "foundation/text.h"
#include "png_convert.h"
#include "preview.h"
#include "skin/bitmap.h"
#include "skin/font_rep.h"
#include "skin/properties.h"
#include "skin/skin_image.h"
#include "skin/skin_picture.h"

#include <iostream>

using namespace skin;

namespace {

struct LoadedSkin {
    std::unique_ptr<SkinImage> image;
    std::vector<std::shared_ptr<Bitmap>> bitmaps;
    std::vector<std::shared_ptr<FontRep>> fonts;

    SkinPicture picture(NodeDir dir, std::u16string_view name) const {
        auto record = image->find_picture(dir, name);
        if (!record)
            return SkinPicture();
        return SkinPicture(bitmaps[record->picture], *record, image->scale());
    }
    std::shared_ptr<FontRep> font(NodeDir dir, std::u16string_view name) const {
        auto index = image->find_font(dir, name);
        return index ? fonts[*index] : FontRep::default_font();
    }
    std::u16string text(NodeDir dir, std::u16string_view name) const {
        auto index = image->find_string(dir, name);
        return index ? image->string_at(*index) : std::u16string();
    }
};

bool load(const std::string& path, int dpi, LoadedSkin& skin) {
    skin.image = SkinImage::load(foundation::from_utf8(path));
    if (!skin.image) {
        std::cerr << path << ": not a skin: " << SkinImage::last_error() << "\n";
        return false;
    }
    skin.image->set_scale(Scale::for_dpi(dpi));
    std::u16string folder = std::filesystem::path(path).parent_path().u16string();
    for (uint32_t i = 0; i < skin.image->picture_count(); ++i) {
        auto bitmap = load_565(picture_path(folder, skin.image->picture_name(i)));
        if (!bitmap) {
            std::cerr << path << ": picture " << foundation::to_utf8(skin.image->picture_name(i))
                      << " failed to load\n";
            return false;
        }
        skin.bitmaps.push_back(bitmap);
    }
    for (uint32_t i = 0; i < skin.image->font_count(); ++i) {
        FontSpec spec;
        spec.scale = skin.image->scale();
        apply_font_spec(skin.image->font_spec(i), spec);
        skin.fonts.push_back(std::make_shared<FontRep>(spec));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--form")
        return skinc::render_form_main(argc - 1, argv + 1);
    if (argc < 3) {
        std::cerr << "usage: skin-render SKIN.skin OUT.png [DPI]\n";
        return 2;
    }
    const auto dpi = argc > 3 ? foundation::parse_number<int>(argv[3]) : std::optional<int>(192);
    if (!dpi) {
        std::cerr << "usage: skin-render SKIN.skin OUT.png [DPI]\n";
        return 2;
    }
    LoadedSkin skin;
    if (!load(argv[1], *dpi, skin))
        return 1;
    const int32_t width = 480, height = 640;
    RenderSurface target;
    target.recreate(width, height);
    target.fill(Rect{0, 0, width, height}, Blend::fill(0));

    NodeDir screen = skin.image->find_named_node(u"Screen");
    NodeDir row = skin.image->find_named_node(u"Record");
    if (!screen.valid() || !row.valid()) {
        std::cerr << argv[1] << ": needs the named nodes Screen and Record\n";
        return 1;
    }
    skin.picture(screen, u"background").draw(target, Rect{0, 0, width, height}, Blend::copy());
    auto title_font = skin.font(screen, u"title_font");
    int32_t title_height = title_font->line_height() + 16;
    title_font->draw_text(target, skin.image->get_color(screen, u"title_color", SkinColor{}),
                          skin.text(screen, u"title"), 0, 0, width, title_height, HAlign::Center,
                          VAlign::VCenter, false);

    const Scale scale = skin.image->scale();
    int32_t row_height =
        scale.apply(static_cast<int32_t>(skin.image->get_integer(row, u"height", 40)));
    SkinPicture row_background = skin.picture(row, u"background");
    SkinPicture icon = skin.picture(row, u"icon");
    auto name_font = skin.font(row, u"name_font");
    auto detail_font = skin.font(row, u"detail_font");
    SkinColor name_color = skin.image->get_color(row, u"name_color", SkinColor{});
    SkinColor detail_color = skin.image->get_color(row, u"detail_color", SkinColor{});
    std::u16string name = skin.text(row, u"name");
    std::u16string detail = skin.text(row, u"detail");
    int32_t margin = scale.apply(4);
    int32_t y = title_height;
    for (int i = 0; y + row_height <= height; ++i, y += row_height + scale.apply(2)) {
        row_background.draw(target, Rect::of_size(margin, y, width - 2 * margin, row_height),
                            Blend::keyed(2));
        SkinPoint icon_size = icon.natural_size();
        int32_t icon_x = 2 * margin, icon_y = y + (row_height - icon_size.y) / 2;
        icon.draw(target, Rect::of_size(icon_x, icon_y, icon_size.x, icon_size.y), Blend::keyed(2));
        int32_t text_x = icon_x + icon_size.x + margin;
        int32_t text_w = width - text_x - 2 * margin;
        std::u16string numbered = name + u" " + foundation::widen(std::to_string(i + 1));
        name_font->draw_text(target, name_color, numbered, text_x, y, text_w, row_height / 2,
                             HAlign::Left, VAlign::Bottom, false);
        detail_font->draw_text(target, detail_color, detail, text_x, y + row_height / 2, text_w,
                               row_height / 2, i % 2 ? HAlign::Right : HAlign::Left, VAlign::Top,
                               false);
    }
    if (!skinc::write_png_565(argv[2], width, height, target.surface()->row(0),
                              target.surface()->pitch())) {
        std::cerr << argv[2] << ": cannot write\n";
        return 1;
    }
    return 0;
}
