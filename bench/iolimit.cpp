// The I/O limit of converting a file in place through a temporary file: the
// same reads and writes as the tool (the file into a temporary file in the
// current directory, then the temporary file back over the file, then the
// temporary file deleted), in blocks of the tool's stream buffer size and
// with no work per byte. No in-place conversion of this design can be faster.
// SIZE is the size of the converted file (default: the file's own): a
// conversion that adds a CR to each line writes more than it reads, and the
// temporary file is written, and then copied back, at that size.
// With -c, the copy back is made by the system (copy_file_range), as the
// tool makes it on Linux: the floor of a conversion that does its own reads
// and writes into the temporary file. With -r, the read limit: the file read
// once in such blocks, as a report reads it, in a plain read loop.
//   iolimit [-c] FILE [SIZE]
//   iolimit -r FILE
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace {

const char temp_name[] = "iolimit.tmp";
const unsigned long long whole_file = ~0ULL;

// The block, aligned to a page as the plainest loop's static buffer is. One
// from the heap starts 16 bytes into a page, and with it the runs took 3 to
// 6 % longer than that loop's (medians of 20 rounds in turn, 256 MiB).
alignas(4096) char block[stream_buffer_size];

// Copies SRC into DST, which is written SIZE bytes long (whole_file: as long
// as SRC): the bytes read, cut short, or followed by more of the block.
bool copy(const char* src, const char* dst, unsigned long long size)
{
    int in = open(src, O_RDONLY);
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0)
        return false;
    unsigned long long left = size == whole_file ? st.st_size : size;
    int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = out >= 0;
    for (ssize_t n; ok && (n = read(in, block, sizeof block)) != 0;) {
        size_t part = n < 0 ? 0 : size_t(std::min<unsigned long long>(left, n));
        ok = n > 0 && write(out, block, part) == ssize_t(part);
        left -= part;
    }
    for (size_t part; ok && left > 0; left -= part) {
        part = size_t(std::min<unsigned long long>(left, sizeof block));
        ok = write(out, block, part) == ssize_t(part);
    }
    close(in);
    return out >= 0 && close(out) == 0 && ok;
}

// Copies SRC over DST, which it empties first, inside the system.
bool copy_in_system(const char* src, const char* dst)
{
    int in = open(src, O_RDONLY);
    int out = open(dst, O_WRONLY | O_TRUNC);
    ssize_t n = in >= 0 && out >= 0 ? 1 : -1;
    while (n > 0)
        n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    close(in);
    return out >= 0 && close(out) == 0 && n == 0;
}

bool read_all(const char* name)
{
    int in = open(name, O_RDONLY);
    if (in < 0)
        return false;
    ssize_t n;
    while ((n = read(in, block, sizeof block)) > 0) {
    }
    close(in);
    return n == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 && argv[1][0] == '-' ? argv[1] : "";
    const bool read_only = std::strcmp(mode, "-r") == 0;
    const bool in_system = std::strcmp(mode, "-c") == 0;
    const int first = *mode ? 2 : 1;  // where FILE is
    char* end = nullptr;
    unsigned long long size =
        argc == first + 2 && !read_only ? std::strtoull(argv[first + 1], &end, 10) : whole_file;
    if ((*mode && !read_only && !in_system) || argc < first + 1 || argc > first + 2 ||
        (read_only && argc != first + 1) || (end && (end == argv[first + 1] || *end))) {
        fputs("usage: iolimit [-c] FILE [SIZE]\n       iolimit -r FILE\n", stderr);
        return 2;
    }
    const char* name = argv[first];
    bool ok = read_only
                  ? read_all(name)
                  : copy(name, temp_name, size) && (in_system ? copy_in_system(temp_name, name)
                                                              : copy(temp_name, name, whole_file));
    if (!ok) {
        perror(name);
        return 1;
    }
    if (!read_only)
        unlink(temp_name);
    return 0;
}
