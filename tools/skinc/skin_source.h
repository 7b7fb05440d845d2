#pragma once

// The readable skin source and its compilation into the binary skin format.

#include "skin/scale.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace skinc {

// A source error: where and why. Compilation stops at the first one.
class SourceError : public std::runtime_error {
public:
    SourceError(const std::string& file, int line, const std::string& reason)
        : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason), m_file(file),
          m_line(line), m_reason(reason) {}
    const std::string& file() const { return m_file; }
    int line() const { return m_line; }
    const std::string& reason() const { return m_reason; }

private:
    std::string m_file;
    int m_line;
    std::string m_reason;
};

enum class Kind { Integer = 0, Font, Point, String, Picture, Color };

struct Attribute {
    Kind kind{Kind::Integer};
    std::u16string name;
    int line{0};
    uint32_t value{0};                 // integer; font, string or picture table index
    int16_t x{0}, y{0};                // point
    uint16_t corners[8]{};             // picture: outer_min, inner_min, inner_max, outer_max
    uint8_t flag{0};                   // picture
    uint8_t red{0}, green{0}, blue{0}; // colour
};

struct Node {
    int line{0};
    std::vector<Attribute> attributes;
    std::vector<std::unique_ptr<Node>> children;
};

struct PictureDecl {
    std::u16string name;
    std::filesystem::path file; // empty: the BMP is supplied separately
    int line{0};
    int32_t width{-1}, height{-1}; // known when a file is given
};

struct Skin {
    std::vector<PictureDecl> pictures;
    std::vector<std::u16string> fonts;
    std::vector<std::u16string> strings;
    std::vector<std::pair<std::u16string, std::unique_ptr<Node>>> named; // source order
};

// Parses source text; file names the source in errors and anchors picture files. Picture files
// are read to learn their sizes. Throws SourceError.
// A picture file missing beside the source is looked for in picture_dir when one is given (the
// build renders drawn pictures into its own folder).
Skin parse_skin(const std::string& text, const std::filesystem::path& file,
                const std::filesystem::path& picture_dir = {});
Skin parse_skin_file(const std::filesystem::path& file,
                     const std::filesystem::path& picture_dir = {});

// The binary skin. Throws SourceError (with the node's line) for what the format cannot hold.
std::vector<uint8_t> write_skin(const Skin& skin, const std::string& file_name);

// Writes name.bmp for every picture declared with a file, beside the skin output.
void write_pictures(const Skin& skin, const std::filesystem::path& out_folder,
                    const std::string& file_name);

// Writes name@Nx.bmp (N the scale's name: 1.5, 2, 3, ...) for every picture read from
// picture_dir whose drawing at that scale lies at the same place under hires_dir (the program
// uses it on screens that draw the skin at that scale).
void write_hires_pictures(const Skin& skin, const std::filesystem::path& out_folder,
                          const std::string& file_name, const std::filesystem::path& picture_dir,
                          const std::filesystem::path& hires_dir, skin::Scale scale);

// A binary skin printed back as source. Empty with reason set when it is not a skin.
std::string dump_skin(const std::vector<uint8_t>& bytes, std::string* reason);

} // namespace skinc
