#include "foundation/active_scheduler.h"
#include "foundation/directory_scanner.h"
#include "foundation/file.h"
#include "foundation/paths.h"
#include "foundation_fixture.h"
#include "platform/messages.h"
#include "support/process.h"
#include "support/watchdog.h"

#include <algorithm>

using namespace foundation;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class PathsTest : public FoundationTest {
protected:
    PathsTest() { set_program_file_for_testing(u"/opt/Program Files/X/X.exe"); }
    ~PathsTest() override {
        set_program_file_for_testing(u"");
        set_free_space_for_testing(u"", -1);
    }
    std::u16string dir(const std::string& name = "") const {
        return from_utf8((m_dir.path() / name).string());
    }
    void touch(const std::string& name, const std::string& content = "x") {
        fs::create_directories((m_dir.path() / name).parent_path());
        std::ofstream(m_dir.path() / name) << content;
    }
    void touch(std::initializer_list<const char*> names) {
        for (const char* name : names)
            touch(name);
    }
    // The text a started program writes, once it ends with `end` (or after five seconds).
    static std::string wait_for_text(const fs::path& path, const std::string& end) {
        std::string text;
        wait_for([&] { return (text = read_whole_file(path)).ends_with(end); }, 5000);
        return text;
    }
};

struct Recorder : DriveSink, FileSink {
    std::vector<std::u16string> seen;
    int stop_after{-1};
    bool on_drive(const std::u16string& path) override { return add(path); }
    bool on_file(const std::u16string& path) override { return add(path); }
    bool on_directory(const std::u16string& path) override { return add(u"dir " + path); }
    bool add(const std::u16string& path) {
        seen.push_back(path);
        return stop_after < 0 || int(seen.size()) < stop_after;
    }
};

struct ScanSink : DirectorySink {
    std::vector<std::u16string> files;
    int done{0};
    std::function<void(const std::u16string&)> on_each;
    void on_file(const std::u16string& path) override {
        files.push_back(path);
        if (on_each)
            on_each(path);
    }
    void on_done() override { ++done; }
};

} // namespace

TEST_F(PathsTest, MacrosExpandOnlyAtTheStartAndFindTheData) {
    EXPECT_EQ(expand(u"%app_path%/skins/bin/splash.skin"),
              u"/opt/Program Files/X/skins/bin/splash.skin");
    EXPECT_EQ(expand(u"%app_name%.txt"), u"X.exe.txt");
    EXPECT_EQ(expand(u"%app_full_name%"), u"/opt/Program Files/X/X.exe");
    EXPECT_EQ(expand(u"skins/%app_path%"), u"skins/%app_path%");
    EXPECT_EQ(expand(u"a\\b\\c"), u"a/b/c");
    EXPECT_EQ(expand(u"%windows%"), u"/usr/bin");
    ScopedEnv docs("XDG_DOCUMENTS_DIR", "/home/u/Dokumente");
    EXPECT_EQ(expand(u"%my_documents%/My Quillory"), u"/home/u/Dokumente/My Quillory");
    // Without XDG_DOCUMENTS_DIR, the user's folder list names it.
    ScopedEnv no_docs("XDG_DOCUMENTS_DIR", "");
    ScopedEnv home("HOME", "/home/tester");
    ScopedEnv config("XDG_CONFIG_HOME", m_dir.path().string());
    EXPECT_EQ(expand(u"%my_documents%"), u"/home/tester/Documents");
    touch("user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
                            "XDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n");
    EXPECT_EQ(expand(u"%my_documents%"), u"/home/tester/Papiere");
    // An installed program finds its data under share/.
    fs::create_directories(m_dir.path() / "prefix/bin");
    fs::create_directories(m_dir.path() / "prefix/share/quillory");
    set_program_file_for_testing(dir("prefix/bin/quillory"));
    EXPECT_EQ(expand(u"%app_path%/skins/bin/default.skin"),
              dir("prefix/share/quillory/skins/bin/default.skin"));
    EXPECT_EQ(expand(u"%app_full_name%"), dir("prefix/bin/quillory"));
    EXPECT_EQ(expand(u"%app_name%.txt"), u"quillory.txt");
    // Commands registered with the system name the binary, not the data folder.
    EXPECT_EQ(sibling_program(u"quillory"), dir("prefix/bin/quillory"));

    // A build tree keeps its data beside the program, even with a share/ folder above it.
    fs::create_directories(m_dir.path() / "prefix/bin/skins");
    set_program_file_for_testing(dir("prefix/bin/quillory"));
    EXPECT_EQ(expand(u"%app_path%"), dir("prefix/bin"));

    // Neither: the program's own folder.
    fs::create_directories(m_dir.path() / "lone/bin");
    set_program_file_for_testing(dir("lone/bin/quillory"));
    EXPECT_EQ(expand(u"%app_path%"), dir("lone/bin"));
    EXPECT_EQ(sibling_program(u"quillory-cli"), dir("lone/bin/quillory-cli"));
}

