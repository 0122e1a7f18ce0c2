#include "fileio.h"

#include <cstdlib>

const char temp_file_name[] = "kelto.tmp";

void report_error(const char* msg, const char* subject)
{
    printf("error : %s : %s.\n", msg, subject);
    finish(2);
}

void report_error(const char* msg)
{
    printf("error : %s.\n", msg);
    finish(2);
}

void out_of_memory()
{
    report_error("out of memory");
}

void finish(int code)
{
    if (fflush(stdout) != 0 || ferror(stdout))
        code = 2;
    // exit() flushes and closes every open stream before the process ends;
    // the system's own end of a process (ExitProcess on Windows) would lose
    // what they still buffer.
    std::exit(code);
}

FileStream::~FileStream()
{
    if (stream)
        close();
}

bool FileStream::try_open(const char* name, open_mode mode, size_t typed)
{
    stream = plat_open(name, typed, mode, &opened);
    // The read-only mark holds for the superuser too, as the DOS attribute
    // does; the system itself may let such a user write the file.
    if (stream && (!opened.regular || (mode != open_read && opened.read_only))) {
        plat_close(stream);
        stream = nullptr;
    }
    return stream != nullptr;
}

void FileStream::open(const char* name, open_mode mode, size_t typed)
{
    if (!try_open(name, mode, typed))
        report_error("cannot open file", name);
}

void FileStream::unget_byte(int b)
{
    if (plat_ungetc(b, stream) == EOF)
        report_error("ungetc() failed");
}

bool FileStream::close()
{
    bool ok = plat_close(stream);
    stream = nullptr;
    return ok;
}

bool denotes(const char* name, const file_stamp& stamp, bool follow)
{
    file_stamp now;
    return plat_look(name, follow, &now) && now.volume == stamp.volume && now.index == stamp.index;
}

namespace {

// Moves the next block of up to stream_buffer_size bytes from SRC to DST, N
// of them; false when the write failed. Each block is one read call and one
// write call. Where DST's buffer has room for a whole block, the block is
// read straight into it and flushed: glibc's fwrite would first fill that
// room with a copy of every other block. Otherwise it passes through BLOCK.
bool copy_block(FILE* src, FILE* dst, char* block, size_t& n)
{
    room_span room = plat_room(dst);
    if (room.size >= stream_buffer_size) {
        n = fread(room.data, 1, stream_buffer_size, src);
        plat_commit(dst, n);
        return fflush(dst) == 0;
    }
    n = fread(block, 1, stream_buffer_size, src);
    return fwrite(block, 1, n, dst) == n;
}

}  // namespace

void copy_file(FileStream& src, const char* src_name, FileStream& dst, const char* dst_name)
{
    if (!plat_truncate(dst.stream))
        report_error("cannot write file", dst_name);
    static char block[stream_buffer_size];
    unsigned long long written = 0;
    // A short block is the last: reading on would only meet the end again.
    for (size_t n = sizeof block; n == sizeof block; written += n) {
        if (!copy_block(src.stream, dst.stream, block, n))
            break;
    }
    // Another program that wrote to the file after the last write of the
    // copy made it longer than what was written: the user has to know, and
    // the temporary file stays as the complete converted content.
    file_stamp now;
    bool flushed = fflush(dst.stream) == 0;
    bool whole = flushed && plat_stamp(dst.stream, &now) && now.size == written;
    // The destination is checked first: when its write failed, that is what
    // the user has to know, whatever happened on the source.
    if (!dst.close() || !flushed)
        report_error("cannot write file", dst_name);
    if (src.failed())
        report_error("cannot read file", src_name);
    if (!whole)
        report_error("file changed while converted", dst_name);
}
