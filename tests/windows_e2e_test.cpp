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

// The ANSI code page says what a character is, and a name it cannot spell
// is never opened. In code page 1252 é (E9) begins no character: café\*.txt
// searches café, not the current directory, and résumé.doc has an
// extension. There the system lists Ł.txt as L.txt, and a pattern that
// would take it ends the run before any file is touched. In code page 932
// 表 (95 5C) and ソ (83 5C) end in the byte of a '\', yet are found and
// opened where they were listed.
TEST_F(windows_e2e, names_are_characters_of_the_ansi_code_page)
{
    // clang-format off
    const e2e::files_t western = {{"café/in.txt", "c\r\n"}, {"in.txt", "d\r\n"},
                                  {"résumé.doc", "b\r\n"}, {"readme", "r\r\n"}};
    const e2e::files_t western_after = {{"café/in.txt", "c\n"}, {"in.txt", "d\r\n"},
                                        {"résumé.doc", "b\r\n"}, {"readme", "r\n"}};
    const e2e::files_t best_fit = {{"L.txt", "l\r\n"}, {"Ł.txt", "l\r\n"},
                                   {"sub/Ω/x.txt", "x\r\n"}};
    const e2e::files_t sjis = {{"表/in.txt", "h\r\n"}, {"sub/ソ/y.txt", "y\r\n"},
                               {"in.txt", "d\r\n"}};
    const struct {
        const char* locale;
        e2e::scenario s;
    } cases[] = {
        {"C.UTF-8", {western, {"/v", "café\\*.txt"}, report_lines({"caf\xE9\\in.txt"}, " dos"), 0,
                     western}},
        {"C.UTF-8", {western, {"/du", "café\\*.txt", "*"}, "", 0, western_after}},
        {"C.UTF-8", {best_fit, {"/du", "*.txt"}, error_line("name not in code page", "?.txt"), 2,
                     best_fit}},
        {"C.UTF-8", {best_fit, {"/v", "sub\\*.*", "/subdir"},
                     error_line("name not in code page", "sub\\?"), 2, best_fit}},
        {"C.UTF-8", {best_fit, {"/du", "L.*"}, "", 0,
                     {{"L.txt", "l\n"}, {"Ł.txt", "l\r\n"}, {"sub/Ω/x.txt", "x\r\n"}}}},
        {"ja_JP.SJIS", {sjis, {"/du", "表\\*.txt", "sub\\ソ\\*.txt"}, "", 0,
                        {{"表/in.txt", "h\n"}, {"sub/ソ/y.txt", "y\n"}, {"in.txt", "d\r\n"}}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        e2e::locale_scope locale(c.locale);
        ASSERT_TRUE(locale.installed) << c.locale << " (./build.sh test makes it)";
        expect_scenario(c.s);
    }
}

}  // namespace
