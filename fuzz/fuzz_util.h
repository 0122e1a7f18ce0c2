// Pieces shared by the fuzz targets.
#pragma once

#include "mbchar.h"

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include <langinfo.h>

// A failed check is a finding: libFuzzer saves the input that caused it.
inline void check(bool ok)
{
    if (!ok)
        abort();
}

// Reads the input a byte at a time; 0 once it is used up.
struct reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    int next() { return pos < size ? data[pos++] : 0; }
    bool more() const { return pos < size; }
};

// The selection sort of IndexedList, as a model: for each position the first
// of the smallest remaining elements, found by compare(current minimum,
// candidate) > 0, is exchanged into place. Not stable.
template <class T, class Compare>
void selection_sort(std::vector<T>& v, Compare compare)
{
    for (size_t i = 0; i < v.size(); ++i) {
        size_t min = i;
        for (size_t j = i + 1; j < v.size(); ++j) {
            if (compare(v[min], v[j]) > 0)
                min = j;
        }
        std::swap(v[i], v[min]);
    }
}

// The code pages that names are walked by, one chosen by the input: code
// page 932 (as a Shift JIS locale reads it), single bytes (the C locale),
// and UTF-8.
enum fuzz_code_page { cp_932, cp_single, cp_utf8 };

// Makes the code page that BYTE chooses the system's, and returns it.
inline fuzz_code_page select_code_page(int byte)
{
    auto cp = static_cast<fuzz_code_page>(byte % 3);
    check(setlocale(LC_CTYPE, cp == cp_utf8 ? "C.UTF-8" : "C") != nullptr);
    use_code_page(cp == cp_932 ? shift_jis_code_page() : locale_code_page(nl_langinfo(CODESET)));
    return cp;
}

// The model's lead bytes: those that may begin a character of more than
// one byte.
inline bool model_lead(fuzz_code_page cp, unsigned char c)
{
    if (cp == cp_932)
        return (0x81 <= c && c <= 0x9F) || (0xE0 <= c && c <= 0xFC);
    return cp == cp_utf8 && 0xC2 <= c && c <= 0xFD;
}

// The model's size of the character at S, of which N bytes come before the
// NUL. In code page 932 a lead byte takes any next byte with it. In UTF-8
// (as the C library reads it: up to six bytes, the shortest form only, no
// surrogate halves) a sequence that is invalid or that the NUL cuts short
// is a byte per character.
inline size_t model_char_size(fuzz_code_page cp, const unsigned char* s, size_t n)
{
    if (!model_lead(cp, s[0]) || n < 2)
        return 1;
    if (cp == cp_932)
        return 2;
    size_t len = s[0] < 0xE0 ? 2 : s[0] < 0xF0 ? 3 : s[0] < 0xF8 ? 4 : s[0] < 0xFC ? 5 : 6;
    if (len > n)
        return 1;
    for (size_t k = 1; k < len; ++k) {
        if ((s[k] & 0xC0) != 0x80)
            return 1;
    }
    // The lowest second byte of a shortest form after E0, F0, F8 and FC.
    const unsigned char least[] = {0xA0, 0x90, 0x88, 0x84};
    if (len > 2 && (s[0] & (0xFF >> (len + 1))) == 0 && s[1] < least[len - 3])
        return 1;
    return s[0] == 0xED && s[1] >= 0xA0 ? 1 : len;
}
