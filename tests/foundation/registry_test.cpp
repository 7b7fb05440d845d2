#include "foundation_fixture.h"

using namespace foundation;
using platform::RegistryRoot;

namespace {
const std::u16string corvane = u"HKEY_CURRENT_USER\\Software\\Corvane";
}

// Wide texts, the flag view of a number, and a missing value keeping the caller's default.
TEST_F(FoundationTest, ValuesRoundTripThroughTheStore) {
    const std::u16string key = corvane + u"\\Quillory Vozir";
    bool flag = true;
    std::u16string text = u"keep";
    EXPECT_FALSE(read_bool(key, u"Speaker", flag));
    EXPECT_FALSE(read_string(key, u"Path", text));
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, u"keep");
    EXPECT_EQ(subkey_names(corvane), std::vector<std::u16string>{u"Quillory Vozir"});
    ASSERT_TRUE(write_dword(key, u"Boost", 0));
    ASSERT_TRUE(write_string(key, u"Language", u"Deutsch \u00fc\u20ac"));
    EXPECT_TRUE(read_bool(key, u"Boost", flag));
    EXPECT_FALSE(flag);
    EXPECT_TRUE(read_string(key, u"Language", text));
    EXPECT_EQ(text, u"Deutsch \u00fc\u20ac");
    EXPECT_TRUE(delete_value(key, u"Boost"));
    EXPECT_FALSE(read_bool(key, u"Boost", flag));
    flush();
}

TEST_F(FoundationTest, PathWithoutKnownRootFailsAndListingCreatesNothing) {
    for (const std::u16string prefix : {u"", u"hkey_current_user\\", u"HKEY_CURRENT_USERS\\"}) {
        SCOPED_TRACE(to_utf8(prefix));
        uint32_t number = 1;
        EXPECT_FALSE(write_dword(prefix + u"Software\\Corvane", u"Log", 1));
        EXPECT_FALSE(read_dword(prefix + u"Software\\Corvane", u"Log", number));
        EXPECT_EQ(number, 1u);
    }
    EXPECT_TRUE(subkey_names(u"Software").empty());
    EXPECT_FALSE(platform::registry_key_exists(RegistryRoot::CurrentUser, "Software\\Corvane"));
    // Subkey names list only direct children and create nothing.
    const std::u16string keys = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys";
    ASSERT_TRUE(write_dword(keys + u"\\40C1", u"a", 1));
    ASSERT_TRUE(write_dword(keys + u"\\40C2\\x", u"a", 1));
    EXPECT_EQ(subkey_names(keys), (std::vector<std::u16string>{u"40C1", u"40C2"}));
    EXPECT_EQ(subkey_names(u"HKEY_LOCAL_MACHINE"), std::vector<std::u16string>{u"SOFTWARE"});
    EXPECT_TRUE(subkey_names(u"HKEY_LOCAL_MACHINE\\Nothing").empty());
    EXPECT_FALSE(platform::registry_key_exists(RegistryRoot::LocalMachine, "Nothing"));
}
