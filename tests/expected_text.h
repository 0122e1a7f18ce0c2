// What the tests expect of the tool, written once for every test program:
// the report line, the error line and the screens it prints, and the bytes
// of literals with NUL bytes in them. Header-only, so that the test programs
// without the harness (the Windows start-up tests, the unit tests) share it.
//
// Each text ends its lines with "\n"; with_line_feed writes them the way a
// given build of the tool prints them.
#pragma once

#include <cstddef>
#include <string>

namespace expected {

// The bytes of a literal, NUL bytes included.
template <size_t N>
std::string bytes_of(const char (&s)[N])
{
    return std::string(s, N - 1);
}

// TEXT with every "\n" written as NEWLINE.
inline std::string with_line_feed(const std::string& text, const std::string& newline)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += newline;
        else
            out += c;
    }
    return out;
}

// The /v line of NAME: the name filled with blanks to 30 columns (a longer
// one whole), then KINDS, each kind with its leading blank (" dos unix").
inline std::string report_line(const std::string& name, const std::string& kinds)
{
    std::string field = name;
    if (field.size() < 30)
        field.resize(30, ' ');
    return field + kinds + "\n";
}

inline std::string error_line(const std::string& message, const std::string& subject)
{
    return "error : " + message + " : " + subject + ".\n";
}

inline std::string error_line(const std::string& message)
{
    return "error : " + message + ".\n";
}

const char banner_title[] = "Tervolin  KELTO Version 1.11 for DOS32";

// The banner and the usage text, as a run with nothing to do prints them.
const std::string usage_screen =
    std::string(banner_title) +
    "\n"
    "Copyright (C) 2026 the kelto developers. Free software, no warranty.\n"
    "\n"
    "Usage > kelto [/du|/ud|/dm|/md|/um|/mu] [/v] [/subdir] [/hidden] <file>...\n"
    "      > kelto /?\n"
    "\n"
    "/du : convert dos to unix (0D,0A to 0A)\n"
    "/ud : convert unix to dos (0A to 0D,0A)\n"
    "/dm : convert dos to mac (0D,0A to 0D)\n"
    "/md : convert mac to dos (0D to 0D,0A)\n"
    "/um : convert unix to mac (0A to 0D)\n"
    "/mu : convert mac to unix (0D to 0A)\n"
    "/v  : display return code type used in input file\n"
    "/?  : description\n"
    "/subdir : process files in subdirectories, too\n"
    "/hidden : process hidden files, too\n"
    "<file>  : file(s) to convert (wildcald available)\n";

const std::string description_screen =
    "Return character of text files are different by operating system as follows:\n"
    "\n"
    "DOS, Windows   0D 0A   (\\r\\n)\n"
    "UNIX           0A      (\\n)\n"
    "Machintosh     0D      (\\r)\n"
    "\n"
    "KELTO convert these return characters each other.\n"
    "\n"
    "If you convert UNIX type to other type, only single 0A codes are converted,\n"
    "and 0D,0A sequences remain as they are. Similary, If you convert Machintosh\n"
    "type to other type, only single 0D codes are converted, and 0D,0A sequences\n"
    "will not be changed.\n"
    "\n"
    "Options are preceded by \"/\" or \"-\".\n"
    "\n"
    "The kelto developers <kelto@example.org>\n"
    "    Report a fault by mail to that address, with the command and its output.\n"
    "    The Debian package lists its changes in /usr/share/doc/kelto/changelog.gz.\n";

}  // namespace expected
