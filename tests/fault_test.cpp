// Every file operation of a conversion failed in turn through the seam of
// kelto_fault: the message naming the file and the operation, exit code 2,
// and no byte of the user's file lost.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "fault_lib.h"
#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using e2e::args_t;
using e2e::error_line;
using e2e::files_t;
using e2e::same_bytes;
using fault::file_case;

// What kelto.tmp, and the named file, hold after the run.
enum temp_after { temp_absent, temp_converted };
enum named_after { named_original, named_converted, named_cut };

// Which way of the copy back makes a row's call.
enum copy_way { either_way, by_streams, in_system };

struct point_row {
    const char* call;     // the seam's call kind
    bool on_temp;         // a call on kelto.tmp rather than on the named file
    int n;                // only the Nth such call; 0: every one in turn
    const char* message;  // the error line's message; null when the run succeeds
    temp_after temp;
    named_after named;  // named_cut: the copy back was cut short
    copy_way way = either_way;
};

// One conversion, in the order of its calls. The subject of every error is
// the file whose operation failed.
const point_row conversion_points[] = {
    // A file that cannot be opened for writing is read all the same.
    {"open_write", false, 1, "cannot open file", temp_converted, named_original},
    {"open_write", true, 1, "cannot open file", temp_absent, named_original},
    {"read", false, 0, "cannot read file", temp_absent, named_original},
    {"write", true, 0, "cannot write file", temp_absent, named_original},
    {"lock", true, 1, "cannot open file", temp_absent, named_original},
    // Emptying the file is the copy back's first step.
    {"truncate", false, 1, "cannot write file", temp_converted, named_original},
    {"read", true, 0, "cannot read file", temp_converted, named_cut, by_streams},
    {"write", false, 0, "cannot write file", temp_converted, named_cut, by_streams},
    {"copy", false, 0, "cannot write file", temp_converted, named_cut, in_system},
    {"close", false, 1, "cannot write file", temp_converted, named_cut},
    // The temporary file is closed once it is deleted.
    {"close", true, 1, nullptr, temp_absent, named_converted},
    // The conversion is complete; the copy left behind is harmless.
    {"remove", true, 1, nullptr, temp_converted, named_converted},
};

// True when the copy back by STREAMS, or inside the system, makes ROW's call.
bool taken(const point_row& row, bool streams)
{
    return row.way != (streams ? in_system : by_streams);
}

// COUNT in the seam's form: "3", or "3+" for the third call and every later.
std::string describe(const point_row& row, const std::string& count)
{
    std::ostringstream s;
    s << row.call << (count.empty() ? std::string(" (each)") : " #" + count) << " of "
      << (row.on_temp ? "kelto.tmp" : "the named file");
    return s.str();
}

struct point_test {
    std::string option;            // the conversion option
    std::vector<file_case> files;  // the run's files, in order
    size_t target;                 // the file whose operations fail

