// Characters of the system's code page. Names and paths are byte strings in
// that code page; whatever walks them character by character (a separator,
// a dot, a '?') asks here how long the character at a position is. Set once
// at start-up from the system (plat_code_page); until then every byte is a
// character of its own. Depends on the C library alone.
#pragma once

// What a code page says a character is.
struct code_page {
    // The bytes that begin a character of more than one byte.
    bool lead[256];
    // The longest character, in bytes. Up to 2, a lead byte and the byte
    // after it, whatever it is but the NUL, are one character: the rule of
    // the double-byte code pages. Above 2 the C library's mbrlen, under the
    // LC_CTYPE locale in force, measures each character that a lead byte
    // begins.
    int max_size;

    code_page() : lead(), max_size(1) {}
};

// The code page of code page 932 (Shift JIS): 0x81-0x9F and 0xE0-0xFC begin
// a two-byte character.
code_page shift_jis_code_page();

// The code page of the C library's LC_CTYPE locale in force, whose code set
// is named CODESET (nl_langinfo(CODESET) on POSIX systems): its lead bytes
// are those that mbrlen takes for the start of an incomplete character.
code_page locale_code_page(const char* codeset);

// Makes CP the code page of every character walk from here on.
void use_code_page(const code_page& cp);

// True when C begins a character of more than one byte.
bool is_lead_byte(unsigned char c);

// The number of bytes of the character that begins at S (not at its NUL).
// A sequence that is no character, or that the NUL cuts short, counts as a
// character of one byte; no byte after the NUL is ever read.
int char_size(const char* s);
