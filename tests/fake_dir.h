// An in-memory directory listing that stands in for the platform's
// enumeration (plat_find_first/next/close) in the wildcard tests.
#pragma once

#include <string>
#include <vector>

struct fake_entry {
    std::string path;   // DOS path: directory part through the last ':' or '\'
    unsigned attrib;    // attr_ bits of platform.h
    bool exact = true;  // false: listed as a name the code page cannot spell
};

// Replaces the listing. A directory lists the entries whose directory part
// is its path exactly, in the order given here (the platform's order),
// after "." and ".."; the current directory and any directory part that
// some entry has exist.
void fake_dir_set(std::vector<fake_entry> entries);

// Every directory given to find-first since fake_dir_set, in order.
extern std::vector<std::string> fake_searches;
// Searches started and not yet closed.
extern int fake_open_handles;
