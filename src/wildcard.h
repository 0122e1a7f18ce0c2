// Wildcard expansion of the argument vector.
#pragma once

// Replaces every wildcard pattern of the vector by the paths of its matching
// files and drops the expansion's own options. The new count and vector are
// stored through NEW_ARGC and NEW_ARGV; the result is the last pattern that
// matched nothing, or null.
const char* expand_wildcards(int argc, char** argv, int* new_argc, char*** new_argv);
