#include "nocase.h"

int compare_nocase(const char* a, const char* b)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        unsigned x = fold_case(*p);
        unsigned y = fold_case(*q);
        if (x != y || x == 0)
            return static_cast<int>(x) - static_cast<int>(y);
    }
}

std::uint64_t nocase_key(const char* s)
{
    std::uint64_t key = 0;
    for (int i = 0; i < 8; ++i) {
        unsigned char c = fold_case(static_cast<unsigned char>(*s));
        key = key << 8 | c;
        s += c != 0;
    }
    return key;
}
