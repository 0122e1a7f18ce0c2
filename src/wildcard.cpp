#include "wildcard.h"

#include "dosmatch.h"
#include "mbchar.h"
#include "nocase.h"
#include "platform.h"

#include <algorithm>
#include <cassert>
#include <cstring>

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

// Directory tree

namespace {

// A search, a directory's path and the name pattern, of this many bytes or
// more is not made: the limit of a DOS search string.
const int search_limit = 1023;
const int path_buf_start = 512;
// Flags that no attr_mask covers: the entry is never accepted.
const unsigned rejected = ~0u;

char* copy_string(const char* s, int len)
{
    char* copy = new char[len + 1];
    std::memcpy(copy, s, len);
    copy[len] = '\0';
    return copy;
}

int length(const char* s)
{
    return static_cast<int>(std::strlen(s));
}

// Writes A followed by B and a NUL into OUT, which must hold them.
char* concat(char* out, const char* a, const char* b)
{
    int a_len = length(a);
    std::memcpy(out, a, a_len);
    std::memcpy(out + a_len, b, length(b) + 1);
    return out;
}

// Starts listing the directory PATH for the entries that PATTERN may match;
// null when the search, more than 1022 bytes, is not made or the platform
// lists nothing.
find_handle* start_search(const char* path, const char* pattern, find_entry* e)
{
    if (length(path) + length(pattern) >= search_limit)
        return nullptr;
    return plat_find_first(path, e);
}

// One bit of each pair of accepted states, from the platform's attributes.
unsigned entry_flags(unsigned attrib)
{
    return ((attrib & attr_hidden) ? accept_hidden : accept_not_hidden) |
           ((attrib & attr_system) ? accept_system : accept_not_system) |
           ((attrib & attr_readonly) ? accept_readonly : accept_not_readonly);
}

}  // namespace

const char* FileEntry::full_path()
{
    return parent->full_path(name);
}

PathTree::PathTree(const char* arg, unsigned attr_mask, int subdir_flag, int sort_flag)
    : DirNode(nullptr, copy_string(arg, dir_prefix_length(arg))), subdir_flag(subdir_flag),
      sort_flag(sort_flag),
      pattern(copy_string(arg + dir_prefix_length(arg), length(arg) - dir_prefix_length(arg))),
      attr_mask(attr_mask), path_buf(new char[path_buf_start]), path_buf_size(path_buf_start)
{
}

void PathTree::grow_path_buf()
{
    delete[] path_buf;
    path_buf_size *= 2;
    path_buf = new char[path_buf_size];
}

PathTree* DirNode::find_root()
{
    DirNode* node = this;
    while (node->parent)
        node = node->parent;
    return static_cast<PathTree*>(node);
}

void DirNode::ensure_scanned()
{
    if (cursor >= 0)
        return;
    scan_files();
    scan_subdirs();
    cursor = 0;
    sort_lists();
}

void DirNode::scan_files()
{
    PathTree* root = find_root();
    // A pattern without extension (*, abc*) accepts only names without one,
    // though dos_match lets them through.
    bool no_extension = extension_length(root->pattern) == 0;
    find_entry e;
    find_handle* h = start_search(name, root->pattern, &e);
    if (!h)
        return;
    do {
        unsigned flags = entry_flags(e.attrib);
        if ((e.attrib & attr_directory) || !dos_match(root->pattern, e.name) ||
            (no_extension && extension_length(e.name) > 0))
            flags = rejected;
        if ((root->attr_mask & flags) == flags && spelled(e))
            files.insert(-1, new FileEntry(this, copy_string(e.name, length(e.name))));
    } while (plat_find_next(h, &e));
    plat_find_close(h);
}

void DirNode::scan_subdirs()
{
    if (!find_root()->subdir_flag)
        return;
    find_entry e;
    find_handle* h = start_search(name, "*.*", &e);
    if (!h)
        return;
    do {
        // Names that begin with a dot are never entered: . and .. among them.
        if ((e.attrib & attr_directory) && e.name[0] != '.' && spelled(e)) {
            int len = length(name) + length(e.name);
            char* path = concat(new char[len + 2], name, e.name);
            path[len] = '\\';
            path[len + 1] = '\0';
            subdirs.insert(-1, new DirNode(this, path));
        }
    } while (plat_find_next(h, &e));
    plat_find_close(h);
}

namespace {

// True when the name of E, followed by a '\', keeps that '\' a character
// of its own. A name that ends in a lone lead byte would take it as its
// second byte: the path would name another directory.
bool joins(const find_entry& e)
{
    char joined[sizeof e.name + 1];
    int n = length(e.name);
    std::memcpy(joined, e.name, n);
    joined[n] = '\\';
    joined[n + 1] = '\0';
    return dir_prefix_length(joined) == n + 1;
}

}  // namespace

bool DirNode::spelled(const find_entry& e)
{
    if (e.exact && (!(e.attrib & attr_directory) || joins(e)))
        return true;
    PathTree* root = find_root();
    if (!root->unspelled)
        root->unspelled = concat(new char[length(name) + length(e.name) + 1], name, e.name);
    return false;
}

