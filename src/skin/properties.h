#pragma once

// The one object through which the user interface reads its look and its words: the text table
// of the current language and a loaded skin (the file image and its picture, font and string
// tables). Loading a new skin replaces the old one only when the new one loaded whole; listeners
// subscribed to the object rebuild from it when send_reload_skin() runs.
// User-interface thread only.

#include "localisation/text_table.h"
#include "skin/bitmap.h"
#include "skin/scale.h"
#include "skin/skin_color.h"
#include "skin/skin_image.h"
#include "skin/skin_picture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

class FontRep;
class Properties;

// Told when the skin of the Properties it subscribed to has changed. Subscribes itself when
// constructed (at the end of the list) and leaves when destroyed.
class ReloadListener {
public:
    explicit ReloadListener(Properties& properties);
    virtual ~ReloadListener();
    ReloadListener(const ReloadListener&) = delete;
    ReloadListener& operator=(const ReloadListener&) = delete;

    virtual void reload_skin(Properties& properties) = 0;

    // The Properties subscribed to; null once it is gone.
    Properties* properties() const { return m_properties; }

private:
    friend class Properties;
    Properties* m_properties;
};

class Properties {
public:
    Properties();
    ~Properties();
    Properties(const Properties&) = delete;
    Properties& operator=(const Properties&) = delete;

    // Loads the skin file (path macros allowed) for a screen with this many logical pixels per
    // inch vertically, at Scale::for_dpi of them. True when it became the skin in use; on false
    // the skin in use (if any) stays as it was. A missing or undecodable picture fails the whole
    // load.
    bool load_skin(const std::u16string& path, int32_t vertical_dpi);
    bool loaded() const { return m_skin != nullptr; }
    // The file of the skin in use (empty before the first load).
    const std::u16string& skin_path() const { return m_skin_path; }

    // Calls reload_skin(*this) on every listener, in the order they subscribed.
    void send_reload_skin();
    size_t listener_count() const { return m_listeners.size(); }

    // The language texts.
    localisation::TextTable& texts() { return m_texts; }
    const localisation::TextTable& texts() const { return m_texts; }
    // The text under key, or the key itself.
    std::u16string text(std::u16string_view key) const { return m_texts.text(key); }
    std::u16string text(std::u16string_view key, std::u16string_view fallback) const {
        return m_texts.text(key, fallback);
    }

    // The loaded skin's reads. Without a skin every search fails and every get returns its
    // fallback. Directories are valid until the next successful load_skin.
    NodeDir find_named_node(std::u16string_view name) const;
    uint32_t child_count(NodeDir dir) const;
    NodeDir child(NodeDir dir, uint32_t index) const;
    bool has_integers(NodeDir dir) const;
    bool has_points(NodeDir dir) const;
    uint32_t get_integer(NodeDir dir, std::u16string_view name, uint32_t fallback) const;
    int32_t get_int(NodeDir dir, std::u16string_view name, int32_t fallback) const {
        return static_cast<int32_t>(get_integer(dir, name, static_cast<uint32_t>(fallback)));
    }
    std::shared_ptr<FontRep> get_font(NodeDir dir, std::u16string_view name,
                                      std::shared_ptr<FontRep> fallback) const;
    // Multiplied by the skin's scale; the fallback comes back as given.
    SkinPoint get_point(NodeDir dir, std::u16string_view name, SkinPoint fallback) const;
    std::u16string get_string(NodeDir dir, std::u16string_view name,
                              std::u16string_view fallback) const;
    // The string table entry, or null.
    const std::u16string* find_string(NodeDir dir, std::u16string_view name) const;
    SkinColor get_color(NodeDir dir, std::u16string_view name, SkinColor fallback) const;
    SkinPicture get_picture(NodeDir dir, std::u16string_view name,
                            const SkinPicture& fallback) const;

    uint32_t picture_count() const { return uint32_t(m_bitmaps.size()); }
    uint32_t font_count() const { return uint32_t(m_fonts.size()); }
    uint32_t string_count() const { return uint32_t(m_strings.size()); }
    const std::shared_ptr<const Bitmap>& picture_bitmap(uint32_t index) const {
        return m_bitmaps.at(index);
    }
    const std::shared_ptr<FontRep>& font(uint32_t index) const { return m_fonts.at(index); }
    const std::u16string& string_at(uint32_t index) const { return m_strings.at(index); }
    // Screen pixels per design pixel of the skin in use.
    Scale scale() const { return m_scale; }
    // The image of the skin in use, or null.
    const SkinImage* image() const { return m_skin.get(); }

private:
    friend class ReloadListener;
    struct Loaded;

    static std::unique_ptr<Loaded> build(const std::u16string& path, int32_t vertical_dpi);

    localisation::TextTable m_texts;
    std::vector<ReloadListener*> m_listeners;

    std::u16string m_skin_path;
    std::unique_ptr<SkinImage> m_skin;
    std::vector<std::shared_ptr<const Bitmap>> m_bitmaps;
    // Per picture: 1 when m_bitmaps holds its drawing at the skin's scale (NAME@2x.bmp,
    // NAME@1.5x.bmp, ...), drawn pixel for pixel; otherwise the design-size bitmap is enlarged.
    std::vector<uint8_t> m_native;
    std::vector<std::shared_ptr<FontRep>> m_fonts;
    std::vector<std::u16string> m_strings;
    Scale m_scale;
};

} // namespace skin
