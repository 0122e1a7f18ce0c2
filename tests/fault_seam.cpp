// The fault seam of kelto_fault: the tool itself, linked with
//   -Wl,--wrap=open,--wrap=openat,--wrap=fdopen,--wrap=fileno,--wrap=unlink,--wrap=ftruncate,--wrap=flock
//   -Wl,--wrap=__open_2,--wrap=__openat_2,--wrap=copy_file_range
// so that the platform layer's own calls to those functions land here. The
// platform layer runs unchanged: its flags, its O_NOFOLLOW, its regular-file
// and read-only checks and its 128 KiB stream buffers all stay; the seam
// lies below them, where the operating system would be.
//
// Every stream the platform layer makes with fdopen is a cookie stream whose
// read, write and close go to the real descriptor, so that one chosen call
// can fail or pause. The stream buffer is still the one the platform layer
// attaches, so a read or a write call here moves one buffer's worth, as with
// the real tool.
//
// The environment variable KELTO_FAULT chooses the call (the shipped kelto
// reads no environment variable; only this seam does):
//
//   KELTO_FAULT=ACTION:CALL:N:NAME
//
//   ACTION  fail   the call fails (open: EACCES; read, write, close, copy:
//                  EIO; remove: EACCES; truncate: EIO; lock: ENOLCK); a
//                  close still releases the descriptor
//           refuse a copy fails with EXDEV, as between two file systems
//           short  a copy copies at most 1000 bytes
//           kill   the process kills itself with SIGKILL just before the
//                  call: a crash at a moment that does not depend on the
//                  machine's speed
//           int, term, hup  the process sends itself SIGINT, SIGTERM or
//                  SIGHUP just before the call, which then goes on
//           swap   just before the call, the file NAME is renamed to
//                  NAME.orig and a symbolic link NAME -> secret put in its
//                  place, as someone who can write the directory might
//           append the text "appended" is added to the end of the file NAME
//           append_after  the same just after the call, when it is a write
//           overwrite  the first bytes of the file NAME are overwritten
//                  with "rewritten", its size kept
//           rewrite  the same, its modification time kept too, as a write
//                  in the same second would leave it where times have
//                  whole seconds
//   CALL    open_read   an open for reading
//           open_write  an open for writing
//           read        one refill of a stream buffer (one read call)
//           write       one flush of a stream buffer (one write call)
//           close       the close of a stream
//           remove      the deletion of a file
//           truncate    the emptying of a file
//           lock        the taking of a file's lock
//           copy        one copy inside the system (copy_file_range), named
//                       by the file it copies to
//           any         every call above
//   N       the Nth matching call of the process, counted from 1; only that
//           one call is hit, the calls after it behave normally
//   N+      the Nth matching call and every one after it, as on a full disk
//   NAME    the path as the tool hands it to the system ('\' already turned
//           into '/'), for instance kelto.tmp, or * for every file
//
// With KELTO_STREAM_COPY set, every copy inside the system fails with ENOSYS,
// as on a system without the call, and is not counted: the streams copy.
//
// Example: KELTO_FAULT=fail:write:2:kelto.tmp fails the second buffer flush
// of the temporary file. When the chosen call is reached the seam notes it
// on standard error as "kelto_fault: ACTION CALL N NAME"; standard output is
// the tool's alone. A malformed KELTO_FAULT ends the process with code 125.
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
int __real_openat(int dir, const char* path, int flags, ...);
int __real_ftruncate(int fd, off_t length);
int __real_flock(int fd, int operation);
FILE* __real_fdopen(int fd, const char* mode);
int __real_fileno(FILE* f);
int __real_unlink(const char* path);
ssize_t __real_copy_file_range(int in, loff_t* in_at, int out, loff_t* out_at, size_t size,
                               unsigned flags);
}

