#include "foundation_fixture.h"

using namespace foundation;
using platform::RegistryRoot;

namespace {
const std::u16string corvane = u"HKEY_CURRENT_USER\\Software\\Corvane";
}

TEST_F(FoundationTest, MissingValueKeepsDefaultAndCreatesTheKey) {
    uint32_t number = 42;
    bool flag = true;
    std::u16string text = u"keep";
    const std::u16string key = corvane + u"\\Quillory Vozir";
    EXPECT_FALSE(read_dword(key, u"Volume", number));
    EXPECT_FALSE(read_bool(key, u"Speaker", flag));
    EXPECT_FALSE(read_string(key, u"Path", text));
    EXPECT_EQ(number, 42u);
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, u"keep");
    EXPECT_EQ(subkey_names(corvane), std::vector<std::u16string>{u"Quillory Vozir"});
}

// Types and absent values are the store's; here the wide texts and the flag view of a number.
TEST_F(FoundationTest, ValuesRoundTripThroughTheStore) {
    ASSERT_TRUE(write_dword(corvane, u"Boost", 0));
    ASSERT_TRUE(write_string(corvane, u"Language", u"Deutsch \u00fc\u20ac"));
    bool flag = true;
    EXPECT_TRUE(read_bool(corvane, u"Boost", flag));
    EXPECT_FALSE(flag);
    std::u16string text;
    EXPECT_TRUE(read_string(corvane, u"Language", text));
    EXPECT_EQ(text, u"Deutsch \u00fc\u20ac");
    EXPECT_TRUE(delete_value(corvane, u"Boost"));
    EXPECT_FALSE(read_bool(corvane, u"Boost", flag));
    flush();
}

TEST_F(FoundationTest, PathWithoutKnownRootFailsAndCreatesNothing) {
    for (const std::u16string prefix : {u"", u"hkey_current_user\\", u"HKEY_CURRENT_USERS\\"}) {
        SCOPED_TRACE(to_utf8(prefix));
        uint32_t number = 1;
        EXPECT_FALSE(write_dword(prefix + u"Software\\Corvane", u"Log", 1));
        EXPECT_FALSE(read_dword(prefix + u"Software\\Corvane", u"Log", number));
        EXPECT_EQ(number, 1u);
    }
    EXPECT_TRUE(subkey_names(u"Software").empty());
    EXPECT_FALSE(platform::registry_key_exists(RegistryRoot::CurrentUser, "Software\\Corvane"));
}

TEST_F(FoundationTest, SubkeyNamesListOnlyDirectChildrenAndDoNotCreate) {
    const std::u16string keys = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys";
    ASSERT_TRUE(write_dword(keys + u"\\40C1", u"a", 1));
    ASSERT_TRUE(write_dword(keys + u"\\40C2\\x", u"a", 1));
    EXPECT_EQ(subkey_names(keys), (std::vector<std::u16string>{u"40C1", u"40C2"}));
    EXPECT_EQ(subkey_names(u"HKEY_LOCAL_MACHINE"), std::vector<std::u16string>{u"SOFTWARE"});
    EXPECT_TRUE(subkey_names(u"HKEY_LOCAL_MACHINE\\Nothing").empty());
    EXPECT_FALSE(platform::registry_key_exists(RegistryRoot::LocalMachine, "Nothing"));
}