    // Runs the conversion with the row's Nth call failed; false when the run
    // never reached that call.
    bool run_point(const point_row& row, const std::string& count) const
    {
        const file_case& file = files[target];
        const std::string what = describe(row, count);
        SCOPED_TRACE(what);
        e2e::temp_dir dir;
        const std::vector<std::string> args = fault::place_files(dir, option, files);
        fault::fault_point point(std::string("fail:") + row.call + ":" + count + ":" +
                                 (row.on_temp ? "kelto.tmp" : file.name));
        e2e::run_result r = dir.kelto(args);
        if (!fault::reached(r))
            return false;
        if (row.message) {
            EXPECT_EQ(r.out, error_line(row.message, row.on_temp ? "kelto.tmp" : file.name));
            EXPECT_EQ(r.exit_code, 2);
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.exit_code, 0);
        }
        if (row.temp == temp_absent) {
            EXPECT_FALSE(dir.exists("kelto.tmp"));
        } else {
            EXPECT_TRUE(same_bytes(dir.read("kelto.tmp"), file.after)) << "kelto.tmp";
        }
        if (row.named != named_cut) {
            const std::string& expected = row.named == named_original ? file.before : file.after;
            EXPECT_TRUE(same_bytes(dir.read(file.name), expected)) << file.name;
        }
        // The files before the target are done; those after it untouched
        // when the run ended at the target.
        for (size_t i = 0; i < files.size(); ++i) {
            const bool done = i < target || !row.message;
            const std::string& expected = done ? files[i].after : files[i].before;
            if (i != target) {
                EXPECT_TRUE(same_bytes(dir.read(files[i].name), expected)) << files[i].name;
            }
        }
        fault::check_no_loss(dir, files, what);
        return true;
    }

    // How often the row's call happens in the run: a read or a write moves
    // one stream buffer, as in the tool, and one read more finds the end.
    int expected_calls(const point_row& row) const
    {
        if (row.n)
            return 1;
        // One copy inside the system copies all, one more finds the end.
        if (std::string(row.call) == "copy")
            return 2;
        const bool read = std::string(row.call) == "read";
        const file_case& file = files[target];
        const size_t size = read && !row.on_temp ? file.before.size() : file.after.size();
        return int((size + fault::buffer_size - 1) / fault::buffer_size) + (read ? 1 : 0);
    }

    // Fails each call the row stands for in turn, or with ONWARDS each call
    // and every one after it; returns how many calls there were.
    int run_row(const point_row& row, bool onwards = false) const
    {
        const std::string from = onwards ? "+" : "";
        int hits = 0;
        if (row.n) {
            hits = run_point(row, std::to_string(row.n) + from) ? 1 : 0;
        } else {
            while (run_point(row, std::to_string(hits + 1) + from))
                ++hits;
        }
        EXPECT_EQ(hits, expected_calls(row)) << describe(row, "") << from;
        return hits;
    }

    void run_table(bool streams) const
    {
        fault::copy_back_way way(streams);
        int total = 0;
        for (const point_row& row : conversion_points) {
            if (!taken(row, streams))
                continue;
            int hits = run_row(row);
            // A read or write error that lasts, as on a full disk, ends the
            // same way. (A lasting close failure would also hit the next
            // stream's close: the rows of single calls stay single.)
            if (!row.n)
                hits += run_row(row, true);
            const std::string count = row.n ? std::to_string(row.n) : "";
            std::cout << (total ? ", " : option + (streams ? " by streams: " : ": "))
                      << describe(row, count) << " x" << hits;
            total += hits;
        }
        std::cout << "; " << total << " fault points\n";
    }
};

const size_t several_buffers = 3 * fault::buffer_size + 5000;

TEST(fault_test, every_operation_of_dos_to_unix_fails_in_turn)
{
    fault::sample s = fault::make_sample(several_buffers, 1);
    for (bool streams : fault::copy_back_ways)
        point_test{"/du", {{"a.txt", s.crlf, s.lf}}, 0}.run_table(streams);
}

TEST(fault_test, every_operation_of_unix_to_dos_fails_in_turn)
{
    fault::sample s = fault::make_sample(several_buffers, 2);
    for (bool streams : fault::copy_back_ways)
        point_test{"/ud", {{"a.txt", s.lf, s.crlf}}, 0}.run_table(streams);
}

TEST(fault_test, a_path_with_backslashes_is_named_as_typed)
{
    // The seam sees the system's path, the message the argument as typed.
    fault::sample s = fault::make_sample(1000, 3);
    e2e::temp_dir dir;
    dir.make_dir("sub");
    dir.write("sub/a.txt", s.crlf);
    fault::fault_point point("fail:read:1:sub/a.txt");
    e2e::run_result r = dir.kelto({"/du", "sub\\a.txt"});
    EXPECT_TRUE(fault::reached(r));
    EXPECT_EQ(r.out, error_line("cannot read file", "sub\\a.txt"));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(same_bytes(dir.read("sub/a.txt"), s.crlf));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"sub"});
}

// The seam lies below the platform layer's own checks: without a fault
// kelto_fault refuses what the tool refuses.
TEST(fault_test, the_seam_keeps_the_checks_of_the_platform_layer)
{
    struct refusal {
        const char* setup;  // what stands in the way
        bool temp_symlink;  // kelto.tmp a symbolic link to b.tmp, else a hard link
        std::vector<std::string> args;
        std::string out;
    };
    const refusal cases[] = {
        {"a directory", false, {"/du", "sub"}, error_line("cannot open file", "sub")},
        {"kelto.tmp a symbolic link",
         true,
         {"/du", "a.txt"},
         error_line("cannot open file", "kelto.tmp")},
        // Same device and inode: the seam hands the descriptor to fileno.
        {"the temporary file named",
         false,
         {"/du", "b.tmp"},
         error_line("cannot convert temporary file", "b.tmp")},
    };
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.setup);
        e2e::temp_dir dir;
        dir.make_dir("sub");
        dir.write("a.txt", "x\r\n");
        dir.write("b.tmp", "y\r\n");
        if (c.temp_symlink) {
            dir.symlink("b.tmp", "kelto.tmp");
        } else {
            dir.hard_link("b.tmp", "kelto.tmp");
        }
        e2e::run_result r = dir.kelto(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(dir.read("a.txt"), "x\r\n");
        EXPECT_EQ(dir.read("b.tmp"), "y\r\n");
    }
}

