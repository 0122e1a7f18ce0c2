// The path-name scanners: separators and dots are found only where they are
// characters of their own, never as the second byte of a two-byte character.
#include "wildcard.h"

#include <gtest/gtest.h>

namespace {

struct scan_case {
    const char* path;
    int prefix;
    int extension;
};

void expect_scans(const scan_case& c)
{
    EXPECT_EQ(dir_prefix_length(c.path), c.prefix) << "dir_prefix_length of " << c.path;
    EXPECT_EQ(extension_length(c.path), c.extension) << "extension_length of " << c.path;
}

TEST(path_scan, plain_paths)
{
    const scan_case cases[] = {
        {"*.txt", 0, 3},
        {"*.*", 0, 1},
        {"*", 0, 0},
        {"*.", 0, 0},
        {"src\\*.c", 4, 1},
        {"C:*.txt", 2, 3},
        {"C:\\work\\*.c", 8, 1},
        {"..\\*.c", 3, 1},
        {"a/b/*.c", 0, 1},
        {".profile", 0, 0},
        {"a.b.c", 0, 1},
        {"a..b", 0, 1},
        {"x.tar.gz", 0, 2},
        {"dir.d\\file", 6, 0},
        {"..", 0, 0},
        {"", 0, 0},
        // A separator starts a new component: dots before it count no more.
        {"a.b\\.c", 4, 0},
        {"a:..x", 2, 0},
    };
    for (const scan_case& c : cases)
        expect_scans(c);
}

TEST(path_scan, two_byte_characters)
{
    const scan_case cases[] = {
        // The first 0x5C is the second byte of a character, the next one a separator.
        {"\x95\x5C\x5C*.c", 3, 1},
        // The last 0x2E belongs to the character that 0x81 begins.
        {"a.\x81.", 0, 2},
        // A lead byte before the NUL is a character of one byte.
        {"a\x81", 0, 0},
        // 0xE0 takes the ':' along; the '\' after it separates.
        {"a\xE0:\\b", 4, 0},
        // 0xDF begins no two-byte character, so its ':' separates.
        {"a\xDF:b", 3, 0},
        // The edges of both lead-byte ranges hide a separator; their
        // neighbours do not.
        {"\x80\\", 2, 0},
        {"\x81\\", 0, 0},
        {"\x9F\\", 0, 0},
        {"\xA0\\", 2, 0},
        {"\xDF\\", 2, 0},
        {"\xE0\\", 0, 0},
        {"\xFC\\", 0, 0},
        {"\xFD\\", 2, 0},
    };
    for (const scan_case& c : cases)
        expect_scans(c);
}

TEST(path_scan, lead_bytes)
{
    const struct {
        unsigned char byte;
        bool lead;
    } cases[] = {
        {0x00, false}, {0x5C, false}, {0x80, false}, {0x81, true},  {0x9F, true},  {0xA0, false},
        {0xDF, false}, {0xE0, true},  {0xFC, true},  {0xFD, false}, {0xFF, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_lead_byte(c.byte), c.lead) << "byte " << int(c.byte);
}

}  // namespace
