// The POSIX directory enumeration on real directories: which entries it
// lists, with which attributes, for which search strings. The operating
// system's order is never relied on: results are compared as sets.
#include "code_page.h"
#include "dosmatch.h"
#include "platform.h"
#include "scratch_file.h"
#include "wildcard.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

using listing = std::map<std::string, unsigned>;  // name -> attributes

const unsigned dir_attr = attr_directory | attr_hidden;  // "." and ".."

class find_posix_test : public ::testing::Test {
protected:
    fs::path root;
    fs::path dir;  // one level down, so that ".." is the test's own directory too
    fs::path old_cwd;

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = scratch_path(std::string("kelto_find_") + info->name() + "_");
        dir = root / "d";
        fs::create_directories(dir);
        old_cwd = fs::current_path();
        // The names of two-byte characters are those of code page 932.
        select_code_page_932();
    }
    void TearDown() override
    {
        fs::current_path(old_cwd);
        fs::remove_all(root);
    }

    void file(const std::string& name) const { std::ofstream(dir / name) << "x"; }

    // The search string for PATTERN in the test's directory, written the DOS
    // way, with '\' between the parts.
    std::string search(const std::string& pattern) const
    {
        std::string s = dir.string() + "/" + pattern;
        for (char& c : s) {
            if (c == '/')
                c = '\\';
        }
        return s;
    }

    // The entries that the listing of a search's directory part yields and
    // its name pattern matches, as the tree takes them; fails the test when
    // one name comes twice.
    static listing find(const std::string& search)
    {
        listing found;
        find_entry e;
        const int dir_len = dir_prefix_length(search.c_str());
        find_handle* h = plat_find_first(search.substr(0, dir_len).c_str(), &e);
        if (!h)
            return found;
        do {
            if (dos_match(search.c_str() + dir_len, e.name)) {
                EXPECT_TRUE(found.emplace(e.name, e.attrib).second) << e.name << " listed twice";
            }
        } while (plat_find_next(h, &e));
        // The end stays the end.
        EXPECT_FALSE(plat_find_next(h, &e));
        plat_find_close(h);
        return found;
    }
};

TEST_F(find_posix_test, patterns_match_by_dos_rules)
{
    for (const char* name : {"a.txt", "B.TXT", "c.Txt2", "readme", "x.tar.gz", "\x81\x40.txt"})
        file(name);
    const struct {
        const char* pattern;
        listing expected;
    } cases[] = {
        {"*.txt", {{"a.txt", 0}, {"B.TXT", 0}, {"\x81\x40.txt", 0}}},
        {"*.TXT", {{"a.txt", 0}, {"B.TXT", 0}, {"\x81\x40.txt", 0}}},
        {"?.txt", {{"a.txt", 0}, {"B.TXT", 0}, {"\x81\x40.txt", 0}}},
        {"??.txt", {}},
        {"*.txt?", {{"c.Txt2", 0}}},
        {"README.*", {{"readme", 0}}},
        {"readme.", {{"readme", 0}}},
        {"*.gz", {{"x.tar.gz", 0}}},
        {"x.tar", {}},
        {"*.*",
         {{".", dir_attr},
          {"..", dir_attr},
          {"a.txt", 0},
          {"B.TXT", 0},
          {"c.Txt2", 0},
          {"readme", 0},
          {"x.tar.gz", 0},
          {"\x81\x40.txt", 0}}},
        {"nothing*", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(find(search(c.pattern)), c.expected) << "pattern " << c.pattern;
}

// Read-only is not listed: it never decides whether an entry is taken.
TEST_F(find_posix_test, attributes_from_kind_and_name)
{
    file("plain.txt");
    file(".hidden");
    file("ro.txt");
    fs::permissions(dir / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir / "sub");
    fs::create_directory(dir / ".cache");
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const listing expected = {
        {".", dir_attr},
        {"..", dir_attr},
        {"plain.txt", 0},
        {".hidden", attr_hidden},
        {"ro.txt", 0},
        {"sub", attr_directory},
        {".cache", attr_directory | attr_hidden},
        {"locked", attr_directory},
    };
    EXPECT_EQ(find(search("*")), expected);
}

TEST_F(find_posix_test, leaves_out_links_fifos_and_backslashes)
{
    file("kept.txt");
    fs::create_directory(dir / "sub");
    fs::create_directory_symlink("sub", dir / "dirlink.txt");
    fs::create_symlink("kept.txt", dir / "link.txt");
    fs::create_symlink("missing.txt", dir / "broken.txt");
    ASSERT_EQ(mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
    file("a\\b.txt");
    // The second byte of a two-byte character is no '\'.
    file("\x95\\b.txt");
    const listing expected = {{"kept.txt", 0}, {"\x95\\b.txt", 0}};
    EXPECT_EQ(find(search("*.txt")), expected);
}

TEST_F(find_posix_test, drives_and_slashes_find_nothing)
{
    // POSIX allows a directory named "C:", so the files are there to be
    // found; the search strings must still find nothing.
    fs::create_directory(dir / "C:");
    file("C:/a.txt");
    fs::create_directory(dir / "sub");
    file("sub/a.txt");
    file("a.txt");
    fs::current_path(dir);
    const char* nothing[] = {"C:*.txt",   "C:\\*.txt", "C:a.txt",           "sub/*.txt",
                             "sub/a.txt", "./*.txt",   "sub\\..\\sub/*.txt"};
    for (const char* s : nothing)
        EXPECT_EQ(find(s), listing()) << "search " << s;
    // A ':' inside a two-byte character names no drive.
    fs::create_directory(dir / "\xE0:");
    file("\xE0:/b.txt");
    EXPECT_EQ(find("\xE0:\\*.txt"), (listing{{"b.txt", 0}}));
}

TEST_F(find_posix_test, directory_part_is_relative_to_the_current_directory)
{
    file("top.txt");
    fs::create_directories(dir / "sub" / "deep");
    file("sub/low.txt");
    file("sub/deep/lowest.txt");
    fs::current_path(dir / "sub");
    const struct {
        const char* search;
        listing expected;
    } cases[] = {
        {"*.txt", {{"low.txt", 0}}},     {"deep\\*.txt", {{"lowest.txt", 0}}},
        {"..\\*.txt", {{"top.txt", 0}}}, {"..\\sub\\deep\\*.txt", {{"lowest.txt", 0}}},
        {"missing\\*.txt", {}},          {"low.txt\\*", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(find(c.search), c.expected) << "search " << c.search;
}

}  // namespace
