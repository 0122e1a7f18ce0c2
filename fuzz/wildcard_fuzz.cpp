// The wildcard expansion over a random in-memory directory tree against a
// straightforward model of its walk: the same new argument vector (paths in
// the same order, kept arguments as the very same pointers) and the same
// unmatched pattern.
//
// The tree comes from the input: names of letters in both cases, dots,
// two-byte characters (also ones whose second byte is '\' or '.'), UTF-8
// characters, lead bytes at the end, names up to the platform's 259 bytes,
// so that paths reach the search limits; random attributes; entries in
// random platform order, with "." and ".." among them now and then. The
// first byte of the input chooses the code page that names are walked by
// (fuzz_util.h), the rest makes the tree and the arguments. This file
// stands in for the platform's directory listing (plat_find_*), which
// lists every entry; the model matches names by the DOS rules of dosmatch.h,
// as the tree does.
//
// The expansion keeps everything it allocates until the process ends. The
// fuzzer takes back what one run allocated once the run is checked, so that
// thousands of runs fit in memory; the expansion's option switches are reset
// likewise, as each run is a process of its own to the tool.
#include "dosmatch.h"
#include "nocase.h"
#include "platform.h"
#include "wildcard.h"

#include "fuzz_util.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>

namespace {

// ---- Allocations of one run --------------------------------------------

// While a run is tracked, every block that operator new hands out is noted,
// and those still held at its end are freed. The operators below replace
// the sanitizer's, so they check themselves what it would: that a block
// from new[] goes back through delete[] and one from new through delete.
enum alloc_kind : size_t { single_alloc = 0x5151, array_alloc = 0xA2A2 };

// The kind is kept in front of the block, in a header that keeps the
// alignment of malloc.
const size_t header_size = alignof(std::max_align_t);

struct arena {
    static const size_t capacity = 1 << 20;
    char* blocks[capacity];
    size_t count = 0;
    bool tracking = false;
};

arena run_memory;

void* tracked_alloc(size_t size, alloc_kind kind)
{
    char* base = static_cast<char*>(malloc(header_size + size));
    if (!base)
        abort();
    *reinterpret_cast<size_t*>(base) = kind;
    if (run_memory.tracking) {
        check(run_memory.count < arena::capacity);
        run_memory.blocks[run_memory.count++] = base;
    }
    return base + header_size;
}

void tracked_free(void* p, alloc_kind kind)
{
    if (!p)
        return;
    char* base = static_cast<char*>(p) - header_size;
    check(*reinterpret_cast<size_t*>(base) == kind);
    *reinterpret_cast<size_t*>(base) = 0;
    if (run_memory.tracking) {
        // A block freed during the run is mostly a recent one.
        for (size_t i = run_memory.count; i-- > 0;) {
            if (run_memory.blocks[i] == base) {
                run_memory.blocks[i] = run_memory.blocks[--run_memory.count];
                break;
            }
        }
    }
    free(base);
}

void free_run_memory()
{
    run_memory.tracking = false;
    for (size_t i = 0; i < run_memory.count; ++i)
        free(run_memory.blocks[i]);
    run_memory.count = 0;
}

}  // namespace

void* operator new(size_t size)
{
    return tracked_alloc(size, single_alloc);
}
void* operator new[](size_t size)
{
    return tracked_alloc(size, array_alloc);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return tracked_alloc(size, single_alloc);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return tracked_alloc(size, array_alloc);
}
void operator delete(void* p) noexcept
{
    tracked_free(p, single_alloc);
}
void operator delete[](void* p) noexcept
{
    tracked_free(p, array_alloc);
}
void operator delete(void* p, size_t) noexcept
{
    tracked_free(p, single_alloc);
}
void operator delete[](void* p, size_t) noexcept
{
    tracked_free(p, array_alloc);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    tracked_free(p, single_alloc);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    tracked_free(p, array_alloc);
}

