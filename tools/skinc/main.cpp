// skinc: compiles readable skin sources into binary skins, and prints binary skins back.
//
//   skinc SOURCE.skn -o OUT.skin [-P DIR]   compile; pictures go beside OUT.skin as NAME.bmp;
//                                  picture files missing beside the source are read from DIR
//   ... -P DIR -H DIR2X             also NAME@2x.bmp from the same files under DIR2X
//   ... -P DIR -S N:DIRNX           also NAME@Nx.bmp from the same files under DIRNX (repeatable;
//                                  N whole or a half step: 1.5, 2, 3, 4.5, ...)
//   skinc --check SOURCE.skn       parse only
//   skinc --dump FILE.skin         print a binary skin as source

#include "foundation/file.h"
#include "foundation/number.h"
#include "foundation/text.h"
#include "skin_source.h"

#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

int usage() {
    std::cerr << "usage: skinc SOURCE -o OUT.skin [-P PICTURE_DIR [-H HIRES_DIR] [-S N:DIR]...] | "
                 "skinc --check "
                 "SOURCE [-P DIR] | "
                 "skinc --dump FILE.skin\n";
    return 2;
}

int dump(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (foundation::read_whole_file(foundation::from_utf8(path), UINT32_MAX, bytes) !=
        foundation::WholeFile::Read) {
        std::cerr << path << ": cannot open\n";
        return 1;
    }
    std::string reason;
    std::string text = skinc::dump_skin(bytes, &reason);
    if (text.empty()) {
        std::cerr << path << ": not a skin: " << reason << "\n";
        return 1;
    }
    std::cout << text;
    return 0;
}

// Pictures drawn at a larger scale: the scale and the folder that holds them.
using ScaledDirs = std::vector<std::pair<skin::Scale, std::string>>;

// "N" or "N.5" above 1, at most the largest scale; none for anything else.
std::optional<skin::Scale> read_scale(std::string_view text) {
    const bool half = text.ends_with(".5");
    const auto whole = foundation::parse_number<int>(half ? text.substr(0, text.size() - 2) : text);
    if (!whole || *whole < 1 || *whole > skin::Scale::max_halves / 2)
        return std::nullopt;
    const int halves = 2 * *whole + (half ? 1 : 0);
    if (halves < 3 || halves > skin::Scale::max_halves)
        return std::nullopt;
    return skin::Scale::from_halves(halves);
}

int compile(const std::string& source, const std::string& output, bool check_only,
            const std::string& picture_dir, const ScaledDirs& scaled_dirs) {
    try {
        skinc::Skin skin = skinc::parse_skin_file(source, picture_dir);
        std::vector<uint8_t> bytes = skinc::write_skin(skin, source);
        if (check_only)
            return 0;
        std::filesystem::path out(output);
        std::filesystem::path folder = out.parent_path();
        if (!folder.empty())
            std::filesystem::create_directories(folder);
        skinc::write_pictures(skin, folder, source);
        for (const auto& [scale, dir] : scaled_dirs)
            skinc::write_hires_pictures(skin, folder, source, picture_dir, dir, scale);
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) {
            std::cerr << output << ": cannot write\n";
            return 1;
        }
        return 0;
    } catch (const skinc::SourceError& error) {
        std::cerr << error.what() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << source << ": " << error.what() << "\n";
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "--dump")
        return dump(args[1]);
    std::string picture_dir;
    ScaledDirs scaled_dirs;
    while (args.size() >= 2) {
        const std::string& option = args[args.size() - 2];
        const std::string& value = args.back();
        if (option == "-P") {
            picture_dir = value;
        } else if (option == "-H") {
            scaled_dirs.emplace_back(skin::Scale::whole(2), value);
        } else if (option == "-S") {
            const size_t colon = value.find(':');
            const auto scale = colon == std::string::npos
                                   ? std::nullopt
                                   : read_scale(std::string_view(value).substr(0, colon));
            if (!scale || colon + 1 >= value.size())
                return usage();
            scaled_dirs.emplace_back(*scale, value.substr(colon + 1));
        } else {
            break;
        }
        args.resize(args.size() - 2);
    }
    if (!scaled_dirs.empty() && picture_dir.empty())
        return usage();
    if (args.size() == 2 && args[0] == "--check")
        return compile(args[1], "", true, picture_dir, scaled_dirs);
    if (args.size() == 3 && args[1] == "-o")
        return compile(args[0], args[2], false, picture_dir, scaled_dirs);
    return usage();
}
