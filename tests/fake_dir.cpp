#include "fake_dir.h"

#include "platform.h"
#include "wildcard.h"

#include <gtest/gtest.h>

#include <cstring>

std::vector<std::string> fake_searches;
int fake_open_handles = 0;

namespace {

std::vector<fake_entry> listing;

std::string dir_part(const std::string& path)
{
    return path.substr(0, dir_prefix_length(path.c_str()));
}

void fill(find_entry* out, const std::string& name, unsigned attrib, bool exact)
{
    // An entry holds at most 259 bytes of name; a longer one is a fault of
    // the test's table.
    EXPECT_LT(name.size(), sizeof out->name) << name;
    std::strncpy(out->name, name.c_str(), sizeof out->name - 1);
    out->name[sizeof out->name - 1] = '\0';
    out->attrib = attrib;
    out->exact = exact;
}

}  // namespace

struct find_handle {
    std::vector<fake_entry> found;  // name and attributes of each match
    size_t next = 0;
};

void fake_dir_set(std::vector<fake_entry> entries)
{
    listing = std::move(entries);
    fake_searches.clear();
    fake_open_handles = 0;
}

find_handle* plat_find_first(const char* dir, find_entry* out)
{
    fake_searches.push_back(dir);
    find_handle h;
    bool exists = !*dir;
    for (const fake_entry& e : listing) {
        if (dir_part(e.path) != dir)
            continue;
        exists = true;
        h.found.push_back({e.path.substr(std::strlen(dir)), e.attrib, e.exact});
    }
    // A directory that exists lists itself and its parent first.
    for (const char* dot : {"..", "."}) {
        if (exists)
            h.found.insert(h.found.begin(), {dot, attr_directory});
    }
    if (h.found.empty())
        return nullptr;
    ++fake_open_handles;
    auto* handle = new find_handle(std::move(h));
    plat_find_next(handle, out);
    return handle;
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    if (h->next == h->found.size())
        return false;
    const fake_entry& e = h->found[h->next++];
    fill(out, e.path, e.attrib, e.exact);
    return true;
}

void plat_find_close(find_handle* h)
{
    --fake_open_handles;
    delete h;
}