TEST_F(PathsTest, OverlongProgramPathIsFatal) {
    // With the log on, the fatal error's own statement needs the program's name too.
    set_logging(true);
    set_log_path_for_testing(u"");
    set_program_file_for_testing(u"/" + std::u16string(1023, u'a'));
    EXPECT_EXIT(expand(u"x"), ::testing::ExitedWithCode(0),
                "path is more then MAX_PATH long @ get_app_path\\(\\)");
    set_log_path_for_testing(from_utf8(log_path()));
    set_program_file_for_testing(u"/" + std::u16string(1022, u'a'));
    EXPECT_EQ(expand(u"%app_name%"), std::u16string(1022, u'a'));
}

TEST_F(PathsTest, PathOperations) {
    EXPECT_EQ(directory_of(u"a/b\\c.mp3"), u"a/b\\");
    EXPECT_EQ(directory_of(u"c.mp3"), u"");
    EXPECT_EQ(name_of(u"a/b\\c.mp3"), u"c.mp3");
    EXPECT_EQ(name_of(u"c.mp3"), u"c.mp3");
    EXPECT_EQ(without_trailing_separator(u"a/b/"), u"a/b");
    EXPECT_EQ(join(u"", u"n"), u"n");
    EXPECT_EQ(join(u"a/b/", u"n"), u"a/b/n");
    EXPECT_EQ(parent_of(u"/a/b/"), u"/a/");
    EXPECT_TRUE(same_path(u"/media/card/", u"/media/card"));
    EXPECT_FALSE(same_path(u"/Media/Card", u"/media/card")) << "file names are case-sensitive";
    EXPECT_TRUE(same_path(u"%app_path%", u"/opt/Program Files/X/"));
    EXPECT_FALSE(same_path(u"/media/card1", u"/media/card"));
    // Whole components only, with either separator.
    EXPECT_FALSE(path_starts_with(u"/media/Card/My Quillory", u"/media/card"));
    EXPECT_FALSE(path_starts_with(u"/media", u"/media/card"));
    EXPECT_FALSE(path_starts_with(u"/media/u/disk1/My Quillory", u"/media/u/disk"));
    EXPECT_TRUE(path_starts_with(u"/media/u/disk", u"/media/u/disk"));
    EXPECT_TRUE(path_starts_with(u"/media/u/disk/x", u"/media/u/disk/"));
    EXPECT_TRUE(path_starts_with(u"/media/u/disk\\x", u"/media/u/disk"));
    EXPECT_TRUE(path_starts_with(u"/home/u", u"/"));
}

TEST_F(PathsTest, CreateDirectoryMakesParentsAndLogsEachAttempt) {
    set_logging(true);
    create_directory(dir("a/b"));
    EXPECT_TRUE(fs::is_directory(m_dir.path() / "a" / "b"));
    const std::string root = m_dir.path().string();
    EXPECT_NE(log_text().find("CreateDirectoryW {" + root + "} result=false\nCreateDirectoryW {" +
                              root + "/a} result=true\n"),
              std::string::npos);
    touch("a/b/keep.txt");
    create_directory(dir("a/b/"));
    EXPECT_TRUE(fs::exists(m_dir.path() / "a/b/keep.txt"));
}

