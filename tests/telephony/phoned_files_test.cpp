// The bridge's systemd user unit and autostart entry, checked by the system's own validators.

#include "telephony_support.h"

using namespace telephony_test;

TEST(PhonedFilesTest, UserUnitVerifies) {
    QV_SKIP_IF_MISSING(missing_program({"systemd-analyze"}));
    std::string unit = read_whole_file(QV_SOURCE_DIR "/data/linux/quillory-phoned.service.in");
    const auto at = unit.find("@QV_BINDIR@");
    ASSERT_NE(at, std::string::npos);
    TempDir dir;
    const auto path = (dir / "quillory-phoned.service").string();
    // A unit naming a missing program does not verify: the check can fail.
    for (const auto& [folder, verifies] :
         {std::pair{std::string(QV_BUILD_DIR "/bin"), true}, {(dir / "nothing").string(), false}}) {
        std::ofstream(path) << std::string(unit).replace(at, 11, folder);
        EXPECT_EQ(run_command({"systemd-analyze", "verify", path}).status == 0, verifies) << folder;
    }
}

TEST(PhonedFilesTest, AutostartEntryValidates) {
    QV_SKIP_IF_MISSING(missing_program({"desktop-file-validate"}));
    const std::string path = QV_SOURCE_DIR "/data/linux/quillory-phoned.desktop";
    EXPECT_EQ(run_command({"desktop-file-validate", path}).status, 0);
    const std::string entry = read_whole_file(path);
    EXPECT_NE(entry.find("\nExec=quillory-phoned\n"), std::string::npos);
    // Under systemd the user unit runs the bridge; the entry must not start a second one.
    EXPECT_NE(entry.find("\nX-systemd-skip=true\n"), std::string::npos);
}
