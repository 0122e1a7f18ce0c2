#include "wildcard.h"

bool is_lead_byte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

int char_size(const char* s)
{
    // Taking the NUL as a second byte would walk past the end of the string.
    return is_lead_byte(static_cast<unsigned char>(s[0])) && s[1] != '\0' ? 2 : 1;
}

namespace {

bool is_separator(char c)
{
    return c == ':' || c == '\\';
}

}  // namespace

int dir_prefix_length(const char* path)
{
    int result = 0;
    for (int pos = 0; path[pos] != '\0'; pos += char_size(path + pos)) {
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
    for (; name[pos] != '\0'; pos += char_size(name + pos)) {
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
