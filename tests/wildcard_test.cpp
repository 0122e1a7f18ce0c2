// The directory tree and the argument expansion over the in-memory listing
// of fake_dir.cpp: drives, two-byte names, attributes and the length limits
// are all testable on any machine.
#include "code_page.h"
#include "fake_dir.h"
#include "platform.h"
#include "wildcard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using strings = std::vector<std::string>;

const unsigned dir = attr_directory;
const unsigned hid = attr_hidden;
const unsigned sys = attr_system;
const unsigned ro = attr_readonly;

const unsigned default_mask = 58;

// The full paths of a tree's walk after its count, which must agree.
strings walk(PathTree& t)
{
    int n = t.count_files();
    strings out;
    t.reset();
    while (FileEntry* f = t.next_file())
        out.push_back(f->full_path());
    EXPECT_EQ(static_cast<int>(out.size()), n);
    EXPECT_EQ(t.next_file(), nullptr);
    EXPECT_EQ(fake_open_handles, 0);
    return out;
}

strings tree_paths(const char* arg, unsigned mask = default_mask, int subdir = 0, int sort = 1)
{
    PathTree t(arg, mask, subdir, sort);
    return walk(t);
}

// A directory path of exactly LEN bytes, ending in '\', made of components
// short enough for the platform's names.
std::string long_dir(size_t len)
{
    std::string path;
    while (path.size() + 101 < len)
        path += std::string(100, 'd') + '\\';
    path += std::string(len - path.size() - 1, 'e') + '\\';
    return path;
}

struct tree_case {
    std::vector<fake_entry> listing;  // in the platform's order
    const char* arg;
    strings expected;
    const char* how = "";  // 's': subdirectories too, 'u': unsorted
    unsigned mask = default_mask;
};

void expect_trees(const tree_case* begin, const tree_case* end)
{
    for (const tree_case* c = begin; c != end; ++c) {
        fake_dir_set(c->listing);
        int subdir = std::strchr(c->how, 's') != nullptr;
        int sort = std::strchr(c->how, 'u') == nullptr;
        EXPECT_EQ(tree_paths(c->arg, c->mask, subdir, sort), c->expected)
            << c->arg << " " << c->how << " " << c->mask;
    }
}

