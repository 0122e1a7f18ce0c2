// The command driver: options, the file pass, and the texts of the tool.
#pragma once

// The tool's entry; the platform's start-up calls it with the argument
// vector and exits with its result.
int kelto_main(int argc, char** argv);

void print_description();
[[noreturn]] void print_usage();

#include <cstddef>

// Converts one file in place through the temporary file: every line ending
// of type FROM becomes one of type TO. The user typed the first TYPED bytes
// of NAME (see plat_open).
void convert_file_in_place(const char* name, size_t typed, int from, int to);
