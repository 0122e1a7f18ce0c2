// The Windows program end to end, where Windows differs from POSIX systems:
// drive letters, native attributes and '/' in patterns. Run with a drive
// root (--root=Z: under Wine); without one the cases are skipped.
#include <gtest/gtest.h>

#include "harness.h"

#include <string>
#include <vector>

namespace {

using e2e::error_line;
using e2e::expect_run;
using e2e::report_lines;

class windows_e2e : public ::testing::Test {
protected:
    e2e::temp_dir t;

    void SetUp() override
    {
        if (e2e::config().root.empty())
            GTEST_SKIP() << "needs drive letters (--root=DRIVE:, the Windows program)";
        t.write("a.txt", "a\r\n");
        t.make_dir("sub");
        t.write("sub/b.txt", "b\r\n");
    }
};

TEST_F(windows_e2e, drives_reach_files_through_patterns_and_names)
{
    const std::string drive = e2e::config().root;
    const std::string dir = e2e::dos_path(t.dir());  // DRIVE:\...\dir
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> files;
    } cases[] = {
        // A drive alone is that drive's current directory, the run's own.
        {{"/v", drive + "*.txt"}, {drive + "a.txt"}},
        {{"/v", drive + "*.txt", "/subdir"}, {drive + "a.txt", drive + "sub\\b.txt"}},
        {{"/v", dir + "\\*.txt"}, {dir + "\\a.txt"}},
        {{"/v", dir + "\\sub\\*.*"}, {dir + "\\sub\\b.txt"}},
        {{"/v", dir + "\\a.txt", drive + "sub\\b.txt"}, {dir + "\\a.txt", drive + "sub\\b.txt"}},
    };
    for (const auto& c : cases)
        expect_run(t, c.args, report_lines(c.files, " dos"), 0);
    expect_run(t, {"/du", drive + "*.txt", "/subdir"}, "", 0);
    EXPECT_EQ(t.read("a.txt"), "a\n");
    EXPECT_EQ(t.read("sub/b.txt"), "b\n");
}

TEST_F(windows_e2e, a_slash_in_the_name_pattern_finds_nothing)
{
    // The system would find sub's files, and the tool would then take the
    // current directory's files of those names.
    t.write("b.txt", "top\r\n");
    for (const std::string pattern : {"sub/*.txt", "sub\\..\\sub/*.txt"})
        expect_run(t, {"/du", pattern}, error_line("no match file", pattern), 2);
    EXPECT_EQ(t.read("b.txt"), "top\r\n");
    EXPECT_EQ(t.read("sub/b.txt"), "b\r\n");
    // In the directory part it is part of every path built.
    expect_run(t, {"/v", "./sub\\*.txt"}, report_lines({"./sub\\b.txt"}, " dos"), 0);
}

TEST_F(windows_e2e, read_only_files_match_and_are_refused)
{
    // A file without write permission is read-only to Windows programs
    // under Wine; on Windows the attribute itself.
    t.write("b.txt", "b\r\n");
    t.chmod("b.txt", 0444);
    expect_run(t, {"/v", "*.txt"}, report_lines({"a.txt", "b.txt"}, " dos"), 0);
    expect_run(t, {"/du", "*.txt"}, error_line("cannot open file", "b.txt"), 2);
    EXPECT_EQ(t.read("a.txt"), "a\n");
    EXPECT_EQ(t.read("b.txt"), "b\r\n");
    // The converted content waits in the temporary file.
    EXPECT_EQ(t.read("kelto.tmp"), "b\n");
}

// Wine shows a link of the host as the file or directory it leads to, as
// a link put there after the listing would look: a path found through one
// is refused, one typed is followed.
TEST_F(windows_e2e, paths_found_through_links_are_refused)
{
    t.make_dir(".vault");
    t.write(".vault/c.txt", "c\r\n");
    t.symlink(".vault", "link");
    expect_run(t, {"/du", "*.txt", "/subdir"}, error_line("cannot open file", "link\\c.txt"), 2);
    EXPECT_EQ(t.read("a.txt"), "a\n");
    EXPECT_EQ(t.read(".vault/c.txt"), "c\r\n");
    EXPECT_EQ(t.read("sub/b.txt"), "b\r\n");
    expect_run(t, {"/v", "link\\*.txt"}, report_lines({"link\\c.txt"}, " dos"), 0);
}

