#include "cmdline.h"

#include <cstring>
#include <vector>

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Splits LINE in place; the write position never passes the read position.
std::vector<char*> split_arguments(char* line)
{
    std::vector<char*> args;
    char* in = line;
    char* out = line;
    while (true) {
        while (is_blank(*in))
            ++in;
        if (!*in)
            return args;
        args.push_back(out);
        bool quoted = false;
        for (; *in && (quoted || !is_blank(*in)); ++in) {
            if (*in == '"')
                quoted = !quoted;
            else
                *out++ = *in;
        }
        // The byte ending the argument (a blank or the line's end) has been
        // read, so its place can hold the terminator.
        bool at_end = !*in;
        *out++ = '\0';
        if (at_end)
            return args;
        ++in;
    }
}

}  // namespace

void split_command_line(const char* line, int* argc, char*** argv)
{
    size_t size = std::strlen(line) + 1;
    char* copy = new char[size];
    std::memcpy(copy, line, size);
    std::vector<char*> args = split_arguments(copy);
    char** vec = new char*[args.size() + 1];
    for (size_t i = 0; i < args.size(); ++i)
        vec[i] = args[i];
    vec[args.size()] = nullptr;
    *argc = static_cast<int>(args.size());
    *argv = vec;
}
