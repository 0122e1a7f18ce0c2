#include "wildcard.h"

bool is_lead_byte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

namespace {

// The position after the character that starts at S[pos]. A lead byte right
// before the terminating NUL is a character of its own, so the walk never
// passes the end of the string.
int next_char(const char* s, int pos)
{
    if (is_lead_byte(static_cast<unsigned char>(s[pos])) && s[pos + 1] != '\0')
        return pos + 2;
    return pos + 1;
}

bool is_separator(char c)
{
    return c == ':' || c == '\\';
}

}  // namespace

int dir_prefix_length(const char* path)
{
    int result = 0;
    for (int pos = 0; path[pos] != '\0'; pos = next_char(path, pos)) {
        if (is_separator(path[pos]))
            result = pos + 1;
    }
    return result;
}

int extension_length(const char* name)
{
    int start = -1;     // where the extension begins, -1 for none
    bool seen = false;  // the component has had a character other than a dot
    int pos = 0;
    for (; name[pos] != '\0'; pos = next_char(name, pos)) {
        if (is_separator(name[pos])) {
            start = -1;
            seen = false;
        } else if (name[pos] == '.') {
            if (seen)
                start = pos + 1;
        } else {
            seen = true;
        }
    }
    return start >= 0 ? pos - start : 0;
}

const char* expand_wildcards(int argc, char** argv, int* new_argc, char*** new_argv)
{
    *new_argc = argc;
    *new_argv = argv;
    return nullptr;
}
