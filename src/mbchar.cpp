#include "mbchar.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

code_page current;

}  // namespace

code_page shift_jis_code_page()
{
    code_page cp;
    for (int c = 0x81; c <= 0xFC; ++c)
        cp.lead[c] = c <= 0x9F || c >= 0xE0;
    cp.max_size = 2;
    return cp;
}

code_page locale_code_page(const char* codeset)
{
    // glibc's Shift JIS knows the characters of JIS X 0208 alone: it takes
    // 0xEB-0xFC, which begin the rows that code page 932 adds (vendor and
    // user-defined characters), for bytes of their own, and rejects pairs
    // such as E0 3A. Names made on Windows hold such characters, and the
    // second byte of one may be a '\', so Shift JIS is read as code page 932.
    if (std::strcmp(codeset, "SHIFT_JIS") == 0)
        return shift_jis_code_page();
    code_page cp;
    cp.max_size = static_cast<int>(MB_CUR_MAX);
    for (int c = 0; c < 256; ++c) {
        const char byte = static_cast<char>(c);
        std::mbstate_t state{};
        cp.lead[c] = std::mbrlen(&byte, 1, &state) == static_cast<size_t>(-2);
    }
    return cp;
}

void use_code_page(const code_page& cp)
{
    current = cp;
}

bool is_lead_byte(unsigned char c)
{
    return current.lead[c];
}

int char_size(const char* s)
{
    // Taking the NUL as a later byte would walk past the end of the string.
    if (!is_lead_byte(static_cast<unsigned char>(s[0])) || s[1] == '\0')
        return 1;
    if (current.max_size <= 2)
        return 2;
    size_t len = 2;
    while (len < static_cast<size_t>(current.max_size) && s[len] != '\0')
        ++len;
    std::mbstate_t state{};
    size_t n = std::mbrlen(s, len, &state);
    // Invalid (-1) and cut short (-2) are larger than any length.
    return n <= len ? static_cast<int>(n) : 1;
}
