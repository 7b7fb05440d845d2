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

namespace controller_test {

class IsolatedWorld {
public:
    IsolatedWorld()
        : m_config("QUILLORY_CONFIG_DIR", (m_dir / "config").string()),
          m_xdg_config("XDG_CONFIG_HOME", (m_dir / "xdgconfig").string()),
          m_home("HOME", (m_dir / "home").string()),
          m_data("XDG_DATA_HOME", (m_dir / "home/.local/share").string()),
          m_documents("XDG_DOCUMENTS_DIR", (m_dir / "home/Documents").string()),
          m_cards("QUILLORY_CARDS", ""),
          m_contacts("QUILLORY_CONTACTS", (m_dir / "contacts").string()),
          // The trash of this world's home through GLib's own file operations, never the
          // desktop's file services on the user's bus.
          m_vfs("GIO_USE_VFS", "local") {
        std::filesystem::create_directories(m_dir / "home/Documents");
        std::filesystem::create_directories(m_dir / "contacts");
        platform::registry_close();
        testing_support::glib_follow_home();
    }
    ~IsolatedWorld() {
        foundation::set_free_space_for_testing(u"", -1);
        platform::registry_close();
    }

    std::filesystem::path root() const { return m_dir.path(); }
    std::filesystem::path main_folder() const { return m_dir / "home/Documents/My Quillory"; }
    std::filesystem::path contacts() const { return m_dir / "contacts"; }
    // The desktop's trash of this world's home.
    std::filesystem::path trash() const { return m_dir / "home/.local/share/Trash"; }

    // Storage cards: folders named in QUILLORY_CARDS, created here.
    std::filesystem::path add_cards(std::initializer_list<std::string> names) {
        std::string list;
        for (const auto& name : names) {
            std::filesystem::create_directories(m_dir / "media" / name);
            list += (list.empty() ? "" : ":") + (m_dir / "media" / name).string();
        }
        m_cards_set = std::make_unique<testing_support::ScopedEnv>("QUILLORY_CARDS", list);
        return m_dir / "media";
    }

private:
    // Gives GLib the folders back once the world's own are gone (it is destroyed last).
    struct GlibFollowsHome {
        ~GlibFollowsHome() { testing_support::glib_follow_home(); }
    } m_glib;
    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_config;
    testing_support::ScopedEnv m_xdg_config;
    testing_support::ScopedEnv m_home;
    testing_support::ScopedEnv m_data;
    testing_support::ScopedEnv m_documents;
    testing_support::ScopedEnv m_cards;
    testing_support::ScopedEnv m_contacts;
    testing_support::ScopedEnv m_vfs;
    std::unique_ptr<testing_support::ScopedEnv> m_cards_set;
};

} // namespace controller_test