// Cuts the times of the file PATH to whole seconds.
void whole_seconds(const std::string& path)
{
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const timespec times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Signals, and another process at work in the directory, at chosen calls
// of a conversion of a.txt: nothing written through a link put in place of
// a file, nothing appended lost, and kelto.tmp never left behind.
TEST(fault_test, interference_during_a_conversion)
{
    fault::sample s = fault::make_sample(several_buffers, 5);
    const std::string secret = "secret\n";
    const std::string changed = error_line("file changed while converted", "a.txt");
    const files_t before = {{"a.txt", s.crlf}, {"secret", secret}};
    const files_t after = {{"a.txt", s.lf}, {"secret", secret}};
    const std::string last_write =
        std::to_string((s.lf.size() + fault::buffer_size - 1) / fault::buffer_size);
    const struct {
        std::string setting;
        std::string out;
        int exit_code;
        files_t files;
        args_t args = {"/du", "a.txt"};
        bool coarse = false;   // a.txt's modification time has whole seconds
        int ignored = 0;       // a signal the tool starts with ignored
        bool streams = false;  // the copy back goes through the streams
    } cases[] = {
        // During the conversion a signal ends the run at once.
        {"int:read:2:a.txt", "", 2, before},
        {"term:write:1:kelto.tmp", "", 2, before},
        {"hup:open_write:1:kelto.tmp", "", 2, before},
        // Before there is a temporary file a signal has its usual effect.
        {"hup:open_write:1:a.txt", "", -1, before},
        // A signal ignored at the start (nohup, a background job) stays so.
        {"hup:read:2:a.txt", "", 0, after, {"/du", "a.txt"}, false, SIGHUP},
        {"int:truncate:1:a.txt", "", 0, after, {"/du", "a.txt"}, false, SIGINT},
        // During the copy back it ends the run once the copy is done.
        {"int:truncate:1:a.txt", "", 2, after},
        {"term:write:2:a.txt", "", 2, after, {"/du", "a.txt"}, false, 0, true},
        {"term:copy:1:a.txt", "", 2, after},
        // Short copies are continued; a copy refused at the start, or at
        // the end, is left to the streams.
        {"short:copy:1+:a.txt", "", 0, after},
        {"refuse:copy:1:a.txt", "", 0, after},
        {"refuse:copy:2:a.txt", "", 0, after},
        {"hup:remove:1:kelto.tmp", "", 2, after},
        // The conversion goes on in the file it made, and never deletes
        // what took its name.
        {"swap:write:1:kelto.tmp",
         "",
         0,
         {{"a.txt", s.lf}, {"secret", secret}, {"kelto.tmp.orig", s.lf}}},
        {"swap:read:2:a.txt", changed, 2, {{"a.txt.orig", s.crlf}, {"secret", secret}}},
        {"append:read:2:a.txt", changed, 2, {{"a.txt", s.crlf + "appended"}, {"secret", secret}}},
        {"append:open_write:1:a.txt", "", 0, {{"a.txt", s.lf + "appended"}, {"secret", secret}}},
        // Written after the copy back's last write: kept, and said, with
        // the complete conversion kept in kelto.tmp.
        {"append_after:write:" + last_write + ":a.txt",
         changed,
         2,
         {{"a.txt", s.lf + "appended"}, {"secret", secret}, {"kelto.tmp", s.lf}},
         {"/du", "a.txt"},
         false,
         0,
         true},
        {"append_after:copy:1:a.txt",
         changed,
         2,
         {{"a.txt", s.lf + "appended"}, {"secret", secret}, {"kelto.tmp", s.lf}}},
        // Whole seconds: a write that keeps size and time is told by the
        // bytes, and an untouched file is written back.
        {"rewrite:read:2:a.txt",
         changed,
         2,
         {{"a.txt", "rewritten" + s.crlf.substr(9)}, {"secret", secret}},
         {"/du", "a.txt"},
         true},
        {"term:remove:1:kelto.tmp", "", 2, after, {"/du", "a.txt"}, true},
        // Written to kelto.tmp after the conversion: the copy back says so.
        {"append_after:write:" + last_write + ":kelto.tmp",
         error_line("file changed while converted", "kelto.tmp"),
         2,
         {{"a.txt", s.lf + "appended"}, {"secret", secret}, {"kelto.tmp", s.lf + "appended"}}},
        // A report and the conversion after it share one open of the file.
        {"swap:close:1:a.txt",
         e2e::report_line("a.txt", " dos"),
         0,
         {{"a.txt.orig", s.lf}, {"secret", secret}},
         {"/v", "/du", "a.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        e2e::temp_dir dir;
        dir.write("a.txt", s.crlf);
        dir.write("secret", secret);
        if (c.coarse)
            whole_seconds(dir.path("a.txt"));
        e2e::run_options opts;
        if (c.ignored)
            opts.ignored_signals = {c.ignored};
        fault::copy_back_way way(c.streams);
        fault::fault_point point(c.setting);
        e2e::run_result r = dir.kelto(c.args, opts);
        EXPECT_TRUE(fault::reached(r));
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_TRUE(e2e::same_files(dir.files(), c.files));
    }
}

// File systems of the test's own, mounted on mnt: where times have whole
// seconds (ext4 made with 128-byte inodes), a write of the same size while
// the file is converted is seen all the same; where kelto.tmp lies on
// another file system (a tmpfs), the system cannot copy between the two
// and the streams copy back, as the failure of their first write shows.
TEST(fault_test, file_systems_of_the_tests_own)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "not run by root: no loop-mounted ext4 nor tmpfs of the test's own";
    fault::sample s = fault::make_sample(several_buffers, 6);
    const struct {
        std::string mount;    // mounts mnt, in the test's directory
        std::string cwd;      // kelto's current directory
        std::string setting;  // what the seam does
        std::string out;
        files_t files;  // afterwards, in kelto's current directory
    } cases[] = {
        {"truncate -s 16M img && mkfs.ext4 -q -I 128 img 2>/dev/null && mount -o loop img mnt",
         "mnt",
         "overwrite:read:2:a.txt",
         error_line("file changed while converted", "a.txt"),
         {{"a.txt", "rewritten" + s.crlf.substr(9)}}},
        {"mount -t tmpfs -o size=8m tmpfs mnt",
         ".",
         "fail:write:1:mnt/a.txt",
         error_line("cannot write file", "mnt\\a.txt"),
         {{"kelto.tmp", s.lf}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mount);
        e2e::temp_dir dir;
        dir.make_dir("mnt");
        if (std::system(("cd " + dir.dir() + " && " + c.mount).c_str()) != 0)
            GTEST_SKIP() << "cannot mount: " << c.mount;
        dir.write("mnt/a.txt", s.crlf);
        {
            fault::fault_point point(c.setting);
            e2e::run_result r = dir.kelto_in(c.cwd, {"/du", c.cwd == "." ? "mnt\\a.txt" : "a.txt"});
            EXPECT_TRUE(fault::reached(r));
            EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.exit_code, 2);
        }
        EXPECT_TRUE(e2e::same_files(dir.files(c.cwd), c.files));
        EXPECT_EQ(std::system(("umount " + dir.path("mnt")).c_str()), 0);
    }
}

// A path a pattern found is never followed through a link put in its place
// once the directory was read, be it the file itself or a directory on its
// way: kelto.tmp's "secret" stands for a file elsewhere.
TEST(fault_test, a_found_path_turned_into_a_link_is_refused)
{
    const std::string text = "text\r\n";
    const struct {
        const char* setting;
        args_t args;
        const char* subject;   // the found path, as reported
        const char* original;  // where the swap put the found file
        const char* secret;    // the file reached through the link
    } cases[] = {
        {"swap:open_write:1:a.txt", {"/du", "*.txt"}, "a.txt", "a.txt.orig", "secret"},
        {"swap:open_read:1:a.txt", {"/v", "*.txt"}, "a.txt", "a.txt.orig", "secret"},
        {"swap:open_read:1:sub",
         {"/du", "/subdir", "*.txt"},
         "sub\\a.txt",
         "sub.orig/a.txt",
         ".vault/a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        e2e::temp_dir dir;
        dir.make_dir("sub");
        dir.make_dir(".vault");
        dir.write(c.subject == std::string("a.txt") ? "a.txt" : "sub/a.txt", text);
        dir.write(c.secret, text);
        if (c.secret != std::string("secret"))
            dir.symlink(".vault", "secret");
        fault::fault_point point(c.setting);
        e2e::run_result r = dir.kelto(c.args);
        EXPECT_TRUE(fault::reached(r));
        EXPECT_EQ(r.out, error_line("cannot open file", c.subject));
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(dir.read(c.original), text);
        EXPECT_EQ(dir.read(c.secret), text);
    }
}

TEST(fault_test, the_second_of_three_files_fails_at_each_of_its_operations)
{
    const size_t b = several_buffers;
    point_test test{"/du", fault::dos_files({b, b, b}, 10), 1};
    for (bool streams : fault::copy_back_ways) {
        fault::copy_back_way way(streams);
        for (const point_row& row : conversion_points) {
            // The rows on the named file only: the Nth call on kelto.tmp
            // counts the first file's calls too. The sweep below covers those.
            if (!row.on_temp && taken(row, streams))
                test.run_row(row);
        }
    }
}

TEST(fault_test, a_read_error_under_v_prints_no_report_line)
{
    fault::sample s = fault::make_sample(several_buffers, 4);
    int n = 1;
    for (;; ++n) {
        SCOPED_TRACE("read #" + std::to_string(n));
        e2e::temp_dir dir;
        dir.write("a.txt", s.crlf);
        fault::fault_point point("fail:read:" + std::to_string(n) + ":a.txt");
        e2e::run_result r = dir.kelto({"/v", "a.txt"});
        if (!fault::reached(r)) {
            EXPECT_EQ(r.out, e2e::report_line("a.txt", " dos"));
            break;
        }
        EXPECT_EQ(r.out, error_line("cannot read file", "a.txt"));
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_TRUE(same_bytes(dir.read("a.txt"), s.crlf));
        EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
    }
    EXPECT_GE(n - 1, 4);
}

// The message a failed call must bring, from the seam's note
// "kelto_fault: fail CALL N NAME"; null when the run must succeed. A close
// fails a run only when it ends writing, which the sweep cannot tell apart,
// so it is checked for either outcome (the table above tells them apart).
struct failed_call {
    std::string call;
    std::string name;
};

failed_call parse_note(const std::string& err)
{
    std::istringstream note(err.substr(err.find("kelto_fault: ")));
    std::string tag, action, n;
    failed_call c;
    note >> tag >> action >> c.call >> n >> c.name;
    return c;
}

const char* message_of(const std::string& call)
{
    if (call == "open_read" || call == "open_write")
        return "cannot open file";
    if (call == "read")
        return "cannot read file";
    if (call == "lock")
        return "cannot open file";
    if (call == "write" || call == "close" || call == "truncate" || call == "copy")
        return "cannot write file";
    return nullptr;
}

// Fails every call of a run over three files in turn, the copy back by
// STREAMS or inside the system; returns how many calls there were and how
// many of them ended the run.
std::pair<int, int> fail_every_call(bool streams)
{
    const size_t b = fault::buffer_size;
    const std::vector<file_case> files = fault::dos_files({b + 7000, b + 14000, b + 21000}, 20);
    fault::copy_back_way way(streams);
    int n = 1;
    int errors = 0;
    for (;; ++n) {
        const std::string what = "call #" + std::to_string(n);
        SCOPED_TRACE(what);
        e2e::temp_dir dir;
        const std::vector<std::string> args = fault::place_files(dir, "/du", files);
        fault::fault_point point("fail:any:" + std::to_string(n) + ":*");
        e2e::run_result r = dir.kelto(args);
        if (!fault::reached(r))
            break;
        failed_call c = parse_note(r.err);
        const char* message = message_of(c.call);
        fault::phase end = fault::check_no_loss(dir, files, what);
        if (r.exit_code == 0) {
            // A file system without locks cannot tell another run's
            // temporary file: the conversion goes on.
            EXPECT_TRUE(c.call == "close" || c.call == "remove" ||
                        (c.call == "lock" && c.name != "kelto.tmp"))
                << c.call << " failed unnoticed";
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(end == fault::phase_finished || end == fault::phase_copy_back)
                << fault::phase_names[end];
        } else {
            ++errors;
            EXPECT_NE(message, nullptr) << c.call;
            EXPECT_EQ(r.out, error_line(message ? message : "", c.name));
            EXPECT_EQ(r.exit_code, 2);
        }
    }
    std::cout << "three files" << (streams ? ", by streams: " : ": ") << n - 1
              << " calls failed in turn, " << errors << " of them ending the run\n";
    return {n - 1, errors};
}

TEST(fault_test, every_call_of_a_run_over_three_files_fails_in_turn)
{
    // Per file: 3 opens, 3 closes, 2 locks, an emptying, a delete, and
    // reads and writes over two buffers each way, of which three (the close
    // and the delete of kelto.tmp, the file's own lock) let the run end
    // well; inside the system two copies (the second finds the end) stand
    // for the copy back's three reads and two writes.
    EXPECT_EQ(fail_every_call(true), std::make_pair(3 * 18, 3 * 15));
    EXPECT_EQ(fail_every_call(false), std::make_pair(3 * 15, 3 * 12));
}

}  // namespace
