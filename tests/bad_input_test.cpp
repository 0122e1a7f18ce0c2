// Hostile and odd input, end to end: each run must end with a clear message
// or the right result. A crash, a hang, or a sanitizer report (the sanitizer
// build runs its own tool here) fails the case.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

using e2e::checked_run;
using e2e::error_line;
using e2e::expect_run;
using e2e::expect_scenario;
using e2e::files_t;
using e2e::report_line;
using e2e::report_lines;

struct failing_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
};

// Each run ends with an error and leaves the directory as it was.
void expect_failures(const std::vector<failing_case>& cases)
{
    const files_t untouched = {{"a.txt", "1\r\n"}};
    for (const failing_case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_scenario({untouched, c.args, c.out, 2, untouched});
    }
}

std::string cannot_open(const std::string& name)
{
    return error_line("cannot open file", name);
}

TEST(bad_input, arguments_of_100000_bytes)
{
    const std::string name(100000, 'n');
    const std::string word(100000, 'W');
    expect_failures({
        {"convert", {"/du", name}, cannot_open(name)},
        {"report", {"/v", name}, cannot_open(name)},
        {"long name first", {name, "/du", "a.txt"}, cannot_open(name)},
        {"option", {"/" + word}, error_line("unknown option", word)},
        {"option after a file", {"/du", "-" + word, "a.txt"}, error_line("unknown option", word)},
    });
}

TEST(bad_input, empty_arguments)
{
    expect_failures({
        {"convert", {"/du", ""}, cannot_open("")},
        {"report", {"/v", "", "a.txt"}, cannot_open("")},
        {"slash alone", {"/"}, error_line("unknown option", "")},
        {"dash alone", {"a.txt", "-", "/du"}, error_line("unknown option", "")},
    });
    // An empty name and nothing to do: the usage, as for no arguments.
    e2e::temp_dir t;
    expect_run(t, {"", ""}, e2e::usage(), 2);
}

TEST(bad_input, names_of_only_dots)
{
    expect_failures({
        {"this directory", {"/du", "."}, cannot_open(".")},
        {"parent directory", {"/v", ".."}, cannot_open("..")},
        {"three dots", {"/du", "..."}, cannot_open("...")},
        {"dot backslash", {"/v", ".\\"}, cannot_open(".\\")},
    });
}

TEST(bad_input, thousands_of_arguments)
{
    e2e::temp_dir t;
    std::vector<std::string> args = {"/v"};
    std::string report;
    for (int i = 0; i < 2000; ++i) {
        std::string name = "f" + std::to_string(10000 + i) + ".txt";
        t.write(name, "x\r\ny\r\n");
        args.push_back(name);
        report += report_line(name, " dos");
    }
    expect_run(t, args, report, 0);

    args[0] = "/du";
    expect_run(t, args, "", 0);
    for (size_t i = 1; i < args.size(); ++i)
        ASSERT_EQ(t.read(args[i]), "x\ny\n") << args[i];
    EXPECT_FALSE(t.exists("kelto.tmp"));

    // 20000 repetitions of one option weigh no more than one.
    std::vector<std::string> repeated(20000, "-V");
    repeated.push_back(args[1]);
    expect_run(t, repeated, report_line(args[1], " unix"), 0);
}

// Any byte but NUL, '/' and a '\' of its own may stand in a POSIX file name;
// the tool passes such names through to the file and into its report
// unchanged, but to a terminal with each control byte shown as '?'.
TEST(bad_input, names_with_control_characters_and_lead_bytes)
{
    POSIX_ONLY();
    RUN_IN_LOCALE("ja_JP.SJIS");
    const std::vector<std::string> names = {
        "ctl\x01\x02\x1f",
        "tab\there",
        "new\nline",
        "cr\rname",
        "esc\x1b[7m",
        "del\x7f",
        "eof\x1a",
        "\x81",         // a lead byte alone
        "lead\x9f",     // a lead byte at the end
        "two\x81\x40",  // a whole two-byte character
        "\x95\\x",      // a two-byte character whose second byte is '\'
        "\xfc",
        "\xff\xfe",
        " ",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(::testing::PrintToString(name));
        e2e::temp_dir t;
        t.write(name, "1\r\n2\r\n");
        expect_run(t, {"/v", name}, report_line(name, " dos"), 0);
        std::string shown = name;
        for (char& c : shown)
            c = static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
        e2e::run_options tty;
        tty.stdout_terminal = true;
        expect_run(t, {"/v", name}, report_line(shown, " dos"), 0, tty);
        expect_run(t, {"/v", name + "\n"}, error_line("cannot open file", shown + "?"), 2, tty);
        expect_run(t, {"/du", name}, "", 0);
        EXPECT_EQ(t.read(name), "1\n2\n");
        EXPECT_FALSE(t.exists("kelto.tmp"));
    }
}