TEST(path_tree, walks_accepted_files_in_order)
{
    select_code_page_932();
    const std::vector<fake_entry> attrs = {{"n.c", 0},  {"h.c", hid},        {"s.c", sys},
                                           {"r.c", ro}, {"hs.c", hid | sys}, {"hr.c", hid | ro}};
    const std::vector<fake_entry> src = {
        {"src\\b.c", 0}, {"src\\lib", dir}, {"src\\a.c", 0}, {"src\\lib\\x.c", 0}};
    const std::vector<fake_entry> two_byte_dir = {{"\x95\x5C", dir}, {"\x95\x5C\\a.txt", 0}};
    const std::vector<fake_entry> names = {{"README", 0}, {".profile", 0}, {"a.txt", 0}};
    const std::vector<fake_entry> ext = {{"a.\x81\x2E", 0}, {"b", 0}};
    // clang-format off
    const tree_case cases[] = {
        // Bare names from the current directory; a matching directory is no file.
        {{{"b.txt", 0}, {"a.txt", 0}, {"c.c", 0}, {"d.txt", dir}}, "*.txt", {"a.txt", "b.txt"}},
        {{{"b.txt", 0}, {"a.txt", 0}}, "*.txt", {"b.txt", "a.txt"}, "u"},
        // The drive stays in every path.
        {{{"C:a.txt", 0}, {"C:sub", dir}, {"C:sub\\b.txt", 0}, {"a.txt", 0}}, "C:*.txt",
         {"C:a.txt", "C:sub\\b.txt"}, "s"},
        // Without extension in the pattern, names without one only.
        {names, "*", {".profile", "README"}},
        {names, "*.*", {".profile", "a.txt", "README"}},
        {{{"abc.txt", 0}, {"abcd", 0}, {"abc.", 0}}, "abc*", {"abc.", "abcd"}},
        {ext, "*", {"b"}},
        {ext, "*.*", {"a.\x81\x2E", "b"}},
        // Attributes against the mask.
        {attrs, "*.c", {"n.c", "r.c"}, "", 58},
        {attrs, "*.c", {"h.c", "hr.c", "n.c", "r.c"}, "", 59},
        {attrs, "*.c", {"n.c", "r.c", "s.c"}, "", 62},
        {attrs, "*.c", {"h.c", "hr.c", "hs.c", "n.c", "r.c", "s.c"}, "", 63},
        {attrs, "*.c", {"r.c"}, "", accept_not_hidden | accept_not_system | accept_readonly},
        // A directory's own files first, then its subdirectories, depth first.
        {src, "src\\*.c", {"src\\a.c", "src\\b.c", "src\\lib\\x.c"}, "s"},
        {src, "src\\*.c", {"src\\b.c", "src\\a.c", "src\\lib\\x.c"}, "su"},
        {src, "src\\*.c", {"src\\a.c", "src\\b.c"}},
        {{{"b", dir}, {"a", dir}, {"a\\y", dir}, {"a\\y\\1.txt", 0}, {"a\\2.txt", 0},
          {"b\\3.txt", 0}, {"4.txt", 0}},
         "*.txt", {"4.txt", "a\\2.txt", "a\\y\\1.txt", "b\\3.txt"}, "s"},
        // Directory a-b before a (by "a-b\" and "a\"), file f before f-g.
        {{{"f-g", 0}, {"f", 0}, {"a", dir}, {"a\\f", 0}, {"a-b", dir}, {"a-b\\f", 0}}, "*",
         {"f", "f-g", "a-b\\f", "a\\f"}, "s"},
        // Letters folded to lower case: _ (0x5F) sorts before z.
        {{{"Z.txt", 0}, {"b.txt", 0}, {"_.txt", 0}, {"A.txt", 0}}, "*.txt",
         {"_.txt", "A.txt", "b.txt", "Z.txt"}},
        // Names alike in their first eight bytes, bytes compared unsigned.
        {{{"abcdefgh2.txt", 0}, {"abcdefgh1.txt", 0}, {"ABCDEFGH10.txt", 0}, {"\xb1.txt", 0},
          {"e.txt", 0}},
         "*.txt", {"abcdefgh1.txt", "ABCDEFGH10.txt", "abcdefgh2.txt", "e.txt", "\xb1.txt"}},
        // A hidden subdirectory is entered, one whose name begins with a dot never.
        {{{"h", dir | hid}, {"h\\a.txt", 0}, {".cache", dir}, {".cache\\b.txt", 0}}, "*.txt",
         {"h\\a.txt"}, "s"},
        // A two-byte name whose second byte is '\'.
        {two_byte_dir, "\x95\x5C\\*.txt", {"\x95\x5C\\a.txt"}},
        {two_byte_dir, "*.txt", {"\x95\x5C\\a.txt"}, "s"},
        // Nothing: a missing directory; a wildcard in the directory part.
        {{{"a.txt", 0}}, "none\\*.txt", {}, "s"},
        {{{"src\\a.txt", 0}}, "s*\\a.txt", {}},
    };
    // clang-format on
    expect_trees(std::begin(cases), std::end(cases));
}

