// The path-name scanners against a model that first cuts the string into its
// characters and then reads the answers off that list: the last separator
// character for the directory prefix; for the extension, the last dot of the
// last component that comes after a character other than a dot.
//
// Input: the bytes of one string, up to the first NUL; the byte after the
// NUL, if there is one, chooses the code page (fuzz_util.h), code page 932
// when there is none. The string is copied into a heap block of exactly its
// size, so a read past the NUL is a finding.
#include "wildcard.h"

#include "fuzz_util.h"

#include <cstring>

namespace {

// The start position of each character. Only the first byte of a character
// counts; a character that the end of the string cuts short is a byte per
// character.
std::vector<int> characters(fuzz_code_page cp, const unsigned char* s, int n)
{
    std::vector<int> starts;
    for (int i = 0; i < n; i += static_cast<int>(model_char_size(cp, s + i, n - i)))
        starts.push_back(i);
    return starts;
}

bool separator(unsigned char c)
{
    return c == ':' || c == '\\';
}

int model_prefix(const unsigned char* s, const std::vector<int>& chars)
{
    for (size_t k = chars.size(); k-- > 0;) {
        if (separator(s[chars[k]]))
            return chars[k] + 1;
    }
    return 0;
}

int model_extension(const unsigned char* s, int n, const std::vector<int>& chars)
{
    // The characters of the last component.
    size_t first = 0;
    for (size_t k = 0; k < chars.size(); ++k) {
        if (separator(s[chars[k]]))
            first = k + 1;
    }
    // Dots before its first other character open it and count for nothing.
    while (first < chars.size() && s[chars[first]] == '.')
        ++first;
    for (size_t k = chars.size(); k-- > first;) {
        if (s[chars[k]] == '.')
            return n - (chars[k] + 1);
    }
    return 0;
}

void check_lead_bytes(fuzz_code_page cp)
{
    for (int c = 0; c < 256; ++c)
        check(is_lead_byte(static_cast<unsigned char>(c)) ==
              model_lead(cp, static_cast<unsigned char>(c)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int n = static_cast<int>(strnlen(reinterpret_cast<const char*>(data), size));
    fuzz_code_page cp = select_code_page(static_cast<size_t>(n) + 1 < size ? data[n + 1] : cp_932);
    check_lead_bytes(cp);
    char* s = new char[n + 1];
    memcpy(s, data, n);
    s[n] = '\0';
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    std::vector<int> chars = characters(cp, u, n);
    for (size_t k = 0; k < chars.size(); ++k) {
        int end = k + 1 < chars.size() ? chars[k + 1] : n;
        check(char_size(s + chars[k]) == end - chars[k]);
    }
    check(dir_prefix_length(s) == model_prefix(u, chars));
    check(extension_length(s) == model_extension(u, n, chars));
    delete[] s;
    return 0;
}