namespace {

// ---- The directory tree ----------------------------------------------------

struct fake_entry {
    std::string name;
    unsigned attrib;
    int dir;  // index of the directory it stands for, or -1
};

struct fake_dir {
    std::vector<fake_entry> entries;  // in platform order
};

std::vector<fake_dir> dirs;  // dirs[0] is the current directory
int open_handles = 0;
fuzz_code_page code_page_of_run = cp_932;

// The size of the character at I.
size_t char_len(const std::string& s, size_t i)
{
    const auto* u = reinterpret_cast<const unsigned char*>(s.c_str());
    return model_char_size(code_page_of_run, u + i, s.size() - i);
}

// The length of the directory part: through the last ':' or '' that is a
// character of its own.
size_t prefix_length(const std::string& s)
{
    size_t len = 0;
    for (size_t i = 0; i < s.size(); i += char_len(s, i)) {
        if (s[i] == '\\' || s[i] == ':')
            len = i + 1;
    }
    return len;
}

// The directory that PATH ("", "a\", "a\b\") names, or -1. The walk goes by
// characters: a '\' that is the second byte of one separates nothing.
int resolve(const std::string& path)
{
    int dir = 0;
    std::string part;
    for (size_t i = 0; i < path.size(); i += char_len(path, i)) {
        if (path[i] == ':')
            return -1;
        if (path[i] != '\\') {
            part += path.substr(i, char_len(path, i));
            continue;
        }
        int next = -1;
        for (const fake_entry& e : dirs[dir].entries) {
            if (e.dir >= 0 && e.name == part && part != "." && part != "..")
                next = e.dir;
        }
        if (next < 0)
            return -1;
        dir = next;
        part.clear();
    }
    return part.empty() ? dir : -1;
}

// The entries of the directory PATH, in platform order.
std::vector<const fake_entry*> listing(const std::string& path)
{
    std::vector<const fake_entry*> found;
    int dir = resolve(path);
    if (dir < 0)
        return found;
    for (const fake_entry& e : dirs[dir].entries)
        found.push_back(&e);
    return found;
}

}  // namespace

struct find_handle {
    std::vector<const fake_entry*> found;
    size_t next;
};

namespace {

void fill(const fake_entry* e, find_entry* out)
{
    memcpy(out->name, e->name.c_str(), e->name.size() + 1);
    out->attrib = e->attrib;
    out->exact = true;
}

}  // namespace

find_handle* plat_find_first(const char* dir, find_entry* out)
{
    // The expansion never searches more than 1022 bytes, the name pattern
    // included.
    check(strlen(dir) <= 1022);
    std::vector<const fake_entry*> found = listing(dir);
    if (found.empty())
        return nullptr;
    fill(found[0], out);
    ++open_handles;
    return new find_handle{found, 1};
}

bool plat_find_next(find_handle* h, find_entry* out)
{
    if (h->next == h->found.size())
        return false;
    fill(h->found[h->next++], out);
    return true;
}

void plat_find_close(find_handle* h)
{
    check(h != nullptr);
    --open_handles;
    delete h;
}

