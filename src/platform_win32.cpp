// The platform layer on Windows: the 32-bit console program. Paths, names
// and the command line are byte strings in the system's ANSI code page, so
// the -A forms of the system calls take them as they are. Only names that
// the system hands out go through the -W forms, converted exactly: an -A
// listing would give a name the code page cannot hold with look-alike
// characters, the name of another file.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "platform.h"

#include <cstdlib>
#include <cstring>
#include <string>

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

// S, a string of the ANSI code page, in UTF-16 into *OUT; false when S is
// no such string.
bool to_wide(const char* s, std::wstring* out)
{
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s, -1, nullptr, 0);
    if (n <= 0)
        return false;
    out->resize(n);
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s, -1, &(*out)[0], n);
    out->pop_back();
    return true;
}

// The path of the file or directory open in H as the system resolved it,
// every link and junction on the way followed; empty when it cannot tell.
std::wstring final_path(HANDLE h)
{
    wchar_t buf[4 * MAX_PATH];
    DWORD n = GetFinalPathNameByHandleW(h, buf, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(buf, n) : std::wstring();
}

// True when the file open in H is the one that NAME denotes with links
// followed in its first TYPED bytes only: no link or junction stands, in
// the part of NAME that a pattern found, where the listing saw a directory.
// The paths are compared in UTF-16, where the second byte of a two-byte
// character can no more pass for a '\'.
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
    std::wstring expected = final_path(d);
    CloseHandle(d);
    std::wstring found;
    if (expected.empty() || !to_wide(name + typed, &found))
        return false;
    if (expected.back() != L'\\')
        expected += L'\\';
    expected += found;
    std::wstring got = final_path(h);
    return !got.empty() &&
           CompareStringOrdinal(got.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
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
    // A regular file lies on a disk: no device such as NUL or CON, no pipe.
    out->regular =
        GetFileType(h) == FILE_TYPE_DISK &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    out->links = info.nNumberOfLinks;
    // Windows keeps no owner that the tool could compare: another user's
    // file is refused by the system when it may not be written.
    out->own = true;
    return true;
}

// Opens NAME as the mode asks and fills *STAMP. A file is neither created nor
// emptied here. A found name (TYPED short of its end) must also lie where it
// was found (see where_found); its own name is opened as it is, so that a
// link put in its place is refused rather than followed.
HANDLE open_handle(const char* name, size_t typed, open_mode mode, file_stamp* stamp)
{
    DWORD access = mode == open_read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    bool found = typed < strlen(name);
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (found ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    if (!stamp_of(h, stamp) || (found && !where_found(h, name, typed))) {
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

bool set_attributes(HANDLE h, DWORD attributes)
{
    FILE_BASIC_INFO info = {};
    info.FileAttributes = attributes;
    return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) != 0;
}

// The file held for plat_delete_held, and the handler of an interruption,
// which the system runs on a thread of its own.
HANDLE held_handle = INVALID_HANDLE_VALUE;
bool (*interrupt_handler)();

BOOL WINAPI on_control(DWORD event)
{
    return (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && interrupt_handler();
}

// A symbolic link or a junction: never listed, so that a walk through
// subdirectories cannot loop or leave the tree, nor a link in a directory
// that others may write choose a file elsewhere to be rewritten. Other
// reparse points (files kept in the cloud, deduplicated files) are listed,
// for the user to learn that they cannot be opened.
bool is_link(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           IsReparseTagNameSurrogate(data.dwReserved0);
}

// Fills *OUT from DATA; false for an entry that is not listed. The name is
// converted without best-fit characters (Ł is never L), so whatever the
// code page lacks becomes '?' and the entry is marked as not exact. A name
// too long for the entry in the code page is left out rather than cut
// short: a shortened name would denote another file.
bool fill_entry(const WIN32_FIND_DATAW& data, find_entry* out)
{
    if (is_link(data))
        return false;
    BOOL replaced = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data.cFileName, -1, out->name,
                            sizeof out->name, nullptr, &replaced) == 0)
        return false;
    out->attrib = data.dwFileAttributes;
    out->exact = !replaced;
    return true;
}

}  // namespace

code_page plat_code_page()
{
    // The system's rule for its double-byte code pages: a lead byte and the
    // byte after it are one character (IsDBCSLeadByteEx).
    code_page cp;
    CPINFO info;
    if (!GetCPInfo(CP_ACP, &info))
        return cp;
    // The ranges of lead bytes come as pairs of bounds, ended by a zero.
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
        for (int c = info.LeadByte[i]; c <= info.LeadByte[i + 1]; ++c)
            cp.lead[c] = true;
    }
    cp.max_size = info.MaxCharSize > 1 ? 2 : 1;
    return cp;
}

