// The one case-insensitive comparison of the system: A-Z are taken as a-z,
// every other byte as it is, bytes compare unsigned, the first difference
// decides and a string that ends first is the smaller. No locale is used.
// The matcher (dosmatch.h) folds the bytes of names by fold_case too.
#pragma once

#include <cstdint>

// C with A-Z taken as a-z.
inline unsigned char fold_case(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

int compare_nocase(const char* a, const char* b);

// The first eight bytes of S, folded, as a number that orders as
// compare_nocase wherever two such numbers differ: big-endian, with zeros
// from the end of S on.
std::uint64_t nocase_key(const char* s);

inline bool equal_nocase(const char* a, const char* b)
{
    return compare_nocase(a, b) == 0;
}
