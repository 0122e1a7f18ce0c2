// The file layer: an owning byte stream, the fatal error reporters, the
// temporary file in which each conversion is built, and the copy back.
#pragma once

#include "platform.h"

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The length of the run of bytes at DATA that holds no CR and no LF, at most
// SIZE. Sixteen bytes are compared at a time where the processor can.
inline size_t run_length(const char* data, size_t size)
{
    const char cr = 0x0D;
    const char lf = 0x0A;
    size_t i = 0;
#ifdef __SSE2__
    const __m128i crs = _mm_set1_epi8(cr);
    const __m128i lfs = _mm_set1_epi8(lf);
    for (; i + 16 <= size; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, crs), _mm_cmpeq_epi8(v, lfs)));
        if (hits != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
#endif
    while (i < size && data[i] != cr && data[i] != lf)
        ++i;
    return i;
}

// One open file, read or written through the platform's buffered stream a
// byte at a time, or a run of ordinary bytes at a time. Owns the stream;
// never copied.
class FileStream {
public:
    FILE* stream = nullptr;

    FileStream() = default;
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens NAME, of which the user typed the first TYPED bytes (see
    // plat_open); "cannot open file" ends the run when that fails.
    void open(const char* name, open_mode mode, size_t typed = SIZE_MAX);

    int get_byte() { return plat_getc(stream); }
    void put_byte(int b) { plat_putc(b, stream); }
    void unget_byte(int b);

    // Reads the bytes up to the next CR or LF, as far as the stream's buffer
    // holds them, in one step: the same bytes as that many get_byte calls,
    // possibly none. The view holds until the next call on the stream.
    byte_span get_run()
    {
        byte_span run = plat_buffered(stream);
        run.size = run_length(run.data, run.size);
        plat_skip(stream, run.size);
        return run;
    }

    // Reads every byte the stream's buffer holds, in one step: the same
    // bytes as that many get_byte calls, possibly none. The view holds until
    // the next call on the stream.
    byte_span get_buffered()
    {
        byte_span all = plat_buffered(stream);
        plat_skip(stream, all.size);
        return all;
    }

    // Writes the bytes of a run, as put_byte would one by one.
    void put_run(byte_span run)
    {
        if (run.size != 0)
            plat_write(run.data, run.size, stream);
    }

    // True once a read or a write on the stream has failed.
    bool failed() const { return ferror(stream) != 0; }

    // Closes the stream; false when the close or an earlier write failed.
    bool close();
};

// True when NAME denotes the file that STAMP identifies; with FOLLOW a
// symbolic link of that name is followed to its file.
bool denotes(const char* name, const file_stamp& stamp, bool follow = true);

// Writes the bytes of SRC, from where it stands, over DST, which it empties
// first, a block at a time, and closes DST. A failure ends the run, naming
// the file that failed (SRC_NAME or DST_NAME), and so does a DST that holds
// more than was written; SRC is left open either way.
void copy_file(FileStream& src, const char* src_name, FileStream& dst, const char* dst_name);
