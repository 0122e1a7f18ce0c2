// The platform layer on POSIX systems. Paths arrive written the DOS way: every
// '\' is handed to the system as '/'.
#include "platform.h"

#include "dosmatch.h"
#include "wildcard.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that a read or a write reaches the system rarely; small
// enough that two open streams stay far below a megabyte.
const size_t stream_buffer_size = size_t{128} * 1024;

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

int open_flags(open_mode mode)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; anything but a regular
    // file is refused right after it.
    int flags = O_NONBLOCK | O_CLOEXEC;
    if (mode == open_read)
        return flags | O_RDONLY;
    flags |= O_WRONLY | O_CREAT;
    if (mode == open_private)
        flags |= O_NOFOLLOW;
    return flags;
}

// A regular file, and for writing one whose owner may write it: the DOS
// read-only attribute holds for the superuser too.
bool usable(const struct stat& st, open_mode mode)
{
    if (!S_ISREG(st.st_mode))
        return false;
    return mode == open_read || (st.st_mode & S_IWUSR) != 0;
}

// Empties a file opened for writing. An empty one (the temporary file, made
// afresh for each conversion) is left alone: ext4 takes a truncation to zero
// as the start of a file's replacement and writes it to disk when it is
// closed, which for the temporary file means writing out data that is
// deleted a moment later (a tenth of a second for 256 MiB).
bool empty_file(int fd, const struct stat& st)
{
    return st.st_size == 0 || ftruncate(fd, 0) == 0;
}

int open_fd(const char* name, open_mode mode)
{
    mode_t perms = mode == open_private ? 0600 : 0666;
    int fd = open(os_path(name).c_str(), open_flags(mode), perms);
    if (fd < 0)
        return -1;
    // The file is emptied only once it is known to be one that may be
    // written, so a refused file keeps its content.
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && usable(st, mode) && fcntl(fd, F_SETFL, 0) == 0 &&
              (mode == open_read || empty_file(fd, st));
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void plat_startup(int*, char***)
{
    // A closed pipe on standard output becomes a write error that the
    // driver reports through its exit code, not a silent death mid-run.
    signal(SIGPIPE, SIG_IGN);
}

FILE* plat_open(const char* name, open_mode mode)
{
    int fd = open_fd(name, mode);
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, mode == open_read ? "rb" : "wb");
    if (!f) {
        close(fd);
        return nullptr;
    }
    attach_buffer(f);
    return f;
}

bool plat_close(FILE* f)
{
    bool ok = !ferror(f);
    // The buffer is marked free before the close that last uses it: no
    // stream can take it in between, and the pointer is not used after it.
    release_buffer(f);
    return fclose(f) == 0 && ok;
}

bool plat_same_file(FILE* f, const char* name)
{
    struct stat a;
    struct stat b;
    if (fstat(fileno(f), &a) != 0 || stat(os_path(name).c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void plat_remove(const char* name)
{
    unlink(os_path(name).c_str());
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
