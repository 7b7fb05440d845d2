#include "support/test_fonts.h"

#include "platform/font_engine.h"
#include "support/temp_dir.h"

#include <fstream>

namespace testing_support {

namespace {

// DejaVu Sans for Latin, Greek, Cyrillic, Arabic and Hebrew, FreeSans for Devanagari, WenQuanYi
// for Chinese, Symbola and Noto Color Emoji for symbols and emoji (scripts/install-deps).
const char* const font_files[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",            // fonts-dejavu-core
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",       // fonts-dejavu-core
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf",    // fonts-dejavu-extra
    "/usr/share/fonts/truetype/freefont/FreeSans.ttf",            // fonts-freefont-ttf
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",             // fonts-wqy-microhei
    "/usr/share/fonts/truetype/ancient-scripts/Symbola_hint.ttf", // fonts-symbola
    "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf",          // fonts-noto-color-emoji
};

struct Prepared {
    std::string conf;    // the fonts.conf, when ready
    std::string problem; // otherwise what went wrong
};

Prepared prepare(TempDir& folder) {
    namespace fs = std::filesystem;
    fs::path fonts = folder / "fonts";
    fs::create_directories(fonts);
    for (const char* file : font_files) {
        std::error_code error;
        fs::create_symlink(file, fonts / fs::path(file).filename(), error);
        if (!fs::exists(file) || error)
            return {{}, std::string("font file missing (run scripts/install-deps): ") + file};
    }
    fs::path conf = folder / "fonts.conf";
    std::ofstream out(conf);
    out << "<?xml version=\"1.0\"?>\n"
           "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
           "<fontconfig>\n"
           "  <dir>"
        << fonts.string() << "</dir>\n  <cachedir>" << (folder / "cache").string()
        << "</cachedir>\n</fontconfig>\n";
    out.close();
    if (!out)
        return {{}, "cannot write " + conf.string()};
    return {conf.string(), {}};
}

const Prepared& prepared() {
    static std::unique_ptr<TempDir> folder = std::make_unique<TempDir>();
    static const Prepared result = prepare(*folder);
    return result;
}

} // namespace

std::string use_test_fonts() {
    static const std::string result = [] {
        const Prepared& fonts = prepared();
        if (!fonts.problem.empty())
            return fonts.problem;
        if (!platform::use_font_configuration(fonts.conf))
            return "fontconfig refused " + fonts.conf;
        return std::string();
    }();
    return result;
}

std::string test_fonts_file() {
    return prepared().conf;
}

} // namespace testing_support
