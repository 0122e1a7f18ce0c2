// Wildcard expansion of the argument vector.
#pragma once

#include "llst.h"

#include <cstddef>
#include <cstdint>

// Path-name scanning. Paths are byte strings in the system's code page
// (mbchar.h), in which a later byte of a character may have the value of '\'
// or '.', so the scanners walk whole characters and only ':' and '\'
// separate the parts of a path.

// The number of bytes from the start of PATH through its last ':' or '\';
// 0 when it has none. "src\*.c" gives 4.
int dir_prefix_length(const char* path);

// The number of bytes after the last dot of NAME's last component that
// follows a character other than a dot; 0 when there is no such dot.
// "x.tar.gz" gives 2, ".profile" and "a." give 0.
int extension_length(const char* name);

// The directory tree of one wildcard argument. Directories are read lazily,
// once each, through the platform's enumeration; the lists of every directory
// are sorted by name unless sorting is off; the walk yields a directory's own
// files, then each subdirectory's, depth first. Nothing of a tree is ever
// freed but the path buffer that a larger one replaces.

struct DirNode;
struct PathTree;
struct find_entry;

// An accepted file: NAME is the name as the enumeration gave it.
struct FileEntry {
    DirNode* parent;
    char* name;

    FileEntry(DirNode* parent, char* name) : parent(parent), name(name) {}

    // The path of the file, in the tree's shared buffer: valid until the next
    // full_path call on any node of the same tree.
    const char* full_path();
};

// A directory: NAME is the text put in front of a file name to give its
// path, empty or ending in ':' or '\' ("", "C:", "src\", "src\lib\").
struct DirNode : FileEntry {
    // -1 until scanned; then the walk position: below files.count() the next
    // file, files.count() + k while subdirectory k is walked.
    int cursor = -1;
    IndexedList<DirNode> subdirs;
    IndexedList<FileEntry> files;

    DirNode(DirNode* parent, char* path) : FileEntry(parent, path) {}

    PathTree* find_root();
    // The accepted files of this directory and of every one below it.
    int count_files();
    // Starts the walk anew; a node never scanned is left alone.
    void reset();
    // The next accepted file in walk order, or null when the walk is over.
    FileEntry* next_file();
    // This directory's path followed by NAME, in the root's path buffer.
    const char* full_path(const char* name);

    void ensure_scanned();
    void scan_files();
    void scan_subdirs();
    void sort_lists();
    // True when entry E, which the scan would take, may be taken: the code
    // page spells its name and, for a directory, keeps the '\' put after
    // it apart. Otherwise its path is noted as unspelled in the root.
    bool spelled(const find_entry& e);
};

// Accepted entry states, one bit each (see entry_flags in wildcard.cpp).
enum {
    accept_hidden = 1,
    accept_not_hidden = 2,
    accept_system = 4,
    accept_not_system = 8,
    accept_readonly = 16,
    accept_not_readonly = 32,
};

// The root of the tree of one argument such as "src\*.c".
struct PathTree : DirNode {
    int subdir_flag;     // non-zero: subdirectories are scanned and walked
    int sort_flag;       // non-zero: both lists of every node are sorted
    char* pattern;       // the argument after its directory prefix
    unsigned attr_mask;  // the accept_ bits of the states let through
    char* path_buf;      // where full paths are built
    int path_buf_size;
    // The path of the first file or subdirectory that the tree would take
    // but whose name the code page cannot spell, or null. It is left out:
    // its name as listed denotes no such file.
    char* unspelled = nullptr;

    PathTree(const char* arg, unsigned attr_mask, int subdir_flag, int sort_flag);
    // Replaces the path buffer by one of twice the size; the contents go.
    void grow_path_buf();
};

// The order of both lists: the names compared by compare_nocase.
int compare_names(const FileEntry* a, const FileEntry* b);

// Argument expansion.

// The expansion's options, set by wildcard_option and kept for the run.
extern bool opt_subdir;
extern bool opt_sort;
extern bool opt_hidden;
extern bool opt_system;

// True for an argument that is not an option and contains '*' or '?'.
bool is_wildcard(const char* arg);

// True, with its switch set, for "subdir", "nosort", "hidden" or "system"
// after '/' or '-', in any case.
bool wildcard_option(const char* arg);

// Replaces every wildcard pattern of the vector by the paths of its matching
// files and drops the expansion's own options. The new count and vector,
// ending in a null pointer, are stored through NEW_ARGC and NEW_ARGV; the
// result is the last pattern that matched nothing, or null.
const char* expand_wildcards(int argc, char** argv, int* new_argc, char*** new_argv);

// The path of the first file or subdirectory that expand_wildcards would
// have taken last but left out because the code page cannot spell its name
// (see PathTree::unspelled), or null. The run must not go on as if the
// pattern had taken what it names.
const char* unspelled_path();

// True when entry INDEX of the vector that expand_wildcards made last is the
// path of a file that a pattern found. Such an entry names a file, whatever
// its first byte: a file called -ud in the directory must not turn a report
// into a conversion.
bool found_by_pattern(int index);

// The number of leading bytes of entry INDEX of that vector that the user
// typed: the pattern's directory part for a path it found, SIZE_MAX (all of
// them) for an entry kept as typed. The rest of a found path is names read
// from directories, which whoever may write in them chooses.
size_t typed_length(int index);