TEST(bad_input, a_fifo_is_refused_without_waiting_for_a_writer)
{
    POSIX_ONLY();
    for (const char* option : {"/v", "/du"}) {
        SCOPED_TRACE(option);
        e2e::temp_dir t;
        t.make_fifo("pipe");
        expect_run(t, {option, "pipe"}, cannot_open("pipe"), 2);
        EXPECT_FALSE(t.exists("kelto.tmp"));
    }
}

// /proc/self/mem is a regular file whose first read fails (nothing is mapped
// at address 0), for root as for anyone: a file that opens but cannot be
// read. The run stops there; the files before it are done, those after it
// untouched, and the unreadable file is never opened for writing.
TEST(bad_input, an_unreadable_file_among_readable_ones)
{
    POSIX_ONLY();
    const std::string mem = "\\proc\\self\\mem";
    struct {
        const char* option;
        std::string out;
    } cases[] = {
        {"/v", report_line("a.txt", " dos") + error_line("cannot read file", mem)},
        {"/du", error_line("cannot read file", mem)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        e2e::temp_dir t;
        t.write("a.txt", "a\r\n");
        t.write("b.txt", "b\r\n");
        expect_run(t, {c.option, "a.txt", mem, "b.txt"}, c.out, 2);
        EXPECT_EQ(t.read("a.txt"), std::string(c.option) == "/du" ? "a\n" : "a\r\n");
        EXPECT_EQ(t.read("b.txt"), "b\r\n");
        EXPECT_FALSE(t.exists("kelto.tmp"));
    }
}

// Appends BYTES to PATH in chunks until done or told to stop.
void append_all(const std::string& path, const std::string& bytes, const std::atomic<bool>& stop)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    const size_t chunk = 64 * 1024;
    for (size_t done = 0; done < bytes.size() && !stop; done += chunk) {
        size_t n = std::min(chunk, bytes.size() - done);
        ASSERT_EQ(write(fd, bytes.data() + done, n), ssize_t(n));
    }
    close(fd);
}

std::string repeat(const std::string& s, size_t times)
{
    std::string all;
    all.reserve(s.size() * times);
    for (size_t i = 0; i < times; ++i)
        all += s;
    return all;
}

// Another process appends to the file while it is converted. Where that
// lands depends on timing: a run that saw the file change leaves it as it
// is, with an error; any other run converts what it read, and what is
// appended after it lands behind that. Nothing appended is ever lost,
// unless it came during the copy back: that run ends with the error too,
// and keeps the conversion in kelto.tmp.
TEST(bad_input, a_file_appended_to_while_it_is_converted)
{
    POSIX_ONLY();
    const std::string original = repeat("original line\r\n", 64 * 1024);
    const std::string converted = repeat("original line\n", 64 * 1024);
    const std::string appended = repeat("appended line\r\n", 256 * 1024);
    e2e::temp_dir t;
    t.write("big.txt", original);
    std::atomic<bool> stop(false);
    std::thread writer(append_all, t.path("big.txt"), appended, std::cref(stop));
    e2e::run_result r = checked_run(t, {"/du", "big.txt"});
    stop = true;
    writer.join();
    const bool changed = r.exit_code == 2;
    const bool copied = changed && t.exists("kelto.tmp");
    EXPECT_EQ(r.out, changed ? error_line("file changed while converted", "big.txt") : "");
    std::string after = t.read("big.txt");
    const std::string& start = changed && !copied ? original : converted;
    EXPECT_TRUE(changed || r.exit_code == 0) << r.exit_code;
    ASSERT_EQ(after.compare(0, start.size(), start), 0) << r.exit_code;
    if (copied) {
        EXPECT_TRUE(e2e::same_bytes(t.read("kelto.tmp"), converted));
        return;
    }
    const std::string tail = after.substr(start.size());
    const std::string tail_converted = repeat("appended line\n", tail.size() / 14);
    EXPECT_TRUE(appended.compare(0, tail.size(), tail) == 0 || tail == tail_converted);
    EXPECT_FALSE(t.exists("kelto.tmp"));
}

