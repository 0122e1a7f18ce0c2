// The platform layer on Windows: the 32-bit console program. Paths, names
// and the command line are byte strings in the system's ANSI code page, so
// the -A forms of the system calls take them as they are.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "platform.h"

#include "wildcard.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

// The runtime's start-up would expand wildcard arguments against the current
// directory; the tool expands its patterns itself, by its own rules.
extern "C" {
int _dowildcard = 0;
}

struct find_handle {
    HANDLE search;
};

namespace {

// Large enough that a read or a write reaches the system rarely; the
// runtime's own buffer is 4 KiB.
const size_t stream_buffer_size = 128 * 1024;

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Splits LINE in place into arguments at blanks and tabs outside double
// quotes. The quotes are dropped and every other byte stays: a backslash is
// a path separator here, never an escape, so "C:\dir\" is C:\dir\ and not a
// quote. The write position never passes the read position.
std::vector<char*> split_arguments(char* line)
{
    std::vector<char*> args;
    char* in = line;
    char* out = line;
    while (true) {
        while (is_blank(*in))
            ++in;
        if (!*in)
            return args;
        args.push_back(out);
        bool quoted = false;
        for (; *in && (quoted || !is_blank(*in)); ++in) {
            if (*in == '"')
                quoted = !quoted;
            else
                *out++ = *in;
        }
        // The byte ending the argument (a blank or the line's end) has been
        // read, so its place can hold the terminator.
        bool at_end = !*in;
        *out++ = '\0';
        if (at_end)
            return args;
        ++in;
    }
}

// Opens NAME as the mode asks and refuses anything but a regular file on a
// disk (a device such as NUL or CON, a directory, a pipe) before a file to
// be written is emptied. A read-only file is never opened for writing: the
// system refuses that itself, and the attribute is looked at here too for
// the file systems and users where the system would let it pass.
HANDLE open_handle(const char* name, open_mode mode)
{
    DWORD access = mode == open_read ? GENERIC_READ : GENERIC_WRITE;
    DWORD disposition = mode == open_read ? OPEN_EXISTING : OPEN_ALWAYS;
    // The temporary file is never reached through a symbolic link or
    // another reparse point: such a name is opened as the link itself and
    // then refused below.
    DWORD flags = mode == open_private ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (mode != open_read)
        refused |= FILE_ATTRIBUTE_READONLY;
    bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
              (info.dwFileAttributes & refused) == 0;
    // Emptied only once known to be a file that may be written; an empty
    // one is left alone.
    if (ok && mode != open_read && (info.nFileSizeHigh || info.nFileSizeLow))
        ok = SetEndOfFile(h) != 0;
    if (!ok) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

void fill_entry(const WIN32_FIND_DATAA& data, find_entry* out)
{
    static_assert(sizeof out->name == sizeof data.cFileName, "names of MAX_PATH bytes");
    memcpy(out->name, data.cFileName, sizeof out->name);
    out->attrib = data.dwFileAttributes;
}

}  // namespace

void plat_startup(int* argc, char*** argv)
{
    // The runtime's own splitting takes a backslash before a quote as an
    // escape; the tool's names are DOS paths, so the line is split afresh.
    // The vector lives as long as the process.
    const char* line = GetCommandLineA();
    char* copy = new char[strlen(line) + 1];
    strcpy(copy, line);
    std::vector<char*> args = split_arguments(copy);
    char** vec = new char*[args.size() + 1];
    for (size_t i = 0; i < args.size(); ++i)
        vec[i] = args[i];
    vec[args.size()] = nullptr;
    *argc = static_cast<int>(args.size());
    *argv = vec;
}

FILE* plat_open(const char* name, open_mode mode)
{
    HANDLE h = open_handle(name, mode);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    int flags = _O_BINARY | (mode == open_read ? _O_RDONLY : _O_WRONLY);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    // From here the descriptor owns the handle, and then the stream owns both.
    FILE* f = _fdopen(fd, mode == open_read ? "rb" : "wb");
    if (!f) {
        _close(fd);
        return nullptr;
    }
    setvbuf(f, nullptr, _IOFBF, stream_buffer_size);
    return f;
}

bool plat_close(FILE* f)
{
    // Flushed apart from the close: Wine's runtime loses the failure of the
    // flush that fclose itself makes, and a write that fails there (a full
    // disk) must not pass for success.
    bool ok = fflush(f) == 0 && !ferror(f);
    return fclose(f) == 0 && ok;
}

bool plat_same_file(FILE* f, const char* name)
{
    HANDLE open = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    // No access is asked for: the file's identity is all that is read.
    HANDLE named = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    bool same = GetFileInformationByHandle(open, &a) && GetFileInformationByHandle(named, &b) &&
                same_file(a, b);
    CloseHandle(named);
    return same;
}

void plat_remove(const char* name)
{
    DeleteFileA(name);
}

void plat_exit(int code)
{
    // exit() flushes and closes the runtime's streams before it ends the
    // process; ExitProcess alone would lose what they still buffer.
    exit(code);
}

find_handle* plat_find_first(const char* search, find_entry* out)
{
    // The system takes '/' as a separator too, but the tool builds each
    // match's path from the part through the last '\' or ':': sub/*.txt
    // would find sub's files and hand on names of the current directory. So
    // a '/' in the name pattern finds nothing, as on POSIX systems; in the
    // directory part (./sub\*.txt) it is part of every path built.
    if (strchr(search + dir_prefix_length(search), '/'))
        return nullptr;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(search, &data);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    fill_entry(data, out);
    return new find_handle{h};
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(h->search, &data))
        return false;
    fill_entry(data, out);
    return true;
}

void plat_find_close(find_handle* h)
{
    FindClose(h->search);
    delete h;
}
