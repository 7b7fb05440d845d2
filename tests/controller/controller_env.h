#pragma once

// An isolated world for controller tests: registry, documents folder, storage cards and
// contacts all inside one temporary folder.

#include "foundation/paths.h"
#include "platform/registry_store.h"
#include "support/glib_dirs.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace controller_test {

class IsolatedWorld {
public:
    IsolatedWorld() {
        const std::string root = m_dir.path().string();
        // GIO_USE_VFS: the trash of this world's home through GLib's own file operations, never
        // the desktop's file services on the user's bus.
        const std::pair<const char*, std::string> env[] = {
            {"QUILLORY_CONFIG_DIR", root + "/config"},
            {"XDG_CONFIG_HOME", root + "/xdgconfig"},
            {"HOME", root + "/home"},
            {"XDG_DATA_HOME", root + "/home/.local/share"},
            {"XDG_DOCUMENTS_DIR", root + "/home/Documents"},
            {"QUILLORY_CARDS", ""},
            {"QUILLORY_CONTACTS", root + "/contacts"},
            {"GIO_USE_VFS", "local"}};
        for (const auto& [name, value] : env)
            m_env.push_back(std::make_unique<testing_support::ScopedEnv>(name, value));
        std::filesystem::create_directories(m_dir / "home/Documents");
        std::filesystem::create_directories(m_dir / "contacts");
        platform::registry_close();
        testing_support::glib_follow_home();
    }
    ~IsolatedWorld() {
        while (!m_env.empty()) // last set, first restored
            m_env.pop_back();
        foundation::set_free_space_for_testing(u"", -1);
        platform::registry_close();
    }

    std::filesystem::path root() const { return m_dir.path(); }
    std::filesystem::path main_folder() const { return m_dir / "home/Documents/My Quillory"; }
    std::filesystem::path contacts() const { return m_dir / "contacts"; }
    // The desktop's trash of this world's home.
    std::filesystem::path trash() const { return m_dir / "home/.local/share/Trash"; }

    // Storage cards: folders named in QUILLORY_CARDS, created here; their parent folder.
    std::filesystem::path add_cards(std::initializer_list<std::string> names) {
        std::string list;
        for (const auto& name : names) {
            std::filesystem::create_directories(m_dir / "media" / name);
            list += (list.empty() ? "" : ":") + (m_dir / "media" / name).string();
        }
        m_env.push_back(std::make_unique<testing_support::ScopedEnv>("QUILLORY_CARDS", list));
        return m_dir / "media";
    }

private:
    // Gives GLib the folders back once the world's own are gone (it is destroyed last).
    struct GlibFollowsHome {
        ~GlibFollowsHome() { testing_support::glib_follow_home(); }
    } m_glib;
    testing_support::TempDir m_dir;
    std::vector<std::unique_ptr<testing_support::ScopedEnv>> m_env;
};

} // namespace controller_test
