// End-to-end harness: runs the built tool the way a user does, each case in a
// fresh temporary directory, and hands back its standard output as bytes and
// its exit code.
//
// The command comes from the test executable's own command line, so the same
// suite runs against any build:
//   e2e_tests --kelto=PATH [--launcher=PROG] [--crlf] [--root=PREFIX] [--no-posix]
//     --kelto=PATH     the tool to run
//     --launcher=PROG  a program run in front of it (an emulator such as wine)
//     --crlf           every line feed the tool prints arrives as CR LF
//     --root=PREFIX    written in front of an absolute path handed to the tool
//                      (a drive such as "Z:" under an emulator)
//     --no-posix       skip the cases that need POSIX means (symbolic links,
//                      FIFOs, /dev/full, resource limits, owners and modes)
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "expected_text.h"

namespace e2e {

using files_t = std::map<std::string, std::string>;  // file name -> bytes
using args_t = std::vector<std::string>;

struct settings {
    std::string kelto;
    std::string launcher;
    std::string newline = "\n";
    std::string root;
    bool posix = true;
};

// The settings of this run; parse_args fills them.
settings& config();

// Takes the harness's own arguments out of ARGV (after GoogleTest took its
// own). False, with a message on stderr, when --kelto is missing or an
// argument is unknown.
bool parse_args(int* argc, char** argv);

// TEXT with every "\n" written as the tool's printed line feed: expected
// outputs are written once, with "\n".
std::string lines(const std::string& text);

// The tool's output (expected_text.h) in the line feeds of this run.
std::string report_line(const std::string& name, const std::string& kinds);
// The report lines of NAMES, in order, which all hold the line endings KINDS.
std::string report_lines(const std::vector<std::string>& names, const std::string& kinds);
std::string error_line(const std::string& message, const std::string& subject);
std::string error_line(const std::string& message);
std::string usage();
std::string description();

// Skips the rest of a test that needs POSIX means: symbolic links, FIFOs,
// /dev/full, /proc, resource limits, owners and modes, any byte in a name.
#define POSIX_ONLY()                                                                               \
    do {                                                                                           \
        if (!e2e::config().posix)                                                                  \
            GTEST_SKIP() << "needs POSIX means (--no-posix was given)";                            \
    } while (0)

// While it lives, the tool runs with LC_ALL set to the locale NAME, which
// decides how it reads the bytes of names: on POSIX systems the locale's
// characters, under Wine the ANSI code page (C.UTF-8 gives code page 1252,
// ja_JP.SJIS code page 932; Wine reads the host's names as UTF-8 in both,
// as long as the host has the locale). installed is false when it has not
// (./build.sh test makes the locales the tests use).
struct locale_scope {
    explicit locale_scope(const char* name);
    ~locale_scope() { unsetenv("LC_ALL"); }
    locale_scope(const locale_scope&) = delete;
    locale_scope& operator=(const locale_scope&) = delete;

    bool installed;
};

// Runs the rest of the test with the tool in the locale NAME, or skips it.
#define RUN_IN_LOCALE(name)                                                                        \
    e2e::locale_scope run_locale(name);                                                            \
    if (!run_locale.installed)                                                                     \
    GTEST_SKIP() << "needs the locale " << (name) << " (./build.sh test makes it)"

// A host path written the way the tool takes it: '\' for '/', after the root.
std::string dos_path(const std::string& host_path);

// Byte comparisons that name the first difference. Use them for file
// contents: GoogleTest's own diff of two strings takes memory by the square
// of their line count, gigabytes for a file of a few hundred KiB.
::testing::AssertionResult same_bytes(const std::string& got, const std::string& want);
::testing::AssertionResult same_files(const files_t& got, const files_t& want);

// How a command is run.
struct run_options {
    std::string stdout_file;           // standard output goes to this file (not captured)
    bool stdout_closed_pipe = false;   // standard output is a pipe nobody reads
    long long file_size_limit = -1;    // RLIMIT_FSIZE in bytes, SIGXFSZ ignored
    long long memory_limit = -1;       // RLIMIT_AS in bytes
    std::vector<int> closed_fds;       // standard descriptors the program starts without
    bool as_nobody = false;            // when run by root, run as user nobody
    long kill_after_us = -1;           // SIGKILL the program this long after its start
    std::vector<int> ignored_signals;  // signals the program starts with ignored
    bool stdout_terminal = false;      // standard output is a terminal (raw: no translation)
    std::string shell;                 // run_kelto: /bin/sh runs this script, with the tool
                                       // as "$0" and the arguments as "$@"
};

struct run_result {
    bool started = false;  // false when the program could not be executed
    int exit_code = -1;    // -1 when it ended by a signal
    int signal = 0;        // the signal that ended it, or 0
    std::string out;       // standard output, byte for byte
    std::string err;       // standard error
};

// Runs PROGRAM with ARGS in directory CWD and waits for it.
run_result run_command(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const run_options& opts = {});

// Runs the tool under test (behind the launcher, if any).
run_result run_kelto(const std::vector<std::string>& args, const std::string& cwd,
                     const run_options& opts = {});

// A fresh, private temporary directory, removed with everything in it (even
// read-only subdirectories) when the object goes.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& dir() const { return root; }
    // The host path of NAME, a '/'-separated path below the directory.
    std::string path(const std::string& name) const;

    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;  // true for a dangling link too
    void make_dir(const std::string& name) const;
    void chmod(const std::string& name, unsigned mode) const;
    unsigned mode(const std::string& name) const;  // permission bits
    void symlink(const std::string& target, const std::string& name) const;
    void hard_link(const std::string& target, const std::string& name) const;
    void make_fifo(const std::string& name) const;
    // The names in the directory, sorted.
    std::vector<std::string> list(const std::string& name = ".") const;
    // Every regular file of the directory (not below it) with its bytes:
    // one comparison checks what exists afterwards and what it holds.
    files_t files(const std::string& name = ".") const;
    // Every regular file at any depth below the directory, by its
    // '/'-separated path.
    files_t tree() const;

    // Runs the tool with this directory (or the subdirectory SUB) as its
    // current directory.
    run_result kelto(const std::vector<std::string>& args, const run_options& opts = {}) const;
    run_result kelto_in(const std::string& sub, const std::vector<std::string>& args,
                        const run_options& opts = {}) const;

private:
    std::string root;
};

// Runs the tool in DIR and checks that it started, ended by itself (a
// safety net kills a run that hangs) and wrote nothing to standard error:
// the tool never does, a sanitizer does.
run_result checked_run(const temp_dir& dir, const args_t& args, run_options opts = {});

// A checked run that must print exactly OUT, the tool's bytes, and end with
// exit code CODE.
void expect_run(const temp_dir& dir, const args_t& args, const std::string& out, int code,
                const run_options& opts = {});

// One whole run of the tool in a fresh directory: the files there before
// it (a name with '/' is made with its directories), the command line, the
// output (the tool's bytes) and exit code, every file afterwards, and how
// the tool is run.
struct scenario {
    files_t before;
    args_t args;
    std::string out;
    int code;
    files_t after;
    run_options opts = {};
};

void expect_scenario(const scenario& s);

}  // namespace e2e
