// The I/O limit of converting a file in place through a temporary file: the
// same reads and writes as the tool (the file into a temporary file in the
// current directory, then the temporary file written back over the file,
// which is not emptied first, then the temporary file deleted), in blocks of
// the tool's stream buffer size and with no work per byte. No in-place
// conversion of this design can be faster.
// With -e, the same with the file emptied before it is written back, as the
// tool did before; with -r, the read limit: the file read once in such
// blocks, as a report reads it, in a plain read loop.
//   iolimit [-e | -r] FILE
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform.h"

namespace {

const char temp_name[] = "iolimit.tmp";

bool copy(const char* src, const char* dst, int how, std::vector<char>& block)
{
    int in = open(src, O_RDONLY);
    if (in < 0)
        return false;
    int out = open(dst, O_WRONLY | how, 0600);
    bool ok = out >= 0;
    for (ssize_t n; ok && (n = read(in, block.data(), block.size())) != 0;)
        ok = n > 0 && write(out, block.data(), size_t(n)) == n;
    close(in);
    return out >= 0 && close(out) == 0 && ok;
}

bool read_all(const char* name, std::vector<char>& block)
{
    int in = open(name, O_RDONLY);
    if (in < 0)
        return false;
    ssize_t n;
    while ((n = read(in, block.data(), block.size())) > 0) {
    }
    close(in);
    return n == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* flag = argc == 3 ? argv[1] : "";
    bool read_only = std::strcmp(flag, "-r") == 0;
    bool emptied = std::strcmp(flag, "-e") == 0;
    if (argc != 2 && !read_only && !emptied) {
        fputs("usage: iolimit [-e | -r] FILE\n", stderr);
        return 2;
    }
    const char* name = argv[argc - 1];
    std::vector<char> block(stream_buffer_size);
    bool ok = read_only ? read_all(name, block)
                        : copy(name, temp_name, O_CREAT | O_TRUNC, block) &&
                              copy(temp_name, name, emptied ? O_TRUNC : 0, block);
    if (!ok) {
        perror(name);
        return 1;
    }
    if (!read_only)
        unlink(temp_name);
    return 0;
}
