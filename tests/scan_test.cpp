// The line-ending scanners over real files, through the platform's streams.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

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

// ENDINGS, each after a line of 37 ordinary bytes, and one such line after
// them: the endings then fall in lanes of sixteen bytes, and at each place
// in a lane, as the detector takes them.
std::string spaced(std::initializer_list<const char*> endings)
{
    std::string text;
    for (const char* e : endings)
        text += std::string(37, 'x') + e;
    return text + std::string(37, 'x');
}

const char* const conversions[] = {"du", "ud", "dm", "md", "um", "mu"};

// Every case runs on the paths every processor has (false) and on the wider
// ones of this processor (true), where it has them.
class scan : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { set_wide_scans(GetParam()); }
    void TearDown() override { set_wide_scans(true); }
};

INSTANTIATE_TEST_SUITE_P(, scan, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "wide" : "base"; });

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

TEST_P(scan, conversions_by_the_table)
{
    for (const auto& row : conversion_table) {
        for (int i = 0; i < 6; ++i) {
            const char* c = conversions[i];
            EXPECT_EQ(convert(row.input, c[0], c[1]), row.out[i])
                << "/" << c << " on " << ::testing::PrintToString(row.input);
        }
    }
}

TEST_P(scan, detection_reads_the_byte_after_a_lone_cr_again)
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
        // One kind after another, in each order: every set of kinds still
        // looked for meets a lane in which a new one ends.
        {spaced({"\r\n", "\n", "\r"}), FOUND_DOS | FOUND_UNIX | FOUND_MAC},
        {spaced({"\n", "\r", "\r\n"}), FOUND_DOS | FOUND_UNIX | FOUND_MAC},
        {spaced({"\r", "\r\n", "\n"}), FOUND_DOS | FOUND_UNIX | FOUND_MAC},
        {spaced({"\r\n", "\r\n", "\r"}), FOUND_DOS | FOUND_MAC},
        {spaced({"\n", "\n", "\r\n"}), FOUND_DOS | FOUND_UNIX},
        {spaced({"\r", "\n", "\n"}), FOUND_UNIX | FOUND_MAC},
        {spaced({"\r\r\n", "\r\r\n"}), FOUND_DOS | FOUND_MAC},
        {spaced({"\n", "\r\n"}) + "\r", FOUND_DOS | FOUND_UNIX | FOUND_MAC},
    };
    for (const auto& c : cases)
        EXPECT_EQ(detect(c.input), c.found) << ::testing::PrintToString(c.input);
}

TEST_P(scan, line_endings_across_the_stream_buffer_boundary)
{
    // The platform's streams read and write 128 KiB at a time: a pair, a
    // pushed-back byte or a run of ordinary bytes split across two buffers
    // must still be seen whole, and so must one split across two of the
    // detector's lanes or two of the converter's chunks of up to 64 bytes,
    // at the start of a file.
    const size_t buffer = stream_buffer_size;
    std::vector<size_t> pads;
    for (size_t pad = 0; pad <= 130; ++pad)
        pads.push_back(pad);
    for (size_t pad = buffer - 3; pad <= buffer + 1; ++pad)
        pads.push_back(pad);
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
        {"\r\n\n", "dm", "\r\n", FOUND_DOS | FOUND_UNIX},
        {"\n\r", "ud", "\r\n\r", FOUND_UNIX | FOUND_MAC},
        {"\r\n", "um", "\r\n", FOUND_DOS},
        {"\r\n", "ud", "\r\n", FOUND_DOS},
    };
    // After the longer tail the chunks run on past the ending; after the
    // shorter one the last of them can end inside it.
    const std::string tails[] = {"yz" + std::string(200, 'w'), "yz" + std::string(100, 'w')};
    for (size_t pad : pads) {
        const std::string head(pad, 'x');
        for (const auto& c : cases) {
            for (const std::string& tail : tails) {
                SCOPED_TRACE(::testing::PrintToString(c.seq) + " after " + std::to_string(pad));
                EXPECT_TRUE(convert(head + c.seq + tail, c.conv[0], c.conv[1]) ==
                            head + c.out + tail);
                // Before the text, the ending shifts the output against the
                // input: runs then cross the output buffer's edge, not the input's.
                EXPECT_TRUE(convert(c.seq + head + tail, c.conv[0], c.conv[1]) ==
                            c.out + head + tail);
                EXPECT_EQ(detect(head + c.seq + tail), c.found);
            }
        }
    }
}

}  // namespace