namespace {

// ---- The model -------------------------------------------------------------

struct switches {
    bool subdir = false;
    bool sort = true;
    bool hidden = false;
    bool system = false;
};

int lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int model_compare(const std::string& a, const std::string& b)
{
    for (size_t i = 0;; ++i) {
        int ca = i < a.size() ? lower(a[i]) : -1;
        int cb = i < b.size() ? lower(b[i]) : -1;
        if (ca != cb || ca < 0)
            return ca - cb;
    }
}

// The length of what follows the last dot of the last component that comes
// after a character other than a dot.
size_t model_extension(const std::string& s)
{
    size_t start = std::string::npos;
    bool seen = false;
    for (size_t i = 0; i < s.size(); i += char_len(s, i)) {
        if (s[i] == '\\' || s[i] == ':') {
            start = std::string::npos;
            seen = false;
        } else if (s[i] == '.') {
            if (seen)
                start = i + 1;
        } else {
            seen = true;
        }
    }
    return start == std::string::npos ? 0 : s.size() - start;
}

bool accepted(const fake_entry& e, const std::string& pattern, const switches& sw)
{
    if (e.attrib & attr_directory)
        return false;
    if (model_extension(pattern) == 0 && model_extension(e.name) > 0)
        return false;
    if ((e.attrib & attr_hidden) && !sw.hidden)
        return false;
    return !(e.attrib & attr_system) || sw.system;
}

void model_walk(const std::string& path, const std::string& pattern, const switches& sw,
                std::vector<std::string>& out)
{
    std::vector<std::string> files;
    if (path.size() + pattern.size() <= 1022) {
        for (const fake_entry* e : listing(path)) {
            if (dos_match(pattern.c_str(), e->name.c_str()) && accepted(*e, pattern, sw))
                files.push_back(e->name);
        }
    }
    std::vector<std::string> subs;
    if (sw.subdir && path.size() <= 1019) {
        for (const fake_entry* e : listing(path)) {
            if ((e->attrib & attr_directory) && e->name[0] != '.')
                subs.push_back(path + e->name + "\\");
        }
    }
    if (sw.sort) {
        // The list's sort is not stable: the order of equal names is checked too.
        selection_sort(files, model_compare);
        selection_sort(subs, model_compare);
    }
    for (const std::string& f : files)
        out.push_back(path + f);
    for (const std::string& s : subs)
        model_walk(s, pattern, sw, out);
}

bool model_option(const std::string& arg, switches& sw)
{
    if (arg.empty() || (arg[0] != '/' && arg[0] != '-'))
        return false;
    std::string word = arg.substr(1);
    if (model_compare(word, "subdir") == 0)
        sw.subdir = true;
    else if (model_compare(word, "nosort") == 0)
        sw.sort = false;
    else if (model_compare(word, "hidden") == 0)
        sw.hidden = true;
    else if (model_compare(word, "system") == 0)
        sw.system = true;
    else
        return false;
    return true;
}

bool model_is_wildcard(const std::string& arg)
{
    if (!arg.empty() && (arg[0] == '/' || arg[0] == '-'))
        return false;
    return arg.find_first_of("*?") != std::string::npos;
}

struct expected_run {
    std::vector<std::string> args;  // the new vector's strings
    std::vector<int> kept;          // per entry: the old index it keeps, or -1
    int unmatched = -1;             // the old index of the result, or -1
};

expected_run model_expand(const std::vector<std::string>& argv)
{
    switches sw;
    for (const std::string& a : argv)
        model_option(a, sw);
    expected_run x;
    for (size_t i = 0; i < argv.size(); ++i) {
        switches ignored;
        if (!model_is_wildcard(argv[i])) {
            if (!model_option(argv[i], ignored)) {
                x.args.push_back(argv[i]);
                x.kept.push_back(static_cast<int>(i));
            }
            continue;
        }
        size_t split = prefix_length(argv[i]);
        size_t before = x.args.size();
        model_walk(argv[i].substr(0, split), argv[i].substr(split), sw, x.args);
        x.kept.resize(x.args.size(), -1);
        if (x.args.size() == before)
            x.unmatched = static_cast<int>(i);
    }
    return x;
}

// ---- The input -------------------------------------------------------------

// Characters that names are made of, in code page 932 or in UTF-8 (valid,
// invalid or cut short): one to four bytes each.
// clang-format off
const char* const name_chars[] = {
    "a",        "A",        "b",            "B",            "z",                "Z",    ".",
    ".",        "~",        "1",            "-",            "_",                "\x81\x40",
    "\x95\x5C", "\x82\x2E", "\xE0\x61",     "\xFC\xFC",     "\xA0",             "\xDF", "\xFF",
    "\xC3\x84", "\xC3\x9F", "\xE3\x81\x82", "\xE0\x80\x80", "\xF0\x9F\x98\x80", "\xED\xA0\x80",
    "\xC3",
};
// clang-format on
const int name_char_count = sizeof name_chars / sizeof name_chars[0];

std::string make_name(reader& in)
{
    int kind = in.next();
    std::string name;
    if (kind >= 0xF0) {
        // A long name, up to the 259 bytes an entry holds.
        size_t len = 200 + in.next() % 60;
        name.assign(len - 4, "aB"[kind & 1]);
        name += ".txt";
    } else {
        for (int n = 1 + kind % 6; n > 0; --n)
            name += name_chars[in.next() % name_char_count];
        // A lead byte standing last, before the NUL.
        if (kind % 7 == 0)
            name += '\x81';
    }
    return name;
}

int make_dir(reader& in, int depth, size_t path_len);

// A chain of directories with long names whose path ends a few bytes either
// side of the search limits (1019 bytes for subdirectories, 1022 with the
// pattern), with random content at its end: random names alone rarely add
// up to exactly those lengths.
int make_chain(reader& in, int depth, size_t path_len)
{
    size_t target = 1012 + in.next() % 14;
    if (path_len + 2 > target)
        return make_dir(in, depth + 1, path_len + 2);
    size_t rest = target - path_len;
    // A name of 1 to 250 bytes and its '', never leaving a single byte.
    size_t n = rest - 1 > 250 ? (rest - 251 == 1 ? 249 : 250) : rest - 1;
    int self = static_cast<int>(dirs.size());
    dirs.emplace_back();
    std::string name(n, "cC"[rest % 2]);
    int child =
        rest == n + 1 ? make_dir(in, depth + 1, target) : make_chain(in, depth, path_len + n + 1);
    dirs[self].entries.push_back({name, attr_directory, child});
    return self;
}

// A directory whose path (in the tool's writing) is PATH_LEN bytes long.
int make_dir(reader& in, int depth, size_t path_len)
{
    int self = static_cast<int>(dirs.size());
    dirs.emplace_back();
    int count = in.next() % 7;
    for (int i = 0; i < count && in.more(); ++i) {
        int kind = in.next();
        if (kind % 16 == 15) {
            // The platform may list the directory itself and its parent.
            dirs[self].entries.push_back({kind & 16 ? "." : "..", attr_directory, -1});
            continue;
        }
        fake_entry e{make_name(in), static_cast<unsigned>(kind) & 0x07, -1};
        if (kind % 16 == 14 && depth < 6) {
            e.attrib = attr_directory;
            e.dir = make_chain(in, depth + 1, path_len + e.name.size() + 1);
        } else if ((kind & 0x08) && depth < 6) {
            e.attrib |= attr_directory;
            e.dir = make_dir(in, depth + 1, path_len + e.name.size() + 1);
        }
        dirs[self].entries.push_back(e);
    }
    return self;
}

const char* const option_words[] = {"subdir", "SubDir", "nosort", "NOSORT",  "hidden",
                                    "Hidden", "system", "sysTem", "subdirs", "sub"};

// A directory part that names an existing directory (or, now and then, one
// that does not), then a name pattern.
std::string make_pattern(reader& in)
{
    std::string path;
    int dir = 0;
    while (in.next() % 3 != 0) {
        std::vector<const fake_entry*> subs;
        for (const fake_entry& e : dirs[dir].entries) {
            if (e.dir >= 0)
                subs.push_back(&e);
        }
        if (subs.empty())
            break;
        const fake_entry* e = subs[in.next() % subs.size()];
        path += e->name + "\\";
        dir = e->dir;
    }
    if (in.next() % 8 == 0)
        path += std::string(in.next() * 4 + 900, 'q') + "\\";
    std::string name;
    for (int n = 1 + in.next() % 5; n > 0; --n) {
        int c = in.next() % (name_char_count + 4);
        name += c < name_char_count ? name_chars[c] : c % 2 ? "*" : "?";
    }
    return path + name;
}

std::vector<std::string> make_args(reader& in)
{
    std::vector<std::string> args = {"kelto"};
    for (int n = 1 + in.next() % 5; n > 0 && in.more(); --n) {
        int kind = in.next() % 8;
        if (kind < 4)
            args.push_back(make_pattern(in));
        else if (kind == 4)
            args.push_back(std::string("/-").substr(in.next() % 2, 1) +
                           option_words[in.next() % 10]);
        else if (kind == 5)
            args.push_back("/du");
        else if (kind == 6)
            args.push_back("-*.txt");
        else
            args.push_back("plain.txt");
    }
    return args;
}

// Each run starts with the switches a new process has.
void reset_switches()
{
    opt_subdir = false;
    opt_sort = true;
    opt_hidden = false;
    opt_system = false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    reader in{data, size};
    code_page_of_run = select_code_page(in.next());
    make_dir(in, 0, 0);
    std::vector<std::string> args = make_args(in);
    expected_run x = model_expand(args);

    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int new_argc = 0;
    char** new_argv = nullptr;
    reset_switches();
    run_memory.tracking = true;
    const char* unmatched =
        expand_wildcards(static_cast<int>(args.size()), argv.data(), &new_argc, &new_argv);
    run_memory.tracking = false;

    check(open_handles == 0);
    check(new_argc == static_cast<int>(x.args.size()));
    for (int i = 0; i < new_argc; ++i) {
        check(new_argv[i] != nullptr && x.args[i] == new_argv[i]);
        if (x.kept[i] >= 0)
            check(new_argv[i] == argv[x.kept[i]]);
        check(found_by_pattern(i) == (x.kept[i] < 0));
    }
    check(new_argv[new_argc] == nullptr);
    check(unmatched == (x.unmatched >= 0 ? argv[x.unmatched] : nullptr));
    free_run_memory();
    // Everything of the run goes within the run, so that libFuzzer's leak
    // check has nothing to look into.
    dirs.clear();
    dirs.shrink_to_fit();
    return 0;
}