// Names in UTF-8: none of their bytes is taken for a separator or a dot.
TEST(path_tree, utf8_names)
{
    SELECT_LOCALE("C.UTF-8");
    // Ä (C3 84), あ (E3 81 82), Maß (4D 61 C3 9F).
    const std::vector<fake_entry> utf8 = {{"\xC3\x84", dir},     {"\xC3\x84\\y.txt", 0},
                                          {"\xE3\x81\x82", dir}, {"\xE3\x81\x82\\z.txt", 0},
                                          {"Ma\xC3\x9F.txt", 0}, {"Ma\xC3\x9F.doc", 0},
                                          {"Ma\xC3\x9F", 0}};
    const tree_case cases[] = {
        {utf8, "*.txt", {"Ma\xC3\x9F.txt"}},
        {utf8, "*", {"Ma\xC3\x9F"}},
        {utf8, "\xC3\x84\\*.txt", {"\xC3\x84\\y.txt"}},
        {utf8, "*.txt", {"Ma\xC3\x9F.txt", "\xC3\x84\\y.txt", "\xE3\x81\x82\\z.txt"}, "s"},
    };
    expect_trees(std::begin(cases), std::end(cases));
}

TEST(path_tree, splits_the_argument_and_reads_nothing_until_counted)
{
    fake_dir_set({{"src\\a.c", 0}});
    PathTree t("src\\*.c", default_mask, 1, 1);
    EXPECT_STREQ(t.name, "src\\");
    EXPECT_STREQ(t.pattern, "*.c");
    EXPECT_EQ(t.parent, nullptr);
    EXPECT_EQ(t.cursor, -1);
    EXPECT_EQ(t.path_buf_size, 512);
    t.reset();
    EXPECT_EQ(t.cursor, -1);
    EXPECT_EQ(fake_searches, strings{});
    EXPECT_EQ(walk(t), strings{"src\\a.c"});
}

TEST(path_tree, reads_each_directory_once_and_walks_again_after_reset)
{
    fake_dir_set({{"a", dir}, {"a\\1.txt", 0}, {"b", dir}, {"2.txt", 0}});
    PathTree t("*.txt", default_mask, 1, 1);
    strings first = walk(t);
    strings second = walk(t);
    EXPECT_EQ(first, (strings{"2.txt", "a\\1.txt"}));
    EXPECT_EQ(second, first);
    // One file search and one subdirectory search per directory.
    EXPECT_EQ(fake_searches, (strings{"", "", "a\\", "a\\", "b\\", "b\\"}));
}

TEST(path_tree, search_limits)
{
    // Path plus pattern of 1022 bytes is searched, of 1023 not.
    for (size_t total : {1022u, 1023u}) {
        std::string path = long_dir(total - 5);
        fake_dir_set({{path + "f.txt", 0}});
        strings expected;
        if (total == 1022)
            expected.push_back(path + "f.txt");
        EXPECT_EQ(tree_paths((path + "*.txt").c_str()), expected) << total;
        EXPECT_EQ(fake_searches.size(), total == 1022 ? 1u : 0u) << total;
    }
    // A path of 1019 bytes is searched for subdirectories, of 1020 not.
    for (size_t len : {1019u, 1020u}) {
        std::string path = long_dir(len);
        fake_dir_set({{path + "s", dir}});
        PathTree t((path + "*").c_str(), default_mask, 1, 1);
        EXPECT_EQ(t.count_files(), 0);
        EXPECT_EQ(t.subdirs.count(), len == 1019 ? 1 : 0) << len;
        // The file search lists it either way.
        EXPECT_EQ(std::count(fake_searches.begin(), fake_searches.end(), path), len == 1019 ? 2 : 1)
            << len;
    }
}

TEST(path_tree, path_buffer_doubles_when_a_path_reaches_its_size)
{
    const struct {
        size_t dir_len, name_len;
        int buf_size;
    } cases[] = {
        {300, 210, 512},    // 510 bytes and the NUL fit
        {300, 211, 1024},   // 511 bytes: replaced by one of 1024
        {1000, 259, 2048},  // two doublings
    };
    for (const auto& c : cases) {
        std::string path = long_dir(c.dir_len) + std::string(c.name_len, 'n');
        fake_dir_set({{path, 0}});
        PathTree t((long_dir(c.dir_len) + "*").c_str(), default_mask, 0, 1);
        EXPECT_EQ(walk(t), strings{path});
        EXPECT_EQ(t.path_buf_size, c.buf_size) << path.size();
    }
}

// ---- Expansion -------------------------------------------------------------

