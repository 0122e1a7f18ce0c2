// The file layer: an owning byte stream, the fatal error reporters, the
// temporary file in which each conversion is built, and the copy back.
#pragma once

#include "platform.h"

#include <cstdint>

extern const char temp_file_name[];

// Prints "error : MSG : SUBJECT." (or "error : MSG.") on standard output and
// ends the process with exit code 2: every error of the tool ends its run.
[[noreturn]] void report_error(const char* msg, const char* subject);
[[noreturn]] void report_error(const char* msg);

// The handler of memory that cannot be had: "out of memory" ends the run.
[[noreturn]] void out_of_memory();

// Ends the process with the code, or with 2 when standard output could not
// be written: a run whose output was lost does not report success.
[[noreturn]] void finish(int code);

// One open file, read or written through the platform's buffered stream a
// byte at a time, or straight in its buffer. Owns the stream; never copied.
class FileStream {
public:
    FILE* stream = nullptr;
    // The file as try_open found it when it opened it.
    file_stamp opened{};

    FileStream() = default;
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens NAME, of which the user typed the first TYPED bytes (see
    // plat_open), when it is a regular file, and for writing only when it is
    // not read-only, whoever runs the tool; false when it is not opened.
    bool try_open(const char* name, open_mode mode, size_t typed = SIZE_MAX);

    // try_open, where "cannot open file" ends the run when it fails.
    void open(const char* name, open_mode mode, size_t typed = SIZE_MAX);

    int get_byte() { return plat_getc(stream); }
    void put_byte(int b) { plat_putc(b, stream); }
    void unget_byte(int b);

    // The bytes the stream's buffer holds and has not handed out yet,
    // possibly none. The view holds until the next call on the stream.
    byte_span buffered() const { return plat_buffered(stream); }

    // Hands out the first N bytes of buffered(), as N get_byte calls would.
    void skip(size_t n) { plat_skip(stream, n); }

    // Reads every byte the stream's buffer holds, in one step: the same
    // bytes as that many get_byte calls, possibly none.
    byte_span get_buffered()
    {
        byte_span all = buffered();
        skip(all.size);
        return all;
    }

    // The free space of the stream's buffer, possibly none. The view holds
    // until the next call on the stream.
    room_span room() const { return plat_room(stream); }

    // Writes the first N bytes of room(), once filled in, as N put_byte
    // calls would.
    void commit(size_t n) { plat_commit(stream, n); }

    // True once a read or a write on the stream has failed.
    bool failed() const { return ferror(stream) != 0; }

    // Closes the stream; false when the close or an earlier write failed.
    bool close();
};

// True when NAME denotes the file that STAMP identifies; with FOLLOW a
// symbolic link of that name is followed to its file.
bool denotes(const char* name, const file_stamp& stamp, bool follow = true);

// NAME as it may be printed: where standard output is a terminal, each
// control byte (0x01 to 0x1F, 0x7F) becomes '?', so that a name cannot move
// the cursor, retitle the window or start a line of its own; elsewhere the
// exact bytes. Valid until the next call.
const char* shown(const char* name);

// Reads F from its start and sums its bytes into *SUM, a sum that tells one
// content from another of the same size, and leaves F at its start again;
// false when reading failed.
bool sum_content(FileStream& f, std::uint64_t* sum);

// Writes the bytes of SRC, from where it stands, over DST, which it empties
// first, inside the system where it can, else a block at a time through the
// streams, and closes DST. A failure ends the run, naming the file that
// failed (SRC_NAME or DST_NAME), and so do a SRC that gave other than SIZE
// bytes and a DST that holds more than was written; SRC is left open either
// way.
void copy_file(FileStream& src, const char* src_name, unsigned long long size, FileStream& dst,
               const char* dst_name);
