// The path-name scanners: separators and dots are found only where they are
// characters of their own, never as a later byte of a character of several
// bytes.
#include "code_page.h"
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
    select_code_page_932();
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

// In UTF-8 no byte of a character of several bytes is a '\', ':' or '.',
// though under code page 932 many a one would begin a character that takes
// the next byte with it.
TEST(path_scan, utf8_characters)
{
    SELECT_LOCALE("C.UTF-8");
    const scan_case cases[] = {
        {"Ma\xC3\x9F.txt", 0, 3},           // Maß.txt
        {"\xC3\x84\\y.txt", 3, 3},          // Ä\y.txt
        {"\xD0\xB5\xD1\x91\\*.txt", 5, 3},  // её\*.txt
        {"\xE3\x81\x82.txt", 0, 3},         // あ.txt
        {"\xE8\xA1\xA8\\a.b", 4, 1},        // 表\a.b
        {"\xF0\x9F\x98\x80\\.c", 5, 0},     // a character of four bytes
        // An invalid or cut sequence is a byte per character.
        {"\xE3\x81\\x", 3, 0},
        {"\xED\xA0\x80:", 4, 0},
        {"a.\xE3\x81", 0, 2},
    };
    for (const scan_case& c : cases)
        expect_scans(c);
}

// In the C locale every byte is a character.
TEST(path_scan, single_byte_characters)
{
    SELECT_LOCALE("C");
    const scan_case cases[] = {
        {"\x95\\x", 2, 0},
        {"a.\x81.", 0, 0},
        {"a\xE0:\\b", 4, 0},
        {"\xC3\x84\\y.txt", 3, 3},
    };
    for (const scan_case& c : cases)
        expect_scans(c);
}

TEST(path_scan, lead_bytes)
{
    select_code_page_932();
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
