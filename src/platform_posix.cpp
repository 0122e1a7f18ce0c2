// The platform layer on POSIX systems. Paths arrive written the DOS way: every
// '\' is handed to the system as '/'.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that a read or a write reaches the system rarely; small
// enough that two open streams stay far below a megabyte.
const size_t stream_buffer_size = 128 * 1024;

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

void release_buffer(FILE* f)
{
    for (FILE*& owner : buffer_owners) {
        if (owner == f)
            owner = nullptr;
    }
}

std::string os_path(const char* name)
{
    std::string path(name);
    for (char& c : path) {
        if (c == '\\')
            c = '/';
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
