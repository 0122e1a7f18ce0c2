// The platform layer on Windows: the 32-bit console program. Paths, names
// and the command line are byte strings in the system's ANSI code page, so
// the -A forms of the system calls take them as they are.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "platform.h"

#include "wildcard.h"

#include <cstdlib>
#include <cstring>
#include <string>
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

// The path of the file or directory open in H as the system resolved it,
// every link and junction on the way followed; empty when it cannot tell.
std::string final_path(HANDLE h)
{
    char buf[4 * MAX_PATH];
    DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

// True when the file open in H is the one that NAME denotes with links
// followed in its first TYPED bytes only: no link or junction stands, in
// the part of NAME that a pattern found, where the listing saw a directory.
bool where_found(HANDLE h, const char* name, size_t typed)
{
    // The directory typed: "" and "C:" stand for a current directory.
    std::string dir(name, typed);
    if (dir.empty() || dir.back() == ':')
        dir += '.';
    HANDLE d = CreateFileA(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (d == INVALID_HANDLE_VALUE)
        return false;
    std::string expected = final_path(d);
    CloseHandle(d);
    if (expected.empty())
        return false;
    if (expected.back() != '\\')
        expected += '\\';
    expected += name + typed;
    std::string got = final_path(h);
    return !got.empty() && lstrcmpiA(got.c_str(), expected.c_str()) == 0;
}

// True when H is a regular file on a disk: no device such as NUL or CON, no
// pipe, no directory and no reparse point. Fills *info.
bool disk_file(HANDLE h, BY_HANDLE_FILE_INFORMATION* info)
{
    return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, info) &&
           (info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               0;
}

// Opens NAME as the mode asks and refuses anything but a regular file on a
// disk (a device such as NUL or CON, a directory, a pipe). A file is neither
// created nor emptied here. A read-only file is never opened for writing:
// the system refuses that itself, and the attribute is looked at here too
// for the file systems and users where the system would let it pass.
// A found name (TYPED short of its end) must also lie where it was found
// (see where_found); its own name is opened as it is, so that a link put in
// its place is refused rather than followed.
HANDLE open_handle(const char* name, size_t typed, open_mode mode)
{
    DWORD access = mode == open_read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    bool found = typed < strlen(name);
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (found ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    BY_HANDLE_FILE_INFORMATION info;
    if (!disk_file(h, &info) ||
        (mode != open_read && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) ||
        (found && !where_found(h, name, typed))) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// A stream that owns the handle H, or null (and H closed).
FILE* open_stream(HANDLE h, int flags, const char* mode)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    // From here the descriptor owns the handle, and then the stream owns both.
    FILE* f = _fdopen(fd, mode);
    if (!f) {
        _close(fd);
        return nullptr;
    }
    setvbuf(f, nullptr, _IOFBF, stream_buffer_size);
    return f;
}

HANDLE handle_of(FILE* f)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
}

// The temporary file of the run, for the console control handler, which
// runs on a thread of its own; the phase says what Ctrl+C does.
enum temp_phase { phase_none, phase_conversion, phase_copy_back };

volatile LONG current_phase = phase_none;
volatile LONG interrupted = 0;
HANDLE temp_handle = INVALID_HANDLE_VALUE;

bool set_attributes(HANDLE h, DWORD attributes)
{
    FILE_BASIC_INFO info = {};
    info.FileAttributes = attributes;
    return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) != 0;
}

// Marks the file to be deleted when its handle closes, however the process ends.
bool delete_on_close(HANDLE h)
{
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = TRUE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

// During a conversion the file on disk is untouched and the temporary file
// worthless; during a copy back the copy is finished first; at any other
// time the system's default ends the process.
BOOL WINAPI on_interrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (current_phase == phase_copy_back) {
        interrupted = 1;
        return TRUE;
    }
    if (current_phase == phase_conversion) {
        delete_on_close(temp_handle);
        TerminateProcess(GetCurrentProcess(), 2);
    }
    return FALSE;
}

// Whether an existing temporary file may be taken over: a regular file with
// no other link, and not marked read-only by a copy back that did not end.
// The share mode of its open keeps every other run out.
temp_status judge_temp(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!disk_file(h, &info))
        return temp_failed;
    if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return temp_refused;
    return SetEndOfFile(h) ? temp_ready : temp_failed;
}

