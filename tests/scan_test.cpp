// The line-ending scanners over real files, through the platform's streams.
#include <gtest/gtest.h>

#include <string>

#include "expected_text.h"
#include "scan.h"
#include "scratch_file.h"

namespace {

using expected::bytes_of;

std::string convert(const std::string& input, int from, int to)
{
    scratch_file src(input);
    scratch_file dst;
    FileStream in;
    in.open(src.name(), open_read);
    FileStream out;
    out.open(dst.name(), open_update);
    convert_line_endings(in, out, from, to);
    EXPECT_TRUE(out.close());
    in.close();
    return dst.read();
}

int detect(const std::string& input)
{
    scratch_file src(input);
    FileStream in;
    in.open(src.name(), open_read);
    return detect_line_endings(in);
}

const char* const conversions[] = {"du", "ud", "dm", "md", "um", "mu"};

// Each input with its output under the six conversions, in the order above.
const struct {
    std::string input;
    std::string out[6];
} conversion_table[] = {
    {"", {"", "", "", "", "", ""}},
    {"\r\n", {"\n", "\r\n", "\r", "\r\n", "\r\n", "\r\n"}},
    {"\n", {"\n", "\r\n", "\n", "\n", "\r", "\n"}},
    {"a\r", {"a\r", "a\r", "a\r", "a\r\n", "a\r", "a\n"}},
    // A lone CR, then a CR LF pair: the byte after a lone CR is read again.
    {"\r\r\n", {"\r\n", "\r\r\n", "\r\r", "\r\n\r\n", "\r\r\n", "\n\r\n"}},
    {"\r\r\r\n", {"\r\r\n", "\r\r\r\n", "\r\r\r", "\r\n\r\n\r\n", "\r\r\r\n", "\n\n\r\n"}},
    {"\n\r", {"\n\r", "\r\n\r", "\n\r", "\n\r\n", "\r\r", "\n\n"}},
    {"\r\n\n\r\r\n",
     {"\n\n\r\n", "\r\n\r\n\r\r\n", "\r\n\r\r", "\r\n\n\r\n\r\n", "\r\n\r\r\r\n", "\r\n\n\n\r\n"}},
    // 1A does not end the input and FF is not the end-of-file marker.
    {bytes_of("\0\x1a\xff\x80"),
     {bytes_of("\0\x1a\xff\x80"), bytes_of("\0\x1a\xff\x80"), bytes_of("\0\x1a\xff\x80"),
      bytes_of("\0\x1a\xff\x80"), bytes_of("\0\x1a\xff\x80"), bytes_of("\0\x1a\xff\x80")}},
    {"\r\x1a\n\xff\r",
     {"\r\x1a\n\xff\r", "\r\x1a\r\n\xff\r", "\r\x1a\n\xff\r", "\r\n\x1a\n\xff\r\n",
      "\r\x1a\r\xff\r", "\n\x1a\n\xff\n"}},
};

TEST(scan, conversions_by_the_table)
{
    for (const auto& row : conversion_table) {
        for (int i = 0; i < 6; ++i) {
            const char* c = conversions[i];
            EXPECT_EQ(convert(row.input, c[0], c[1]), row.out[i])
                << "/" << c << " on " << ::testing::PrintToString(row.input);
        }
    }
}

TEST(scan, detection_reads_the_byte_after_a_lone_cr_again)
{
    const struct {
        std::string input;
        int found;
    } cases[] = {
        {"", 0},
        {bytes_of("\0\x1a\xff"), 0},
        {"\r\n", FOUND_DOS},
        {"\n", FOUND_UNIX},
        {"\r", FOUND_MAC},
        {"a\rb", FOUND_MAC},
        {"\r\r\n", FOUND_DOS | FOUND_MAC},
        {"\r\r\r\n", FOUND_DOS | FOUND_MAC},
        {"\r\r\n\n", FOUND_DOS | FOUND_UNIX | FOUND_MAC},
        {"\r\n\n", FOUND_DOS | FOUND_UNIX},
        {"\n\r", FOUND_UNIX | FOUND_MAC},
        {"\r\r", FOUND_MAC},
        {"\r\n\r", FOUND_DOS | FOUND_MAC},
        {"\rx\n\r\n", FOUND_DOS | FOUND_UNIX | FOUND_MAC},
    };
    for (const auto& c : cases)
        EXPECT_EQ(detect(c.input), c.found) << ::testing::PrintToString(c.input);
}

TEST(scan, line_endings_across_the_stream_buffer_boundary)
{
    // The platform's streams read and write 128 KiB at a time: a pair, a
    // pushed-back byte or a run of ordinary bytes split across two buffers
    // must still be seen whole.
    const size_t buffer = 128 * 1024;
    const struct {
        std::string seq;
        const char* conv;
        std::string out;
        int found;
    } cases[] = {
        {"\r\n", "du", "\n", FOUND_DOS},
        {"\r\n", "mu", "\r\n", FOUND_DOS},
        {"\r\r\n", "du", "\r\n", FOUND_DOS | FOUND_MAC},
        {"\r\r\n", "md", "\r\n\r\n", FOUND_DOS | FOUND_MAC},
        {"\r\r", "mu", "\n\n", FOUND_MAC},
    };
    for (size_t pad = buffer - 3; pad <= buffer + 1; ++pad) {
        const std::string head(pad, 'x');
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::PrintToString(c.seq) + " after " + std::to_string(pad));
            EXPECT_TRUE(convert(head + c.seq + "yz", c.conv[0], c.conv[1]) == head + c.out + "yz");
            // Before the text, the ending shifts the output against the
            // input: runs then cross the output buffer's edge, not the input's.
            EXPECT_TRUE(convert(c.seq + head + "yz", c.conv[0], c.conv[1]) == c.out + head + "yz");
            EXPECT_EQ(detect(head + c.seq + "yz"), c.found);
        }
    }
}

}  // namespace
