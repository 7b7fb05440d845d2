#pragma once

// The creators of component kinds by the type names that skin nodes carry ("node", "color",
// ...). One process-wide table, filled once at start-up and emptied in reverse order at the end.
// User-interface thread only.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

class Component;

class ComponentFactory {
public:
    // Makes a new component whose parent is the given container.
    using Creator = std::function<std::unique_ptr<Component>(Component* parent)>;

    static ComponentFactory& instance();

    // Throws virire::NodeAlreadyRegistered when the name is present.
    void add(std::u16string_view type_name, Creator creator);
    // False when the name was not present.
    bool remove(std::u16string_view type_name);
    bool contains(std::u16string_view type_name) const;
    // Throws virire::NodeNotRegistered when the name has no creator.
    std::unique_ptr<Component> create(std::u16string_view type_name, Component* parent) const;
    // The registered names, in name order.
    std::vector<std::u16string> names() const;

private:
    std::map<std::u16string, Creator, std::less<>> m_creators;
};

// Every component kind, in registration order: "node", "text", "color", "image", "edit",
// "htable", "vtable", "button", "vlist", "checkbox", "progress", "oldtext", "label_edit", "clip",
// "waveform". Throws virire::NodeAlreadyRegistered when one is present.
void register_framework_components(ComponentFactory& factory);
// Removes them in reverse order.
void unregister_framework_components(ComponentFactory& factory);

} // namespace skin
