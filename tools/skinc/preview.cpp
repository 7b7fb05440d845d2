#include "preview.h"

#include "foundation/number.h"
#include "foundation/text.h"
#include "png_convert.h"
#include "skin/component_factory.h"
#include "skin/exceptions.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/image_component.h"
#include "skin/menu.h"
#include "skin/progress.h"
#include "skin/properties.h"
#include "skin/surface.h"
#include "skin/vlist.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace skin;

namespace skinc {
namespace {

struct Options {
    std::string skin;
    std::string form;
    std::string base; // a form drawn under the named one (overlays)
    std::string language;
    std::string row = "Record";
    int32_t width = 240, height = 320, dpi = 96;
    int32_t rows = 0; // sample rows for the lists of the forms
    std::string menu; // open the popup menu built from this node
    std::vector<std::string> hide;
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<std::pair<std::string, double>> values;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

int usage() {
    std::cerr << "usage: skin-render --form NAME SKIN.skin OUT.png [--size WxH] [--dpi N]\n"
                 "         [--lang FILE.lng] [--base FORM] [--rows N] [--row TEMPLATE]\n"
                 "         [--menu NODE] [--hide ID,...] [--text ID=TEXT]... [--value ID=0.5]...\n";
    return 2;
}

// args: NAME SKIN [options]
bool parse(const std::vector<std::string>& args, Options& options) {
    if (args.size() < 2)
        return false;
    options.form = args[0];
    options.skin = args[1];
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size())
            return false;
        const std::string& v = args[++i];
        if (a == "--size") {
            const size_t x = v.find('x');
            options.width = foundation::parse_number<int>(v.substr(0, x)).value_or(0);
            options.height = x == std::string::npos
                                 ? 0
                                 : foundation::parse_number<int>(v.substr(x + 1)).value_or(0);
            if (options.width < 16 || options.height < 16 || options.width > 4096 ||
                options.height > 4096)
                return false;
        } else if (a == "--dpi") {
            const auto dpi = foundation::parse_number<int>(v);
            if (!dpi)
                return false;
            options.dpi = *dpi;
        } else if (a == "--lang") {
            options.language = v;
        } else if (a == "--base") {
            options.base = v;
        } else if (a == "--rows") {
            const auto rows = foundation::parse_number<int>(v);
            if (!rows)
                return false;
            options.rows = *rows;
        } else if (a == "--row") {
            options.row = v;
        } else if (a == "--menu") {
            options.menu = v;
        } else if (a == "--hide") {
            for (auto& id : split(v, ','))
                options.hide.push_back(id);
        } else if (a == "--text" || a == "--value") {
            auto eq = v.find('=');
            if (eq == std::string::npos)
                return false;
            if (a == "--text") {
                options.texts.emplace_back(v.substr(0, eq), v.substr(eq + 1));
            } else {
                const auto value = foundation::parse_number<double>(v.substr(eq + 1));
                if (!value)
                    return false;
                options.values.emplace_back(v.substr(0, eq), *value);
            }
        } else {
            return false;
        }
    }
    return true;
}

// Sample recordings for the lists.
struct Sample {
    const char16_t* artist;
    const char16_t* name;
    const char16_t* picture;
};
constexpr Sample samples[] = {
    {u"+7 912 345-67-89", u"Call with Anna Petrova", u"main_memory_incoming"},
    {u"2026-12-06 09:14", u"Morning standup notes", u"main_memory"},
    {u"Boris Smith", u"Interview about the new library building", u"card_outgoing"},
    {u"2026-12-05 18:40", u"Guitar idea in D minor", u"card"},
    {u"+1 555 0100", u"Dentist appointment", u"main_memory_outgoing"},
    {u"2026-12-04 12:02", u"Lecture: signals and systems", u"card_incoming"},
    {u"2026-12-03 21:30", u"Bedtime story", u"main_memory"},
    {u"Clara Jones", u"Project kick-off", u"main_memory_incoming"},
};

// Sample keys for the quick record list; the first one runs the program.
constexpr const char16_t* key_samples[] = {u"Launch key 1", u"Launch key 2",
                                           u"Quillory Vozir: record", u"Record media key"};

class SampleRow : public VListRow {
public:
    SampleRow(Properties& properties, Form& owner)
        : VListRow(properties), m_properties(properties), m_owner(owner) {}
    void bind(VList&, int32_t index) override {
        if (node_name() == u"HardwareKey") {
            bind_key(index);
            return;
        }
        const Sample& s = samples[static_cast<size_t>(index) % std::size(samples)];
        set_text_by_id(u"artist", s.artist);
        set_text_by_id(u"name", s.name);
        set_text_by_id(u"#text", s.name);
        auto* icon = dynamic_cast<ImageComponent*>(find_child(u"icon"));
        auto* source = dynamic_cast<ImageComponent*>(m_owner.find_child(s.picture));
        if (icon && source)
            icon->set_picture(source->picture());
        // Every third sample has markers, as a lecture or an interview would.
        const int32_t markers = index % 3 == 2 ? index + 1 : 0;
        if (Component* marked = find_child(u"markerIcon"))
            marked->set_visible(markers > 0);
        set_text_by_id(u"markers", markers > 0 ? foundation::to_text(markers) : std::u16string());
        if (Component* checked = find_child(u"checked"))
            checked->set_visible(index % 2 == 0);
        if (Component* unchecked = find_child(u"unchecked"))
            unchecked->set_visible(index % 2 != 0);
    }

private:
    // A key row: the program's own icon and a tick on the keys that run it.
    void bind_key(int32_t index) {
        const size_t at = static_cast<size_t>(index) % std::size(key_samples);
        const bool ours = at == 2;
        set_text_by_id(u"name", key_samples[at]);
        if (auto* icon = dynamic_cast<ImageComponent*>(find_child(u"icon"))) {
            SkinPicture picture;
            if (NodeDir dir = m_properties.find_named_node(u"program_icon"); ours && dir.valid())
                picture = m_properties.get_picture(dir, u"src", SkinPicture{});
            icon->set_picture(picture);
        }
        // Every third sample has markers, as a lecture or an interview would.
        const int32_t markers = index % 3 == 2 ? index + 1 : 0;
        if (Component* marked = find_child(u"markerIcon"))
            marked->set_visible(markers > 0);
        set_text_by_id(u"markers", markers > 0 ? foundation::to_text(markers) : std::u16string());
        if (Component* checked = find_child(u"checked"))
            checked->set_visible(ours);
        if (Component* unchecked = find_child(u"unchecked"))
            unchecked->set_visible(!ours);
    }

