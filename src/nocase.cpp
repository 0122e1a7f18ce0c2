#include "nocase.h"

namespace {

unsigned fold(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

}  // namespace

int compare_nocase(const char* a, const char* b)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        unsigned x = fold(*p);
        unsigned y = fold(*q);
        if (x != y || x == 0)
            return static_cast<int>(x) - static_cast<int>(y);
    }
}
