// The platform layer on POSIX systems. Paths arrive written the DOS way: every
// '\' is handed to the system as '/'.
#include "platform.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Fills *OUT from what the system tells of a file; true.
bool stamp_of(const struct stat& st, file_stamp* out)
{
    // The user id is asked once: it stays the same for the whole run.
    static const uid_t user = geteuid();
    *out = {st.st_dev,           st.st_ino,          static_cast<unsigned long long>(st.st_size),
            st.st_mtim.tv_sec,   st.st_mtim.tv_nsec, (st.st_mode & S_IWUSR) == 0,
            S_ISREG(st.st_mode), st.st_nlink,        st.st_uid == user};
    return true;
}

int open_fd(const char* name, size_t typed, open_mode mode, file_stamp* stamp)
{
    int fd = open_path(os_path(name), typed, open_flags(mode));
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !stamp_of(st, stamp)) {
        close(fd);
        return -1;
    }
    return fd;
}

FILE* open_stream(int fd, const char* mode)
{
    FILE* f = fdopen(fd, mode);
    if (f)
        attach_buffer(f);
    else
        close(fd);
    return f;
}

// Which mount a file lies on: the system's mount id, or where the kernel
// gives none, its file system's device. Zero when it cannot tell.
unsigned long long mount_of(int dir, const char* path, int flags)
{
    struct statx sx;
    if (statx(dir, path, flags, STATX_MNT_ID, &sx) != 0)
        return 0;
    if (sx.stx_mask & STATX_MNT_ID)
        return sx.stx_mnt_id;
    return makedev(sx.stx_dev_major, sx.stx_dev_minor);
}

// The file held for plat_delete_held: its path, and the file it denotes, so
// that a file put in its place is never deleted.
char held_path[256];
dev_t held_dev;
ino_t held_ino;

const int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP};
bool (*interrupt_handler)();

extern "C" void on_signal(int sig)
{
    if (interrupt_handler())
        return;
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

bool plat_startup()
{
    // A standard descriptor left closed would be the next one that a file
    // gets, and what is printed would land in that file. Each is filled with
    // /dev/null opened for reading only: printing to it then fails, as on a
    // full disk.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDONLY) != fd)
            return false;
    }
    // A closed pipe on standard output becomes a write error that the
    // driver reports through its exit code, not a silent death mid-run.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

const char* plat_command_line()
{
    // The system hands the arguments over one by one.
    return nullptr;
}

code_page plat_code_page()
{
    setlocale(LC_CTYPE, "");
    return locale_code_page(nl_langinfo(CODESET));
}

FILE* plat_open(const char* name, size_t typed, open_mode mode, file_stamp* stamp)
{
    int fd = open_fd(name, typed, mode, stamp);
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
    return fstat(fileno(f), &st) == 0 && stamp_of(st, out);
}

bool plat_look(const char* name, bool follow, file_stamp* out)
{
    struct stat st;
    std::string path = os_path(name);
    return (follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) == 0 && stamp_of(st, out);
}

bool plat_tell(FILE* f, unsigned long long* out)
{
    off_t at = ftello(f);
    *out = static_cast<unsigned long long>(at);
    return at >= 0;
}

bool plat_truncate(FILE* f)
{
    return fseek(f, 0, SEEK_SET) == 0 && ftruncate(fileno(f), 0) == 0;
}

bool plat_seek(FILE* f, unsigned long long at)
{
    return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0;
}

temp_call plat_copy_range(FILE* src, FILE* dst, unsigned long long* n)
{
    // The system copies less than 2 GiB in one call.
    const size_t most = size_t{1} << 30;
    ssize_t r;
    do
        r = copy_file_range(fileno(src), nullptr, fileno(dst), nullptr, most, 0);
    while (r < 0 && errno == EINTR);
    if (r >= 0) {
        *n = static_cast<unsigned long long>(r);
        return call_done;
    }
    // Two file systems, or a system or file system without the call.
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
        return call_denied;
    return call_failed;
}

temp_call plat_open_temp(const char* name, temp_open how, FILE** out)
{
    // O_NONBLOCK: a FIFO put in the place of the file found does not block
    // its open.
    const int flags[] = {O_RDWR | O_CREAT | O_EXCL, O_RDWR | O_NONBLOCK, O_RDONLY | O_NONBLOCK};
    std::string path = os_path(name);
    int fd = open(path.c_str(), flags[how] | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EEXIST || how == temp_make))
        return errno == EEXIST ? call_exists : call_failed;
    if (fd < 0)
        return errno == ENOENT                     ? call_missing
               : errno == EACCES || errno == EPERM ? call_denied
                                                   : call_failed;
    // The umask may have taken the owner's write bit, the mark of a kept
    // copy, or the read bit, which the copy back needs: the mode is set
    // again, whatever the umask. A file made here that keeps the wrong mode
    // goes again.
    if (how == temp_make && fchmod(fd, 0600) != 0) {
        unlink(path.c_str());
        close(fd);
        return call_failed;
    }
    *out = open_stream(fd, how == temp_read ? "rb" : "w+b");
    return *out ? call_done : call_failed;
}

