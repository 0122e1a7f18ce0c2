// The platform layer: every call into the operating system goes through the
// functions declared here. Each platform has one source file that defines
// them (platform_posix.cpp, platform_win32.cpp); nothing else in the system
// includes an operating-system header.
#pragma once

#include "mbchar.h"

#include <cstdio>

// Fast byte access to a buffered stream. The stream is only ever used by
// this single thread, so the unlocked forms are safe and save a lock per byte.
#ifdef _WIN32
inline int plat_getc(FILE* f)
{
    return _getc_nolock(f);
}
inline int plat_putc(int c, FILE* f)
{
    return _putc_nolock(c, f);
}
#else
inline int plat_getc(FILE* f)
{
    return getc_unlocked(f);
}
inline int plat_putc(int c, FILE* f)
{
    return putc_unlocked(c, f);
}
#endif

// The size of every stream buffer the tool uses: large enough that a read
// or a write reaches the system rarely, small enough that two open streams
// stay far below a megabyte. The C library's own default is 4 KiB.
const size_t stream_buffer_size = size_t{128} * 1024;

// A view of bytes held in a stream's buffer.
struct byte_span {
    const char* data;
    size_t size;
};

// A view of free space in a stream's buffer.
struct room_span {
    char* data;
    size_t size;
};

// The functions below look into the C library's FILE, where it is one of
// the two the tool is built with, in the same way as the library's own getc
// and putc: glibc, and msvcrt (the runtime of the MinGW-w64 build; not the
// UCRT, whose FILE is opaque). Any other C library gets the byte-at-a-time
// path: an empty view, and its own ungetc and fwrite, which is always correct.
#if defined(_WIN32) && !defined(_UCRT)
#define PLAT_MSVCRT 1

// True when the msvcrt stream F is in STATE, _IOREAD or _IOWRT, alone. A
// stream open for update is in neither after a seek and in one after its
// first read or write; _cnt counts the bytes left to read in the read state
// and the free space of the buffer in the write state.
inline bool msvcrt_in(const FILE* f, int state)
{
    return (f->_flag & (_IOREAD | _IOWRT)) == state;
}

#endif

// Pushes back C, the byte just read. Right after a read that byte still
// stands in the stream's buffer, and stepping back over it is all that the
// C library's push-back does there. On glibc and msvcrt that step is taken
// here without a call per push-back: the read pointer that getc steps along
// moves back (on msvcrt the count of bytes left grows with it), and the end
// of the file is no longer seen.
inline int plat_ungetc(int c, FILE* f)
{
#ifdef __GLIBC__
    if (f->_IO_read_ptr > f->_IO_read_base &&
        static_cast<unsigned char>(f->_IO_read_ptr[-1]) == c) {
        --f->_IO_read_ptr;
        f->_flags &= ~_IO_EOF_SEEN;
        return c;
    }
#elif defined(PLAT_MSVCRT)
    if (msvcrt_in(f, _IOREAD) && f->_ptr > f->_base &&
        static_cast<unsigned char>(f->_ptr[-1]) == c) {
        --f->_ptr;
        ++f->_cnt;
        f->_flag &= ~_IOEOF;
        return c;
    }
#endif
    return ungetc(c, f);
}

// The bytes a read stream holds in its buffer and has not handed out yet,
// valid until the next operation on the stream. On glibc that is the span
// between the read pointers that getc itself steps along; a stream that is
// writing has none there. On msvcrt it is the _cnt bytes at _ptr that getc
// takes, only in the read state. Elsewhere the view is empty and the caller
// reads byte by byte.
inline byte_span plat_buffered(FILE* f)
{
#ifdef __GLIBC__
    return {f->_IO_read_ptr, static_cast<size_t>(f->_IO_read_end - f->_IO_read_ptr)};
#elif defined(PLAT_MSVCRT)
    if (msvcrt_in(f, _IOREAD) && f->_cnt > 0)
        return {f->_ptr, static_cast<size_t>(f->_cnt)};
    return {nullptr, 0};
#else
    static_cast<void>(f);
    return {nullptr, 0};
#endif
}