struct expansion {
    strings args;
    std::string unmatched;  // empty when the result is null
};

// A run of expand_wildcards with the switches a new process has.
expansion expand(strings args)
{
    opt_subdir = false;
    opt_sort = true;
    opt_hidden = false;
    opt_system = false;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int new_argc = -1;
    char** new_argv = nullptr;
    const char* result =
        expand_wildcards(static_cast<int>(args.size()), argv.data(), &new_argc, &new_argv);
    expansion x;
    for (int i = 0; i < new_argc; ++i)
        x.args.push_back(new_argv[i]);
    EXPECT_EQ(new_argv[new_argc], nullptr);
    if (result) {
        // The result is the pattern's own string in the old vector.
        auto it = std::find(argv.begin(), argv.end(), result);
        EXPECT_NE(it, argv.end());
        x.unmatched = result;
    }
    EXPECT_EQ(fake_open_handles, 0);
    return x;
}

const std::vector<fake_entry> sample = {
    {"b.txt", 0},      {"a.txt", 0},    {"x.h", 0},      {"y.h", 0},     {"sub", dir},
    {"sub\\c.txt", 0}, {"sub\\d.c", 0}, {".h.txt", hid}, {"s.txt", sys}, {"notes.txt", hid},
};

TEST(expand_wildcards, replaces_patterns_and_drops_its_options)
{
    const struct {
        strings args;
        strings expected;
        const char* unmatched;
    } cases[] = {
        {{"kelto"}, {"kelto"}, ""},
        {{"kelto", "/du", "*.txt", "/subdir"},
         {"kelto", "/du", "a.txt", "b.txt", "sub\\c.txt"},
         ""},
        {{"kelto", "*.txt", "-NOSORT", "/du"}, {"kelto", "b.txt", "a.txt", "/du"}, ""},
        {{"kelto", "/SubDir", "-Hidden", "/SYSTEM", "*.txt"},
         {"kelto", ".h.txt", "a.txt", "b.txt", "notes.txt", "s.txt", "sub\\c.txt"},
         ""},
        {{"kelto", "/subdirs", "-sub", "/", "-", "*.h"},
         {"kelto", "/subdirs", "-sub", "/", "-", "x.h", "y.h"},
         ""},
        {{"kelto", "-*.txt", "/?"}, {"kelto", "-*.txt", "/?"}, ""},
        {{"kelto", "notes.txt", "missing.txt", "/subdir"},
         {"kelto", "notes.txt", "missing.txt"},
         ""},
        {{"kelto", "*.c", "*.h"}, {"kelto", "x.h", "y.h"}, "*.c"},
        {{"kelto", "*.c", "*.x", "*.h"}, {"kelto", "x.h", "y.h"}, "*.x"},
        {{"kelto", "*.h", "*.h"}, {"kelto", "x.h", "y.h", "x.h", "y.h"}, ""},
        {{"kelto", "*.c"}, {"kelto"}, "*.c"},
        {{"kelto", "*.c", "-subdir"}, {"kelto", "sub\\d.c"}, ""},
        {{"kelto", "none\\*.txt", "/v"}, {"kelto", "/v"}, "none\\*.txt"},
        {{"kelto", "", "?.h"}, {"kelto", "", "x.h", "y.h"}, ""},
        // The program's name is neither an option nor a pattern.
        {{"/hidden", "*.txt"}, {"/hidden", "a.txt", "b.txt"}, ""},
        {{"./k?/kelto", "/v"}, {"./k?/kelto", "/v"}, ""},
    };
    fake_dir_set(sample);
    for (const auto& c : cases) {
        expansion x = expand(c.args);
        EXPECT_EQ(x.args, c.expected) << ::testing::PrintToString(c.args);
        EXPECT_EQ(x.unmatched, c.unmatched) << ::testing::PrintToString(c.args);
    }
}

