#include "skin/properties.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/threads.h"
#include "skin/font_rep.h"
#include "skin/font_spec.h"

#include <algorithm>

namespace skin {

struct Properties::Loaded {
    std::unique_ptr<SkinImage> image;
    std::vector<std::shared_ptr<const Bitmap>> bitmaps;
    std::vector<uint8_t> native;
    std::vector<std::shared_ptr<FontRep>> fonts;
    std::vector<std::u16string> strings;
    Scale scale;
};

ReloadListener::ReloadListener(Properties& properties) : m_properties(&properties) {
    properties.m_listeners.push_back(this);
}

ReloadListener::~ReloadListener() {
    if (!m_properties)
        return;
    auto& list = m_properties->m_listeners;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

Properties::Properties() = default;

Properties::~Properties() {
    for (ReloadListener* listener : m_listeners)
        listener->m_properties = nullptr;
}

std::unique_ptr<Properties::Loaded> Properties::build(const std::u16string& path,
                                                      int32_t vertical_dpi) {
    auto loaded = std::make_unique<Loaded>();
    // A short read is logged by the image loader; size, magic and offset checks decide.
    loaded->image = SkinImage::load(path);
    if (!loaded->image)
        return nullptr;
    SkinImage& image = *loaded->image;
    loaded->scale = Scale::for_dpi(vertical_dpi);
    image.set_scale(loaded->scale);

    foundation::Stopwatch lap;
    const std::u16string folder =
        foundation::without_trailing_separator(foundation::directory_of(path));
    loaded->bitmaps.resize(image.picture_count());
    for (uint32_t i = 0; i < image.picture_count(); ++i) {
        const std::u16string& name = image.picture_name(i);
        std::shared_ptr<const Bitmap> bitmap = load_565(picture_path(folder, name));
        if (!bitmap || (bitmap->width() == 0 && bitmap->height() == 0)) {
            foundation::log() << "PropertiesImpl::PropertiesImpl picture failed to load {" << name
                              << "}\n";
            return nullptr;
        }
        // Above scale 1 a picture drawn at the skin's scale (NAME@1.5x.bmp, NAME@2x.bmp, ...
        // beside NAME.bmp) replaces the enlarged pixels; it is used only when it has exactly the
        // scaled size.
        if (const Scale scale = loaded->scale; scale != Scale{}) {
            const std::u16string hires_path =
                picture_path(folder, name + u"@" + foundation::from_utf8(scale.name()) + u"x");
            std::shared_ptr<const Bitmap> hires;
            // The skin's path may start with a path macro, so the look-up expands it too.
            if (foundation::FileInfo(hires_path + u".bmp").exists())
                hires = load_565(hires_path);
            if (hires && hires->width() == scale.apply(bitmap->width()) &&
                hires->height() == scale.apply(bitmap->height())) {
                bitmap = std::move(hires);
                loaded->native.resize(image.picture_count(), 0);
                loaded->native[i] = 1;
            }
        }
        loaded->bitmaps[i] = std::move(bitmap);
        foundation::log() << "PropertiesImpl::PropertiesImpl picture load time=" << lap.lap()
                          << " {" << name << "}\n";
    }

    FontRep::set_screen_dpi(vertical_dpi);
    loaded->fonts.resize(image.font_count());
    for (uint32_t i = 0; i < image.font_count(); ++i) {
        FontSpec spec;
        spec.scale = loaded->scale;
        apply_font_spec(image.font_spec(i), spec);
        loaded->fonts[i] = std::make_shared<FontRep>(spec);
    }
    loaded->strings.resize(image.string_count());
    for (uint32_t i = 0; i < image.string_count(); ++i)
        loaded->strings[i] = image.string_at(i);
    foundation::log() << "PropertiesImpl::PropertiesImpl fonts create time=" << lap.lap() << "\n";
    return loaded;
}

bool Properties::load_skin(const std::u16string& path, int32_t vertical_dpi) {
    foundation::log() << "Properties::load_skin 1\n";
    std::unique_ptr<Loaded> loaded = build(path, vertical_dpi);
    foundation::log() << "Properties::load_skin 2\n";
    if (!loaded)
        return false;
    foundation::log() << "Properties::load_skin 3\n";
    // The old skin goes with the temporary; handles given out stay valid on their own.
    std::swap(m_skin, loaded->image);
    std::swap(m_bitmaps, loaded->bitmaps);
    std::swap(m_native, loaded->native);
    std::swap(m_fonts, loaded->fonts);
    std::swap(m_strings, loaded->strings);
    std::swap(m_scale, loaded->scale);
    m_skin_path = path;
    return true;
}

void Properties::send_reload_skin() {
    foundation::Stopwatch watch;
    // A listener may subscribe or leave while others rebuild: walk a copy, skip those gone.
    const std::vector<ReloadListener*> listeners = m_listeners;
    for (ReloadListener* listener : listeners) {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->reload_skin(*this);
    }
    foundation::log() << "PropertiesImpl::send_reload_skin the rest time=" << watch.elapsed()
                      << "\n";
}

NodeDir Properties::find_named_node(std::u16string_view name) const {
    return m_skin ? m_skin->find_named_node(name) : NodeDir{};
}

uint32_t Properties::child_count(NodeDir dir) const {
    return m_skin ? m_skin->child_count(dir) : 0;
}

NodeDir Properties::child(NodeDir dir, uint32_t index) const {
    return m_skin ? m_skin->child(dir, index) : NodeDir{};
}

bool Properties::has_integers(NodeDir dir) const {
    return m_skin && m_skin->has_integers(dir);
}

bool Properties::has_points(NodeDir dir) const {
    return m_skin && m_skin->has_points(dir);
}

uint32_t Properties::get_integer(NodeDir dir, std::u16string_view name, uint32_t fallback) const {
    return m_skin ? m_skin->get_integer(dir, name, fallback) : fallback;
}

std::shared_ptr<FontRep> Properties::get_font(NodeDir dir, std::u16string_view name,
                                              std::shared_ptr<FontRep> fallback) const {
    if (!m_skin)
        return fallback;
    auto index = m_skin->find_font(dir, name);
    if (!index || *index >= m_fonts.size())
        return fallback;
    return m_fonts[*index];
}

SkinPoint Properties::get_point(NodeDir dir, std::u16string_view name, SkinPoint fallback) const {
    return m_skin ? m_skin->get_point(dir, name, fallback) : fallback;
}

const std::u16string* Properties::find_string(NodeDir dir, std::u16string_view name) const {
    if (!m_skin)
        return nullptr;
    auto index = m_skin->find_string(dir, name);
    if (!index || *index >= m_strings.size())
        return nullptr;
    return &m_strings[*index];
}

std::u16string Properties::get_string(NodeDir dir, std::u16string_view name,
                                      std::u16string_view fallback) const {
    const std::u16string* found = find_string(dir, name);
    return found ? *found : std::u16string(fallback);
}

SkinColor Properties::get_color(NodeDir dir, std::u16string_view name, SkinColor fallback) const {
    return m_skin ? m_skin->get_color(dir, name, fallback) : fallback;
}

SkinPicture Properties::get_picture(NodeDir dir, std::u16string_view name,
                                    const SkinPicture& fallback) const {
    if (!m_skin)
        return fallback;
    auto record = m_skin->find_picture(dir, name);
    if (!record || record->picture >= m_bitmaps.size())
        return fallback;
    // A drawing at the skin's scale is sampled pixel for pixel: the record's corners are already
    // in screen pixels.
    if (record->picture < m_native.size() && m_native[record->picture])
        return SkinPicture(m_bitmaps[record->picture], *record, Scale{});
    return SkinPicture(m_bitmaps[record->picture], *record, m_scale);
}

} // namespace skin
