#include "fileio.h"

#include <cstdlib>
#include <string>

const char temp_file_name[] = "kelto.tmp";

void report_error(const char* msg, const char* subject)
{
    printf("error : %s : %s.\n", msg, shown(subject));
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

const char* shown(const char* name)
{
    static const bool terminal = plat_is_terminal(stdout);
    if (!terminal)
        return name;
    // Every byte of a character of several bytes is 0x40 or above in the
    // code pages the tool knows, so the bytes are judged one by one.
    static std::string masked;
    masked = name;
    for (char& c : masked) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return masked.c_str();
}

namespace {

// The bytes of a file mixed into a sum eight at a time, in the order of
// their offsets, however the reads split them.
class byte_sum {
public:
    void add(byte_span s)
    {
        size_t i = 0;
        for (; i < s.size && held != 0; ++i)
            add_byte(s.data[i]);
        for (; i + 8 <= s.size; i += 8) {
            word = load(s.data + i);
            mix();
        }
        for (; i < s.size; ++i)
            add_byte(s.data[i]);
    }

    void add_byte(char b)
    {
        word |= std::uint64_t{static_cast<unsigned char>(b)} << (8 * held);
        if (++held == 8)
            mix();
    }

    std::uint64_t end()
    {
        if (held != 0)
            mix();
        return sum;
    }

private:
    // Any start but 0, which a word of zero bytes would leave as it is.
    std::uint64_t sum = 0x243f6a8885a308d3;
    std::uint64_t word = 0;  // the bytes not yet mixed in, the first lowest
    int held = 0;            // how many

    static std::uint64_t load(const char* p)
    {
        std::uint64_t w = 0;
        for (int k = 7; k >= 0; --k)
            w = w << 8 | static_cast<unsigned char>(p[k]);
        return w;
    }

    void mix()
    {
        sum = (sum ^ word) * 0x9e3779b97f4a7c15;
        sum ^= sum >> 29;
        word = 0;
        held = 0;
    }
};

}  // namespace

bool sum_content(FileStream& f, std::uint64_t* sum)
{
    if (fseek(f.stream, 0, SEEK_SET) != 0)
        return false;
    byte_sum s;
    for (int c; (c = f.get_byte()) != EOF;) {
        s.add_byte(static_cast<char>(c));
        s.add(f.get_buffered());
    }
    *sum = s.end();
    return !f.failed() && fseek(f.stream, 0, SEEK_SET) == 0;
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

// Copies SRC over DST inside the system, from where both stand, to the end
// of SRC, and counts the bytes in WRITTEN: call_done. The system may share
// the blocks of the two files (XFS, btrfs) or have the server copy them
// (NFS, SMB). call_denied where it cannot copy between them (kelto.tmp on
// another file system): the streams are set to go on from where it stopped.
// call_failed on an error.
temp_call copy_in_system(FILE* src, FILE* dst, unsigned long long& written)
{
    for (;;) {
        unsigned long long n = 0;
        temp_call r = plat_copy_range(src, dst, &n);
        if (r == call_denied && written != 0 &&
            (!plat_seek(src, written) || !plat_seek(dst, written)))
            return call_failed;
        if (r != call_done || n == 0)
            return r;
        written += n;
    }
}

}  // namespace

void copy_file(FileStream& src, const char* src_name, unsigned long long size, FileStream& dst,
               const char* dst_name)
{
    if (!plat_truncate(dst.stream))
        report_error("cannot write file", dst_name);
    static char block[stream_buffer_size];
    unsigned long long written = 0;
    const temp_call way = copy_in_system(src.stream, dst.stream, written);
    // A short block is the last: reading on would only meet the end again.
    for (size_t n = sizeof block; way == call_denied && n == sizeof block; written += n) {
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
    if (!dst.close() || !flushed || way == call_failed)
        report_error("cannot write file", dst_name);
    if (src.failed())
        report_error("cannot read file", src_name);
    // Another program wrote to the temporary file meanwhile: what was
    // copied is not this conversion, which the user has to know.
    if (written != size)
        report_error("file changed while converted", src_name);
    if (!whole)
        report_error("file changed while converted", dst_name);
}
