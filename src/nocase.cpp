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
