// Matching of file names against DOS wildcard patterns.
#pragma once

// True when NAME matches PATTERN. Both are compared character by character
// of the code page (mbchar.h), a character of several bytes counting as
// one: '*' matches any run of characters, none included; '?' matches any one
// character; the letters A-Z and a-z match each other and every other byte
// matches only itself. A pattern that ends in "." or ".*" also matches a
// name that ends where that ending begins, so "abc.*" and "abc." match abc
// and "*.*" matches every name.
bool dos_match(const char* pattern, const char* name);
