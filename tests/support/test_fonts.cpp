#include "support/test_fonts.h"

#include "platform/font_engine.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <memory>

namespace testing_support {

namespace {

// The package each file comes from is installed by scripts/install-deps.
const char* const font_files[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",            // fonts-dejavu-core
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",       // fonts-dejavu-core
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf",    // fonts-dejavu-extra
    "/usr/share/fonts/truetype/freefont/FreeSans.ttf",            // fonts-freefont-ttf
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",             // fonts-wqy-microhei
    "/usr/share/fonts/truetype/ancient-scripts/Symbola_hint.ttf", // fonts-symbola
    "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf",          // fonts-noto-color-emoji
};

std::string set_up(TempDir& folder) {
    namespace fs = std::filesystem;
    fs::path fonts = folder / "fonts";
    fs::create_directories(fonts);
    for (const char* file : font_files) {
        std::error_code error;
        fs::create_symlink(file, fonts / fs::path(file).filename(), error);
        if (!fs::exists(file) || error)
            return std::string("font file missing (run scripts/install-deps): ") + file;
    }
    fs::path conf = folder / "fonts.conf";
    {
        std::ofstream out(conf);
        out << "<?xml version=\"1.0\"?>\n"
               "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
               "<fontconfig>\n"
               "  <dir>"
            << fonts.string() << "</dir>\n  <cachedir>" << (folder / "cache").string()
            << "</cachedir>\n</fontconfig>\n";
        if (!out)
            return "cannot write " + conf.string();
    }
    if (!platform::use_font_configuration(conf.string()))
        return "fontconfig refused " + conf.string();
    return {};
}

} // namespace

std::string use_test_fonts() {
    static std::unique_ptr<TempDir> folder = std::make_unique<TempDir>();
    static const std::string result = set_up(*folder);
    return result;
}

} // namespace testing_support
