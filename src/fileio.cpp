#include "fileio.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

const char temp_file_name[] = "kelto.tmp";

void report_error(const char* msg, const char* subject, bool fatal)
{
    printf("error : %s : %s.\n", msg, subject);
    if (fatal)
        finish(2);
}

void report_error(const char* msg, bool fatal)
{
    printf("error : %s.\n", msg);
    if (fatal)
        finish(2);
}

void finish(int code)
{
    if (fflush(stdout) != 0 || ferror(stdout))
        code = 2;
    plat_exit(code);
}

FileStream::~FileStream()
{
    if (stream)
        close();
}

void FileStream::open(const char* name, open_mode mode)
{
    stream = plat_open(name, mode);
    if (!stream)
        report_error("cannot open file", name, true);
}

void FileStream::unget_byte(int b)
{
    if (plat_ungetc(b, stream) == EOF)
        report_error("ungetc() failed", true);
}

namespace {

// The length of the run of bytes at DATA that holds no CR and no LF, at most
// SIZE. Sixteen bytes are compared at a time where the processor can.
size_t run_length(const char* data, size_t size)
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

}  // namespace

byte_span FileStream::get_run()
{
    byte_span run = plat_buffered(stream);
    run.size = run_length(run.data, run.size);
    plat_skip(stream, run.size);
    return run;
}

bool FileStream::close()
{
    bool ok = plat_close(stream);
    stream = nullptr;
    return ok;
}

void open_temp_file(FileStream& temp)
{
    temp_status status = temp_failed;
    temp.stream = plat_open_temp(temp_file_name, &status);
    if (status == temp_in_use)
        report_error("temporary file in use", temp_file_name, true);
    if (status == temp_refused)
        report_error("cannot use temporary file", temp_file_name, true);
    if (!temp.stream)
        report_error("cannot open file", temp_file_name, true);
}

void copy_file(FileStream& src, const char* src_name, FileStream& dst, const char* dst_name)
{
    if (!plat_truncate(dst.stream))
        report_error("cannot write file", dst_name, true);
    // The size of the platform's stream buffers: each block is one read and
    // one write call, straight between the files and this block.
    static char block[128 * 1024];
    for (size_t n; (n = fread(block, 1, sizeof block, src.stream)) > 0;) {
        if (fwrite(block, 1, n, dst.stream) != n)
            break;
    }
    // The destination is checked first: when its write failed, that is what
    // the user has to know, whatever happened on the source.
    if (!dst.close())
        report_error("cannot write file", dst_name, true);
    if (src.failed())
        report_error("cannot read file", src_name, true);
}