// Another process puts a new file in place of the named one while it is
// converted. The name ends up with the new file, converted or not yet seen;
// the old file's conversion is never written into it.
TEST(bad_input, a_file_replaced_while_it_is_converted)
{
    POSIX_ONLY();
    const std::string old_text = repeat("old\r\n", 1024 * 1024);
    const std::string new_text = repeat("new\r\n", 1024);
    e2e::temp_dir t;
    t.write("f.txt", old_text);
    t.write("replacement", new_text);
    std::thread replacer([&] {
        // Gives the run a moment to start; any outcome below is valid.
        usleep(2000);
        rename(t.path("replacement").c_str(), t.path("f.txt").c_str());
    });
    e2e::run_result r = checked_run(t, {"/du", "f.txt"});
    replacer.join();
    std::string after = t.read("f.txt");
    if (r.exit_code == 2) {
        EXPECT_EQ(r.out, error_line("file changed while converted", "f.txt"));
        EXPECT_TRUE(after == new_text) << after.size() << " bytes";
    } else {
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(after == repeat("new\n", 1024) || after == new_text)
            << after.size() << " bytes";
    }
    EXPECT_FALSE(t.exists("kelto.tmp"));
}

// ---- Patterns: these need the wildcard expansion -------------------------

std::string no_match(const std::string& pattern)
{
    return error_line("no match file", pattern);
}

struct pattern_case {
    std::vector<std::string> args;
    std::string out;
    int exit_code;
};

// Files: a.txt, b, x<lead byte> and the hidden .h. Each case runs in a
// fresh copy of the directory and must leave every file as it was.
void expect_patterns(const std::vector<pattern_case>& cases)
{
    const files_t files = {{"a.txt", "1\r\n"}, {"b", "1\r\n"}, {"x\x81", "1\r\n"}, {".h", "1\r\n"}};
    for (const pattern_case& c : cases)
        expect_scenario({files, c.args, c.out, c.exit_code, files});
}

TEST(bad_input, patterns_of_only_wildcards_dots_and_lead_bytes)
{
    POSIX_ONLY();
    RUN_IN_LOCALE("ja_JP.SJIS");
    const std::string huge = "*" + std::string(100000, 'a');
    expect_patterns({
        {{"/v", "*"}, report_lines({"b", "x\x81"}, " dos"), 0},
        {{"/v", "?"}, report_lines({"b"}, " dos"), 0},
        {{"/v", "**"}, report_lines({"b", "x\x81"}, " dos"), 0},
        {{"/v", "*?*"}, report_lines({"b", "x\x81"}, " dos"), 0},
        {{"/v", "*.*"}, report_lines({"a.txt", "b", "x\x81"}, " dos"), 0},
        {{"/v", "??????????"}, no_match("??????????"), 2},
        {{"/v", "*\x81"}, report_lines({"x\x81"}, " dos"), 0},
        {{"/v", "\x81*"}, no_match("\x81*"), 2},
        {{"/v", "*."}, report_lines({"b", "x\x81"}, " dos"), 0},
        {{"/v", ".*"}, no_match(".*"), 2},
        {{"/v", "...*"}, no_match("...*"), 2},
        {{"/v", "*\\"}, no_match("*\\"), 2},
        {{"/v", "*:"}, no_match("*:"), 2},
        {{"/v", ":*"}, no_match(":*"), 2},
        {{"/v", huge}, no_match(huge), 2},
        {{"/v", "/subdir", huge}, no_match(huge), 2},
        {{"/v", std::string(100000, 'd') + "\\*.txt"},
         no_match(std::string(100000, 'd') + "\\*.txt"),
         2},
    });
}

TEST(bad_input, thousands_of_patterns)
{
    e2e::temp_dir t;
    t.write("a.txt", "1\r\n");
    std::vector<std::string> args = {"/v"};
    std::string report;
    for (int i = 0; i < 3000; ++i) {
        args.push_back(i % 2 ? "*.txt" : "?.TXT");
        report += report_line("a.txt", " dos");
    }
    expect_run(t, args, report, 0);
}

