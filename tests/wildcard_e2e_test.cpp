// Wildcard patterns as a user types them: which files a command line reaches,
// in which order (seen through the /v report, one line per file), and what
// the conversions do to their bytes.
#include <gtest/gtest.h>

#include "harness.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using e2e::error_line;
using e2e::expect_run;
using e2e::report_lines;
using names = std::vector<std::string>;

// A tree with names that sort differently by case, by byte value and by the
// '\' that follows a directory's name:
//   a  a-b  a.txt  B.txt  c.TXT  .hidden.txt  notes.doc
//   sub-x\f.txt  sub\e.txt  sub\D.txt  sub\deep\g.txt  .git\h.txt
class wildcard_e2e : public ::testing::Test {
protected:
    e2e::temp_dir t;

    void SetUp() override
    {
        for (const char* f : {"a", "a-b", "a.txt", "B.txt", "c.TXT", ".hidden.txt", "notes.doc"})
            t.write(f, "x\n");
        for (const char* d : {"sub-x", "sub", "sub/deep", ".git"})
            t.make_dir(d);
        for (const char* f :
             {"sub-x/f.txt", "sub/e.txt", "sub/D.txt", "sub/deep/g.txt", ".git/h.txt"})
            t.write(f, "x\n");
    }

    // Runs the tool and expects exit code 0 and the report of FILES, which
    // all hold LF endings.
    void expect_reported(const names& args, const names& files) const
    {
        expect_run(t, args, report_lines(files, " unix"), 0);
    }
};

const names top_txt = {"a.txt", "B.txt", "c.TXT"};
const names all_txt = {"a.txt",      "B.txt",      "c.TXT",           "sub-x\\f.txt",
                       "sub\\D.txt", "sub\\e.txt", "sub\\deep\\g.txt"};

TEST_F(wildcard_e2e, files_come_sorted_without_regard_to_case)
{
    const struct {
        names args;
        names files;
    } cases[] = {
        {{"/v", "*.txt"}, top_txt},
        {{"/v", "*.TXT"}, top_txt},
        {{"/v", "?.t?t"}, top_txt},
        // Names without an extension; a file a comes before a file a-b.
        {{"/v", "*"}, {"a", "a-b"}},
        {{"/v", "*.*"}, {"a", "a-b", "a.txt", "B.txt", "c.TXT", "notes.doc"}},
        {{"/v", "a*."}, {"a", "a-b"}},
        {{"/v", "sub\\*.txt"}, {"sub\\D.txt", "sub\\e.txt"}},
        {{"/v", "sub\\deep\\*.*"}, {"sub\\deep\\g.txt"}},
        // Patterns and file names keep their places; a pattern given twice
        // yields its files twice.
        {{"/v", "*.doc", "a", "*.txt"}, {"notes.doc", "a", "a.txt", "B.txt", "c.TXT"}},
        {{"/v", "B.*", "b.*"}, {"B.txt", "B.txt"}},
        // File names given in full are used as they are, hidden or not.
        {{"/v", ".hidden.txt", "/subdir"}, {".hidden.txt"}},
    };
    for (const auto& c : cases)
        expect_reported(c.args, c.files);
}

TEST_F(wildcard_e2e, options_anywhere_and_in_any_case)
{
    const struct {
        names args;
        names files;
    } cases[] = {
        // A directory's own files come first; a directory a-b before a
        // directory a; hidden directories are never entered.
        {{"/v", "*.txt", "/subdir"}, all_txt},
        {{"/SUBDIR", "/v", "*.txt"}, all_txt},
        {{"-SubDir", "*.txt", "-v"}, all_txt},
        {{"/v", "sub\\*.txt", "-subdir"}, {"sub\\D.txt", "sub\\e.txt", "sub\\deep\\g.txt"}},
        {{"/v", "*.txt", "/hidden"}, {".hidden.txt", "a.txt", "B.txt", "c.TXT"}},
        {{"/v", "-HIDDEN", "*.txt", "/subdir"},
         {".hidden.txt", "a.txt", "B.txt", "c.TXT", "sub-x\\f.txt", "sub\\D.txt", "sub\\e.txt",
          "sub\\deep\\g.txt"}},
        // There are no system files here: /system changes nothing.
        {{"/v", "*.txt", "/System"}, top_txt},
        // A pattern whose only matches lie below counts with /subdir.
        {{"/v", "g.*", "/subdir"}, {"sub\\deep\\g.txt"}},
    };
    for (const auto& c : cases)
        expect_reported(c.args, c.files);
}

