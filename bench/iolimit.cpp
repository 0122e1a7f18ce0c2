// The I/O limit of converting a file in place through a temporary file: the
// same reads and writes as the tool (the file into a temporary file in the
// current directory, then the temporary file back over the file, then the
// temporary file deleted), in blocks of the tool's stream buffer size and
// with no work per byte. No in-place conversion of this design can be faster.
// With -r, the read limit: the file read once in such blocks, as a report
// reads it, in a plain read loop.
//   iolimit [-r] FILE
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform.h"

namespace {

const char temp_name[] = "iolimit.tmp";

bool copy(const char* src, const char* dst, std::vector<char>& block)
{
    int in = open(src, O_RDONLY);
    if (in < 0)
        return false;
    int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    bool read_only = argc == 3 && std::strcmp(argv[1], "-r") == 0;
    if (argc != 2 && !read_only) {
        fputs("usage: iolimit [-r] FILE\n", stderr);
        return 2;
    }
    const char* name = argv[argc - 1];
    std::vector<char> block(stream_buffer_size);
    bool ok = read_only ? read_all(name, block)
                        : copy(name, temp_name, block) && copy(temp_name, name, block);
    if (!ok) {
        perror(name);
        return 1;
    }
    if (!read_only)
        unlink(temp_name);
    return 0;
}
