// The desktop's custom key bindings over a private media-keys schema and key-file store, checked
// with the gsettings tool (the registry's own entries are driven through the quick-record keys).

#include "platform/key_bindings.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace platform;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string schema = "org.gnome.settings-daemon.plugins.media-keys";
const std::string folder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
const std::string ours = "\"/opt/quillory/quillory\" record";

bool runs_ours(const std::string& command) {
    return command.starts_with("\"/opt/quillory/quillory\"");
}

// A text without single quotes as gsettings reads and prints it.
std::string literal(const std::string& text) {
    return "'" + text + "'";
}

class DesktopBindingsTest : public ::testing::Test {
protected:
    DesktopBindingsTest() : m_config("QUILLORY_CONFIG_DIR", (m_dir / "registry").string()) {
        registry_close();
    }
    ~DesktopBindingsTest() override { registry_close(); }

    void SetUp() override {
        QV_SKIP_IF_MISSING(missing_program({"glib-compile-schemas", "gsettings"}));
        fs::create_directories(m_dir / "schemas");
        fs::create_directories(m_dir / "config/glib-2.0/settings");
        fs::copy_file(fs::path(QV_TEST_DATA) / "platform" / (schema + ".gschema.xml"),
                      m_dir / "schemas" / (schema + ".gschema.xml"));
        m_options.schema_dir = (m_dir / "schemas").string();
        ASSERT_EQ(run_command({"glib-compile-schemas", "--strict", m_options.schema_dir}).status,
                  0);
        m_options.settings_file = (m_dir / "config/glib-2.0/settings/keyfile").string();
    }

    // The gsettings tool on the same private schemas and key file; what it wrote.
    std::string gsettings(const std::string& arguments) {
        std::string out =
            run_command({"/bin/sh", "-c",
                         "GSETTINGS_SCHEMA_DIR=" + quote(m_dir / "schemas") +
                             " GSETTINGS_BACKEND=keyfile XDG_CONFIG_HOME=" +
                             quote(m_dir / "config") + " gsettings " + arguments + " 2>&1"})
                .output;
        if (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }
    std::string binding_value(const std::string& id, const std::string& key) {
        return gsettings("get " + schema + ".custom-keybinding:" + folder + id + "/ " + key);
    }
    void make_binding(const std::string& id, const std::string& name, const std::string& binding,
                      const std::string& command) {
        const std::string at = schema + ".custom-keybinding:" + folder + id + "/ ";
        gsettings("set " + at + "name " + quote(literal(name)));
        gsettings("set " + at + "binding " + quote(literal(binding)));
        gsettings("set " + at + "command " + quote(literal(command)));
    }

    TempDir m_dir;
    ScopedEnv m_config;
    KeyBindingOptions m_options;
};

const KeyBinding* find_slot(const std::vector<KeyBinding>& entries, int slot) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.slot == slot; });
    return it == entries.end() ? nullptr : &*it;
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

// A binding is rewritten (its command kept for the reset across starts) or made (reset removes it).
TEST_F(DesktopBindingsTest, AssignRewritesOrMakesABindingAndResetPutsTheEarlierStateBack) {
    make_binding("custom0", "Calculator", "XF86Launch1", "gnome-calculator");
    gsettings("set " + schema + " custom-keybindings \"['" + folder + "custom0/']\"");
    {
        auto bindings = open_key_bindings(m_options);
        auto entries = bindings->list(runs_ours);
        for (int slot : {1, 0}) {
            KeyBinding entry = *find_slot(entries, slot);
            EXPECT_TRUE(bindings->assign(entry, ours));
            EXPECT_EQ(entry.command, ours);
            EXPECT_EQ(entry.reset_command, slot == 1 ? "gnome-calculator" : "");
        }
    }
    EXPECT_EQ(binding_value("custom0", "command"), literal(ours));
    EXPECT_EQ(binding_value("custom0", "name"), "'Calculator'");
    EXPECT_EQ(gsettings("get " + schema + " custom-keybindings"),
              "['" + folder + "custom0/', '" + folder + "custom1/']");
    EXPECT_EQ(binding_value("custom1", "binding"), "'XF86AudioRecord'");
    EXPECT_EQ(binding_value("custom1", "command"), literal(ours));
    EXPECT_EQ(binding_value("custom1", "name"), "'Quillory Vozir: record'");

    registry_close();
    auto bindings = open_key_bindings(m_options);
    auto entries = bindings->list(runs_ours);
    EXPECT_EQ(entries.size(), 10u);
    KeyBinding rewritten = *find_slot(entries, 1), made = *find_slot(entries, 0);
    EXPECT_EQ(rewritten.reset_command, "gnome-calculator");
    EXPECT_TRUE(bindings->reset(rewritten));
    EXPECT_EQ(rewritten.command, "gnome-calculator");
    EXPECT_TRUE(bindings->reset(made));
    EXPECT_TRUE(made.key.empty());
    EXPECT_EQ(binding_value("custom0", "command"), "'gnome-calculator'");
    EXPECT_EQ(binding_value("custom1", "command"), "''");
    EXPECT_EQ(gsettings("get " + schema + " custom-keybindings"), "['" + folder + "custom0/']");
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
    ScopedEnv choice("QUILLORY_KEY_BINDINGS", "registry");
    EXPECT_EQ(open_key_bindings(m_options)->kind(), "registry");
}

} // namespace