TEST_F(wildcard_e2e, nosort_keeps_the_set_and_own_files_first)
{
    auto r = t.kelto({"/v", "/NoSort", "*.txt", "/subdir"});
    EXPECT_EQ(r.exit_code, 0);
    // The order is the system's: compare the lines as a set, and check
    // that the top directory's own files still come first.
    std::vector<std::string> got;
    const std::string nl = e2e::lines("\n");
    for (size_t pos = 0; pos < r.out.size();) {
        size_t end = r.out.find(nl, pos);
        if (end == std::string::npos)
            end = r.out.size();
        got.push_back(r.out.substr(pos, end - pos + nl.size()));
        pos = end + nl.size();
    }
    std::vector<std::string> want;
    for (const std::string& f : all_txt)
        want.push_back(e2e::report_line(f, " unix"));
    ASSERT_EQ(got.size(), want.size()) << r.out;
    std::vector<std::string> top(got.begin(), got.begin() + 3);
    std::sort(top.begin(), top.end());
    std::vector<std::string> want_top(want.begin(), want.begin() + 3);
    std::sort(want_top.begin(), want_top.end());
    EXPECT_EQ(top, want_top) << r.out;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

TEST_F(wildcard_e2e, unmatched_and_rejected_patterns)
{
    const struct {
        names args;
        std::string out;
    } cases[] = {
        {{"/v", "*.x"}, error_line("no match file", "*.x")},
        // The last unmatched pattern is named, and nothing is reported.
        {{"/v", "*.x", "*.txt", "*.y"}, error_line("no match file", "*.y")},
        {{"/v", "*.y", "*.txt", "*.x."}, error_line("no match file", "*.x.")},
        // Directories never match.
        {{"/v", "su*"}, error_line("no match file", "su*")},
        // Hidden files and hidden directories need /hidden and are never
        // entered by /subdir.
        {{"/v", ".h*"}, error_line("no match file", ".h*")},
        {{"/v", "h.*", "/subdir", "/hidden"}, error_line("no match file", "h.*")},
        // Matches only below need /subdir.
        {{"/v", "g.*"}, error_line("no match file", "g.*")},
        {{"/v", "missing\\*.txt"}, error_line("no match file", "missing\\*.txt")},
        // Its only file has an extension.
        {{"/v", "sub\\deep\\*"}, error_line("no match file", "sub\\deep\\*")},
        // An argument that begins with '-' is an option, never a pattern;
        // the word is reported without its '-'.
        {{"/v", "-*.txt"}, error_line("unknown option", "*.txt")},
        // Only the whole words are options of the expansion.
        {{"/v", "*.txt", "/subdirs"}, error_line("unknown option", "subdirs")},
        {{"/v", "*.txt", "-sub"}, error_line("unknown option", "sub")},
    };
    for (const auto& c : cases)
        expect_run(t, c.args, c.out, 2);
}

TEST(wildcard_e2e_convert, expanded_files_are_converted_byte_for_byte)
{
    e2e::temp_dir t;
    t.make_dir("src");
    t.make_dir("src/lib");
    const struct {
        const char* name;
        std::string before;
        std::string after;  // after /du '*.c' /subdir
    } files[] = {
        {"top.c", "a\r\nb\r\n", "a\nb\n"},
        {"src/x.c", "\r\n\r\r\n\n\r", "\n\r\n\n\r"},
        {"src/Y.C", std::string("\0\r\n\xFF", 4), std::string("\0\n\xFF", 3)},
        {"src/lib/z.c", "no line end", "no line end"},
        {"src/lib/keep.h", "h\r\n", "h\r\n"},
        {"src/.dot.c", "d\r\n", "d\r\n"},
    };
    for (const auto& f : files)
        t.write(f.name, f.before);
    auto r = t.kelto({"/du", "*.c", "/subdir"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    for (const auto& f : files)
        EXPECT_EQ(t.read(f.name), f.after) << f.name;
    EXPECT_FALSE(t.exists("kelto.tmp"));

    // Back again, for the files of one directory only.
    r = t.kelto({"/ud", "src\\*.c"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(t.read("src/x.c"), "\r\n\r\n\r\n\r");
    EXPECT_EQ(t.read("src/Y.C"), std::string("\0\r\n\xFF", 4));
    EXPECT_EQ(t.read("top.c"), "a\nb\n");
}

TEST(wildcard_e2e_convert, unmatched_pattern_touches_no_file)
{
    const e2e::files_t files = {{"a.txt", "a\r\n"}};
    e2e::expect_scenario(
        {files, {"/du", "*.txt", "*.x"}, error_line("no match file", "*.x"), 2, files});
}

// Names that read like options. Found by a pattern they are files, reported
// and converted under their own names; nothing in them is obeyed.
TEST(wildcard_e2e_convert, found_names_are_files_whatever_they_begin_with)
{
    const std::string text = "x\r\n\r", converted = "x\n\r";
    const struct {
        const char* name;  // the file beside a.txt
        names args;        // each pattern matches both files
        bool reported;
        bool converted;
    } cases[] = {
        {"-ud", {"/v", "*.*"}, true, false},           {"-mu", {"/du", "*.*"}, false, true},
        {"-?", {"/du", "*.*"}, false, true},           {"-x.txt", {"/du", "*.txt"}, false, true},
        {"-v", {"/du", "*.*"}, false, true},           {"-", {"/v", "*.*"}, true, false},
        {"-subdir", {"/v", "/du", "*.*"}, true, true},
    };
    for (const auto& c : cases) {
        // Windows names cannot hold a '?'.
        if (!e2e::config().posix && std::string(c.name) == "-?")
            continue;
        SCOPED_TRACE(c.name);
        const std::string& now = c.converted ? converted : text;
        e2e::expect_scenario({{{c.name, text}, {"a.txt", text}},
                              c.args,
                              c.reported ? report_lines({c.name, "a.txt"}, " dos mac") : "",
                              0,
                              {{c.name, now}, {"a.txt", now}}});
    }
}

TEST(wildcard_e2e_convert, leftover_temporary_file_is_never_converted)
{
    // kelto.tmp sorts before x.txt, so it is the first file of "*.*".
    const e2e::files_t files = {{"kelto.tmp", "left\r\nover\r\n"}, {"x.txt", "x\r\n"}};
    e2e::expect_scenario({files,
                          {"/du", "*.*"},
                          error_line("cannot convert temporary file", "kelto.tmp"),
                          2,
                          files});
}

// Names in UTF-8, as a Linux system keeps them: Latin, Cyrillic and
// Japanese. In a UTF-8 locale each character is one to '?', and no byte of
// one is taken for a '.' or a '\'; in the C locale each byte is a
// character, and no name is left out either. Beside them a decoy, a file
// whose name holds a '\'.
class wildcard_e2e_utf8 : public ::testing::Test {
protected:
    e2e::temp_dir t;

    void SetUp() override
    {
        POSIX_ONLY();
        for (const char* f :
             {"a.txt", "Maß.txt", "Ä.txt", "ł.txt", "отчёт.txt", "あ.txt", "Maß.doc", "résumé"})
            t.write(f, "x\r\n");
        t.make_dir("Ä");
        t.make_dir("あ");
        t.write("Ä/y.txt", "x\r\n");
        t.write("あ/z.txt", "x\r\n");
        t.write("Ä\\y.txt", "decoy\r\n");
    }
};

const names utf8_txt = {"a.txt", "Maß.txt", "Ä.txt", "ł.txt", "отчёт.txt", "あ.txt"};

TEST_F(wildcard_e2e_utf8, every_name_is_found_by_its_characters)
{
    names all_txt = utf8_txt;
    all_txt.insert(all_txt.end(), {"Ä\\y.txt", "あ\\z.txt"});
    const struct {
        const char* locale;
        names args;
        names files;
    } cases[] = {
        {"C.UTF-8", {"/v", "*.txt"}, utf8_txt},
        {"C.UTF-8", {"/v", "*"}, {"résumé"}},
        {"C.UTF-8", {"/v", "*.doc"}, {"Maß.doc"}},
        {"C.UTF-8", {"/v", "?.txt"}, {"a.txt", "Ä.txt", "ł.txt", "あ.txt"}},
        {"C.UTF-8", {"/v", "Ä\\*.txt"}, {"Ä\\y.txt"}},
        {"C.UTF-8", {"/v", "*.txt", "/subdir"}, all_txt},
        {"C.UTF-8", {"/v", "Ä\\y.txt"}, {"Ä\\y.txt"}},
        {"C", {"/v", "*.txt"}, utf8_txt},
        {"C", {"/v", "*"}, {"résumé"}},
        {"C", {"/v", "?.txt"}, {"a.txt"}},
        {"C", {"/v", "??.txt"}, {"Ä.txt", "ł.txt"}},
        {"C", {"/v", "*.txt", "/subdir"}, all_txt},
    };
    for (const auto& c : cases) {
        e2e::locale_scope locale(c.locale);
        ASSERT_TRUE(locale.installed) << c.locale;
        expect_run(t, c.args, report_lines(c.files, " dos"), 0);
    }
}

TEST_F(wildcard_e2e_utf8, conversions_reach_every_file_and_no_other)
{
    RUN_IN_LOCALE("C.UTF-8");
    expect_run(t, {"/du", "Ä\\y.txt"}, "", 0);
    EXPECT_EQ(t.read("Ä/y.txt"), "x\n");
    expect_run(t, {"/du", "*.txt", "/subdir"}, "", 0);
    for (const std::string& f : utf8_txt)
        EXPECT_EQ(t.read(f), "x\n") << f;
    EXPECT_EQ(t.read("あ/z.txt"), "x\n");
    EXPECT_EQ(t.read("Ä\\y.txt"), "decoy\r\n");
    EXPECT_EQ(t.read("Maß.doc"), "x\r\n");
}

// Names in Shift JIS, whose second byte may be a '\': 表 is 95 5C, ソ is
// 83 5C, FC 5C a character of code page 932's own rows. Directories whose
// names end in one are searched, entered and opened in like any other. One
// whose name ends in a lone lead byte (D 81) cannot be followed by a '\'
// of its own: the run ends before anything is converted, and never reaches
// the file D 81 5C foo.txt beside it.
TEST(wildcard_e2e_sjis, a_second_byte_0x5c_is_no_separator)
{
    POSIX_ONLY();
    RUN_IN_LOCALE("ja_JP.SJIS");
    // clang-format off
    const e2e::files_t before = {{"\x95\x5C/in.txt", "h\r\n"}, {"sub/\x83\x5C/y.txt", "y\r\n"},
                                 {"\xFC\x5C/in.txt", "f\r\n"}, {"in.txt", "d\r\n"}};
    const e2e::files_t after = {{"\x95\x5C/in.txt", "h\n"}, {"sub/\x83\x5C/y.txt", "y\n"},
                                {"\xFC\x5C/in.txt", "f\r\n"}, {"in.txt", "d\r\n"}};
    const std::string hyo = "\x95\x5C\\in.txt", so = "sub\\\x83\x5C\\y.txt";
    const std::string fc = "\xFC\x5C\\in.txt";
    const e2e::files_t lone = {{"D\x81/foo.txt", "x\r\n"}, {"D\x81\x5C" "foo.txt", "decoy\r\n"},
                               {"foo.txt", "r\r\n"}};
    const e2e::scenario cases[] = {
        {before, {"/v", "\x95\x5C\\*.txt", "\xFC\x5C\\*.txt", "sub\\\x83\x5C\\*.txt"},
         report_lines({hyo, fc, so}, " dos"), 0, before},
        {before, {"/v", "*.txt", "/subdir"}, report_lines({"in.txt", so, hyo, fc}, " dos"), 0,
         before},
        {before, {"/du", "sub\\\x83\x5C\\*.txt", hyo}, "", 0, after},
        {lone, {"/du", "foo*.txt", "/subdir"}, error_line("name not in code page", "D\x81"), 2,
         lone},
    };
    // clang-format on
    for (const e2e::scenario& c : cases)
        e2e::expect_scenario(c);
}

// The cases below need POSIX means: links, FIFOs and permission bits.
class wildcard_e2e_posix : public ::testing::Test {
protected:
    e2e::temp_dir t;

    void SetUp() override { POSIX_ONLY(); }
};

TEST_F(wildcard_e2e_posix, links_fifos_and_backslash_names_are_left_out)
{
    t.write("a.txt", "x\n");
    t.make_dir("sub");
    t.write("sub/b.txt", "x\n");
    // Followed, this link would make /subdir walk forever, and one to a
    // file would let whoever writes in the tree pick a file elsewhere.
    t.symlink("..", "sub/loop");
    t.symlink("a.txt", "link.txt");
    t.symlink("gone.txt", "broken.txt");
    // Opened, a FIFO without a writer would block the run.
    t.make_fifo("fifo.txt");
    t.write("odd\\name.txt", "x\n");
    // A link is followed only when its name is typed.
    expect_run(t, {"/v", "*.txt", "/subdir", "link.txt"},
               report_lines({"a.txt", "sub\\b.txt", "link.txt"}, " unix"), 0);
}

TEST_F(wildcard_e2e_posix, read_only_files_match_and_are_refused)
{
    t.write("a.txt", "a\r\n");
    t.write("b.txt", "b\r\n");
    t.chmod("b.txt", 0444);
    auto r = t.kelto({"/v", "*.txt"});
    EXPECT_EQ(r.out, report_lines({"a.txt", "b.txt"}, " dos"));
    r = t.kelto({"/du", "*.txt"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, error_line("cannot open file", "b.txt"));
    EXPECT_EQ(t.read("a.txt"), "a\n");
    EXPECT_EQ(t.read("b.txt"), "b\r\n");
}

TEST_F(wildcard_e2e_posix, drives_and_slashes_find_nothing)
{
    // Such names are allowed here, so there is something to find.
    t.make_dir("C:");
    t.write("C:/a.txt", "x\n");
    t.make_dir("sub");
    t.write("sub/a.txt", "x\n");
    for (const char* pattern : {"C:*.txt", "C:\\*.txt", "sub/*.txt", "./*.txt"})
        expect_run(t, {"/v", pattern}, error_line("no match file", pattern), 2);
    expect_run(t, {"/v", "sub\\*.txt", "./sub\\*.txt"},
               report_lines({"sub\\a.txt", "./sub\\a.txt"}, " unix"), 0);
}

}  // namespace
