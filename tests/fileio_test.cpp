// The file layer: byte-transparent streams and the copy back.
#include <gtest/gtest.h>

#include <string>

#include "fileio.h"
#include "scratch_file.h"

namespace {

std::string every_byte()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    return bytes;
}

TEST(fileio, copy_file_writes_the_source_bytes_over_the_destination)
{
    std::string large;
    while (large.size() < 300 * 1024)
        large += every_byte();
    const struct {
        const char* what;
        std::string src;
        std::string dst_before;
    } cases[] = {
        {"every byte value", every_byte(), "old"},
        {"empty source", "", "old content"},
        {"shorter than the destination", "\r\n", std::string(1000, 'x')},
        {"larger than the stream buffer", large, ""},
        {"two whole stream buffers", large.substr(0, 2 * stream_buffer_size), large},
        {"a byte past two stream buffers", large.substr(0, 2 * stream_buffer_size + 1), "old"},
    };
    for (const auto& c : cases) {
        scratch_file src(c.src);
        scratch_file dst(c.dst_before);
        FileStream in;
        in.open(src.name(), open_read);
        FileStream out;
        out.open(dst.name(), open_update);
        copy_file(in, src.name(), c.src.size(), out, dst.name());
        EXPECT_EQ(out.stream, nullptr) << c.what;
        EXPECT_TRUE(dst.read() == c.src) << c.what;
        EXPECT_TRUE(src.read() == c.src) << c.what;
    }
}

TEST(fileio, sums_of_contents_differ_by_one_byte_anywhere)
{
    const std::string base(2 * stream_buffer_size + 9, 'a');
    auto sum_of = [](const std::string& bytes) {
        scratch_file file(bytes);
        FileStream in;
        in.open(file.name(), open_read);
        std::uint64_t sum = 0;
        EXPECT_TRUE(sum_content(in, &sum));
        EXPECT_EQ(in.get_byte(), bytes.empty() ? EOF : static_cast<unsigned char>(bytes[0]));
        return sum;
    };
    const std::uint64_t first = sum_of(base);
    EXPECT_EQ(sum_of(base), first);
    for (size_t at : {size_t{0}, size_t{7}, size_t{8}, stream_buffer_size - 1, stream_buffer_size,
                      base.size() - 1}) {
        std::string changed = base;
        changed[at] = 'b';
        EXPECT_NE(sum_of(changed), first) << at;
    }
}

TEST(fileio, streams_read_and_write_every_byte_value_unchanged)
{
    scratch_file file;
    {
        FileStream out;
        out.open(file.name(), open_update);
        for (int b = 0; b < 256; ++b)
            out.put_byte(b);
        EXPECT_TRUE(out.close());
        EXPECT_EQ(out.stream, nullptr);
    }
    EXPECT_EQ(file.read(), every_byte());

    FileStream in;
    in.open(file.name(), open_read);
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(in.get_byte(), b);
        // A pushed-back byte is the next one read, whatever its value.
        in.unget_byte(b);
        ASSERT_EQ(in.get_byte(), b);
    }
    EXPECT_EQ(in.get_byte(), EOF);
    EXPECT_EQ(in.get_byte(), EOF);
    EXPECT_FALSE(in.failed());
    EXPECT_TRUE(in.close());
}

TEST(fileio, failed_reads_and_writes_are_seen)
{
    // Streams opened directly: the tool itself refuses to open these.
    FileStream in;
    in.stream = fopen("/proc/self/mem", "rb");
    if (!in.stream)
        GTEST_SKIP() << "no /proc/self/mem on this system";
    EXPECT_EQ(in.get_byte(), EOF);
    EXPECT_TRUE(in.failed());

    FileStream out;
    out.stream = fopen("/dev/full", "wb");
    if (!out.stream)
        GTEST_SKIP() << "no /dev/full on this system";
    out.put_byte('x');
    EXPECT_FALSE(out.close());
}

}  // namespace
