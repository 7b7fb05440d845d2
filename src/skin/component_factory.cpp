#include "skin/component_factory.h"

#include "skin/color_component.h"
#include "skin/container.h"
#include "skin/exceptions.h"
#include "skin/image_component.h"
#include "skin/table.h"

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

const std::array<std::u16string_view, 5> framework_names{u"node", u"color", u"image", u"htable",
                                                         u"vtable"};

} // namespace

void register_framework_components(ComponentFactory& factory) {
    factory.add(u"node", creator_of<Container>());
    factory.add(u"color", creator_of<ColorComponent>());
    factory.add(u"image", creator_of<ImageComponent>());
    factory.add(u"htable",
                [](Component* parent) { return std::make_unique<Table>(parent, Axis::X); });
    factory.add(u"vtable",
                [](Component* parent) { return std::make_unique<Table>(parent, Axis::Y); });
}

void unregister_framework_components(ComponentFactory& factory) {
    for (auto it = framework_names.rbegin(); it != framework_names.rend(); ++it)
        factory.remove(*it);
}

} // namespace skin