// Hands out the first N bytes of plat_buffered's view, as N reads would.
inline void plat_skip(FILE* f, size_t n)
{
#ifdef __GLIBC__
    f->_IO_read_ptr += n;
#elif defined(PLAT_MSVCRT)
    f->_ptr += n;
    f->_cnt -= static_cast<int>(n);
#else
    static_cast<void>(f);
    static_cast<void>(n);
#endif
}

// The free space of a write stream's buffer, where putc would store its next
// bytes, valid until the next operation on the stream. On glibc that is the
// span between the write pointers that putc itself steps along (none until
// a first write has set the buffer up); on msvcrt the _cnt bytes at _ptr of
// a stream in its write state. Elsewhere the view is empty and the caller
// writes byte by byte.
inline room_span plat_room(FILE* f)
{
#ifdef __GLIBC__
    return {f->_IO_write_ptr, static_cast<size_t>(f->_IO_write_end - f->_IO_write_ptr)};
#elif defined(PLAT_MSVCRT)
    if (msvcrt_in(f, _IOWRT) && f->_cnt > 0)
        return {f->_ptr, static_cast<size_t>(f->_cnt)};
    return {nullptr, 0};
#else
    static_cast<void>(f);
    return {nullptr, 0};
#endif
}

// Hands the first N bytes of plat_room's view, once written, to the stream,
// as N calls of plat_putc would: the library flushes them with the rest of
// the buffer, when the next write finds it full.
inline void plat_commit(FILE* f, size_t n)
{
#ifdef __GLIBC__
    f->_IO_write_ptr += n;
#elif defined(PLAT_MSVCRT)
    f->_ptr += n;
    f->_cnt -= static_cast<int>(n);
#else
    static_cast<void>(f);
    static_cast<void>(n);
#endif
}

// How a stream is opened.
enum open_mode {
    open_read,    // an existing regular file, for reading; a read that would
                  // block fails instead
    open_update,  // the same, when it may be written, for reading and then
                  // writing back: neither created nor emptied (plat_truncate
                  // empties it)
};

// Starts the process: sees that no file can be opened as a standard
// stream. False when a closed standard stream cannot be filled.
bool plat_startup();

// The command line as one line of text, where the system hands a program
// no more than that (Windows) and its runtime's splitting is not the tool's;
// null where the arguments come one by one.
const char* plat_command_line();

// The system's code page for names and paths: on POSIX systems that of the
// locale the environment sets for LC_CTYPE (which the process then takes),
// on Windows the ANSI code page.
code_page plat_code_page();

// What identifies a file, its size and modification time, whether it is
// marked read-only (the owner may not write it), and what it is.
struct file_stamp {
    unsigned long long volume;
    unsigned long long index;
    unsigned long long size;
    long long mtime;
    long mtime_ns;
    bool read_only;
    bool regular;         // a regular file: no directory, device or link
    unsigned long links;  // how many names it has
    bool own;             // it belongs to the user who runs the tool
};

// Opens a buffered, untranslated stream on a DOS-style path and fills *STAMP
// for the file it opened, or returns null. Symbolic links are followed only
// within the first TYPED bytes of NAME, the part the user typed; after them
// every directory, and the file, must be no link (SIZE_MAX: all of NAME
// typed). What kind of file it opened, the caller judges.
FILE* plat_open(const char* name, size_t typed, open_mode mode, file_stamp* stamp);

// Closes a stream; false when the close, or a write before it, failed.
bool plat_close(FILE* f);

// Fills *out for the open stream; false when the system cannot tell.
bool plat_stamp(FILE* f, file_stamp* out);

// Fills *out for the file NAME denotes; with FOLLOW a symbolic link is
// followed to its file. False when NAME denotes nothing, or the system
// cannot tell.
bool plat_look(const char* name, bool follow, file_stamp* out);

