#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <grp.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace e2e {

namespace fs = std::filesystem;

settings& config()
{
    static settings s;
    return s;
}

namespace {

bool take_value(const char* arg, const char* key, std::string* value)
{
    size_t n = strlen(key);
    if (strncmp(arg, key, n) != 0)
        return false;
    *value = arg + n;
    return true;
}

bool take_arg(const char* arg)
{
    settings& s = config();
    if (take_value(arg, "--kelto=", &s.kelto) || take_value(arg, "--launcher=", &s.launcher) ||
        take_value(arg, "--root=", &s.root))
        return true;
    if (strcmp(arg, "--crlf") == 0) {
        s.newline = "\r\n";
        return true;
    }
    if (strcmp(arg, "--no-posix") == 0) {
        s.posix = false;
        return true;
    }
    return false;
}

const uid_t nobody = 65534;

// Everything between fork and exec: only async-signal-safe calls.
[[noreturn]] void start_child(char** argv, const char* cwd, const run_options& opts, int out_fd,
                              int err_fd, int report_fd)
{
    int in_fd = open("/dev/null", O_RDONLY);
    if (!opts.stdout_file.empty())
        out_fd = open(opts.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    bool ok = in_fd >= 0 && out_fd >= 0 && dup2(in_fd, 0) == 0 && dup2(out_fd, 1) == 1 &&
              dup2(err_fd, 2) == 2 && chdir(cwd) == 0;
    // The tool is started as a shell would: with the default action for a
    // closed pipe, which it has to change itself.
    signal(SIGPIPE, SIG_DFL);
    for (int sig : opts.ignored_signals)
        signal(sig, SIG_IGN);
    if (ok && opts.file_size_limit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{rlim_t(opts.file_size_limit), rlim_t(opts.file_size_limit)};
        ok = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    if (ok && opts.memory_limit >= 0) {
        rlimit lim{rlim_t(opts.memory_limit), rlim_t(opts.memory_limit)};
        ok = setrlimit(RLIMIT_AS, &lim) == 0;
    }
    for (int fd : opts.closed_fds)
        close(fd);
    if (ok && opts.as_nobody && geteuid() == 0)
        ok = setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
    if (ok)
        execvp(argv[0], argv);
    int e = errno;
    ssize_t n = write(report_fd, &e, sizeof e);
    (void)n;
    _exit(127);
}

// Puts a terminal in the place of the pipe FDS: its master side to be read,
// its other side for the child, raw so that every byte passes as written.
bool open_terminal(int fds[2])
{
    int master = -1;
    int slave = -1;
    termios raw;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || tcgetattr(slave, &raw) != 0)
        return false;
    cfmakeraw(&raw);
    close(fds[0]);
    close(fds[1]);
    fds[0] = master;
    fds[1] = slave;
    return tcsetattr(slave, TCSANOW, &raw) == 0 && fcntl(master, F_SETFD, FD_CLOEXEC) == 0 &&
           fcntl(slave, F_SETFD, FD_CLOEXEC) == 0;
}

// A process that kills PID with SIGKILL after DELAY_US microseconds.
pid_t start_killer(pid_t pid, long delay_us)
{
    pid_t killer = fork();
    if (killer == 0) {
        timespec t{delay_us / 1000000, (delay_us % 1000000) * 1000};
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {
        }
        kill(pid, SIGKILL);
        _exit(0);
    }
    return killer;
}

// Reads both pipes to their ends; a single blocking read could deadlock
// with a child that fills the other one.
void drain(int out_fd, int err_fd, run_result& r)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* dest[2] = {&r.out, &r.err};
    int open_count = 0;
    for (pollfd& p : fds)
        open_count += p.fd >= 0;
    char buf[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            ADD_FAILURE() << "poll: " << strerror(errno);
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                dest[i]->append(buf, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

void make_writable(const fs::path& dir)
{
    ::chmod(dir.c_str(), 0700);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.is_directory(ec) && !e.is_symlink(ec))
            make_writable(e.path());
    }
}

}  // namespace

bool parse_args(int* argc, char** argv)
{
    int kept = 1;
    bool ok = true;
    for (int i = 1; i < *argc; ++i) {
        if (take_arg(argv[i]))
            continue;
        fprintf(stderr, "e2e: unknown argument %s\n", argv[i]);
        ok = false;
        argv[kept++] = argv[i];
    }
    *argc = kept;
    argv[kept] = nullptr;
    return ok;
}

std::string lines(const std::string& text)
{
    return expected::with_line_feed(text, config().newline);
}

std::string report_line(const std::string& name, const std::string& kinds)
{
    return lines(expected::report_line(name, kinds));
}

std::string report_lines(const std::vector<std::string>& names, const std::string& kinds)
{
    std::string out;
    for (const std::string& name : names)
        out += report_line(name, kinds);
    return out;
}

std::string error_line(const std::string& message, const std::string& subject)
{
    return lines(expected::error_line(message, subject));
}

std::string error_line(const std::string& message)
{
    return lines(expected::error_line(message));
}

std::string usage()
{
    return lines(expected::usage_screen);
}

std::string description()
{
    return lines(expected::description_screen);
}

locale_scope::locale_scope(const char* name)
{
    locale_t loc = newlocale(LC_CTYPE_MASK, name, nullptr);
    installed = loc != nullptr;
    if (loc)
        freelocale(loc);
    setenv("LC_ALL", name, 1);
}

std::string dos_path(const std::string& host_path)
{
    std::string p = config().root + host_path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

::testing::AssertionResult same_bytes(const std::string& got, const std::string& want)
{
    if (got == want)
        return ::testing::AssertionSuccess();
    size_t at =
        std::mismatch(got.begin(), got.begin() + std::min(got.size(), want.size()), want.begin())
            .first -
        got.begin();
    return ::testing::AssertionFailure()
           << got.size() << " bytes where " << want.size() << " were expected, first difference at "
           << at << ": " << ::testing::PrintToString(got.substr(at, 32)) << " instead of "
           << ::testing::PrintToString(want.substr(at, 32));
}

::testing::AssertionResult same_files(const files_t& got, const files_t& want)
{
    ::testing::AssertionResult r = ::testing::AssertionSuccess();
    auto fail = [&r]() -> ::testing::AssertionResult& {
        if (r)
            r = ::testing::AssertionFailure();
        return r;
    };
    for (const auto& [name, bytes] : got) {
        auto w = want.find(name);
        if (w == want.end())
            fail() << "\n" << name << " should not exist (" << bytes.size() << " bytes)";
        else if (auto same = same_bytes(bytes, w->second); !same)
            fail() << "\n" << name << ": " << same.message();
    }
    for (const auto& [name, bytes] : want) {
        if (!got.count(name))
            fail() << "\n" << name << " is missing";
    }
    return r;
}

run_result run_command(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const run_options& opts)
{
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    run_result r;
    int out[2];
    int err[2];
    int report[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return r;
    }
    // With no reader left, the child's first write to the pipe fails. The
    // reader goes before the fork: closed after it, a quick child could
    // write while it is still there.
    if (!opts.stdout_file.empty() || opts.stdout_closed_pipe) {
        close(out[0]);
        out[0] = -1;
    }
    if (opts.stdout_terminal && !open_terminal(out)) {
        ADD_FAILURE() << "openpty: " << strerror(errno);
        return r;
    }
    pid_t pid = fork();
    if (pid == 0)
        start_child(argv.data(), cwd.c_str(), opts, out[1], err[1], report[1]);
    close(out[1]);
    close(err[1]);
    close(report[1]);
    pid_t killer = opts.kill_after_us >= 0 ? start_killer(pid, opts.kill_after_us) : -1;
    drain(out[0], err[0], r);
    // The program is not reaped yet, so its process id cannot have gone to
    // another process when a late killer fires.
    if (killer > 0) {
        kill(killer, SIGKILL);
        waitpid(killer, nullptr, 0);
    }
    int e = 0;
    r.started = read(report[0], &e, sizeof e) != ssize_t(sizeof e);
    close(report[0]);
    if (!r.started)
        r.err += std::string("cannot run ") + program + ": " + strerror(e);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        r.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    return r;
}

run_result run_kelto(const std::vector<std::string>& args, const std::string& cwd,
                     const run_options& opts)
{
    const settings& s = config();
    if (s.kelto.empty()) {
        ADD_FAILURE() << "no --kelto=PATH given to the test program";
        return {};
    }
    if (!opts.shell.empty()) {
        std::vector<std::string> all = {"-c", opts.shell, s.kelto};
        all.insert(all.end(), args.begin(), args.end());
        return run_command("/bin/sh", all, cwd, opts);
    }
    if (s.launcher.empty())
        return run_command(s.kelto, args, cwd, opts);
    std::vector<std::string> all = {s.kelto};
    all.insert(all.end(), args.begin(), args.end());
    run_result r = run_command(s.launcher, all, cwd, opts);
    // Under load, Wine's loader now and then ends a program with exit code
    // 1 before it runs, printing nothing. The tool never exits with 1: such
    // a run is made once more.
    if (r.exit_code == 1 && r.out.empty() && r.err.empty())
        r = run_command(s.launcher, all, cwd, opts);
    return r;
}

temp_dir::temp_dir()
{
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/kelto_e2e_XXXXXX";
    if (!mkdtemp(templ.data()))
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    root = templ;
}

temp_dir::~temp_dir()
{
    make_writable(root);
    std::error_code ec;
    fs::remove_all(root, ec);
}

std::string temp_dir::path(const std::string& name) const
{
    return root + "/" + name;
}

void temp_dir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream f(path(name), std::ios::binary | std::ios::trunc);
    f << bytes;
    f.close();
    if (!f)
        ADD_FAILURE() << "cannot write " << path(name);
}

std::string temp_dir::read(const std::string& name) const
{
    std::ifstream f(path(name), std::ios::binary);
    if (!f) {
        ADD_FAILURE() << "cannot read " << path(name);
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool temp_dir::exists(const std::string& name) const
{
    struct stat st;
    return lstat(path(name).c_str(), &st) == 0;
}

void temp_dir::make_dir(const std::string& name) const
{
    if (mkdir(path(name).c_str(), 0755) != 0)
        ADD_FAILURE() << "mkdir " << name << ": " << strerror(errno);
}

void temp_dir::chmod(const std::string& name, unsigned mode) const
{
    if (::chmod(path(name).c_str(), mode) != 0)
        ADD_FAILURE() << "chmod " << name << ": " << strerror(errno);
}

unsigned temp_dir::mode(const std::string& name) const
{
    struct stat st;
    if (lstat(path(name).c_str(), &st) != 0) {
        ADD_FAILURE() << "stat " << name << ": " << strerror(errno);
        return 0;
    }
    return st.st_mode & 07777;
}

void temp_dir::symlink(const std::string& target, const std::string& name) const
{
    if (::symlink(target.c_str(), path(name).c_str()) != 0)
        ADD_FAILURE() << "symlink " << name << ": " << strerror(errno);
}

void temp_dir::hard_link(const std::string& target, const std::string& name) const
{
    if (link(path(target).c_str(), path(name).c_str()) != 0)
        ADD_FAILURE() << "link " << name << ": " << strerror(errno);
}

void temp_dir::make_fifo(const std::string& name) const
{
    if (mkfifo(path(name).c_str(), 0644) != 0)
        ADD_FAILURE() << "mkfifo " << name << ": " << strerror(errno);
}

std::vector<std::string> temp_dir::list(const std::string& name) const
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path(name)))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

files_t temp_dir::files(const std::string& name) const
{
    files_t all;
    for (const std::string& f : list(name)) {
        const std::string sub = name + "/" + f;
        struct stat st;
        if (lstat(path(sub).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            all[f] = read(sub);
    }
    return all;
}

files_t temp_dir::tree() const
{
    files_t all;
    const fs::path top(root);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const std::string name = it->path().lexically_relative(top).generic_string();
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            all[name] = read(name);
    }
    if (ec)
        ADD_FAILURE() << "cannot list " << root << ": " << ec.message();
    return all;
}

run_result temp_dir::kelto(const std::vector<std::string>& args, const run_options& opts) const
{
    return run_kelto(args, root, opts);
}

run_result temp_dir::kelto_in(const std::string& sub, const std::vector<std::string>& args,
                              const run_options& opts) const
{
    return run_kelto(args, path(sub), opts);
}

// A safety net against hangs, far above what any run needs even in a
// sanitizer build: it fails only a run that never ends.
const long hang_limit_us = 120L * 1000 * 1000;

run_result checked_run(const temp_dir& dir, const args_t& args, run_options opts)
{
    if (opts.kill_after_us < 0)
        opts.kill_after_us = hang_limit_us;
    run_result r = dir.kelto(args, opts);
    EXPECT_TRUE(r.started) << r.err;
    EXPECT_EQ(r.signal, 0) << "the run was killed: it hung or crashed";
    EXPECT_EQ(r.err, "");
    return r;
}

void expect_run(const temp_dir& dir, const args_t& args, const std::string& out, int code,
                const run_options& opts)
{
    SCOPED_TRACE("kelto " + ::testing::PrintToString(args));
    run_result r = checked_run(dir, args, opts);
    EXPECT_TRUE(same_bytes(r.out, out)) << "standard output";
    EXPECT_EQ(r.exit_code, code);
}

void expect_scenario(const scenario& s)
{
    temp_dir dir;
    for (const auto& [name, bytes] : s.before) {
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            if (!dir.exists(name.substr(0, slash)))
                dir.make_dir(name.substr(0, slash));
        }
        dir.write(name, bytes);
    }
    expect_run(dir, s.args, s.out, s.code, s.opts);
    EXPECT_TRUE(same_files(dir.tree(), s.after))
        << "files after kelto " << ::testing::PrintToString(s.args);
}

}  // namespace e2e

// The test program's entry: GoogleTest's arguments first, then the harness's.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!e2e::parse_args(&argc, argv))
        return 2;
    return RUN_ALL_TESTS();
}