bool plat_startup()
{
    return true;
}

const char* plat_command_line()
{
    // The runtime's own splitting takes a backslash before a quote as an
    // escape; the tool's names are DOS paths, so the line is split afresh.
    return GetCommandLineA();
}

FILE* plat_open(const char* name, size_t typed, open_mode mode, file_stamp* stamp)
{
    HANDLE h = open_handle(name, typed, mode, stamp);
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

bool plat_tell(FILE* f, unsigned long long* out)
{
    long long at = _ftelli64(f);
    *out = static_cast<unsigned long long>(at);
    return at >= 0;
}

bool plat_look(const char* name, bool follow, file_stamp* out)
{
    // No access is asked for: the file's identity is all that is read, and
    // no share mode keeps that from anyone.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = stamp_of(h, out);
    CloseHandle(h);
    return ok;
}

bool plat_truncate(FILE* f)
{
    // The seek ends reading or writing through the stream and sets the
    // handle's position, where the file is cut.
    return fseek(f, 0, SEEK_SET) == 0 && SetEndOfFile(handle_of(f));
}

bool plat_seek(FILE* f, unsigned long long at)
{
    return _fseeki64(f, static_cast<long long>(at), SEEK_SET) == 0;
}

// On Windows the streams copy back.
temp_call plat_copy_range(FILE*, FILE*, unsigned long long* n)
{
    *n = 0;
    return call_denied;
}

temp_call plat_open_temp(const char* name, temp_open how, FILE** out)
{
    // Shared with no one: while it is open no other process can open,
    // rename or delete it, so its name cannot change hands.
    const DWORD access = how == temp_read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE | DELETE;
    HANDLE h = CreateFileA(name, access, 0, nullptr, how == temp_make ? CREATE_NEW : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS         ? call_exists
               : how == temp_make                 ? call_failed
               : error == ERROR_FILE_NOT_FOUND    ? call_missing
               : error == ERROR_SHARING_VIOLATION ? call_busy
               : error == ERROR_ACCESS_DENIED     ? call_denied
                                                  : call_failed;
    }
    *out = open_stream(h, how == temp_read ? _O_RDONLY : _O_RDWR, how == temp_read ? "rb" : "w+b");
    return *out ? call_done : call_failed;
}

// The share mode of the open is the lock.
temp_call plat_try_lock(FILE*)
{
    return call_done;
}

// The share mode of the open is the lock: a file that another run holds as
// its temporary file cannot be opened at all.
temp_call plat_try_share(FILE*)
{
    return call_done;
}

// Where the open was refused because another process holds the file, the
// open is tried again after a pause: the system tells no one when a file is
// let go.
void plat_wait_turn(FILE*)
{
    Sleep(20);
}

// Only directories can be mount points on Windows.
bool plat_same_mount(FILE*)
{
    return true;
}

bool plat_mark(FILE* f, bool read_only)
{
    return set_attributes(handle_of(f),
                          read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

bool plat_hold(FILE* f, const char*, const file_stamp&)
{
    held_handle = handle_of(f);
    return true;
}

// Deleted through its handle: no other process shares it, so its name still
// denotes it. The mark goes first, as the system deletes no read-only file;
// the file goes when its handle closes, however the process ends.
bool plat_delete_held()
{
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = TRUE;
    return set_attributes(held_handle, FILE_ATTRIBUTE_NORMAL) &&
           SetFileInformationByHandle(held_handle, FileDispositionInfo, &info, sizeof info) != 0;
}

void plat_on_interrupt(bool (*handler)())
{
    interrupt_handler = handler;
    SetConsoleCtrlHandler(on_control, TRUE);
}

bool plat_is_terminal(FILE* f)
{
    DWORD mode;
    return GetConsoleMode(handle_of(f), &mode) != 0;
}

find_handle* plat_find_first(const char* dir, find_entry* out)
{
    // Every entry: the tree matches the names itself. A directory part
    // that is no string of the code page lists nothing.
    std::wstring search;
    if (!to_wide(dir, &search))
        return nullptr;
    search += L'*';
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(search.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    find_handle* found = new find_handle{h};
    if (fill_entry(data, out) || plat_find_next(found, out))
        return found;
    plat_find_close(found);
    return nullptr;
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    WIN32_FIND_DATAW data;
    do {
        if (!FindNextFileW(h->search, &data))
            return false;
    } while (!fill_entry(data, out));
    return true;
}

void plat_find_close(find_handle* h)
{
    FindClose(h->search);
    delete h;
}
