// The phone's key codes from the desktop's keys, and their names in the log.

#include "platform/display.h"
#include "shell/key_codes.h"

#include <gtest/gtest.h>
#include <set>

using namespace shell;

namespace {

class CollectingStream : public foundation::LogStream {
public:
    std::u16string text;
    void write(const char16_t* first, const char16_t* last) override { text.append(first, last); }
    void flush() override {}
};

} // namespace

TEST(KeyCodes, TheDesktopsKeysBecomeThePhonesOnlyEscapeCancelsAndEachHasItsOwnName) {
    const std::pair<uint32_t, KeyCode> cases[] = {
        {'a', KeyCode::A},    {'0', KeyCode::Digit0}, {27, KeyCode::Esc},  {8, KeyCode::Backspace},
        {'#', KeyCode::Hash}, {'*', KeyCode::Star},   {'~', KeyCode::None}};
    for (const auto& [sdl, code] : cases)
        EXPECT_EQ(key_from_virtual_key(platform::virtual_key_for(sdl)), uint32_t(code)) << sdl;
    // Only Escape is Esc (Backspace must never cancel and lose text); no key gives the slide.
    for (uint32_t vk = 0; vk < 256; ++vk) {
        EXPECT_TRUE(vk == 27 || key_from_virtual_key(vk) != uint32_t(KeyCode::Esc)) << vk;
        EXPECT_NE(key_from_virtual_key(vk), uint32_t(KeyCode::Slide)) << vk;
    }
    EXPECT_EQ(key_from_virtual_key(0xFFFFFFFF), uint32_t(KeyCode::None));
    std::set<std::u16string_view> names;
    for (uint32_t code = 0; code < key_code_count; ++code)
        names.insert(key_name(code));
    EXPECT_EQ(names.size(), key_code_count);
    EXPECT_EQ(names.count(key_name(key_code_count)), 0u) << "a code beyond the table";
    CollectingStream stream;
    stream << u"key=" << KeyCode::VolumeUp << u"," << KeyCode(key_from_virtual_key(27));
    EXPECT_EQ(stream.text, u"key=VOLUME_UP,Esc");
}
