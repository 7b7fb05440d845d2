// The registry as quillory-cli reads and writes it, with its exit codes.

#include "platform/registry_store.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

const std::string cli = std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
const std::string key = "HKEY_CURRENT_USER\\Software\\Corvane";

TEST(RegCli, SetGetListDeleteWithExitCodes) {
    if (!std::filesystem::exists(cli))
        GTEST_SKIP() << "quillory-cli is not built";
    testing_support::TempDir dir;
    testing_support::ScopedEnv env("QUILLORY_CONFIG_DIR", dir.path().string());
    registry_close();
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string output;
    } steps[] = {
        {{"set", key, "Log", "--dword", "0x10"}, 0, ""},
        {{"set", key + "\\Quillory Vozir", "Path", "--string", "My Quillory"}, 0, ""},
        {{"get", key, "Log"}, 0, "16\n"},
        {{"list", key}, 0, "Quillory Vozir\\\nLog\tREG_DWORD\t16 (0x00000010)\n"},
        {{"get", key, "Missing"}, 1, ""},
        {{"list", "HKEY_CURRENT_USER\\Nothing"}, 1, ""},
        {{"set", key, "Log", "--dword", "4294967296"}, 2, ""},
        {{"set", key, "Log", "--dword", "-1"}, 2, ""},
        {{"set", "Software\\Corvane", "Log", "--dword", "1"}, 2, ""},
        {{"set", key, "Log", "--text", "x"}, 2, ""},
        {{"delete", key, "Log"}, 0, ""},
        {{"delete", key, "Log"}, 1, ""},
        {{}, 2, ""},
    };
    for (const auto& step : steps) {
        std::vector<std::string> argv{cli, "reg"};
        argv.insert(argv.end(), step.arguments.begin(), step.arguments.end());
        SCOPED_TRACE(testing::PrintToString(argv));
        const auto result = testing_support::run_command(argv, {});
        EXPECT_EQ(result.status, step.status);
        EXPECT_EQ(result.output, step.output);
    }
    // The program reads what the command wrote.
    std::string path;
    EXPECT_TRUE(registry_read_string(RegistryRoot::CurrentUser, "Software\\Corvane\\Quillory Vozir",
                                     "Path", path));
    EXPECT_EQ(path, "My Quillory");
    registry_close();
}

} // namespace
