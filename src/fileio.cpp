#include "fileio.h"

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

void FileStream::open(const char* name, open_mode mode, size_t typed)
{
    stream = plat_open(name, typed, mode);
    if (!stream)
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

void open_temp_file(FileStream& temp)
{
    temp_status status = temp_failed;
    temp.stream = plat_open_temp(temp_file_name, &status);
    if (status == temp_in_use)
        report_error("temporary file in use", temp_file_name);
    if (status == temp_refused)
        report_error("cannot use temporary file", temp_file_name);
    if (!temp.stream)
        report_error("cannot open file", temp_file_name);
}

void copy_file(FileStream& src, const char* src_name, FileStream& dst, const char* dst_name)
{
    if (!plat_truncate(dst.stream))
        report_error("cannot write file", dst_name);
    // The size of the platform's stream buffers: each block is one read and
    // one write call, straight between the files and this block.
    static char block[stream_buffer_size];
    // A short block is the last: reading on would only meet the end again.
    for (size_t n = sizeof block; n == sizeof block;) {
        n = fread(block, 1, sizeof block, src.stream);
        if (fwrite(block, 1, n, dst.stream) != n)
            break;
    }
    // The destination is checked first: when its write failed, that is what
    // the user has to know, whatever happened on the source.
    if (!dst.close())
        report_error("cannot write file", dst_name);
    if (src.failed())
        report_error("cannot read file", src_name);
}
