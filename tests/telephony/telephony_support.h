#pragma once

// Helpers of the telephony tests: the phone state in a settings store of the test's own, files.

#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"
#include "telephony/call_bridge.h"
#include "telephony/call_monitor.h"
#include "telephony/contacts.h"

#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>

namespace telephony_test {

using namespace telephony;
using namespace testing_support;

inline const std::u16string phone_key{phone_state_key};

// The settings (the phone state among them) and the contacts in a folder of the test's own.
class PhoneStateTest : public ::testing::Test {
protected:
    PhoneStateTest() { platform::registry_close(); }
    ~PhoneStateTest() override { platform::registry_close(); }

    TempDir m_dir;
    ScopedEnv m_config{"QUILLORY_CONFIG_DIR", (m_dir / "config").string()};
    ScopedEnv m_contacts{"QUILLORY_CONTACTS", (m_dir / "contacts").string()};
};

inline void write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string base64(const std::string& bytes) {
    gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    const std::string out(text);
    g_free(text);
    return out;
}

} // namespace telephony_test
