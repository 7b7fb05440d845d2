#pragma once

// A private registry store and log file for one test.

#include "foundation/log.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

class FoundationTest : public ::testing::Test {
protected:
    FoundationTest() : m_env("QUILLORY_CONFIG_DIR", (m_dir.path() / "config").string()) {
        platform::registry_close();
        foundation::set_log_path_for_testing(foundation::from_utf8(log_path()));
    }
    ~FoundationTest() override {
        foundation::write_dword(u"HKEY_CURRENT_USER\\Software\\Corvane", u"Log", 0);
        foundation::log();
        foundation::set_log_path_for_testing(u"");
        platform::registry_close();
    }

    std::string log_path() const { return (m_dir.path() / "log.txt").string(); }
    void set_logging(bool on) {
        ASSERT_TRUE(foundation::write_dword(u"HKEY_CURRENT_USER\\Software\\Corvane", u"Log", on));
    }
    // The log file's bytes, or nothing when it does not exist.
    std::string log_bytes() const { return testing_support::read_whole_file(log_path()); }
    // The log's text after its byte-order mark, as UTF-8.
    std::string log_text() const {
        std::string bytes = log_bytes();
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
        return foundation::to_utf8(text);
    }

    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_env;
};
