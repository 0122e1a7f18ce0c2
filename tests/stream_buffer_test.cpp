// The platform's streams: their fixed buffers, shared out among open streams,
// and the opening of files for writing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fileio.h"
#include "scratch_file.h"

namespace {

namespace fs = std::filesystem;

class stream_buffer_test : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = scratch_path(std::string("kelto_stream_") + info->name() + "_");
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }

    // The path of a new empty file: opening for writing creates none.
    std::string new_file(const std::string& name) const
    {
        write_bytes(name, "");
        return path(name);
    }

    void write_bytes(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    std::string read_bytes(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// Every byte value, then enough to refill a 128 KiB buffer a few times.
std::string sample_bytes(size_t size)
{
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes += char((i * 131 + i / 256) & 0xFF);
    return bytes;
}

TEST_F(stream_buffer_test, more_open_streams_than_buffers_all_keep_their_bytes)
{
    // Large contents are compared with ==: a failing EXPECT_EQ on them would
    // print a line diff whose cost grows with the square of their size.
    // Eight streams at once: four get the fixed buffers, the rest the
    // library's own; each written interleaved with the others.
    const int count = 8;
    std::vector<FileStream> out(count);
    for (int i = 0; i < count; ++i)
        out[i].open(new_file("f" + std::to_string(i)).c_str(), open_update);
    const std::string bytes = sample_bytes(300 * 1024);
    for (unsigned char c : bytes) {
        for (int i = 0; i < count; ++i)
            out[i].put_byte((c + i) & 0xFF);
    }
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(out[i].close());
    for (int i = 0; i < count; ++i) {
        std::string expected = bytes;
        for (char& c : expected)
            c = char((static_cast<unsigned char>(c) + i) & 0xFF);
        EXPECT_TRUE(read_bytes("f" + std::to_string(i)) == expected) << "stream " << i;
    }
}

TEST_F(stream_buffer_test, a_buffer_freed_by_close_goes_to_one_stream_only)
{
    // A and B open, A closed, then C, D and E opened while B is still being
    // written: a buffer handed out twice mixes up their bytes.
    FileStream a;
    a.open(new_file("a").c_str(), open_update);
    FileStream b;
    b.open(new_file("b").c_str(), open_update);
    ASSERT_TRUE(a.close());
    FileStream later[3];
    const char* names[] = {"c", "d", "e"};
    for (int i = 0; i < 3; ++i)
        later[i].open(new_file(names[i]).c_str(), open_update);
    const std::string bytes = sample_bytes(300 * 1024);
    for (unsigned char c : bytes) {
        b.put_byte(c);
        for (int i = 0; i < 3; ++i)
            later[i].put_byte(c ^ (i + 1));
    }
    ASSERT_TRUE(b.close());
    EXPECT_TRUE(read_bytes("b") == bytes);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(later[i].close());
        std::string expected = bytes;
        for (char& c : expected)
            c = char(c ^ (i + 1));
        EXPECT_TRUE(read_bytes(names[i]) == expected) << names[i];
    }
}

TEST_F(stream_buffer_test, opening_for_writing_neither_creates_nor_empties_a_file)
{
    const struct {
        const char* name;
        const char* before;  // null: the file does not exist
        bool truncate;
        const char* after;  // null: the open fails
    } cases[] = {
        {"full", "old content\r\n", false, "xld content\r\n"},
        {"full_emptied", "old content\r\n", true, "x"},
        {"empty", "", false, "x"},
        {"missing", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        if (c.before)
            write_bytes(c.name, c.before);
        file_stamp stamp;
        FILE* f = plat_open(path(c.name).c_str(), SIZE_MAX, open_update, &stamp);
        ASSERT_EQ(f != nullptr, c.after != nullptr) << c.name;
        if (!f)
            continue;
        EXPECT_TRUE(!c.truncate || plat_truncate(f)) << c.name;
        plat_putc('x', f);
        ASSERT_TRUE(plat_close(f)) << c.name;
        EXPECT_EQ(read_bytes(c.name), c.after) << c.name;
    }
}

TEST_F(stream_buffer_test, the_view_of_the_buffer_holds_what_the_reads_would_hand_out)
{
#if !defined(__GLIBC__) && !defined(PLAT_MSVCRT)
    GTEST_SKIP() << "this C library's streams are read a byte at a time, without a view";
#endif
    const struct {
        open_mode mode;
        int reads;         // bytes read first
        bool unget;        // the last of them pushed back
        bool write;        // then, after a seek, a byte written
        const char* view;  // what the view holds then
    } cases[] = {
        {open_read, 1, false, false, "bcdef"},
        {open_read, 3, false, false, "def"},
        {open_read, 3, true, false, "cdef"},
        {open_read, 6, false, false, ""},
        {open_update, 1, false, false, "bcdef"},
        {open_update, 1, true, false, "abcdef"},
        // A stream that writes has no bytes to read: msvcrt's count then
        // holds the free space of the buffer.
        {open_update, 1, false, true, ""},
    };
    write_bytes("f", "abcdef");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.reads) + (c.unget ? " unget" : "") +
                     (c.write ? " write" : ""));
        file_stamp stamp;
        FILE* f = plat_open(path("f").c_str(), SIZE_MAX, c.mode, &stamp);
        ASSERT_NE(f, nullptr);
        int b = 0;
        for (int i = 0; i < c.reads; ++i)
            b = plat_getc(f);
        if (c.unget) {
            ASSERT_EQ(plat_ungetc(b, f), b);
        }
        if (c.write) {
            ASSERT_EQ(fseek(f, 0, SEEK_CUR), 0);
            plat_putc('x', f);
        }
        byte_span view = plat_buffered(f);
        EXPECT_EQ(std::string(view.data, view.size), c.view);
        // Handing out the view but its last byte leaves that byte to read.
        if (view.size != 0) {
            plat_skip(f, view.size - 1);
            EXPECT_EQ(plat_getc(f), 'f');
            EXPECT_EQ(plat_getc(f), EOF);
        }
        ASSERT_TRUE(plat_close(f));
    }
    EXPECT_EQ(read_bytes("f"), "axcdef");
}

}  // namespace
