// The platform layer: every call into the operating system goes through the
// functions declared here. Each platform has one source file that defines
// them (platform_posix.cpp, platform_win32.cpp); nothing else in the system
// includes an operating-system header.
#pragma once

#include "mbchar.h"

#include <cstdio>
#include <cstring>

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

// Pushes back C, the byte just read. Right after a read that byte still
// stands in the stream's buffer, and stepping back over it is all that the
// C library's push-back does there; on glibc that step is taken here without
// a call per push-back. Elsewhere the library's own ungetc serves.
inline int plat_ungetc(int c, FILE* f)
{
#ifdef __GLIBC__
    if (f->_IO_read_ptr > f->_IO_read_base &&
        static_cast<unsigned char>(f->_IO_read_ptr[-1]) == c) {
        --f->_IO_read_ptr;
        f->_flags &= ~_IO_EOF_SEEN;
        return c;
    }
#endif
    return ungetc(c, f);
}

// A view of bytes held in a stream's buffer.
struct byte_span {
    const char* data;
    size_t size;
};

// The bytes a read stream holds in its buffer and has not handed out yet,
// valid until the next operation on the stream. On glibc that is the span
// between the read pointers that getc itself steps along. Elsewhere the view
// is empty and the caller reads byte by byte, which is always correct.
inline byte_span plat_buffered(FILE* f)
{
#ifdef __GLIBC__
    return {f->_IO_read_ptr, static_cast<size_t>(f->_IO_read_end - f->_IO_read_ptr)};
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
#else
    static_cast<void>(f);
    static_cast<void>(n);
#endif
}

// Writes N bytes, as N calls of plat_putc would. On glibc bytes that fit the
// buffer are stored there directly, where putc would store them; the library
// flushes when they do not, at the same buffer boundaries as putc.
inline void plat_write(const char* data, size_t n, FILE* f)
{
#ifdef __GLIBC__
    if (n <= static_cast<size_t>(f->_IO_write_end - f->_IO_write_ptr)) {
        std::memcpy(f->_IO_write_ptr, data, n);
        f->_IO_write_ptr += n;
        return;
    }
    fwrite_unlocked(data, 1, n, f);
#else
    fwrite(data, 1, n, f);
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

// Starts the process: adjusts the argument vector where the platform's own
// start-up does not build it the way the tool expects, and sees that no file
// can be opened as a standard stream. False when a closed standard stream
// cannot be filled.
bool plat_startup(int* argc, char*** argv);

// The system's code page for names and paths: on POSIX systems that of the
// locale the environment sets for LC_CTYPE (which the process then takes),
// on Windows the ANSI code page.
code_page plat_code_page();

// Opens a buffered, untranslated stream on a DOS-style path, or returns null.
// A read-only file (and anything but a regular file) is never opened for
// writing, whoever runs the tool. Symbolic links are followed only within
// the first TYPED bytes of NAME, the part the user typed; after them every
// directory, and the file, must be no link (SIZE_MAX: all of NAME typed).
FILE* plat_open(const char* name, size_t typed, open_mode mode);

// Closes a stream; false when the close, or a write before it, failed.
bool plat_close(FILE* f);

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

// Opens NAME as HOW says into *OUT, an untranslated stream.
temp_call plat_open_temp(const char* name, temp_open how, FILE** out);

// Takes the lock of the file open in F, without waiting for it.
temp_call plat_try_lock(FILE* f);

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
// its own. When it returns false the signal has its usual effect.
void plat_on_interrupt(bool (*handler)());

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
