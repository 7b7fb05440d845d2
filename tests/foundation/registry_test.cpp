#include "foundation_fixture.h"

using namespace foundation;
using platform::RegistryRoot;

namespace {
const std::u16string corvane = u"HKEY_CURRENT_USER\\Software\\Corvane";
}

TEST(SplitKeyPath, RootsAndTheirSubkeys) {
    RegistryRoot root = RegistryRoot::None;
    std::u16string subkey = u"x";
    EXPECT_TRUE(split_key_path(u"HKEY_LOCAL_MACHINE\\System\\State\\Phone", root, subkey));
    EXPECT_EQ(root, RegistryRoot::LocalMachine);
    EXPECT_EQ(subkey, u"System\\State\\Phone");
    EXPECT_TRUE(split_key_path(u"HKEY_USERS", root, subkey));
    EXPECT_EQ(root, RegistryRoot::Users);
    EXPECT_EQ(subkey, u"");
    EXPECT_TRUE(split_key_path(u"HKEY_CURRENT_CONFIG\\A", root, subkey));
    EXPECT_EQ(root, RegistryRoot::CurrentConfig);
    // Unknown or misspelt roots leave the caller's root and give an empty subkey.
    root = RegistryRoot::ClassesRoot;
    subkey = u"x";
    EXPECT_FALSE(split_key_path(u"Software\\Corvane", root, subkey));
    EXPECT_EQ(root, RegistryRoot::ClassesRoot);
    EXPECT_EQ(subkey, u"");
    EXPECT_FALSE(split_key_path(u"hkey_current_user\\Software", root, subkey));
    EXPECT_FALSE(split_key_path(u"HKEY_CURRENT_USERS\\Software", root, subkey));
    EXPECT_EQ(root, RegistryRoot::ClassesRoot);
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

TEST_F(FoundationTest, ValuesRoundTripAndWrongTypeReadsAsAbsent) {
    ASSERT_TRUE(write_dword(corvane, u"Boost", 0));
    ASSERT_TRUE(write_string(corvane, u"Language", u"Deutsch \u00fc\u20ac"));
    ASSERT_TRUE(write_string(corvane, u"Empty", u""));
    bool flag = true;
    EXPECT_TRUE(read_bool(corvane, u"Boost", flag));
    EXPECT_FALSE(flag);
    std::u16string text = u"default";
    EXPECT_TRUE(read_string(corvane, u"Empty", text));
    EXPECT_EQ(text, u"");
    EXPECT_TRUE(read_string(corvane, u"Language", text));
    EXPECT_EQ(text, u"Deutsch \u00fc\u20ac");
    uint32_t number = 9;
    EXPECT_FALSE(read_dword(corvane, u"Language", number));
    EXPECT_EQ(number, 9u);
    text = u"default";
    EXPECT_FALSE(read_string(corvane, u"Boost", text));
    EXPECT_EQ(text, u"default");
    EXPECT_TRUE(delete_value(corvane, u"Boost"));
    EXPECT_FALSE(read_bool(corvane, u"Boost", flag));
    flush();
}

TEST_F(FoundationTest, PathWithoutKnownRootFailsAndCreatesNothing) {
    uint32_t number = 1;
    EXPECT_FALSE(write_dword(u"Software\\Corvane", u"Log", 1));
    EXPECT_FALSE(read_dword(u"Software\\Corvane", u"Log", number));
    EXPECT_TRUE(subkey_names(u"Software").empty());
    EXPECT_FALSE(platform::registry_key_exists(RegistryRoot::CurrentUser, "Software\\Corvane"));
    EXPECT_EQ(number, 1u);
}

TEST_F(FoundationTest, SubkeyNamesListOnlyDirectChildrenAndDoNotCreate) {
    ASSERT_TRUE(
        write_dword(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C1", u"a", 1));
    ASSERT_TRUE(
        write_dword(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C2\\x", u"a", 1));
    EXPECT_EQ(subkey_names(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys"),
              (std::vector<std::u16string>{u"40C1", u"40C2"}));
    EXPECT_TRUE(subkey_names(u"HKEY_LOCAL_MACHINE\\Nothing").empty());
    EXPECT_FALSE(platform::registry_key_exists(RegistryRoot::LocalMachine, "Nothing"));
}
