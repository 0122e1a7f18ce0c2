// The one case-insensitive comparison of the system: A-Z are taken as a-z,
// every other byte as it is, bytes compare unsigned, the first difference
// decides and a string that ends first is the smaller. No locale is used.
#pragma once

int compare_nocase(const char* a, const char* b);

inline bool equal_nocase(const char* a, const char* b)
{
    return compare_nocase(a, b) == 0;
}