// How many bytes into its file the stream stands; false when the system
// cannot tell.
bool plat_tell(FILE* f, unsigned long long* out);

// Empties the file open for update in F and sets it to be written from its
// start; false when that fails.
bool plat_truncate(FILE* f);

// Sets F to be read or written from byte AT of its file; false when that
// fails.
bool plat_seek(FILE* f, unsigned long long at);

// The calls below serve the temporary file (tempfile.h), which is opened
// without following a link and shared with no other process that opens it
// so: made anew (readable and writable by its owner only), or the one there
// for writing and reading back, or for reading only.
enum temp_open { temp_make, temp_write, temp_read };

// What a call on the temporary file met.
enum temp_call {
    call_done,
    call_exists,   // the name is taken
    call_missing,  // nothing has the name
    call_busy,     // another process holds the file
    call_denied,   // the file there may not be opened so
    call_failed,
};

// Copies what the system copies in one call, from where the file of SRC
// stands to where that of DST stands, inside the system (which may share
// the blocks of the two files instead of copying them), and moves both on
// by the count it puts in *N: 0 once SRC is at its end. The streams' buffers
// are passed by: both must be empty, as right after a seek. call_denied
// where the system cannot copy between these two files (they lie on two file
// systems, or it lacks the call), call_failed on an error (a full disk).
temp_call plat_copy_range(FILE* src, FILE* dst, unsigned long long* n);

// Opens NAME as HOW says into *OUT, an untranslated stream.
temp_call plat_open_temp(const char* name, temp_open how, FILE** out);

// Takes the lock of the file open in F, without waiting for it.
temp_call plat_try_lock(FILE* f);

// Takes a shared lock on the file open in F, without waiting: call_busy
// when another process holds the file's lock, as a run of the tool holds its
// temporary file; call_failed where the file system has no locks. The lock
// goes with the stream.
temp_call plat_try_share(FILE* f);

// Waits until the process that holds the temporary file lets go of it: F is
// the file found locked, or null where the open itself was refused because
// another process holds the file (call_busy from plat_open_temp).
void plat_wait_turn(FILE* f);

// False for a file mounted over its name from elsewhere: one on another
// mount than the current directory.
bool plat_same_mount(FILE* f);

// Marks the file open in F read-only, or takes the mark off.
bool plat_mark(FILE* f, bool read_only);

// Keeps what plat_delete_held needs of the file open in F, named NAME and
// identified by ID. That deletes it when its name still denotes it, true
// once it is gone; it may be called in a signal handler or on a thread of
// its own.
bool plat_hold(FILE* f, const char* name, const file_stamp& id);
bool plat_delete_held();

// Has HANDLER called on each interrupting signal (SIGINT, SIGTERM, SIGHUP;
// Ctrl+C and Ctrl+Break on Windows), in a signal handler or on a thread of
// its own. When it returns false the signal has its usual effect. A signal
// ignored when the process started stays ignored.
void plat_on_interrupt(bool (*handler)());

// True when F writes to a terminal (a console on Windows).
bool plat_is_terminal(FILE* f);

// Directory listing: the entries of one directory, with the attributes the
// system gives them, in the system's order; the caller matches the names.
enum {
    attr_readonly = 0x01,  // not given on POSIX systems (see platform_posix.cpp)
    attr_hidden = 0x02,
    attr_system = 0x04,
    attr_directory = 0x10,
};

struct find_entry {
    char name[260];
    unsigned attrib;
    // False when the code page cannot spell the entry's name: NAME then
    // holds a '?' for each character it lacks and denotes no such entry.
    bool exact;
};

struct find_handle;

// Starts listing the directory DIR, a DOS path that is empty (the current
// directory) or ends in ':' or '\'; null when it cannot be listed or lists
// nothing. Otherwise *out holds the first entry.
find_handle* plat_find_first(const char* dir, find_entry* out);
// The next entry; false when there are no more.
bool plat_find_next(find_handle* h, find_entry* out);
void plat_find_close(find_handle* h);
