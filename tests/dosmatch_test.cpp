// Matching of names against DOS wildcard patterns.
#include "code_page.h"
#include "dosmatch.h"

#include <gtest/gtest.h>

namespace {

struct match_case {
    const char* pattern;
    const char* name;
    bool match;
};

void expect_matches(const match_case* begin, const match_case* end)
{
    for (const match_case* c = begin; c != end; ++c) {
        EXPECT_EQ(dos_match(c->pattern, c->name), c->match)
            << "pattern \"" << c->pattern << "\", name \"" << c->name << "\"";
    }
}

TEST(dos_match, wildcards_and_case)
{
    const match_case cases[] = {
        {"a.txt", "a.txt", true},
        {"A.TXT", "a.txt", true},
        {"a.txt", "A.Txt", true},
        {"a.txt", "a.txt2", false},
        {"a.txt", "ba.txt", false},
        {"*.txt", "a.txt", true},
        {"*.txt", ".txt", true},
        {"*.txt", "a.txt.bak", false},
        {"*.txt", "a.tx", false},
        {"*", "README", true},
        {"*", ".profile", true},
        {"*x*", "abc", false},
        {"*x*", "x", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYcZ", false},
        {"*a*a", "aaa", true},
        {"**", "z", true},
        {"?", "a", true},
        {"?", "", false},
        {"?", "ab", false},
        {"??.c", "ab.c", true},
        {"??.c", "a.c", false},
        {"a?c", "a.c", true},
        // Only ASCII letters fold; other bytes match only themselves.
        {"[", "{", false},
        {"@", "`", false},
        {"\xC4", "\xE4", false},
        {"\xC4", "\xC4", true},
        // A '/' is an ordinary byte: it matches only itself, and no name
        // from a directory listing holds one.
        {"src/*.c", "a.c", false},
        {"*/", "a", false},
    };
    expect_matches(std::begin(cases), std::end(cases));
}

TEST(dos_match, dot_endings)
{
    const match_case cases[] = {
        {"abc.*", "abc", true},
        {"abc.*", "abc.", true},
        {"abc.*", "abc.d", true},
        {"abc.*", "abcd", false},
        {"abc.", "abc", true},
        {"abc.", "abc.", true},
        {"abc.", "abc.d", false},
        {"*.*", "README", true},
        {"*.*", "a.b.c", true},
        {"*.*", ".profile", true},
        {"*.*", ".", true},
        {"*.*", "..", true},
        // The rest of the pattern must still match.
        {"a?.*", "a", false},
        {"a?.*", "ab", true},
        // Only the last ending is dropped, and only a dot at the very end
        // or before a closing '*'.
        {"a.*.*", "a", false},
        {"a.*.*", "a.b", true},
        {"a.b*", "a", false},
        {"*.", "abc", true},
        {".*", ".git", true},
        {".*", "git", false},
    };
    expect_matches(std::begin(cases), std::end(cases));
}

TEST(dos_match, two_byte_characters)
{
    select_code_page_932();
    // A letter after a hex escape needs a literal of its own (the escape would
    // take it in); the layout tool would give each such literal its own line.
    // clang-format off
    const match_case cases[] = {
        // '?' takes a two-byte character whole.
        {"?", "\x81\x40", true},
        {"??", "\x81\x40", false},
        {"a?c", "a\x95\x5C" "c", true},
        // A second byte is never folded and never taken for a wildcard.
        {"\x81" "a", "\x81" "A", false},
        {"\x81" "a", "\x81" "a", true},
        {"\x81*", "\x81" "ab", false},
        {"\x81*", "\x81*", true},
        // A second byte equal to '.' is no dot: the pattern has no dot ending.
        {"a\x81.", "a", false},
        {"a\x81.", "a\x81.", true},
        // The character must match whole, not just its first byte.
        {"*\x81\x41", "x\x81\x42", false},
        {"*\x81\x41", "x\x81\x41", true},
        // A lead byte before the NUL is a character of one byte.
        {"a?", "a\x81", true},
        {"a\x81", "a\x81", true},
        {"a\x81", "a\x81\x40", false},
    };
    // clang-format on
    expect_matches(std::begin(cases), std::end(cases));
}

// A character of UTF-8 is one character to '?' however many bytes it has;
// in the C locale each byte is one.
TEST(dos_match, utf8_characters)
{
    SELECT_LOCALE("C.UTF-8");
    const match_case cases[] = {
        {"?.txt", "\xC5\x82.txt", true},      // ł.txt
        {"?.txt", "\xE3\x81\x82.txt", true},  // あ.txt
        {"??.txt", "\xC5\x82.txt", false},
        {"*.txt", "Ma\xC3\x9F.txt", true},        // Maß.txt
        {"?\xC3\xA4", "\xC3\x84\xC3\xA4", true},  // Ä and ä are not folded
        {"\xC3\xA4", "\xC3\x84", false},
        {"*\xC3\xA4", "x\xC3\xA5", false},  // the whole character must match
    };
    expect_matches(std::begin(cases), std::end(cases));
}

TEST(dos_match, single_byte_characters)
{
    SELECT_LOCALE("C");
    const match_case cases[] = {
        {"?.txt", "\xC5\x82.txt", false},
        {"??.txt", "\xC5\x82.txt", true},
        {"a?c",
         "a\x95\x5C"
         "c",
         false},
        {"\x81*",
         "\x81"
         "ab",
         true},
    };
    expect_matches(std::begin(cases), std::end(cases));
}

}  // namespace
