// Wildcard expansion of the argument vector.
#pragma once

// Path-name scanning. Paths are byte strings in a multibyte code page in
// which a two-byte character may have a second byte equal to '\' or '.', so
// the scanners walk whole characters and only ':' and '\' separate the parts
// of a path.

// True for the bytes 0x81-0x9F and 0xE0-0xFC, which begin a two-byte
// character.
bool is_lead_byte(unsigned char c);

// The number of bytes, 1 or 2, of the character that begins at S (not at its
// NUL). A lead byte right before the NUL is a character of one byte.
int char_size(const char* s);

// The number of bytes from the start of PATH through its last ':' or '\';
// 0 when it has none. "src\*.c" gives 4.
int dir_prefix_length(const char* path);

// The number of bytes after the last dot of NAME's last component that
// follows a character other than a dot; 0 when there is no such dot.
// "x.tar.gz" gives 2, ".profile" and "a." give 0.
int extension_length(const char* name);

// Replaces every wildcard pattern of the vector by the paths of its matching
// files and drops the expansion's own options. The new count and vector are
// stored through NEW_ARGC and NEW_ARGV; the result is the last pattern that
// matched nothing, or null.
const char* expand_wildcards(int argc, char** argv, int* new_argc, char*** new_argv);
