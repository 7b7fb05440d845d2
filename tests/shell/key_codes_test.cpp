#include "shell/key_codes.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace shell;

namespace {

class CollectingStream : public foundation::LogStream {
public:
    std::u16string text;
    void write(const char16_t* first, const char16_t* last) override { text.append(first, last); }
    void flush() override {}
};

} // namespace

TEST(KeyCodes, NamesCoverTheTableAndNothingBeyond) {
    EXPECT_EQ(key_name(0u), u"None");
    EXPECT_EQ(key_name(KeyCode::Backspace), u"Backspace");
    EXPECT_EQ(key_name(KeyCode::ContextMenu), u"ContextMenu");
    EXPECT_EQ(key_name(20u), u"A");
    EXPECT_EQ(key_name(45u), u"Z");
    EXPECT_EQ(key_name(46u), u"0");
    EXPECT_EQ(key_name(55u), u"9");
    EXPECT_EQ(key_name(56u), u"*");
    EXPECT_EQ(key_name(57u), u"#");
    EXPECT_EQ(key_name(KeyCode::Slide), u"SLIDE");
    EXPECT_EQ(key_name(64u), u"VOLUME_DOWN");
    EXPECT_EQ(key_name(65u), u"?");
    std::set<std::u16string_view> distinct;
    for (uint32_t code = 0; code < key_code_count; ++code)
        distinct.insert(key_name(code));
    EXPECT_EQ(distinct.size(), key_code_count);
}

TEST(KeyCodes, VirtualKeysTranslateAsThePhoneDid) {
    struct Case {
        uint32_t virtual_key;
        KeyCode code;
    };
    const Case cases[] = {
        {8, KeyCode::Backspace},   {27, KeyCode::Esc},         {9, KeyCode::Tab},
        {13, KeyCode::Enter},      {16, KeyCode::Shift},       {17, KeyCode::Ctrl},
        {18, KeyCode::Alt},        {32, KeyCode::Space},       {33, KeyCode::PageUp},
        {34, KeyCode::PageDown},   {35, KeyCode::End},         {36, KeyCode::Home},
        {37, KeyCode::Left},       {38, KeyCode::Up},          {39, KeyCode::Right},
        {40, KeyCode::Down},       {45, KeyCode::Insert},      {46, KeyCode::Del},
        {'0', KeyCode::Digit0},    {'9', KeyCode::Digit9},     {'A', KeyCode::A},
        {'Z', KeyCode::Z},         {93, KeyCode::ContextMenu}, {112, KeyCode::SoftLeft},
        {113, KeyCode::SoftRight}, {114, KeyCode::CallMake},   {115, KeyCode::CallEnd},
        {116, KeyCode::None},      {117, KeyCode::VolumeUp},   {118, KeyCode::VolumeDown},
        {119, KeyCode::Star},      {120, KeyCode::Hash},       {121, KeyCode::None},
        {'a', KeyCode::None},      {0, KeyCode::None},         {0xFFFFFFFF, KeyCode::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(key_from_virtual_key(c.virtual_key), uint32_t(c.code)) << c.virtual_key;
    // Only Escape gives Esc (never Backspace: it must not delete text); Slide has a code but
    // no key produces it.
    for (uint32_t vk = 0; vk < 256; ++vk) {
        if (vk != 27) {
            EXPECT_NE(key_from_virtual_key(vk), uint32_t(KeyCode::Esc)) << vk;
        }
        EXPECT_NE(key_from_virtual_key(vk), uint32_t(KeyCode::Slide));
    }
}

TEST(KeyCodes, LogStreamWritesTheName) {
    CollectingStream stream;
    stream << u"key=" << KeyCode::VolumeUp << u"," << KeyCode(key_from_virtual_key(27));
    EXPECT_EQ(stream.text, u"key=VOLUME_UP,Esc");
}
