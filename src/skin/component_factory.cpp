#include "skin/component_factory.h"

#include "skin/button.h"
#include "skin/checkbox.h"
#include "skin/clip_component.h"
#include "skin/color_component.h"
#include "skin/container.h"
#include "skin/edit.h"
#include "skin/exceptions.h"
#include "skin/image_component.h"
#include "skin/label_edit.h"
#include "skin/marker_ticks.h"
#include "skin/old_text.h"
#include "skin/progress.h"
#include "skin/table.h"
#include "skin/text_component.h"
#include "skin/vlist.h"
#include "skin/waveform.h"

#include <array>

namespace skin {

ComponentFactory& ComponentFactory::instance() {
    static ComponentFactory factory;
    return factory;
}

void ComponentFactory::add(std::u16string_view type_name, Creator creator) {
    std::u16string name(type_name);
    if (m_creators.contains(name))
        throw virire::NodeAlreadyRegistered(std::move(name));
    m_creators.emplace(std::move(name), std::move(creator));
}

bool ComponentFactory::remove(std::u16string_view type_name) {
    auto it = m_creators.find(type_name);
    if (it == m_creators.end())
        return false;
    m_creators.erase(it);
    return true;
}

bool ComponentFactory::contains(std::u16string_view type_name) const {
    return m_creators.find(type_name) != m_creators.end();
}

std::unique_ptr<Component> ComponentFactory::create(std::u16string_view type_name,
                                                    Component* parent) const {
    auto it = m_creators.find(type_name);
    if (it == m_creators.end())
        throw virire::NodeNotRegistered(std::u16string(type_name));
    std::unique_ptr<Component> component = it->second(parent);
    if (!component)
        throw virire::NodeNotRegistered(std::u16string(type_name));
    return component;
}

std::vector<std::u16string> ComponentFactory::names() const {
    std::vector<std::u16string> out;
    for (const auto& entry : m_creators)
        out.push_back(entry.first);
    return out;
}

namespace {

template <typename T> ComponentFactory::Creator creator_of() {
    return [](Component* parent) { return std::make_unique<T>(parent); };
}

const std::array<std::u16string_view, 16> framework_names{
    u"node",       u"text",   u"color",    u"image",    u"edit",     u"htable",
    u"vtable",     u"button", u"vlist",    u"checkbox", u"progress", u"oldtext",
    u"label_edit", u"clip",   u"waveform", u"ticks"};

} // namespace

void register_framework_components(ComponentFactory& factory) {
    factory.add(u"node", creator_of<Container>());
    factory.add(u"text", creator_of<TextComponent>());
    factory.add(u"color", creator_of<ColorComponent>());
    factory.add(u"image", creator_of<ImageComponent>());
    factory.add(u"edit", creator_of<Edit>());
    factory.add(u"htable",
                [](Component* parent) { return std::make_unique<Table>(parent, Axis::X); });
    factory.add(u"vtable",
                [](Component* parent) { return std::make_unique<Table>(parent, Axis::Y); });
    factory.add(u"button", creator_of<Button>());
    factory.add(u"vlist", creator_of<VList>());
    factory.add(u"checkbox", creator_of<Checkbox>());
    factory.add(u"progress", creator_of<Progress>());
    factory.add(u"oldtext", creator_of<OldText>());
    factory.add(u"label_edit", creator_of<LabelEdit>());
    factory.add(u"clip", creator_of<ClipComponent>());
    factory.add(u"waveform", creator_of<Waveform>());
    factory.add(u"ticks", creator_of<MarkerTicks>());
}

void unregister_framework_components(ComponentFactory& factory) {
    for (auto it = framework_names.rbegin(); it != framework_names.rend(); ++it)
        factory.remove(*it);
}

} // namespace skin