// Memory that runs out during the expansion ends the run with an error
// line before any file is converted.
TEST(bad_input, patterns_beyond_the_memory_there_is)
{
    POSIX_ONLY();
    e2e::temp_dir t;
    e2e::run_options opts;
    opts.memory_limit = 16 << 20;
    e2e::run_result r = t.kelto({"/?"}, opts);
    if (r.out != e2e::description())
        GTEST_SKIP() << "the tool does not start with 16 MiB of address space: " << r.err;
    files_t files;
    std::vector<std::string> args = {"/du"};
    for (int i = 0; i < 200; ++i)
        files["file_with_a_long_name_" + std::to_string(i) + ".txt"] = "1\r\n";
    args.resize(2000, "*.txt");
    expect_scenario({files, args, error_line("out of memory"), 2, files, opts});
}

// A directory path of exactly LEN bytes, in the tool's writing ('\' after
// each name), made of long names; made in T, returned in the tool's form.
std::string make_long_dir(const e2e::temp_dir& t, size_t len)
{
    std::string host;
    std::string dos;
    while (dos.size() < len) {
        size_t rest = len - dos.size();
        // Names of at most 250 bytes, the last one taking what is left.
        size_t n = rest > 251 + 10 ? 250 : rest - 1;
        std::string name(n, static_cast<char>('a' + dos.size() % 26));
        host += (host.empty() ? "" : "/") + name;
        dos += name + "\\";
        t.make_dir(host);
    }
    return dos;
}

std::string host_path(const std::string& dos)
{
    std::string host = dos;
    for (char& c : host) {
        if (c == '\\')
            c = '/';
    }
    return host;
}

// A search is at most 1022 bytes, directory part and name pattern together:
// a pattern one byte longer finds nothing, and ends the run with a message.
TEST(bad_input, patterns_at_and_past_the_search_limit)
{
    POSIX_ONLY();
    for (size_t len : {1017, 1018}) {
        SCOPED_TRACE(len);
        e2e::temp_dir t;
        std::string dir = make_long_dir(t, len);
        t.write(host_path(dir) + "x.txt", "1\r\n");
        std::string pattern = dir + "*.txt";
        if (pattern.size() <= 1022)
            expect_run(t, {"/v", pattern}, report_line(dir + "x.txt", " dos"), 0);
        else
            expect_run(t, {"/v", pattern}, no_match(pattern), 2);
    }
}

// A directory's subdirectories are looked for while its path is at most 1019
// bytes; below that point the walk stops, whatever lies deeper.
TEST(bad_input, subdirectories_at_and_past_the_path_limit)
{
    POSIX_ONLY();
    for (size_t len : {1019, 1020}) {
        SCOPED_TRACE(len);
        e2e::temp_dir t;
        std::string dir = make_long_dir(t, len);
        t.make_dir(host_path(dir) + "x");
        t.write(host_path(dir) + "g", "1\r\n");
        t.write(host_path(dir) + "x/f", "1\r\n");
        std::vector<std::string> found = {dir + "g"};
        if (len <= 1019)
            found.push_back(dir + "x\\f");
        expect_run(t, {"/v", "/subdir", "*"}, report_lines(found, " dos"), 0);
    }
}

// A chain of one-letter directories as deep as the limits let the walk go:
// each level adds two bytes, so the files of level 510 (a path of 1020
// bytes, plus the pattern *) are the deepest found.
TEST(bad_input, a_tree_as_deep_as_the_limits_allow)
{
    POSIX_ONLY();
    e2e::temp_dir t;
    std::string host;
    std::string dos;
    std::vector<std::string> found;
    for (int level = 1; level <= 512; ++level) {
        host += (host.empty() ? "" : "/") + std::string("d");
        dos += "d\\";
        t.make_dir(host);
        if (level >= 508) {
            t.write(host + "/f", "1\r\n");
            if (level <= 510)
                found.push_back(dos + "f");
        }
    }
    expect_run(t, {"/v", "/subdir", "*"}, report_lines(found, " dos"), 0);
    // Converting reaches the same files and nothing else.
    expect_run(t, {"/du", "/subdir", "*"}, "", 0);
    EXPECT_EQ(t.read(host_path(found.back())), "1\n");
    EXPECT_EQ(t.read(host + "/f"), "1\r\n");
}

}  // namespace