namespace {

enum call_kind {
    call_open_read,
    call_open_write,
    call_read,
    call_write,
    call_close,
    call_remove,
    call_truncate,
    call_lock,
    call_copy,
    call_any
};

const char* const call_names[] = {"open_read", "open_write", "read", "write", "close",
                                  "remove",    "truncate",   "lock", "copy",  "any"};

// What happens at the chosen call, and the signal the process sends itself;
// AFTER: the action follows the call instead of coming before it.
struct action_kind {
    const char* name;
    int signal;
    bool fail;
    bool after;
};

const action_kind actions[] = {
    {"fail", 0, true, false},       {"kill", SIGKILL, false, false},
    {"int", SIGINT, false, false},  {"term", SIGTERM, false, false},
    {"hup", SIGHUP, false, false},  {"swap", 0, false, false},
    {"append", 0, false, false},    {"append_after", 0, false, true},
    {"overwrite", 0, false, false}, {"rewrite", 0, false, false},
    {"refuse", 0, false, false},    {"short", 0, false, false},
};

struct fault_point {
    bool active = false;
    const action_kind* action = nullptr;
    call_kind call = call_any;
    long n = 0;
    bool onwards = false;  // every call from the Nth on
    std::string name;
    long seen = 0;
    bool due = false;  // an action after the call is still to come
};

[[noreturn]] void bad_setting(const char* text)
{
    fprintf(stderr, "kelto_fault: malformed KELTO_FAULT: %s\n", text);
    _exit(125);
}

// Splits off the text up to the next ':'.
std::string next_field(const char*& p, const char* text)
{
    const char* colon = strchr(p, ':');
    if (!colon)
        bad_setting(text);
    std::string field(p, colon);
    p = colon + 1;
    return field;
}

fault_point parse_point(const char* text)
{
    fault_point point;
    if (!text)
        return point;
    const char* p = text;
    std::string action = next_field(p, text);
    for (const action_kind& a : actions) {
        if (action == a.name)
            point.action = &a;
    }
    if (!point.action)
        bad_setting(text);
    std::string call = next_field(p, text);
    int k = 0;
    while (k < call_any && call != call_names[k])
        ++k;
    if (call != call_names[k])
        bad_setting(text);
    point.call = call_kind(k);
    std::string count = next_field(p, text);
    char* end = nullptr;
    point.n = strtol(count.c_str(), &end, 10);
    point.onwards = *end == '+';
    if (count.empty() || *(end + point.onwards) || point.n < 1 || !*p)
        bad_setting(text);
    point.name = p;
    point.active = true;
    return point;
}

fault_point& point()
{
    static fault_point p = parse_point(getenv("KELTO_FAULT"));
    return p;
}

// What another process does to the file NAME at the chosen call.
void interfere(const std::string& action, const std::string& name)
{
    if (action == "swap") {
        rename(name.c_str(), (name + ".orig").c_str());
        // A swap that leaves no link would check nothing: stop as on a bad setting.
        if (symlink("secret", name.c_str()) != 0) {
            perror("kelto_fault: swap");
            _exit(125);
        }
    } else if (action == "append" || action == "append_after") {
        FILE* f = fopen(name.c_str(), "ab");
        fputs("appended", f);
        fclose(f);
    } else if (action == "overwrite" || action == "rewrite") {
        struct stat st;
        FILE* f = fopen(name.c_str(), "r+b");
        if (!f || stat(name.c_str(), &st) != 0) {
            perror("kelto_fault: rewrite");
            _exit(125);
        }
        fputs("rewritten", f);
        fclose(f);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        if (action == "rewrite")
            utimensat(AT_FDCWD, name.c_str(), times, 0);
    }
}

// The action of the call that hit() last found chosen, or null.
const action_kind* chosen = nullptr;

// True when this call is the one to fail. A call chosen for a signal or a
// swap gets it here.
bool hit(call_kind call, const std::string& name)
{
    chosen = nullptr;
    fault_point& p = point();
    if (!p.active || (p.call != call_any && p.call != call) || (p.name != "*" && p.name != name))
        return false;
    ++p.seen;
    if (p.seen < p.n || (p.seen > p.n && !p.onwards))
        return false;
    // The first hit is noted; the calls after it fail alike.
    if (p.seen == p.n)
        fprintf(stderr, "kelto_fault: %s %s %ld %s\n", p.action->name, call_names[call], p.n,
                name.c_str());
    chosen = p.action;
    if (p.action->signal)
        raise(p.action->signal);
    p.due = p.action->after;
    if (!p.due)
        interfere(p.action->name, name);
    return p.action->fail;
}

// The action of a hit that comes after its call.
void after_call(const std::string& name)
{
    fault_point& p = point();
    if (p.due)
        interfere(p.action->name, name);
    p.due = false;
}

// The path each descriptor was opened with; the platform layer keeps at most
// a few files open at a time.
const int max_fds = 1024;
std::string fd_names[max_fds];

std::string name_of(int fd)
{
    return fd >= 0 && fd < max_fds ? fd_names[fd] : std::string();
}

struct seam_file {
    int fd;
    std::string name;
    FILE* stream = nullptr;
};

const int max_files = 16;
seam_file* open_files[max_files];

ssize_t seam_read(void* cookie, char* buf, size_t size)
{
    auto* f = static_cast<seam_file*>(cookie);
    if (hit(call_read, f->name)) {
        errno = EIO;
        return -1;
    }
    ssize_t n;
    do
        n = read(f->fd, buf, size);
    while (n < 0 && errno == EINTR);
    return n;
}

// A short count marks the stream as failed, so the whole buffer is written.
ssize_t seam_write(void* cookie, const char* buf, size_t size)
{
    auto* f = static_cast<seam_file*>(cookie);
    if (hit(call_write, f->name)) {
        errno = EIO;
        return -1;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(f->fd, buf + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done > 0 ? ssize_t(done) : -1;
        done += size_t(n);
    }
    after_call(f->name);
    return ssize_t(done);
}

// The temporary file is rewound to be read back.
int seam_seek(void* cookie, off64_t* offset, int whence)
{
    auto* f = static_cast<seam_file*>(cookie);
    off64_t at = lseek64(f->fd, *offset, whence);
    if (at < 0)
        return -1;
    *offset = at;
    return 0;
}

int seam_close(void* cookie)
{
    auto* f = static_cast<seam_file*>(cookie);
    bool fail = hit(call_close, f->name);
    int r = close(f->fd);
    for (seam_file*& slot : open_files) {
        if (slot == f)
            slot = nullptr;
    }
    delete f;
    if (fail) {
        errno = EIO;
        return -1;
    }
    return r;
}

}  // namespace

extern "C" {

// An open through a directory descriptor is named by the path it was given,
// the last part of a path that the platform layer walks.
int seam_open(int dir, const char* path, int flags, mode_t perms)
{
    call_kind call = (flags & O_ACCMODE) == O_RDONLY ? call_open_read : call_open_write;
    if (hit(call, path)) {
        errno = EACCES;
        return -1;
    }
    int fd = __real_openat(dir, path, flags, perms);
    if (fd >= 0 && fd < max_fds)
        fd_names[fd] = path;
    return fd;
}

int __wrap_open(const char* path, int flags, ...)
{
    mode_t perms = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        perms = va_arg(args, mode_t);
        va_end(args);
    }
    return seam_open(AT_FDCWD, path, flags, perms);
}

// The platform layer creates files through open alone.
int __wrap_openat(int dir, const char* path, int flags, ...)
{
    assert((flags & O_CREAT) == 0);
    return seam_open(dir, path, flags, 0);
}

// The checked forms that _FORTIFY_SOURCE makes of an open or openat whose
// flags are no constant and that passes no mode, which cannot create.
int __wrap___open_2(const char* path, int flags)
{
    assert((flags & O_CREAT) == 0);
    return seam_open(AT_FDCWD, path, flags, 0);
}

int __wrap___openat_2(int dir, const char* path, int flags)
{
    return seam_open(dir, path, flags, 0);
}

FILE* __wrap_fdopen(int fd, const char* mode)
{
    int slot = 0;
    while (slot < max_files && open_files[slot])
        ++slot;
    if (slot == max_files)
        return __real_fdopen(fd, mode);
    auto* f = new seam_file{fd, name_of(fd)};
    cookie_io_functions_t io = {seam_read, seam_write, seam_seek, seam_close};
    const bool update = strchr(mode, '+') != nullptr;
    f->stream = fopencookie(f, mode[0] == 'r' ? (update ? "r+" : "r") : update ? "w+" : "w", io);
    if (!f->stream) {
        delete f;
        return nullptr;
    }
    open_files[slot] = f;
    return f->stream;
}

// A cookie stream has no descriptor of its own; the platform layer asks for
// it to compare files by device and inode.
int __wrap_fileno(FILE* stream)
{
    for (seam_file* f : open_files) {
        if (f && f->stream == stream)
            return f->fd;
    }
    return __real_fileno(stream);
}

int __wrap_unlink(const char* path)
{
    if (hit(call_remove, path)) {
        errno = EACCES;
        return -1;
    }
    return __real_unlink(path);
}

int __wrap_ftruncate(int fd, off_t length)
{
    if (hit(call_truncate, name_of(fd))) {
        errno = EIO;
        return -1;
    }
    return __real_ftruncate(fd, length);
}

ssize_t __wrap_copy_file_range(int in, loff_t* in_at, int out, loff_t* out_at, size_t size,
                               unsigned flags)
{
    static const bool streams_only = getenv("KELTO_STREAM_COPY") != nullptr;
    const std::string name = name_of(out);
    if (streams_only) {
        errno = ENOSYS;
        return -1;
    }
    if (hit(call_copy, name)) {
        errno = EIO;
        return -1;
    }
    if (chosen && strcmp(chosen->name, "refuse") == 0) {
        errno = EXDEV;
        return -1;
    }
    if (chosen && strcmp(chosen->name, "short") == 0)
        size = std::min<size_t>(size, 1000);
    ssize_t n = __real_copy_file_range(in, in_at, out, out_at, size, flags);
    after_call(name);
    return n;
}

int __wrap_flock(int fd, int operation)
{
    if (hit(call_lock, name_of(fd))) {
        errno = ENOLCK;
        return -1;
    }
    return __real_flock(fd, operation);
}

}  // extern "C"
