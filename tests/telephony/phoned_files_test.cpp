// The bridge's systemd user unit and autostart entry, checked by the system's own validators.

#include "support/process.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

bool have(const char* tool) {
    return testing_support::have_program(tool);
}

int run_shell(const std::string& command) {
    return testing_support::run_command({"/bin/sh", "-c", command}).status;
}

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void skip_or_fail(const char* tool) {
    if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
        FAIL() << tool << " is needed";
    GTEST_SKIP() << tool << " is not installed";
}

} // namespace

TEST(PhonedFilesTest, UserUnitVerifies) {
    if (!have("systemd-analyze"))
        return skip_or_fail("systemd-analyze");
    std::string unit = read(QV_SOURCE_DIR "/data/linux/quillory-phoned.service.in");
    const auto at = unit.find("@QV_BINDIR@");
    ASSERT_NE(at, std::string::npos);
    unit.replace(at, 11, QV_BUILD_DIR "/bin");
    testing_support::TempDir dir;
    const auto path = (dir / "quillory-phoned.service").string();
    std::ofstream(path) << unit;
    EXPECT_EQ(run_shell("systemd-analyze verify " + path + " 2>&1"), 0) << unit;
    // A unit naming a missing program does not verify: the check above can fail.
    unit.replace(unit.find(QV_BUILD_DIR "/bin"), std::string(QV_BUILD_DIR "/bin").size(),
                 (dir / "nothing").string());
    std::ofstream(path) << unit;
    EXPECT_NE(run_shell("systemd-analyze verify " + path + " >/dev/null 2>&1"), 0);
}

TEST(PhonedFilesTest, AutostartEntryValidates) {
    if (!have("desktop-file-validate"))
        return skip_or_fail("desktop-file-validate");
    const std::string path = QV_SOURCE_DIR "/data/linux/quillory-phoned.desktop";
    EXPECT_EQ(testing_support::run_command({"desktop-file-validate", path}).status, 0);
    const std::string entry = read(path);
    EXPECT_NE(entry.find("\nExec=quillory-phoned\n"), std::string::npos);
    // Under systemd the user unit runs the bridge; the entry must not start a second one.
    EXPECT_NE(entry.find("\nX-systemd-skip=true\n"), std::string::npos);
}