TEST_F(PathsTest, FileModesBoundariesInfoAndMove) {
    File file;
    EXPECT_FALSE(file.open(dir("missing"), File::Read));
    EXPECT_EQ(file.read(nullptr, 0), 0u);
    EXPECT_EQ(file.size(), 0u);
    ASSERT_TRUE(file.open(dir("f.bin"), File::WriteNew));
    EXPECT_TRUE(file.write("abcdef", 6));
    file.close();
    ASSERT_TRUE(file.open(dir("f.bin"), File::Append));
    EXPECT_EQ(file.tell(), 6u);
    EXPECT_TRUE(file.write("gh", 2));
    file.close();
    ASSERT_TRUE(file.open(dir("f.bin"), File::Read));
    EXPECT_EQ(file.size(), 8u);
    EXPECT_EQ(file.skip(3), 3u);
    char buffer[16] = {};
    EXPECT_EQ(file.read(buffer, 16), 5u);
    EXPECT_EQ(std::string(buffer), "defgh");
    EXPECT_EQ(file.skip(10), 0u);
    EXPECT_FALSE(file.write("x", 1));
    ASSERT_TRUE(file.open(dir("f.bin"), File::ReadWrite));
    EXPECT_TRUE(file.seek(2));
    EXPECT_TRUE(file.truncate());
    EXPECT_EQ(file.size(), 2u);
    EXPECT_FALSE(file.open(dir(""), File::Read)); // a folder is not a file
    file.close();
    std::vector<uint8_t> bytes{1};
    EXPECT_EQ(read_whole_file(dir("f.bin"), 2, bytes), WholeFile::Read);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 'b'}));
    EXPECT_EQ(read_whole_file(dir("f.bin"), 1, bytes), WholeFile::TooLarge);
    EXPECT_EQ(read_whole_file(dir("missing"), 10, bytes), WholeFile::CannotOpen);
    EXPECT_TRUE(bytes.empty());
    touch("one.mp3", "12345");
    FileInfo info(dir("one.mp3"));
    EXPECT_TRUE(info.exists());
    EXPECT_FALSE(info.is_directory());
    EXPECT_EQ(info.size(), 5u);
    EXPECT_EQ(info.write_time().year(), DateTime::now().year());
    EXPECT_TRUE(FileInfo(dir("")).is_directory());
    FileInfo missing(dir("none"));
    EXPECT_FALSE(missing.exists());
    EXPECT_NE(missing.last_error(), 0);
    touch("two.mp3");
    EXPECT_FALSE(info.move_to(dir("two.mp3"))); // never replaces
    EXPECT_TRUE(fs::exists(m_dir.path() / "one.mp3"));
    EXPECT_TRUE(info.move_to(dir("three.mp3")));
    EXPECT_TRUE(fs::exists(m_dir.path() / "three.mp3"));
    EXPECT_TRUE(delete_file(dir("three.mp3")));
    EXPECT_FALSE(delete_file(dir("three.mp3")));
}

// A program is started with the parameters; a document's handler gets them after the file.
TEST_F(PathsTest, ExecuteFileStartsProgramsAndDocumentsWithTheirParameters) {
    Watchdog watchdog(20, "execute_file");
    set_logging(true);
    const fs::path out = m_dir.path() / "args.txt";
    write_script(m_dir.path() / "tool.sh", "echo \"$1|$2\" > " + quote(out) + "\n");
    EXPECT_TRUE(execute_file(dir("tool.sh"), u"\"two words\" second"));
    EXPECT_EQ(wait_for_text(out, "\n"), "two words|second\n");
    EXPECT_NE(log_text().find("execute_file(" + m_dir.path().string() +
                              "/tool.sh} {\"two words\" second)\n"),
              std::string::npos);
    const fs::path bin = m_dir.path() / "bin";
    write_script(bin / "xdg-mime",
                 "[ \"$2\" = filetype ] && echo text/html && exit 0\n"
                 "[ \"$2 $3\" = \"default text/html\" ] && echo viewer.desktop\n");
    write_script(bin / "viewer", arguments_recorder);
    touch("data/applications/viewer.desktop",
          "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer --new-tab %u\n"
          "[Desktop Action x]\nExec=viewer --wrong\n");
    touch("help/page one.html", "<p>help</p>");
    ScopedEnv path("PATH", bin.string() + ":" + std::getenv("PATH"));
    ScopedEnv data("XDG_DATA_HOME", (m_dir.path() / "data").string());
    EXPECT_TRUE(execute_file(dir("help/page one.html"), u"\"two words\" second"));
    EXPECT_EQ(wait_for_text(bin / "viewer.args", "second\n"),
              "--new-tab\n" + (m_dir.path() / "help/page one.html").string() +
                  "\ntwo words\nsecond\n");
}

TEST_F(PathsTest, FreeSpaceSeamAndRealVolume) {
    EXPECT_GT(total_size(dir()), 0.0);
    EXPECT_GT(free_space(dir()), 0.0);
    EXPECT_EQ(free_space(dir("nowhere/at/all")), 0.0);
    set_free_space_for_testing(dir("card"), 1000.0);
    set_free_space_for_testing(dir("card/deeper"), 10.0, 20.0);
    EXPECT_EQ(free_space(dir("card/My Quillory")), 1000.0);
    EXPECT_EQ(free_space(dir("card/deeper/x")), 10.0);
    EXPECT_EQ(total_size(dir("card/deeper/x")), 20.0);
    set_free_space_for_testing(dir("card"), -1);
    EXPECT_EQ(free_space(dir("card/x")), 0.0); // back to the real (missing) path
}

