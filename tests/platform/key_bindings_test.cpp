// The desktop's custom key bindings over a private copy of the media-keys schema and a key-file
// settings store in a temporary folder, checked with the gsettings tool. (The registry's own
// entries are driven through the quick-record keys.)

#include "platform/key_bindings.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <glib.h>
#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string schema = "org.gnome.settings-daemon.plugins.media-keys";
const std::string folder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
const std::string ours = "\"/opt/quillory/quillory\" record";

bool runs_ours(const std::string& command) {
    return command.starts_with("\"/opt/quillory/quillory\"");
}

// A text as gsettings reads and prints it.
std::string literal(const std::string& text) {
    GVariant* value = g_variant_ref_sink(g_variant_new_string(text.c_str()));
    gchar* printed = g_variant_print(value, FALSE);
    std::string out = printed;
    g_free(printed);
    g_variant_unref(value);
    return out;
}

// Runs a shell command and returns its standard output without the last line end.
std::string output_of(const std::string& command) {
    std::string out = testing_support::run_command({"/bin/sh", "-c", command}, {}).output;
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

class DesktopBindingsTest : public ::testing::Test {
protected:
    DesktopBindingsTest() : m_config("QUILLORY_CONFIG_DIR", (m_dir / "registry").string()) {
        registry_close();
        fs::create_directories(m_dir / "schemas");
        fs::create_directories(m_dir / "config/glib-2.0/settings");
        if (output_of("command -v glib-compile-schemas").empty() ||
            output_of("command -v gsettings").empty()) {
            m_missing = true;
            return;
        }
        fs::copy_file(fs::path(QV_TEST_DATA) / "platform" / (schema + ".gschema.xml"),
                      m_dir / "schemas" / (schema + ".gschema.xml"));
        EXPECT_EQ(testing_support::run_command(
                      {"glib-compile-schemas", "--strict", (m_dir / "schemas").string()})
                      .status,
                  0);
        m_options.schema_dir = (m_dir / "schemas").string();
        m_options.settings_file = (m_dir / "config/glib-2.0/settings/keyfile").string();
    }
    ~DesktopBindingsTest() override { registry_close(); }

    void SetUp() override {
        if (m_missing) {
            if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
                FAIL() << "glib-compile-schemas or gsettings is missing";
            GTEST_SKIP() << "glib-compile-schemas or gsettings is missing";
        }
    }

    // The gsettings tool on the same private schemas and key file.
    std::string gsettings(const std::string& arguments) {
        return output_of(
            "GSETTINGS_SCHEMA_DIR=" + testing_support::quote((m_dir / "schemas").string()) +
            " GSETTINGS_BACKEND=keyfile XDG_CONFIG_HOME=" +
            testing_support::quote((m_dir / "config").string()) + " gsettings " + arguments +
            " 2>&1");
    }
    std::string binding_value(const std::string& id, const std::string& key) {
        return gsettings("get " + schema + ".custom-keybinding:" + folder + id + "/ " + key);
    }
    void make_binding(const std::string& id, const std::string& name, const std::string& binding,
                      const std::string& command) {
        const std::string at = schema + ".custom-keybinding:" + folder + id + "/ ";
        gsettings("set " + at + "name " + testing_support::quote(literal(name)));
        gsettings("set " + at + "binding " + testing_support::quote(literal(binding)));
        gsettings("set " + at + "command " + testing_support::quote(literal(command)));
    }

    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_config;
    KeyBindingOptions m_options;
    bool m_missing{false};
};

const KeyBinding* find_slot(const std::vector<KeyBinding>& entries, int slot) {
    for (const auto& entry : entries)
        if (entry.slot == slot)
            return &entry;
    return nullptr;
}

TEST_F(DesktopBindingsTest, ListsTheFixedKeysAndTheBindingsThatRunTheProgram) {
    make_binding("custom0", "Calculator", "XF86Launch1", "gnome-calculator");
    make_binding("custom1", "Mine", "<Super>r", ours);
    make_binding("custom2", "Terminal", "<Super>t", "gnome-terminal");
    gsettings("set " + schema + " custom-keybindings \"['" + folder + "custom0/', '" + folder +
              "custom1/', '" + folder + "custom2/', 'not a path']\"");
    auto bindings = open_key_bindings(m_options);
    ASSERT_TRUE(bindings);
    EXPECT_EQ(bindings->kind(), "gsettings");
    const auto entries = bindings->list(runs_ours);
    // Ten fixed keys and the one other binding that runs the program.
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(bindings->count(runs_ours), 11u);
    // A fixed key with a binding shows its command; one without has no binding yet.
    ASSERT_TRUE(find_slot(entries, 1) && find_slot(entries, 0) && find_slot(entries, -1));
    EXPECT_EQ(find_slot(entries, 1)->key, folder + "custom0/");
    EXPECT_EQ(find_slot(entries, 1)->command, "gnome-calculator");
    EXPECT_TRUE(find_slot(entries, 0)->key.empty());
    const KeyBinding* mine = find_slot(entries, -1);
    EXPECT_EQ(std::vector<std::string>({mine->name, mine->command, mine->accelerator}),
              std::vector<std::string>({"Mine", ours, "<Super>r"}));
}

TEST_F(DesktopBindingsTest, AssignRewritesTheBindingAndResetPutsTheEarlierCommandBack) {
    make_binding("custom0", "Calculator", "XF86Launch1", "gnome-calculator");
    gsettings("set " + schema + " custom-keybindings \"['" + folder + "custom0/']\"");
    {
        auto bindings = open_key_bindings(m_options);
        auto entries = bindings->list(runs_ours);
        KeyBinding entry = *find_slot(entries, 1);
        EXPECT_TRUE(bindings->assign(entry, ours));
        EXPECT_EQ(entry.command, ours);
        EXPECT_EQ(entry.reset_command, "gnome-calculator");
    }
    EXPECT_EQ(binding_value("custom0", "command"), literal(ours));
    EXPECT_EQ(binding_value("custom0", "name"), "'Calculator'");

    // A later start reads the kept command back and gives the key to it again.
    registry_close();
    auto bindings = open_key_bindings(m_options);
    auto entries = bindings->list(runs_ours);
    KeyBinding entry = *find_slot(entries, 1);
    EXPECT_EQ(entry.command, ours);
    EXPECT_EQ(entry.reset_command, "gnome-calculator");
    EXPECT_TRUE(bindings->reset(entry));
    EXPECT_EQ(entry.command, "gnome-calculator");
    EXPECT_EQ(binding_value("custom0", "command"), "'gnome-calculator'");
    EXPECT_EQ(gsettings("get " + schema + " custom-keybindings"), "['" + folder + "custom0/']");
}

TEST_F(DesktopBindingsTest, AssigningAKeyWithoutABindingMakesOneAndResetRemovesIt) {
    make_binding("custom0", "Calculator", "XF86Launch1", "gnome-calculator");
    gsettings("set " + schema + " custom-keybindings \"['" + folder + "custom0/']\"");
    auto bindings = open_key_bindings(m_options);
    auto entries = bindings->list(runs_ours);
    KeyBinding entry = *find_slot(entries, 0);
    EXPECT_TRUE(bindings->assign(entry, ours));
    EXPECT_EQ(entry.key, folder + "custom1/");
    EXPECT_EQ(gsettings("get " + schema + " custom-keybindings"),
              "['" + folder + "custom0/', '" + folder + "custom1/']");
    EXPECT_EQ(binding_value("custom1", "binding"), "'XF86AudioRecord'");
    EXPECT_EQ(binding_value("custom1", "command"), literal(ours));
    EXPECT_EQ(binding_value("custom1", "name"), "'Quillory Vozir: record'");
    EXPECT_EQ(bindings->list(runs_ours).size(), 10u);

    EXPECT_TRUE(bindings->reset(entry));
    EXPECT_TRUE(entry.key.empty());
    EXPECT_TRUE(entry.command.empty());
    EXPECT_EQ(gsettings("get " + schema + " custom-keybindings"), "['" + folder + "custom0/']");
    EXPECT_EQ(binding_value("custom1", "command"), "''");
    // The key can be taken again.
    EXPECT_TRUE(bindings->assign(entry, ours));
    EXPECT_EQ(binding_value("custom1", "binding"), "'XF86AudioRecord'");
}

TEST_F(DesktopBindingsTest, WithoutTheSchemaTheRegistryEntriesAreUsed) {
    fs::create_directories(m_dir / "empty");
    KeyBindingOptions options = m_options;
    options.schema_dir = (m_dir / "empty").string();
    EXPECT_FALSE(open_gsettings_key_bindings(options));
    auto bindings = open_key_bindings(options);
    ASSERT_TRUE(bindings);
    EXPECT_EQ(bindings->kind(), "registry");
    EXPECT_EQ(bindings->count(runs_ours), 0u);
    // The schema is there, but the registry is asked for.
    testing_support::ScopedEnv choice("QUILLORY_KEY_BINDINGS", "registry");
    EXPECT_EQ(open_key_bindings(m_options)->kind(), "registry");
}

} // namespace