// Code page 1252, that of Western Windows: é is the byte E9, which begins
// no character there, so a '\' or a '.' after it is one of its own. Decoys
// of the same names wait in the current directory.
TEST_F(windows_e2e, western_names_keep_their_separators_and_dots)
{
    RUN_IN_LOCALE("C.UTF-8");
    t.make_dir("café");
    t.write("café/in.txt", "c\r\n");
    t.make_dir("Résumé");
    t.write("Résumé/cv.txt", "r\r\n");
    t.write("résumé.doc", "bin\r\n");
    t.write("readme", "r\r\n");
    for (const char* decoy : {"in.txt", "cv.txt"})
        t.write(decoy, "decoy\r\n");
    expect_run(t, {"/v", "café\\*.txt"}, report_lines({"caf\xE9\\in.txt"}, " dos"), 0);
    expect_run(t, {"/du", "café\\*.txt", "Résumé\\*.txt", "*"}, "", 0);
    const e2e::files_t after = {{"a.txt", "a\r\n"},
                                {"cv.txt", "decoy\r\n"},
                                {"in.txt", "decoy\r\n"},
                                {"readme", "r\n"},
                                {"résumé.doc", "bin\r\n"}};
    EXPECT_TRUE(e2e::same_files(t.files(), after));
    EXPECT_EQ(t.read("café/in.txt"), "c\n");
    EXPECT_EQ(t.read("Résumé/cv.txt"), "r\n");
}

// The system lists a name that the code page cannot spell under a
// look-alike (Ł.txt as L.txt) or with '?'. Such a name is never opened: a
// pattern that would take it ends the run before any file is touched, one
// that would not passes it over.
TEST_F(windows_e2e, names_the_code_page_cannot_spell_are_never_opened)
{
    RUN_IN_LOCALE("C.UTF-8");
    t.write("L.txt", "l\r\n");
    t.write("Ł.txt", "l\r\n");
    t.make_dir("sub/Ω");
    expect_run(t, {"/du", "*.txt"}, error_line("name not in code page", "?.txt"), 2);
    expect_run(t, {"/du", "sub\\*.*", "/subdir"}, error_line("name not in code page", "sub\\?"), 2);
    expect_run(t, {"/du", "L.*", "sub\\*.txt"}, "", 0);
    EXPECT_TRUE(
        e2e::same_files(t.files(), {{"a.txt", "a\r\n"}, {"L.txt", "l\n"}, {"Ł.txt", "l\r\n"}}));
    EXPECT_EQ(t.read("sub/b.txt"), "b\n");
}

// Code page 932: 表 is 95 5C and ソ is 83 5C, their second byte that of a
// '\'. A found path is still opened only where it was listed.
TEST_F(windows_e2e, a_second_byte_0x5c_is_no_separator)
{
    RUN_IN_LOCALE("ja_JP.SJIS");
    t.make_dir("表");
    t.write("表/in.txt", "h\r\n");
    t.make_dir("sub/ソ");
    t.write("sub/ソ/y.txt", "y\r\n");
    const std::string so = "sub\\\x83\x5C\\y.txt";
    auto r = t.kelto_in("表", {"/v", "*.txt"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, report_lines({"in.txt"}, " dos"));
    expect_run(t, {"/v", "sub\\ソ\\*.txt"}, report_lines({so}, " dos"), 0);
    expect_run(t, {"/du", "sub\\ソ\\*.txt", "*.txt", "/subdir"}, "", 0);
    EXPECT_EQ(t.read("sub/ソ/y.txt"), "y\n");
    EXPECT_EQ(t.read("表/in.txt"), "h\n");
}

}  // namespace
