#include "fileio.h"

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

bool FileStream::close()
{
    bool ok = plat_close(stream);
    stream = nullptr;
    return ok;
}

void copy_file(const char* src, const char* dst)
{
    FileStream in;
    in.open(src, open_read);
    FileStream out;
    out.open(dst, open_write);
    for (int b; (b = in.get_byte()) != EOF;)
        out.put_byte(b);
    // The destination is checked first: when its write failed, that is what
    // the user has to know, whatever happened on the source.
    if (!out.close())
        report_error("cannot write file", dst, true);
    if (in.failed())
        report_error("cannot read file", src, true);
    in.close();
}