int compare_names(const FileEntry* a, const FileEntry* b)
{
    return compare_nocase(a->name, b->name);
}

namespace {

// The sort's key of a name, which orders as compare_names where keys differ.
std::uint64_t name_key(const FileEntry* e)
{
    return nocase_key(e->name);
}

}  // namespace

void DirNode::sort_lists()
{
    if (!find_root()->sort_flag)
        return;
    files.sort(compare_names, name_key);
    subdirs.sort(compare_names, name_key);
}

int DirNode::count_files()
{
    ensure_scanned();
    int n = files.count();
    for (int k = 0; k < subdirs.count(); ++k)
        n += subdirs.get(k)->count_files();
    return n;
}

void DirNode::reset()
{
    if (cursor < 0)
        return;
    cursor = 0;
    for (int k = 0; k < subdirs.count(); ++k)
        subdirs.get(k)->reset();
}

FileEntry* DirNode::next_file()
{
    ensure_scanned();
    if (cursor < files.count())
        return files.get(cursor++);
    for (;;) {
        int k = cursor - files.count();
        if (k >= subdirs.count())
            return nullptr;
        if (FileEntry* f = subdirs.get(k)->next_file())
            return f;
        ++cursor;
    }
}

const char* DirNode::full_path(const char* file_name)
{
    PathTree* root = find_root();
    while (length(name) + length(file_name) + 1 >= root->path_buf_size)
        root->grow_path_buf();
    return concat(root->path_buf, name, file_name);
}

// Argument expansion

bool opt_subdir = false;
bool opt_sort = true;
bool opt_hidden = false;
bool opt_system = false;

namespace {

// For each entry of the vector that expand_wildcards made last, the length
// of the directory part typed in the pattern that found it, or -1 for an
// entry kept as it was typed.
int* typed_parts = nullptr;
int found_count = 0;
const char* first_unspelled = nullptr;

}  // namespace

bool is_wildcard(const char* arg)
{
    if (arg[0] == '/' || arg[0] == '-')
        return false;
    return std::strpbrk(arg, "*?") != nullptr;
}

bool wildcard_option(const char* arg)
{
    if (arg[0] != '/' && arg[0] != '-')
        return false;
    const char* word = arg + 1;
    if (equal_nocase(word, "subdir"))
        opt_subdir = true;
    else if (equal_nocase(word, "nosort"))
        opt_sort = false;
    else if (equal_nocase(word, "hidden"))
        opt_hidden = true;
    else if (equal_nocase(word, "system"))
        opt_system = true;
    else
        return false;
    return true;
}

// Index 0 is the program's name, kept as it is: never an option and never a
// pattern, so that a program run as ./k?/kelto or installed as /system still
// finds its own arguments after it.
const char* expand_wildcards(int argc, char** argv, int* new_argc, char*** new_argv)
{
    // The options hold for every pattern, wherever they stand.
    for (int ia = 1; ia < argc; ++ia)
        wildcard_option(argv[ia]);
    unsigned attr_mask =
        accept_not_hidden | accept_not_system | accept_readonly | accept_not_readonly;
    if (opt_hidden)
        attr_mask |= accept_hidden;
    if (opt_system)
        attr_mask |= accept_system;

    PathTree** tree = new PathTree*[argc]();
    const char* result = nullptr;
    first_unspelled = nullptr;
    int ian = argc > 0 ? 1 : 0;
    for (int ia = 1; ia < argc; ++ia) {
        if (!is_wildcard(argv[ia])) {
            if (!wildcard_option(argv[ia]))
                ++ian;
            continue;
        }
        tree[ia] = new PathTree(argv[ia], attr_mask, opt_subdir, opt_sort);
        int n = tree[ia]->count_files();
        ian += n;
        if (n == 0)
            result = argv[ia];
        if (!first_unspelled)
            first_unspelled = tree[ia]->unspelled;
    }

    char** args = new char*[ian + 1];
    typed_parts = new int[ian + 1];
    std::fill(typed_parts, typed_parts + ian + 1, -1);
    found_count = ian;
    int ian2 = 0;
    if (argc > 0)
        args[ian2++] = argv[0];
    for (int ia = 1; ia < argc; ++ia) {
        if (!is_wildcard(argv[ia])) {
            if (!wildcard_option(argv[ia]))
                args[ian2++] = argv[ia];
            continue;
        }
        assert(tree[ia]);
        tree[ia]->reset();
        const int typed = dir_prefix_length(argv[ia]);
        while (FileEntry* f = tree[ia]->next_file()) {
            const char* path = f->full_path();
            typed_parts[ian2] = typed;
            args[ian2++] = copy_string(path, length(path));
        }
    }
    assert(ian == ian2);
    args[ian] = nullptr;
    *new_argc = ian;
    *new_argv = args;
    return result;
}

const char* unspelled_path()
{
    return first_unspelled;
}

bool found_by_pattern(int index)
{
    assert(index >= 0 && index < found_count);
    return typed_parts[index] >= 0;
}

size_t typed_length(int index)
{
    return found_by_pattern(index) ? static_cast<size_t>(typed_parts[index]) : SIZE_MAX;
}
