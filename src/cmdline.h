// The command line of a system that hands a program one line of text
// (Windows), split into the argument vector the tool works on.
#pragma once

// Splits LINE at blanks and tabs outside double quotes. The quotes are
// dropped and every other byte stays: a backslash is a path separator here,
// never an escape, so "C:\dir\" is C:\dir\ and not a quote. The count and
// the vector, ending in a null pointer, live as long as the process and are
// stored through ARGC and ARGV.
void split_command_line(const char* line, int* argc, char*** argv);
