// The built tool run as a user runs it: standard output byte for byte, the
// exit code, and the bytes of every file afterwards.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "harness.h"

namespace {

using e2e::args_t;
using e2e::error_line;
using e2e::expect_run;
using e2e::expect_scenario;
using e2e::files_t;
using e2e::report_line;
using expected::bytes_of;

// One of each line ending, in an order that tells every conversion apart,
// with the bytes that must never change around them.
const std::string mixed_bytes = bytes_of("a\r\nb\nc\rd\r\r\ne\x1a\xff\0f\n\r");

class e2e_test : public ::testing::Test {
protected:
    e2e::temp_dir t;
};

// --- screens and options -------------------------------------------------

TEST_F(e2e_test, screens_and_option_errors_touch_no_file)
{
    const files_t untouched = {{"f.txt", "a\r\n"}};
    const std::string usage = e2e::usage();
    const std::string description = e2e::description();
    const struct {
        args_t args;
        std::string out;
        int code;
    } cases[] = {
        // Nothing reported or converted: no file is even opened.
        {{}, usage, 2},
        {{"/du"}, usage, 2},
        {{"/v"}, usage, 2},
        {{"-V", "-mu"}, usage, 2},
        {{"f.txt"}, usage, 2},
        {{"missing.txt", "f.txt"}, usage, 2},
        // The description wins over files and conversions.
        {{"/?"}, description, 0},
        {{"-?"}, description, 0},
        {{"/du", "f.txt", "/?"}, description, 0},
        {{"/?", "/v", "missing.txt"}, description, 0},
        {{"f.txt", "/?", "/ud"}, description, 0},
        // An unknown option anywhere wins over everything.
        {{"/vv", "f.txt"}, error_line("unknown option", "vv"), 2},
        {{"/du", "/d", "f.txt"}, error_line("unknown option", "d"), 2},
        {{"/dux", "f.txt"}, error_line("unknown option", "dux"), 2},
        {{"--du", "f.txt"}, error_line("unknown option", "-du"), 2},
        {{"/", "f.txt"}, error_line("unknown option", ""), 2},
        {{"-", "f.txt"}, error_line("unknown option", ""), 2},
        {{"/?", "/x"}, error_line("unknown option", "x"), 2},
        {{"/X", "/?"}, error_line("unknown option", "X"), 2},
        {{"/v", "f.txt", "/du", "/ud", "/Du", "/dd"}, error_line("unknown option", "dd"), 2},
    };
    for (const auto& c : cases)
        expect_scenario({untouched, c.args, c.out, c.code, untouched});
}

TEST_F(e2e_test, option_words_ignore_case_and_take_either_lead)
{
    const files_t crlf = {{"f.txt", "a\r\nb\r\n"}};
    const files_t lf = {{"f.txt", "a\nb\n"}};
    for (const char* opt : {"/du", "-du", "/DU", "-DU", "/Du", "/dU"})
        expect_scenario({crlf, {opt, "f.txt"}, "", 0, lf});
    for (const char* opt : {"/v", "-v", "/V", "-V"})
        expect_scenario({lf, {opt, "f.txt"}, report_line("f.txt", " unix"), 0, lf});
}

TEST_F(e2e_test, the_last_conversion_option_wins)
{
    expect_scenario(
        {{{"f.txt", "a\r\nb\rc\n"}}, {"/du", "f.txt", "/mu"}, "", 0, {{"f.txt", "a\r\nb\nc\n"}}});
}

// --- reports ----------------------------------------------------------------

TEST_F(e2e_test, report_lines_pad_names_and_list_types_in_fixed_order)
{
    const struct {
        const char* name;
        std::string bytes;
        const char* types;
    } cases[] = {
        {"empty", "", ""},
        {"dos.txt", "a\r\nb\r\n", " dos"},
        {"unix.txt", "a\nb\n", " unix"},
        {"mac.txt", "a\rb", " mac"},
        {"all.txt", "\rx\ny\r\n", " dos unix mac"},
        {"dos_unix.txt", "a\r\nb\n", " dos unix"},
        {"cr_cr_lf", "a\r\r\nb", " dos mac"},
        {"cr_cr_cr_lf", "\r\r\r\n", " dos mac"},
        {"plain", bytes_of("\0\x1a\xff"), ""},
        {"name_of_exactly_30_characters_", "\n", " unix"},
        {"a_name_longer_than_thirty_chars.txt", "\r", " mac"},
    };
    args_t args = {"/v"};
    std::string out;
    files_t before;
    for (const auto& c : cases) {
        t.write(c.name, c.bytes);
        before[c.name] = c.bytes;
        args.push_back(c.name);
        out += report_line(c.name, c.types);
    }
    expect_run(t, args, out, 0);
    EXPECT_TRUE(e2e::same_files(t.files(), before));
    EXPECT_EQ(report_line("name_of_exactly_30_characters_", "").size(),
              30 + e2e::lines("\n").size());
}

TEST_F(e2e_test, report_comes_before_the_conversion_of_each_file)
{
    expect_scenario({{{"a.txt", "1\r\n2\r\n"}, {"b.txt", "1\n"}},
                     {"/v", "/ud", "a.txt", "b.txt"},
                     report_line("a.txt", " dos") + report_line("b.txt", " unix"),
                     0,
                     {{"a.txt", "1\r\n2\r\n"}, {"b.txt", "1\r\n"}}});
}

// --- conversions -------------------------------------------------------------

TEST_F(e2e_test, the_six_conversions_byte_for_byte)
{
    const std::pair<const char*, std::string> cases[] = {
        {"/du", bytes_of("a\nb\nc\rd\r\ne\x1a\xff\0f\n\r")},
        {"/ud", bytes_of("a\r\nb\r\nc\rd\r\r\ne\x1a\xff\0f\r\n\r")},
        {"/dm", bytes_of("a\rb\nc\rd\r\re\x1a\xff\0f\n\r")},
        {"/md", bytes_of("a\r\nb\nc\r\nd\r\n\r\ne\x1a\xff\0f\n\r\n")},
        {"/um", bytes_of("a\r\nb\rc\rd\r\r\ne\x1a\xff\0f\r\r")},
        {"/mu", bytes_of("a\r\nb\nc\nd\n\r\ne\x1a\xff\0f\n\n")},
    };
    for (const auto& [opt, after] : cases)
        expect_scenario({{{"f.txt", mixed_bytes}}, {opt, "f.txt"}, "", 0, {{"f.txt", after}}});
}

TEST_F(e2e_test, every_byte_value_and_large_files_pass_through)
{
    std::string bytes;
    for (int i = 0; i < 300 * 1024; ++i)
        bytes += char(i % 256 == '\r' || i % 256 == '\n' ? 'x' : i % 256);
    bytes += "\r\n";
    t.write("big.bin", bytes);
    expect_run(t, {"/du", "big.bin"}, "", 0);
    EXPECT_TRUE(
        e2e::same_files(t.files(), files_t{{"big.bin", bytes.substr(0, bytes.size() - 2) + "\n"}}));
}

TEST_F(e2e_test, paths_are_written_the_dos_way_and_reported_as_typed)
{
    t.make_dir("sub");
    t.write("sub/a.txt", "1\r\n");
    t.write("sub/b.txt", "2\r\n");
    t.write("abs.txt", "3\r\n");
    const std::string abs = e2e::dos_path(t.path("abs.txt"));
    expect_run(t, {"/v", "/du", "sub\\a.txt", "sub/b.txt", abs},
               e2e::report_lines({"sub\\a.txt", "sub/b.txt", abs}, " dos"), 0);
    EXPECT_TRUE(e2e::same_files(t.files("sub"), files_t{{"a.txt", "1\n"}, {"b.txt", "2\n"}}));
    EXPECT_TRUE(e2e::same_files(t.files(), files_t{{"abs.txt", "3\n"}}));
}

TEST_F(e2e_test, a_temporary_file_of_a_subdirectory_is_an_ordinary_file)
{
    expect_scenario({{{"sub/kelto.tmp", "x\r\n"}},
                     {"/du", "sub\\kelto.tmp"},
                     "",
                     0,
                     {{"sub/kelto.tmp", "x\n"}}});
}

TEST_F(e2e_test, an_existing_temporary_file_is_emptied_and_reused)
{
    expect_scenario(
        {{{"kelto.tmp", "stale content that is longer than the file\r\n"}, {"f.txt", "a\r\n"}},
         {"/du", "f.txt"},
         "",
         0,
         {{"f.txt", "a\n"}}});
}

// --- errors --------------------------------------------------------------------

TEST_F(e2e_test, files_that_cannot_be_opened_end_the_run_after_earlier_ones)
{
    t.make_dir("dir");
    const struct {
        args_t args;
        std::string out;
    } cases[] = {
        {{"/du", "a.txt", "missing.txt", "b.txt"}, error_line("cannot open file", "missing.txt")},
        {{"/du", "a.txt", "dir", "b.txt"}, error_line("cannot open file", "dir")},
        {{"/v", "a.txt", "missing.txt", "b.txt"},
         report_line("a.txt", " dos") + error_line("cannot open file", "missing.txt")},
        {{"/v", "a.txt", "dir\\", "b.txt"},
         report_line("a.txt", " dos") + error_line("cannot open file", "dir\\")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        t.write("a.txt", "1\r\n");
        t.write("b.txt", "2\r\n");
        expect_run(t, c.args, c.out, 2);
        const bool converted = c.args[0] == "/du";
        EXPECT_TRUE(e2e::same_files(
            t.files(), files_t{{"a.txt", converted ? "1\n" : "1\r\n"}, {"b.txt", "2\r\n"}}));
    }
}

TEST_F(e2e_test, non_regular_files_are_refused)
{
    POSIX_ONLY();
    t.make_fifo("fifo");
    for (const char* name : {"fifo", "\\dev\\null"}) {
        for (const char* opt : {"/v", "/du"}) {
            SCOPED_TRACE(std::string(opt) + " " + name);
            expect_run(t, {opt, name}, error_line("cannot open file", name), 2);
            EXPECT_TRUE(e2e::same_files(t.files(), files_t{}));
        }
    }
}

TEST_F(e2e_test, a_read_only_file_is_kept_and_its_conversion_left_in_the_temporary_file)
{
    t.write("ro.txt", "a\r\nb\r\n");
    t.chmod("ro.txt", 0444);
    expect_run(t, {"/du", "ro.txt"}, error_line("cannot open file", "ro.txt"), 2);
    EXPECT_TRUE(
        e2e::same_files(t.files(), files_t{{"ro.txt", "a\r\nb\r\n"}, {"kelto.tmp", "a\nb\n"}}));
    if (e2e::config().posix) {
        EXPECT_EQ(t.mode("kelto.tmp") & 0777, 0600u);
    }
}

TEST_F(e2e_test, an_unwritable_current_directory_refuses_the_temporary_file)
{
    POSIX_ONLY();
    // The superuser writes into any directory; the tool then runs as nobody.
    t.chmod(".", 0755);
    t.make_dir("ro");
    t.write("ro/f.txt", "a\r\n");
    t.chmod("ro", 0555);
    e2e::run_options opts;
    opts.as_nobody = true;
    e2e::run_result r = t.kelto_in("ro", {"/du", "f.txt"}, opts);
    if (!r.started)
        GTEST_SKIP() << "the tool cannot be run as user nobody: " << r.err;
    EXPECT_EQ(r.out, error_line("cannot open file", "kelto.tmp"));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(e2e::same_files(t.files("ro"), files_t{{"f.txt", "a\r\n"}}));
}

// --- failures the operating system brings about -------------------------------------

TEST_F(e2e_test, an_unwritable_standard_output_fails_the_run)
{
    POSIX_ONLY();
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full on this system";
    t.write("f.txt", "a\r\n");
    // A report that cannot be written stops the run before the conversion.
    const args_t cases[] = {{"/?"}, {"/v", "f.txt"}, {}, {"/v", "/du", "f.txt"}};
    for (const args_t& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        e2e::run_options full;
        full.stdout_file = "/dev/full";
        expect_run(t, args, "", 2, full);
        e2e::run_options pipe;
        pipe.stdout_closed_pipe = true;
        expect_run(t, args, "", 2, pipe);
        e2e::run_options closed;
        closed.closed_fds = {1};
        expect_run(t, args, "", 2, closed);
    }
    EXPECT_TRUE(e2e::same_files(t.files(), files_t{{"f.txt", "a\r\n"}}));
    // No file takes the place of a closed standard stream, where an error
    // line would be printed into it.
    t.write("ro.txt", "a\n");
    t.chmod("ro.txt", 0444);
    e2e::run_options closed;
    closed.closed_fds = {0, 1, 2};
    expect_run(t, {"/ud", "ro.txt"}, "", 2, closed);
    expect_run(t, {"/du", "kelto.tmp"}, "", 2, closed);
    EXPECT_TRUE(e2e::same_files(
        t.files(), files_t{{"f.txt", "a\r\n"}, {"ro.txt", "a\n"}, {"kelto.tmp", "a\r\n"}}));
}

TEST_F(e2e_test, a_temporary_file_that_cannot_be_written_is_removed)
{
    POSIX_ONLY();
    // Larger than the stream's buffer, so writes fail during the conversion
    // as well as at the close.
    const std::string bytes(400 * 1024, '\n');
    t.write("f.txt", bytes);
    for (long long limit : {0LL, 4096LL, 300 * 1024LL}) {
        SCOPED_TRACE(limit);
        e2e::run_options opts;
        opts.file_size_limit = limit;
        expect_run(t, {"/ud", "f.txt"}, error_line("cannot write file", "kelto.tmp"), 2, opts);
        EXPECT_TRUE(e2e::same_files(t.files(), files_t{{"f.txt", bytes}}));
    }
}

TEST_F(e2e_test, a_read_error_is_not_the_end_of_the_file)
{
    POSIX_ONLY();
    // A regular file whose every read fails.
    const char* mem = "\\proc\\self\\mem";
    t.write("f.txt", "a\r\n");
    expect_run(t, {"/v", "f.txt", mem},
               report_line("f.txt", " dos") + error_line("cannot read file", mem), 2);
    expect_run(t, {"/du", "f.txt", mem}, error_line("cannot read file", mem), 2);
    EXPECT_TRUE(e2e::same_files(t.files(), files_t{{"f.txt", "a\n"}}));
}

// Why the tool cannot be run as root in namespaces of its own of the kind
// FLAG (unshare -u, -m); empty when it can.
std::string no_namespaces(const std::string& flag)
{
    if (geteuid() != 0)
        return "not run by root";
    e2e::run_result r = e2e::run_command("unshare", {flag, "true"}, "/");
    return r.exit_code == 0 ? "" : "unshare " + flag + " fails: " + r.err;
}

// Files whose bytes are not what they seem: a file of /proc, whose size
// says nothing of what it reads (a write into it is a command to the
// system), and a kelto.tmp that is another file mounted over the name.
// SCRIPT runs by /bin/sh with the tool as $0, in namespaces of its own when
// FLAG is given; those rows come last, as they may be skipped.
TEST_F(e2e_test, files_that_are_not_what_they_seem_are_never_written)
{
    POSIX_ONLY();
    const std::string hostname = "\\proc\\sys\\kernel\\hostname";
    const struct {
        const char* flag;
        files_t files;
        std::string script;
        std::string out;
        int code;
    } cases[] = {
        {nullptr,
         {},
         "\"$0\" /v '\\proc\\self\\comm' && exec \"$0\" /ud '\\proc\\self\\comm'",
         report_line("\\proc\\self\\comm", " unix") +
             error_line("file changed while converted", "\\proc\\self\\comm"),
         2},
        {"-u",
         {},
         "echo kelto > /proc/sys/kernel/hostname && \"$0\" /ud '" + hostname +
             "'; r=$?; cat /proc/sys/kernel/hostname; exit $r",
         error_line("file changed while converted", hostname) + "kelto\n",
         2},
        {"-m",
         {{"kelto.tmp", ""}, {"other", "other\n"}, {"f.txt", "a\n"}},
         "mount --bind other kelto.tmp && exec \"$0\" /ud f.txt",
         error_line("cannot use temporary file", "kelto.tmp"),
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        if (c.flag && !no_namespaces(c.flag).empty())
            GTEST_SKIP() << no_namespaces(c.flag);
        e2e::temp_dir d;
        std::map<std::string, unsigned> modes;
        for (const auto& [name, bytes] : c.files) {
            d.write(name, bytes);
            modes[name] = d.mode(name);
        }
        args_t args = {"-c", c.script, e2e::config().kelto};
        if (c.flag)
            args.insert(args.begin(), {c.flag, "/bin/sh"});
        e2e::run_result r = e2e::run_command(c.flag ? "unshare" : "/bin/sh", args, d.dir());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.exit_code, c.code);
        EXPECT_TRUE(e2e::same_files(d.files(), c.files));
        for (const auto& [name, mode] : modes)
            EXPECT_EQ(d.mode(name), mode) << name;
    }
}

TEST_F(e2e_test, the_temporary_file_itself_is_never_converted)
{
    const bool posix = e2e::config().posix;
    t.write("kelto.tmp", "keep\r\n");
    t.hard_link("kelto.tmp", "hard");
    if (posix)
        t.symlink("kelto.tmp", "soft");
    std::vector<std::string> names = {"kelto.tmp", ".\\kelto.tmp", "hard"};
    if (posix)
        names.push_back("soft");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        expect_run(t, {"/du", name}, error_line("cannot convert temporary file", name), 2);
        EXPECT_EQ(t.read("kelto.tmp"), "keep\r\n");
        EXPECT_EQ(t.read("hard"), "keep\r\n");
    }
}

TEST_F(e2e_test, runs_at_the_same_time_in_one_directory_take_turns)
{
    POSIX_ONLY();
    // Many small files four runs at a time, and two large files at once:
    // a run that finds kelto.tmp in use waits for it, and every file ends
    // converted.
    const struct {
        int count;
        size_t size;
        int parallel;
    } cases[] = {{200, 2000, 4}, {2, size_t{32} << 20, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " files");
        e2e::temp_dir d;
        files_t before;
        files_t after;
        for (int i = 0; i < c.count; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            const std::string line = "line of file " + std::to_string(i);
            for (size_t n = 0; n < c.size; n += line.size() + 2) {
                before[name] += line + "\r\n";
                after[name] += line + "\n";
            }
            d.write(name, before[name]);
        }
        e2e::run_result r = e2e::run_command(
            "/bin/sh",
            {"-c", "ls *.txt | xargs -P" + std::to_string(c.parallel) + " -n1 \"$0\" /du",
             e2e::config().kelto},
            d.dir());
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(e2e::same_files(d.files(), after));
    }
}

e2e::run_options shell(const std::string& script)
{
    e2e::run_options opts;
    opts.shell = script;
    return opts;
}

// What a user's shell sets for the tool, and other runs: a umask without
// the owner's bits; signals ignored (nohup, a background job) while another
// run holds kelto.tmp, which the tool waits for; another run's kelto.tmp
// named from another directory.
TEST_F(e2e_test, the_shells_settings_and_other_runs_are_respected)
{
    POSIX_ONLY();
    const files_t before = {{"f.txt", "a\r\n"}, {"g.txt", "b\r\n"}};
    const files_t after = {{"f.txt", "a\n"}, {"g.txt", "b\n"}};
    const args_t both = {"/du", "f.txt", "g.txt"};
    // The shell holds kelto.tmp until the tool waits for it (or a minute has
    // passed), sends the signals it ignores, and lets go.
    const std::string turns =
        "exec 9>kelto.tmp && flock 9 && trap '' HUP TERM && { \"$0\" \"$@\" 9>&- & } && pid=$! "
        "n=0; "
        "while [ $n -lt 6000 ] && ! grep -q -e \"-> FLOCK.* $pid \" /proc/locks; do "
        "n=$((n + 1)); sleep 0.01; done; kill -HUP $pid; kill -TERM $pid; kill -INT $pid; "
        "exec 9>&-; wait $pid";
    const files_t other = {{"A/a.txt", "a\r\n"}, {"B/kelto.tmp", "b\r\n"}};
    const e2e::scenario cases[] = {
        {before, both, "", 0, after, shell("umask 0222 && exec \"$0\" \"$@\"")},
        {before, both, "", 0, after, shell("umask 0200 && exec \"$0\" \"$@\"")},
        {before, both, "", 0, after, shell("umask 0277 && exec \"$0\" \"$@\"")},
        {before, both, "", 0, after, shell("umask 0777 && exec \"$0\" \"$@\"")},
        {before, both, "", 0, after, shell(turns)},
        {other,
         {"/du", "..\\B\\kelto.tmp"},
         error_line("cannot convert temporary file", "..\\B\\kelto.tmp"),
         2,
         other,
         shell("{ flock 9 && cd A && \"$0\" \"$@\" 9<&-; } 9<B/kelto.tmp")},
    };
    for (const e2e::scenario& c : cases)
        expect_scenario(c);
    // The system clears the set-ID bits of a file written by a user who may
    // not keep them (anyone but root).
    t.write("s.txt", "a\r\n");
    t.chmod("s.txt", 06755);
    expect_run(t, {"/du", "s.txt"}, "", 0);
    EXPECT_EQ(t.mode("s.txt"), geteuid() == 0 ? 06755u : 0755u);
}

TEST_F(e2e_test, a_temporary_file_that_may_not_be_taken_over_is_never_written)
{
    POSIX_ONLY();
    const std::string unopened = error_line("cannot open file", "kelto.tmp");
    const std::string refused = error_line("cannot use temporary file", "kelto.tmp");
    const struct {
        const char* what;
        void (*make)(const e2e::temp_dir&);
        std::string out;
    } cases[] = {
        {"symbolic link", [](const e2e::temp_dir& d) { d.symlink("target", "kelto.tmp"); },
         unopened},
        {"dangling link", [](const e2e::temp_dir& d) { d.symlink("absent", "kelto.tmp"); },
         unopened},
        {"directory", [](const e2e::temp_dir& d) { d.make_dir("kelto.tmp"); }, unopened},
        {"fifo", [](const e2e::temp_dir& d) { d.make_fifo("kelto.tmp"); }, unopened},
        {"read-only file",
         [](const e2e::temp_dir& d) {
             d.write("kelto.tmp", "old\r\n");
             d.chmod("kelto.tmp", 0444);
         },
         refused},
        {"hard link", [](const e2e::temp_dir& d) { d.hard_link("target", "kelto.tmp"); }, refused},
        {"another user's",
         [](const e2e::temp_dir& d) {
             d.write("kelto.tmp", "old\r\n");
             if (chown(d.path("kelto.tmp").c_str(), 65534, 65534) != 0)
                 d.chmod("kelto.tmp", 0444);  // not root: stands in for it
         },
         refused},
    };
    if (geteuid() != 0)
        std::cout << "not run by root: another user's kelto.tmp is not made\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        e2e::temp_dir d;
        d.write("f.txt", "a\r\n");
        d.write("target", "untouched\r\n");
        c.make(d);
        expect_run(d, {"/du", "f.txt"}, c.out, 2);
        EXPECT_EQ(d.read("f.txt"), "a\r\n");
        EXPECT_EQ(d.read("target"), "untouched\r\n");
        EXPECT_FALSE(d.exists("absent"));
        EXPECT_TRUE(d.exists("kelto.tmp"));
    }
}

}  // namespace
