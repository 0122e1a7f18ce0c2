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

// The scanners take the widest vector instructions the processor has (on
// x86: AVX2 for the detection, AVX-512's VBMI2 for the conversions); off,
// only those that every processor of the build's kind has. The result is the
// same byte for byte either way: tests and benchmarks run both.
void set_wide_scans(bool on);
