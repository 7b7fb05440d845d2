#include "platform/registry_store.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

using namespace platform;

namespace {

struct Result {
    int code{-1};
    std::string out;
};

const std::string cli = std::string(QV_BUILD_DIR) + "/bin/quillory-cli";

Result run(const std::string& arguments) {
    Result result;
    std::string command = "'" + cli + "' " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        result.out.append(buffer, n);
    int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class RegCliTest : public ::testing::Test {
protected:
    RegCliTest() : m_env("QUILLORY_CONFIG_DIR", m_dir.path().string()) { registry_close(); }
    ~RegCliTest() override { registry_close(); }
    void SetUp() override {
        if (!std::filesystem::exists(cli))
            GTEST_SKIP() << "quillory-cli is not built";
    }
    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_env;
};

} // namespace

TEST_F(RegCliTest, SetGetListDeleteWithExitCodes) {
    const std::string key = "'HKEY_CURRENT_USER\\Software\\Corvane'";
    EXPECT_EQ(run("reg set " + key + " Log --dword 0x10").code, 0);
    EXPECT_EQ(run("reg set " + key + "'\\Quillory Vozir' Path --string 'My Quillory'").code, 0);
    uint32_t number = 0;
    EXPECT_TRUE(registry_read_dword(RegistryRoot::CurrentUser, "Software\\Corvane", "Log", number));
    EXPECT_EQ(number, 16u);
    Result got = run("reg get " + key + " Log");
    EXPECT_EQ(got.code, 0);
    EXPECT_EQ(got.out, "16\n");
    Result listed = run("reg list " + key);
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(listed.out, "Quillory Vozir\\\nLog\tREG_DWORD\t16 (0x00000010)\n");
    EXPECT_EQ(run("reg get " + key + " Missing").code, 1);
    EXPECT_EQ(run("reg list 'HKEY_CURRENT_USER\\Nothing'").code, 1);
    EXPECT_EQ(run("reg set " + key + " Log --dword 4294967296").code, 2);
    EXPECT_EQ(run("reg set " + key + " Log --dword -1").code, 2);
    EXPECT_EQ(run("reg set 'Software\\Corvane' Log --dword 1").code, 2);
    EXPECT_EQ(run("reg set " + key + " Log --text x").code, 2);
    EXPECT_EQ(run("reg delete " + key + " Log").code, 0);
    EXPECT_EQ(run("reg delete " + key + " Log").code, 1);
    EXPECT_EQ(run("reg").code, 2);
}

TEST_F(RegCliTest, ManyProgramsWritingAtOnceAllSucceed) {
    testing_support::Watchdog watchdog(120, "concurrent quillory-cli");
    std::string script;
    for (int i = 0; i < 8; ++i)
        script += "('" + cli + "' reg set 'HKEY_LOCAL_MACHINE\\Busy' v" + std::to_string(i) +
                  " --dword " + std::to_string(i) + " || echo fail) & ";
    script += "wait";
    FILE* pipe = popen(script.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[64];
    std::string out;
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    pclose(pipe);
    EXPECT_EQ(out, "");
    EXPECT_EQ(registry_values(RegistryRoot::LocalMachine, "Busy").size(), 8u);
}
