#include "dosmatch.h"

#include "mbchar.h"
#include "nocase.h"

#include <cstring>

namespace {

// Whether the characters that begin at P and N are the same; the bytes of a
// character of more than one byte are never folded.
bool same_char(const char* p, const char* n)
{
    int size = char_size(p);
    if (size != char_size(n))
        return false;
    if (size > 1)
        return std::memcmp(p, n, size) == 0;
    return fold_case(static_cast<unsigned char>(*p)) == fold_case(static_cast<unsigned char>(*n));
}

// Matches the first LEN bytes of PATTERN against the whole of NAME. On a
// mismatch the last '*' takes one more character of the name and matching
// goes on from there: each '*' only ever needs the shortest run that lets the
// rest match, so the cost stays at pattern length times name length.
bool match_prefix(const char* pattern, int len, const char* name)
{
    const char* end = pattern + len;
    const char* p = pattern;
    const char* n = name;
    const char* star_p = nullptr;  // the pattern after the last '*'
    const char* star_n = nullptr;  // where that '*''s run ends so far
    while (*n != '\0') {
        if (p != end && *p == '*') {
            star_p = ++p;
            star_n = n;
        } else if (p != end && (*p == '?' || same_char(p, n))) {
            p += char_size(p);
            n += char_size(n);
        } else if (star_p) {
            star_n += char_size(star_n);
            p = star_p;
            n = star_n;
        } else {
            return false;
        }
    }
    while (p != end && *p == '*')
        ++p;
    return p == end;
}

// The length of the pattern without a closing "." or ".*", or -1 when it has
// neither. The dot must be a character of its own.
int without_dot_ending(const char* pattern)
{
    int prev = -1;  // where the last two characters begin
    int last = -1;
    for (int pos = 0; pattern[pos] != '\0'; pos += char_size(pattern + pos)) {
        prev = last;
        last = pos;
    }
    if (last >= 0 && pattern[last] == '.')
        return last;
    if (prev >= 0 && pattern[prev] == '.' && pattern[last] == '*')
        return prev;
    return -1;
}

}  // namespace

bool dos_match(const char* pattern, const char* name)
{
    int len = static_cast<int>(std::strlen(pattern));
    if (match_prefix(pattern, len, name))
        return true;
    int stem = without_dot_ending(pattern);
    return stem >= 0 && match_prefix(pattern, stem, name);
}
