// The platform layer on POSIX systems. Paths arrive written the DOS way: every
// '\' is handed to the system as '/'.
#include "platform.h"

#include "dosmatch.h"
#include "wildcard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The C library takes a buffer size only together with the buffer: without
// one it keeps a buffer of the file system's block size (4 KiB), a system
// call per 4 KiB. The tool has at most two streams open at a time, so a few
// fixed buffers serve every stream; one without a free buffer keeps the
// library's own. Untouched buffers cost no memory.
const int buffer_count = 4;
char stream_buffers[buffer_count][stream_buffer_size];
FILE* buffer_owners[buffer_count];

void attach_buffer(FILE* f)
{
    for (int i = 0; i < buffer_count; ++i) {
        if (!buffer_owners[i]) {
            buffer_owners[i] = f;
            setvbuf(f, stream_buffers[i], _IOFBF, stream_buffer_size);
            return;
        }
    }
}

void release_buffer(const FILE* f)
{
    for (FILE*& owner : buffer_owners) {
        if (owner == f)
            owner = nullptr;
    }
}

// Every '\' that is a character of its own becomes '/'; the second byte of
// a two-byte character keeps its value, whatever it is.
std::string os_path(const char* name)
{
    std::string path(name);
    for (size_t pos = 0; pos < path.size(); pos += char_size(path.c_str() + pos)) {
        if (path[pos] == '\\')
            path[pos] = '/';
    }
    return path;
}

// O_NONBLOCK keeps a FIFO from blocking the open and a regular file whose
// reads would block (/proc/kmsg) from hanging the run: its read fails
// instead. It changes nothing for a file on a disk. A file to be written is
// neither created nor emptied here.
int open_flags(open_mode mode)
{
    int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    return flags | (mode == open_read ? O_RDONLY : O_RDWR);
}

// A regular file, and for writing one whose owner may write it: the DOS
// read-only attribute holds for the superuser too.
bool usable(const struct stat& st, open_mode mode)
{
    if (!S_ISREG(st.st_mode))
        return false;
    return mode == open_read || (st.st_mode & S_IWUSR) != 0;
}

// Opens the directory part of PATH, its first END bytes, following symbolic
// links within its first TYPED bytes only: each directory after them is
// entered through the one before it, and only when it is no link, so that a
// name turned into a link since it was listed leads nowhere. Returns
// AT_FDCWD for an empty part, -1 when it cannot be entered.
int enter_dir(const std::string& path, size_t typed, size_t end)
{
    const int dir_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    int dir = typed == 0 ? AT_FDCWD : open(path.substr(0, typed).c_str(), dir_flags & ~O_NOFOLLOW);
    for (size_t start = typed; dir != -1 && start < end;) {
        size_t slash = path.find('/', start);
        int next = openat(dir, path.substr(start, slash - start).c_str(), dir_flags);
        if (dir != AT_FDCWD)
            close(dir);
        dir = next;
        start = slash + 1;
    }
    return dir;
}

// The directory last entered for a found path, kept open: a walk opens the
// files of one directory one after another. Keyed by its path and by how
// much of that was typed.
struct entered_dir {
    std::string path;
    size_t typed = 0;
    int fd = AT_FDCWD;
};

entered_dir last_dir;

// Opens PATH with FLAGS; links are followed within its first TYPED bytes
// only (see enter_dir), and the file itself is opened only when it is no
// link.
int open_path(const std::string& path, size_t typed, int flags)
{
    if (typed >= path.size())
        return open(path.c_str(), flags);
    size_t end = path.rfind('/');
    end = end == std::string::npos || end < typed ? typed : end + 1;
    std::string dir = path.substr(0, end);
    if (dir != last_dir.path || typed != last_dir.typed) {
        if (last_dir.fd >= 0)
            close(last_dir.fd);
        last_dir = {dir, typed, enter_dir(path, typed, end)};
    }
    if (last_dir.fd == -1)
        return -1;
    return openat(last_dir.fd, path.c_str() + end, flags | O_NOFOLLOW);
}