namespace {

temp_call lock(FILE* f, int how)
{
    if (flock(fileno(f), how | LOCK_NB) == 0)
        return call_done;
    return errno == EWOULDBLOCK ? call_busy : call_failed;
}

}  // namespace

temp_call plat_try_lock(FILE* f)
{
    return lock(f, LOCK_EX);
}

temp_call plat_try_share(FILE* f)
{
    return lock(f, LOCK_SH);
}

void plat_wait_turn(FILE* f)
{
    while (flock(fileno(f), LOCK_EX) != 0 && errno == EINTR) {
    }
}

// A file mounted over the name (a bind mount) passes every other check but
// is some other file. The current directory stays the same for the whole
// run, so its mount is asked for once.
bool plat_same_mount(FILE* f)
{
    static const unsigned long long current = mount_of(AT_FDCWD, ".", 0);
    return current != 0 && mount_of(fileno(f), "", AT_EMPTY_PATH) == current;
}

bool plat_mark(FILE* f, bool read_only)
{
    return fchmod(fileno(f), read_only ? 0400 : 0600) == 0;
}

bool plat_hold(FILE*, const char* name, const file_stamp& id)
{
    std::string path = os_path(name);
    if (path.size() >= sizeof held_path)
        return false;
    std::memcpy(held_path, path.c_str(), path.size() + 1);
    held_dev = id.volume;
    held_ino = id.index;
    return true;
}

// Async-signal-safe: fstatat and unlink only.
bool plat_delete_held()
{
    struct stat st;
    return fstatat(AT_FDCWD, held_path, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == held_dev &&
           st.st_ino == held_ino && unlink(held_path) == 0;
}

void plat_on_interrupt(bool (*handler)())
{
    interrupt_handler = handler;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    for (int sig : interrupting_signals) {
        // A signal that whoever started the tool ignores (nohup, the shell
        // for a background job) stays ignored.
        struct sigaction was;
        if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
    }
}

bool plat_is_terminal(FILE* f)
{
    return isatty(fileno(f)) == 1;
}

// The directory listing: every entry of a directory that the DOS interface
// can hold, with its attributes; the tree matches the names.
struct find_handle {
    DIR* dir;
};

namespace {

// True when C is a character of its own among the first LEN bytes of S; a
// later byte of a character of several bytes never counts.
bool holds_char(const char* s, size_t len, char c)
{
    for (size_t pos = 0; pos < len; pos += char_size(s + pos)) {
        if (s[pos] == c)
            return true;
    }
    return false;
}

// The attributes of the listed entry E, or -1 for an entry that is left
// out: only real directories and regular files are listed. A symbolic link
// is never followed: one to a directory would let a walk through
// subdirectories loop or leave the tree, and one to a file would let
// whoever can write in the tree choose a file elsewhere to be rewritten. A
// FIFO, socket or device could block a read forever. The kind comes from
// the listing itself where the file system tells it; only where it does
// not is the entry looked at.
int entry_attributes(DIR* dir, const dirent* e)
{
    unsigned char type = e->d_type;
    struct stat st;
    if (type == DT_UNKNOWN && fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    if (type != DT_DIR && type != DT_REG)
        return -1;
    // The UNIX convention for hidden files; POSIX has no system attribute.
    // Nor is read-only listed: every set of accepted states that the
    // expansion makes takes both, and the file layer refuses to write a
    // read-only file when it opens it, so a look at every entry's mode
    // would decide nothing.
    int attrib = type == DT_DIR ? attr_directory : 0;
    if (e->d_name[0] == '.')
        attrib |= attr_hidden;
    return attrib;
}

bool listed(const find_handle* h, const dirent* e, find_entry* out)
{
    size_t len = std::strlen(e->d_name);
    // A name too long for the entry is left out rather than cut short: a
    // shortened name would denote another file. A name with a '\' would
    // too, once written into a DOS path.
    if (len >= sizeof out->name || holds_char(e->d_name, len, '\\'))
        return false;
    int attrib = entry_attributes(h->dir, e);
    if (attrib < 0)
        return false;
    std::memcpy(out->name, e->d_name, len + 1);
    out->attrib = static_cast<unsigned>(attrib);
    out->exact = true;
    return true;
}

}  // namespace

void plat_find_close(find_handle* h)
{
    closedir(h->dir);
    delete h;
}

find_handle* plat_find_first(const char* dir, find_entry* out)
{
    // A ':' names a drive, which POSIX lacks.
    if (holds_char(dir, std::strlen(dir), ':'))
        return nullptr;
    std::string path = os_path(dir);
    DIR* d = opendir(path.empty() ? "." : path.c_str());
    if (!d)
        return nullptr;
    find_handle* h = new find_handle{d};
    if (!plat_find_next(h, out)) {
        plat_find_close(h);
        return nullptr;
    }
    return h;
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    while (const dirent* e = readdir(h->dir)) {
        if (listed(h, e, out))
            return true;
    }
    return false;
}
