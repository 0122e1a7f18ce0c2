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
// start-up does not build it the way the tool expects, and sets up the
// handling of interrupting signals (see plat_open_temp).
void plat_startup(int* argc, char*** argv);

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

// What identifies an open file, its size and modification time, and whether
// it is marked read-only (the owner may not write it).
struct file_stamp {
    unsigned long long volume;
    unsigned long long index;
    unsigned long long size;
    long long mtime;
    long mtime_ns;
    bool read_only;
};

// Fills *out for the open stream; false when the system cannot tell.
bool plat_stamp(FILE* f, file_stamp* out);

// True when NAME denotes the file that STAMP identifies.
bool plat_denotes(const char* name, const file_stamp& stamp);

// Empties the file open for update in F and sets it to be written from its
// start; false when that fails.
bool plat_truncate(FILE* f);

// How the temporary file was had.
enum temp_status {
    temp_ready,    // made, or an old one of this user's taken over, and empty
    temp_failed,   // it could not be made or opened
    temp_in_use,   // another run of the tool works with it
    temp_refused,  // it may hold the only complete copy of a file (it is
                   // read-only), has other links, or belongs to another user
};

// Opens the temporary file NAME for writing and reading back, this run's
// alone until it is closed; null, with the reason in *status, when it cannot
// be had. From here on an interrupting signal (Ctrl+C on Windows) deletes it
// and ends the process with code 2.
FILE* plat_open_temp(const char* name, temp_status* status);

// Before the copy back: flushes the temporary file, marks it read-only
// (the mark of a copy that may be the only complete one) and rewinds it.
// From here on an interrupting signal is only noted (plat_interrupted).
// False when writing it failed.
bool plat_seal_temp(FILE* f);

// Deletes the temporary file open in F, when its name still denotes it; the
// stream stays open. An interrupting signal ends the process again.
void plat_remove_temp(FILE* f);

// True when an interrupting signal came during a copy back.
bool plat_interrupted();

// Ends the process with a code, flushing every open stream.
[[noreturn]] void plat_exit(int code);

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