int open_fd(const char* name, size_t typed, open_mode mode)
{
    int fd = open_path(os_path(name), typed, open_flags(mode));
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !usable(st, mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

FILE* open_stream(int fd, const char* mode)
{
    FILE* f = fdopen(fd, mode);
    if (!f) {
        close(fd);
        return nullptr;
    }
    attach_buffer(f);
    return f;
}

// True when PATH, not followed if it is a link, denotes the file HELD.
bool names_held(const char* path, const struct stat& held)
{
    struct stat named;
    return lstat(path, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// The temporary file of the run, for the signal handler: its path, and the
// file it was made as, so that a file put in its place is never deleted.
// The phase says what an interrupting signal does.
enum temp_phase { phase_none, phase_conversion, phase_copy_back };

const int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t current_phase = phase_none;
volatile sig_atomic_t interrupted = 0;
char temp_path[64];
dev_t temp_dev;
ino_t temp_ino;

void set_phase(temp_phase phase)
{
    // The handler reads what was stored before the phase that lets it.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    current_phase = phase;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Async-signal-safe: fstatat and unlink only. True once the file is gone.
bool remove_temp_file()
{
    struct stat st;
    return fstatat(AT_FDCWD, temp_path, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == temp_dev &&
           st.st_ino == temp_ino && unlink(temp_path) == 0;
}

// During a conversion the file on disk is untouched and the temporary file
// worthless; during a copy back the copy is finished first; at any other
// time the signal has its usual effect.
extern "C" void on_interrupt(int sig)
{
    if (current_phase == phase_copy_back) {
        interrupted = 1;
        return;
    }
    if (current_phase == phase_conversion) {
        remove_temp_file();
        _exit(2);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// Whether an existing temporary file may be taken over: a regular file of
// this user's own, with no other link, and not marked read-only by a copy
// back that did not end (it may hold the only complete copy of a file).
temp_status judge_temp(const struct stat& st)
{
    if (!S_ISREG(st.st_mode))
        return temp_failed;
    static const uid_t user = geteuid();
    if (st.st_nlink != 1 || st.st_uid != user || (st.st_mode & S_IWUSR) == 0)
        return temp_refused;
    return temp_ready;
}

// A lock that another process holds means another run uses the file.
temp_status lock_temp(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return temp_ready;
    return errno == EWOULDBLOCK ? temp_in_use : temp_failed;
}

// Looks again at an old temporary file refused at first sight, locked this
// time: held by another run (which marks it read-only for its copy back),
// it is in use rather than refused; when it changed hands meanwhile, *again
// is set.
temp_status recheck_refused(const char* path, bool* again)
{
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *again = errno == ENOENT;
        return *again ? temp_in_use : temp_refused;
    }
    temp_status status = lock_temp(fd);
    struct stat held;
    if (status == temp_ready && fstat(fd, &held) == 0) {
        status = judge_temp(held);
        *again = status == temp_ready || !names_held(path, held);
        if (*again)
            status = temp_in_use;
    }
    close(fd);
    return status;
}

// Checks the file that FD holds locked: the name PATH must still denote it
// (its last user may have deleted it before it let go of the lock, or
// someone put another file in its place; *again is then set), and it must
// pass judge_temp. It is emptied, if need be, as it now belongs to this run.
temp_status check_held(int fd, const char* path, bool* again)
{
    struct stat held;
    if (fstat(fd, &held) != 0)
        return temp_failed;
    *again = !names_held(path, held);
    if (*again)
        return temp_in_use;
    temp_status status = judge_temp(held);
    if (status == temp_ready && held.st_size != 0 && ftruncate(fd, 0) != 0)
        return temp_failed;
    temp_dev = held.st_dev;
    temp_ino = held.st_ino;
    return status;
}

// Opens the existing temporary file PATH to take it over. It is looked at
// before it is opened, so that no device or FIFO is ever opened, and checked
// again once it is locked.
int open_old_temp(const char* path, temp_status* status, bool* again)
{
    struct stat named;
    if (lstat(path, &named) != 0) {
        *again = errno == ENOENT;
        *status = temp_failed;
        return -1;
    }
    if ((*status = judge_temp(named)) != temp_ready) {
        if (*status == temp_refused)
            *status = recheck_refused(path, again);
        return -1;
    }
    int fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *again = errno == ENOENT;
        *status = temp_failed;
    }
    return fd;
}

// Makes the temporary file PATH, or takes over an old one, and locks it.
// A few attempts: between two of them another run may have deleted the file
// found, or made one of its own.
int make_temp(const char* path, temp_status* status)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        bool again = false;
        int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        bool made = fd >= 0;
        if (!made && errno != EEXIST) {
            *status = temp_failed;
            return -1;
        }
        if (!made)
            fd = open_old_temp(path, status, &again);
        if (fd >= 0) {
            *status = lock_temp(fd);
            if (*status == temp_ready)
                *status = check_held(fd, path, &again);
            if (*status == temp_ready)
                return fd;
            // A file made here but not locked is removed; one locked by
            // another run that found it belongs to that run now.
            if (made && *status == temp_failed)
                unlink(path);
            close(fd);
        }
        if (!again)
            return -1;
    }
    return -1;
}

}  // namespace

void plat_startup(int*, char***)
{
    // A closed pipe on standard output becomes a write error that the
    // driver reports through its exit code, not a silent death mid-run.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    for (int sig : interrupting_signals)
        sigaction(sig, &action, nullptr);
}

FILE* plat_open(const char* name, size_t typed, open_mode mode)
{
    int fd = open_fd(name, typed, mode);
    if (fd < 0)
        return nullptr;
    return open_stream(fd, mode == open_read ? "rb" : "r+b");
}

bool plat_close(FILE* f)
{
    bool ok = !ferror(f);
    // The buffer is marked free before the close that last uses it: no
    // stream can take it in between, and the pointer is not used after it.
    release_buffer(f);
    return fclose(f) == 0 && ok;
}

bool plat_stamp(FILE* f, file_stamp* out)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0)
        return false;
    *out = {st.st_dev,         st.st_ino,          static_cast<unsigned long long>(st.st_size),
            st.st_mtim.tv_sec, st.st_mtim.tv_nsec, (st.st_mode & S_IWUSR) == 0};
    return true;
}

bool plat_denotes(const char* name, const file_stamp& stamp)
{
    struct stat st;
    return stat(os_path(name).c_str(), &st) == 0 && st.st_dev == stamp.volume &&
           st.st_ino == stamp.index;
}

bool plat_truncate(FILE* f)
{
    return fseek(f, 0, SEEK_SET) == 0 && ftruncate(fileno(f), 0) == 0;
}

FILE* plat_open_temp(const char* name, temp_status* status)
{
    std::string path = os_path(name);
    if (path.size() >= sizeof temp_path) {
        *status = temp_failed;
        return nullptr;
    }
    // An interruption while the file is being had waits until the handler
    // knows the file: it is then deleted, as during the conversion.
    sigset_t interrupting;
    sigset_t before;
    sigemptyset(&interrupting);
    for (int sig : interrupting_signals)
        sigaddset(&interrupting, sig);
    sigprocmask(SIG_BLOCK, &interrupting, &before);
    std::memcpy(temp_path, path.c_str(), path.size() + 1);
    int fd = make_temp(temp_path, status);
    FILE* f = fd >= 0 ? open_stream(fd, "w+b") : nullptr;
    if (!f && *status == temp_ready)
        *status = temp_failed;
    set_phase(f ? phase_conversion : phase_none);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return f;
}

bool plat_seal_temp(FILE* f)
{
    int fd = fileno(f);
    // Not forced to the disk: a flush per file made a run over many small
    // files several times slower.
    bool ok = fflush(f) == 0 && !ferror(f) && fchmod(fd, 0400) == 0 && fseek(f, 0, SEEK_SET) == 0;
    if (ok)
        set_phase(phase_copy_back);
    return ok;
}

void plat_remove_temp(FILE* f)
{
    // Should the deletion fail, the mark goes: what is left is then an
    // ordinary leftover that the next conversion takes over.
    if (!remove_temp_file())
        fchmod(fileno(f), 0600);
    set_phase(phase_none);
}

bool plat_interrupted()
{
    return interrupted != 0;
}

void plat_exit(int code)
{
    exit(code);
}

// The directory enumeration. A search string is split like a DOS path: the
// directory part runs through its last ':' or '\', the rest is the name
// pattern, matched against each name of the directory by the DOS rules.
struct find_handle {
    DIR* dir;
    std::string pattern;
};

namespace {

// True when C is a character of its own among the first LEN bytes of S; the
// second byte of a two-byte character never counts.
bool holds_char(const char* s, size_t len, char c)
{
    for (size_t pos = 0; pos < len; pos += char_size(s + pos)) {
        if (s[pos] == c)
            return true;
    }
    return false;
}

// The attributes of a listed entry, or -1 for an entry that is left out:
// only real directories and regular files are listed. A symbolic link is
// never followed: one to a directory would let a walk through
// subdirectories loop or leave the tree, and one to a file would let
// whoever can write in the tree choose a file elsewhere to be rewritten. A
// FIFO, socket or device could block a read forever.
int entry_attributes(DIR* dir, const char* name)
{
    struct stat st;
    if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    int attrib = 0;
    if (S_ISDIR(st.st_mode))
        attrib = attr_directory;
    else if (!S_ISREG(st.st_mode))
        return -1;
    // The UNIX convention for hidden files, and the read-only rule of the
    // file layer; POSIX has no system attribute.
    if (name[0] == '.')
        attrib |= attr_hidden;
    if ((st.st_mode & S_IWUSR) == 0)
        attrib |= attr_readonly;
    return attrib;
}

bool listed(const find_handle* h, const char* name, find_entry* out)
{
    size_t len = std::strlen(name);
    // A name too long for the entry is left out rather than cut short: a
    // shortened name would denote another file. A name with a '\' would
    // too, once written into a DOS path.
    if (len >= sizeof out->name || holds_char(name, len, '\\'))
        return false;
    if (!dos_match(h->pattern.c_str(), name))
        return false;
    int attrib = entry_attributes(h->dir, name);
    if (attrib < 0)
        return false;
    std::memcpy(out->name, name, len + 1);
    out->attrib = static_cast<unsigned>(attrib);
    return true;
}

}  // namespace

find_handle* plat_find_first(const char* search, find_entry* out)
{
    int len = dir_prefix_length(search);
    const char* pattern = search + len;
    // A ':' names a drive, which POSIX lacks. A pattern such as src/*.c
    // finds nothing: the directory part is written with '\', and the paths
    // made from the names found must never leave out the directory they were
    // found in.
    if (holds_char(search, len, ':') || std::strchr(pattern, '/'))
        return nullptr;
    std::string dir = os_path(std::string(search, len).c_str());
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return nullptr;
    find_handle* h = new find_handle{d, pattern};
    if (!plat_find_next(h, out)) {
        plat_find_close(h);
        return nullptr;
    }
    return h;
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    while (const dirent* e = readdir(h->dir)) {
        if (listed(h, e->d_name, out))
            return true;
    }
    return false;
}

void plat_find_close(find_handle* h)
{
    closedir(h->dir);
    delete h;
}
