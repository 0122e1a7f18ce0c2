// The I/O limit of converting a file in place through a temporary file: the
// same reads and writes as the tool (the file into a temporary file in the
// current directory, then the temporary file back over the file, then the
// temporary file deleted), in 1 MiB blocks and with no work per byte. No
// in-place conversion of this design can be faster.
//   iolimit FILE
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char temp_name[] = "iolimit.tmp";
const size_t block_size = 1 << 20;

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

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fputs("usage: iolimit FILE\n", stderr);
        return 2;
    }
    std::vector<char> block(block_size);
    if (!copy(argv[1], temp_name, block) || !copy(temp_name, argv[1], block)) {
        perror(argv[1]);
        return 1;
    }
    unlink(temp_name);
    return 0;
}
