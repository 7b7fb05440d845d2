#pragma once

#include "skin/component_factory.h"
#include "skin/properties.h"
#include "support/test_skin.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace screens_test {

// Compiles the small test skin of the screens (tests/screens/data) with its pictures into
// dir/skin and loads it at 96 dots per inch.
inline bool load_screens_skin(skin::Properties& properties, const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    skin::register_framework_components(skin::ComponentFactory::instance());
    const fs::path data = fs::path(QV_SOURCE_DIR) / "tests/screens/data";
    const fs::path skin_dir = dir / "skin";
    fs::create_directories(skin_dir);
    for (const auto& entry : fs::directory_iterator(data))
        if (entry.path().extension() == ".png")
            fs::copy_file(entry.path(), skin_dir / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
    std::ifstream in(data / "screens.skn");
    const std::string source((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    const auto path = testing_support::write_test_skin(skin_dir, "screens.skin", source);
    return properties.load_skin(path.u16string(), 96);
}

} // namespace screens_test