// Makes the temporary file, or opens an old one; never through a symbolic
// link or another reparse point, and shared with no one.
HANDLE make_temp(const char* name, temp_status* status)
{
    const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE h = CreateFileA(name, access, 0, nullptr, CREATE_NEW, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        h = CreateFileA(name, access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesA(name);
        bool read_only = attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & FILE_ATTRIBUTE_READONLY) &&
                         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        *status = error == ERROR_SHARING_VIOLATION ? temp_in_use
                  : read_only                      ? temp_refused
                                                   : temp_failed;
        return h;
    }
    *status = judge_temp(h);
    if (*status != temp_ready) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Fills *out for the file open in H; false when the system cannot tell.
bool stamp_of(HANDLE h, file_stamp* out)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return false;
    auto join = [](DWORD high, DWORD low) {
        return (static_cast<unsigned long long>(high) << 32) | low;
    };
    out->volume = info.dwVolumeSerialNumber;
    out->index = join(info.nFileIndexHigh, info.nFileIndexLow);
    out->size = join(info.nFileSizeHigh, info.nFileSizeLow);
    out->mtime = static_cast<long long>(
        join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    out->mtime_ns = 0;
    out->read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
}

// A symbolic link or a junction: never listed, so that a walk through
// subdirectories cannot loop or leave the tree, nor a link in a directory
// that others may write choose a file elsewhere to be rewritten. Other
// reparse points (files kept in the cloud, deduplicated files) are listed,
// for the user to learn that they cannot be opened.
bool is_link(const WIN32_FIND_DATAA& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           IsReparseTagNameSurrogate(data.dwReserved0);
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
    SetConsoleCtrlHandler(on_interrupt, TRUE);
}

FILE* plat_open(const char* name, size_t typed, open_mode mode)
{
    HANDLE h = open_handle(name, typed, mode);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    return open_stream(h, mode == open_read ? _O_RDONLY : _O_RDWR,
                       mode == open_read ? "rb" : "r+b");
}

bool plat_close(FILE* f)
{
    // Flushed apart from the close: Wine's runtime loses the failure of the
    // flush that fclose itself makes, and a write that fails there (a full
    // disk) must not pass for success.
    bool ok = fflush(f) == 0 && !ferror(f);
    return fclose(f) == 0 && ok;
}

bool plat_stamp(FILE* f, file_stamp* out)
{
    return stamp_of(handle_of(f), out);
}

bool plat_denotes(const char* name, const file_stamp& stamp)
{
    // No access is asked for: the file's identity is all that is read.
    HANDLE named = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    file_stamp other;
    bool same =
        stamp_of(named, &other) && other.volume == stamp.volume && other.index == stamp.index;
    CloseHandle(named);
    return same;
}

bool plat_truncate(FILE* f)
{
    // The seek ends reading or writing through the stream and sets the
    // handle's position, where the file is cut.
    return fseek(f, 0, SEEK_SET) == 0 && SetEndOfFile(handle_of(f));
}

FILE* plat_open_temp(const char* name, temp_status* status)
{
    HANDLE h = make_temp(name, status);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    temp_handle = h;
    FILE* f = open_stream(h, _O_RDWR, "w+b");
    if (!f)
        *status = temp_failed;
    current_phase = f ? phase_conversion : phase_none;
    return f;
}

bool plat_seal_temp(FILE* f)
{
    HANDLE h = handle_of(f);
    bool ok = fflush(f) == 0 && !ferror(f) && set_attributes(h, FILE_ATTRIBUTE_READONLY) &&
              fseek(f, 0, SEEK_SET) == 0;
    if (ok)
        current_phase = phase_copy_back;
    return ok;
}

void plat_remove_temp(FILE* f)
{
    // Deleted through its handle, which no other process can share: the
    // name cannot have changed hands. The mark goes first, as the system
    // deletes no read-only file.
    HANDLE h = handle_of(f);
    set_attributes(h, FILE_ATTRIBUTE_NORMAL);
    delete_on_close(h);
    current_phase = phase_none;
}

bool plat_interrupted()
{
    return interrupted != 0;
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
    find_handle* found = new find_handle{h};
    bool listed = !is_link(data);
    if (listed)
        fill_entry(data, out);
    if (listed || plat_find_next(found, out))
        return found;
    plat_find_close(found);
    return nullptr;
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    WIN32_FIND_DATAA data;
    do {
        if (!FindNextFileA(h->search, &data))
            return false;
    } while (is_link(data));
    fill_entry(data, out);
    return true;
}

void plat_find_close(find_handle* h)
{
    FindClose(h->search);
    delete h;
}