// A name the code page cannot spell is never taken under the name listed;
// the first one a pattern would take is told, one it would not is passed
// over.
TEST(expand_wildcards, names_the_code_page_cannot_spell_are_left_out_and_told)
{
    fake_dir_set({{"a.txt", 0},
                  {"?.doc", 0, false},
                  {"s", dir},
                  {"s\\?.txt", 0, false},
                  {"?", dir, false},
                  {"?\\b.txt", 0}});
    const struct {
        strings args;
        strings expected;
        const char* unspelled;
    } cases[] = {
        {{"kelto", "*.txt"}, {"kelto", "a.txt"}, nullptr},
        {{"kelto", "*.txt", "/subdir"}, {"kelto", "a.txt"}, "?"},
        {{"kelto", "s\\*.txt", "*.doc"}, {"kelto"}, "s\\?.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(expand(c.args).args, c.expected) << ::testing::PrintToString(c.args);
        EXPECT_STREQ(unspelled_path(), c.unspelled) << ::testing::PrintToString(c.args);
    }
}

TEST(expand_wildcards, empty_vector_stays_empty)
{
    char* argv[] = {nullptr};
    int new_argc = -1;
    char** new_argv = nullptr;
    EXPECT_EQ(expand_wildcards(0, argv, &new_argc, &new_argv), nullptr);
    EXPECT_EQ(new_argc, 0);
    EXPECT_EQ(new_argv[0], nullptr);
}

TEST(expand_wildcards, kept_arguments_are_the_old_pointers_and_paths_new_strings)
{
    fake_dir_set(sample);
    char prog[] = "kelto", opt[] = "/du", pat[] = "*.h";
    char* argv[] = {prog, opt, pat, nullptr};
    int new_argc = 0;
    char** new_argv = nullptr;
    expand_wildcards(3, argv, &new_argc, &new_argv);
    ASSERT_EQ(new_argc, 4);
    EXPECT_EQ(new_argv[0], prog);
    EXPECT_EQ(new_argv[1], opt);
    EXPECT_STREQ(new_argv[2], "x.h");
    EXPECT_STREQ(new_argv[3], "y.h");
    // Each path is a copy of its own, not the tree's shared buffer.
    EXPECT_NE(new_argv[2], new_argv[3]);
    // Only the paths found are files whatever their names.
    for (int i = 0; i < new_argc; ++i)
        EXPECT_EQ(found_by_pattern(i), i >= 2) << i;
}

TEST(wildcard_option, words_and_switches)
{
    const struct {
        const char* arg;
        bool is_option;
        bool* which;
    } cases[] = {
        {"/subdir", true, &opt_subdir}, {"-SUBDIR", true, &opt_subdir},
        {"/NoSort", true, &opt_sort},   {"-hidden", true, &opt_hidden},
        {"/sYsTeM", true, &opt_system}, {"subdir", false, nullptr},
        {"/subdirs", false, nullptr},   {"/sub", false, nullptr},
        {"//subdir", false, nullptr},   {"/du", false, nullptr},
        {"", false, nullptr},           {"/", false, nullptr},
    };
    for (const auto& c : cases) {
        opt_subdir = opt_hidden = opt_system = false;
        opt_sort = true;
        EXPECT_EQ(wildcard_option(c.arg), c.is_option) << c.arg;
        int changed = opt_subdir + !opt_sort + opt_hidden + opt_system;
        EXPECT_EQ(changed, c.is_option ? 1 : 0) << c.arg;
        if (c.which) {
            EXPECT_EQ(*c.which, c.which != &opt_sort) << c.arg;
        }
    }
}

TEST(is_wildcard, options_never_and_star_or_question_mark_anywhere)
{
    const struct {
        const char* arg;
        bool expected;
    } cases[] = {
        {"*.txt", true}, {"a?c", true},    {"src\\*", true}, {"\x95\x5C*", true}, {"-*.txt", false},
        {"/?", false},   {"a.txt", false}, {"", false},      {"src*\\a", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_wildcard(c.arg), c.expected) << c.arg;
}

}  // namespace
