// The line-ending scanners: one pass over a byte stream, one byte of
// lookahead, constant memory.
#pragma once

#include "fileio.h"

// Detection set bits.
enum {
    FOUND_DOS = 1,   // CR followed by LF
    FOUND_UNIX = 2,  // LF on its own
    FOUND_MAC = 4,   // CR not followed by LF
};

// Copies IN to OUT, writing every line ending of type FROM ('d' CR LF,
// 'u' LF, 'm' CR) as type TO, another of the three, and every other byte
// unchanged.
void convert_line_endings(FileStream& in, FileStream& out, int from, int to);

// Reads IN to its end and returns the FOUND_ bits of the endings it holds.
int detect_line_endings(FileStream& in);