TEST_F(PathsTest, FindDrivesHonoursCardsListAndSkipRules) {
    set_logging(true);
    const std::string base = m_dir.path().string();
    // Cards just below, at and above the smallest size taken; "doc" begins the documents' path.
    std::string cards;
    for (const auto& [name, size] : {std::pair{"small", 999999.0},
                                     {"exact", 1e6},
                                     {"docs", 5e9},
                                     {"doc", 5e9},
                                     {"big", 1000001.0}}) {
        fs::create_directories(m_dir.path() / name);
        set_free_space_for_testing(dir(name), 10, size);
        cards += base + "/" + name + ":";
    }
    fs::create_directories(m_dir.path() / "docs/Documents");
    ScopedEnv card_list("QUILLORY_CARDS", cards.substr(0, cards.size() - 1) + "/");
    ScopedEnv docs("XDG_DOCUMENTS_DIR", base + "/docs/Documents");
    Recorder sink;
    find_drives(sink);
    EXPECT_EQ(sink.seen, (std::vector<std::u16string>{dir("doc"), dir("big")}));
    for (const std::string& line :
         {"find_drives: mydoc={" + base + "/docs/Documents}",
          "skipping result={" + base + "/exact}", "skipping result={" + base + "/docs}",
          "returning result={" + base + "/big}"})
        EXPECT_NE(log_text().find(line + "\n"), std::string::npos) << line;
}

TEST_F(PathsTest, FindFilesIsDepthFirstAndStopsWhenAsked) {
    touch(
        {"b.mp3", "a.wav", "notes.txt", "Incoming/c.mp3", "Incoming/deep/d.mp3", "Outgoing/e.MP3"});
    Recorder all;
    find_files(all, dir(""), u"*.mp3", u"*", true);
    std::u16string root = without_trailing_separator(dir(""));
    EXPECT_EQ(all.seen,
              (std::vector<std::u16string>{
                  root + u"/b.mp3", u"dir " + root + u"/Incoming", root + u"/Incoming/c.mp3",
                  u"dir " + root + u"/Incoming/deep", root + u"/Incoming/deep/d.mp3",
                  u"dir " + root + u"/Outgoing", root + u"/Outgoing/e.MP3"}));
    Recorder flat;
    find_files(flat, dir(""), u"*", u"do_not_search", false);
    EXPECT_EQ(flat.seen.size(), 3u);
    Recorder stopping;
    stopping.stop_after = 2;
    find_files(stopping, dir(""), u"*.mp3", u"*", true);
    EXPECT_EQ(stopping.seen.size(), 2u);
    EXPECT_TRUE(matches_pattern(u"Record 1.MP3", u"*.mp3"));
    EXPECT_TRUE(matches_pattern(u"noext", u"*.*"));
    EXPECT_TRUE(matches_pattern(u"ab", u"a?"));
    EXPECT_FALSE(matches_pattern(u"abc", u"a?"));
}

namespace {
class ScannerTest : public PathsTest {
protected:
    // The files one scan of the folder finds, in order.
    std::vector<std::u16string> scan(const std::u16string& folder, bool recursive) {
        sink.files.clear();
        scanner.start(folder, recursive);
        const int scans = sink.done + 1;
        platform::Message message;
        while (sink.done < scans && platform::get_message(message))
            platform::dispatch_message(message);
        return sink.files;
    }
    Watchdog m_watchdog{20, "directory scanner"};
    CActiveScheduler m_scheduler;
    ScanSink sink;
    DirectoryScanner scanner{sink};
};
} // namespace

TEST_F(ScannerTest, RestartDropsTheCurrentFolder) {
    touch({"one/1.mp3", "one/2.mp3", "one/3.mp3", "two/x.mp3"});
    sink.on_each = [&](const std::u16string& path) {
        if (name_of(path) == u"1.mp3")
            scanner.start(dir("two"), false);
    };
    EXPECT_EQ(scan(dir("one"), false),
              (std::vector<std::u16string>{dir("one/1.mp3"), dir("two/x.mp3")}));
    EXPECT_EQ(sink.done, 1);
}

TEST_F(ScannerTest, LinksBackUpTheTreeAreNotFollowedRound) {
    touch({"My Quillory/a.mp3", "My Quillory/Incoming/b.mp3", "elsewhere/c.mp3"});
    const fs::path records = m_dir.path() / "My Quillory";
    fs::create_directory_symlink("..", records / "Incoming" / "loop");
    fs::create_directory_symlink("../Incoming", records / "Incoming" / "again");
    fs::create_directory_symlink(".", records / "self");
    // A link to a folder outside the tree is an ordinary folder.
    fs::create_directory_symlink(m_dir.path() / "elsewhere", records / "linked");
    const std::u16string root = dir("My Quillory");
    std::vector<std::u16string> expected{root + u"/a.mp3", root + u"/Incoming/b.mp3",
                                         root + u"/linked/c.mp3"};
    EXPECT_EQ(scan(root, true), expected);
    EXPECT_EQ(scan(root, true), expected) << "a second scan of the same tree lists it again";

    Recorder found;
    find_files(found, root, u"*.mp3", u"*", true);
    std::vector<std::u16string> files;
    std::copy_if(found.seen.begin(), found.seen.end(), std::back_inserter(files),
                 [](const std::u16string& seen) { return !seen.starts_with(u"dir "); });
    std::sort(files.begin(), files.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
}
