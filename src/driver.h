// The command driver: options, the file pass, and the texts of the tool.
#pragma once

// The tool's entry; the platform's start-up calls it with the argument
// vector and exits with its result.
int kelto_main(int argc, char** argv);

void print_description();
[[noreturn]] void print_usage();