    Properties& m_properties;
    Form& m_owner;
};

class SampleProvider : public VListProvider, public MenuProvider {
public:
    SampleProvider(Properties& properties, Form& owner, std::u16string row)
        : m_properties(properties), m_owner(owner), m_row(std::move(row)) {}
    void item_tapped(VList&, int32_t) override {}
    std::unique_ptr<VListRow> create_row(VList&, int32_t) override {
        auto row = std::make_unique<SampleRow>(m_properties, m_owner);
        row->require_form(m_properties, m_row);
        return row;
    }
    void fill_menu(Menu&, std::u16string_view id, std::vector<MenuItem>& items) override {
        auto add = [&](std::u16string item_id, std::u16string caption = {},
                       std::u16string template_name = {}, bool enabled = true,
                       bool separator = false, bool checked = false) {
            MenuItem item;
            item.id = std::move(item_id);
            item.caption = std::move(caption);
            item.template_name = std::move(template_name);
            item.enabled = enabled;
            item.separator = separator;
            item.checked = checked;
            items.push_back(std::move(item));
        };
        if (id == u"MainMenu") {
            add(u"Magic4Buttons", u"", u"MenuElement4Buttons");
            add(u"File");
            add(u"Settings");
            add(u"Cancel");
        } else if (id == u"Settings") {
            add(u"AutoRecord", u"", u"", true, false, true);
            add(u"Speaker", u"", u"MenuElementUnchecked");
            add(u"Format", m_properties.text(u"Mp3Middle"));
            add(u"Boost", u"", u"", true, false, true);
            add(u"QuickRecord");
            add(u"Language");
            add(u"Cancel", u"", u"", true, true);
        }
    }

private:
    Properties& m_properties;
    Form& m_owner;
    std::u16string m_row;
};

void prepare(Form& form, const Options& options, SampleProvider& provider, Form* pictures) {
    for (const auto& id : options.hide)
        if (Component* c = form.find_child(foundation::from_utf8(id)))
            c->set_visible(false);
    // A text for a button goes to its caption.
    for (const auto& [id, text] : options.texts) {
        std::u16string wide_id = foundation::from_utf8(id), wide_text = foundation::from_utf8(text);
        form.set_text_by_id(wide_id, wide_text);
        if (Component* c = form.find_child(wide_id))
            c->set_text_by_id(u"#text", wide_text);
    }
    // The record's location picture, as the screens show it.
    if (auto* icon = dynamic_cast<ImageComponent*>(form.find_child(u"icon")))
        if (pictures)
            if (auto* source = dynamic_cast<ImageComponent*>(pictures->find_child(u"main_memory")))
                icon->set_picture(source->picture());
    for (const auto& [id, value] : options.values)
        if (auto* bar = dynamic_cast<Progress*>(form.find_child(foundation::from_utf8(id))))
            bar->set_value(value);
    if (options.rows > 0) {
        if (auto* list = dynamic_cast<VList*>(form.find_child(u"list"))) {
            list->set_provider(&provider);
            list->set_item_count(options.rows);
        }
    }
}

bool render(const Options& options, RenderSurface& target, std::string& error) {
    Properties properties;
    if (!options.language.empty() &&
        !properties.texts().load(foundation::from_utf8(options.language))) {
        error = options.language + ": cannot load the language file";
        return false;
    }
    if (!properties.load_skin(foundation::from_utf8(options.skin), options.dpi)) {
        error = options.skin + ": cannot load the skin";
        return false;
    }
    auto& factory = ComponentFactory::instance();
    register_framework_components(factory);
    struct Unregister {
        ComponentFactory& f;
        ~Unregister() { unregister_framework_components(f); }
    } unregister{factory};

    FormStack stack;
    stack.set_screen_size(options.width, options.height);
    std::vector<std::unique_ptr<Form>> forms;
    auto make = [&](const std::string& name) -> Form& {
        forms.push_back(std::make_unique<Form>(properties));
        forms.back()->require_form(properties, foundation::from_utf8(name));
        return *forms.back();
    };
    std::unique_ptr<Menu> menu;
    std::unique_ptr<SampleProvider> provider;
    std::unique_ptr<Form> pictures; // the main form, whose location pictures the screens use
    try {
        if (properties.find_named_node(u"FormMain").valid()) {
            pictures = std::make_unique<Form>(properties);
            pictures->require_form(properties, u"FormMain");
        }
        Form* owner = nullptr;
        if (!options.base.empty()) {
            owner = &make(options.base);
            provider = std::make_unique<SampleProvider>(properties, *owner,
                                                        foundation::from_utf8(options.row));
            prepare(*owner, options, *provider, pictures.get());
            stack.show_form(*owner);
        }
        if (options.menu.empty()) {
            Form& form = make(options.form);
            if (!owner)
                owner = &form;
            if (!provider)
                provider = std::make_unique<SampleProvider>(properties, *owner,
                                                            foundation::from_utf8(options.row));
            prepare(form, options, *provider, pictures.get());
            stack.show_form(form, options.base.empty() ? ShowAs::Normal : ShowAs::Overlay);
        } else {
            if (!provider) {
                error = "--menu needs --base";
                return false;
            }
            menu = std::make_unique<Menu>(properties, stack, *provider,
                                          foundation::from_utf8(options.menu));
            menu->open(foundation::from_utf8(options.form));
        }
    } catch (const std::exception& failure) {
        error = options.skin + ": " + failure.what();
        return false;
    }
    // Run the transitions, the list's row heights and the dimming to their ends.
    for (int i = 0; i < 120; ++i) {
        stack.tick(1.0 / 30);
        RenderSurface scratch;
        scratch.recreate(options.width, options.height);
        stack.draw(scratch);
    }
    target.recreate(options.width, options.height);
    stack.draw(target);
    return true;
}

} // namespace

bool render_form(const std::vector<std::string>& args, RenderSurface& target, std::string& error) {
    Options options;
    if (!parse(args, options)) {
        error = "bad arguments";
        return false;
    }
    return render(options, target, error);
}

int render_form_main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() < 4 || args[0] != "--form")
        return usage();
    std::string output = args[3];
    args.erase(args.begin() + 3);
    args.erase(args.begin());
    Options options;
    if (!parse(args, options))
        return usage();
    RenderSurface target;
    std::string error;
    if (!render(options, target, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    if (!write_png_565(output, options.width, options.height, target.surface()->row(0),
                       target.surface()->pitch())) {
        std::cerr << output << ": cannot write\n";
        return 1;
    }
    return 0;
}

} // namespace skinc
