// The Windows platform layer on real files: what it refuses to open, how it
// tells one file from another, and what the directory enumeration hands on.
#include "dosmatch.h"
#include "platform.h"
#include "scratch_file.h"
#include "tempfile.h"
#include "wildcard.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#ifdef __SSP_STRONG__
extern "C" uintptr_t __stack_chk_guard;
#endif

namespace {

namespace fs = std::filesystem;

class platform_win32_test : public ::testing::Test {
protected:
    fs::path dir;
    fs::path old_cwd;

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = scratch_path(std::string("kelto_win32_") + info->name() + "_");
        fs::create_directories(dir / "sub");
        old_cwd = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override
    {
        fs::current_path(old_cwd);
        clear();
    }

    // Read-only, hidden and system files cannot be deleted as they are.
    void clear()
    {
        if (!fs::exists(dir))
            return;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(dir);
    }

    static void write_bytes(const std::string& name, const std::string& bytes)
    {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string read_bytes(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void set_attributes(const std::string& name, DWORD attrs)
    {
        ASSERT_TRUE(SetFileAttributesA(name.c_str(), attrs)) << name;
    }
};

const char* mode_name(open_mode mode)
{
    return mode == open_read ? "read" : "write";
}

TEST_F(platform_win32_test, opens_regular_files_only)
{
    const struct {
        const char* name;
        open_mode mode;
    } cases[] = {
        {"NUL", open_read},       {"NUL", open_update}, {"sub", open_read},
        {"sub", open_update},     {"sub\\", open_read}, {"missing", open_read},
        {"missing", open_update},
    };
    for (const auto& c : cases) {
        FileStream f;
        EXPECT_FALSE(f.try_open(c.name, c.mode)) << c.name << " for " << mode_name(c.mode);
    }
    // Nor is the temporary file ever anything else.
    for (const char* name : {"NUL", "sub"}) {
        FileStream temp;
        EXPECT_EQ(take_temp_file(temp, name), temp_failed) << name;
        EXPECT_EQ(temp.stream, nullptr) << name;
    }
}

TEST_F(platform_win32_test, read_only_file_is_refused_for_writing_and_keeps_its_bytes)
{
    write_bytes("ro.txt", "keep\r\n");
    set_attributes("ro.txt", FILE_ATTRIBUTE_READONLY);
    FileStream update;
    EXPECT_FALSE(update.try_open("ro.txt", open_update));
    // A read-only temporary file may hold the only complete copy of a file.
    FileStream temp;
    EXPECT_EQ(take_temp_file(temp, "ro.txt"), temp_refused);
    EXPECT_EQ(temp.stream, nullptr);
    EXPECT_EQ(read_bytes("ro.txt"), "keep\r\n");
    set_attributes("ro.txt", FILE_ATTRIBUTE_NORMAL);
    // Reading it is fine.
    FileStream in;
    ASSERT_TRUE(in.try_open("ro.txt", open_read));
    EXPECT_EQ(in.get_byte(), 'k');
    EXPECT_TRUE(in.close());
}

TEST_F(platform_win32_test, a_temporary_file_is_held_by_one_run_and_deleted_through_its_handle)
{
    FileStream temp;
    ASSERT_EQ(take_temp_file(temp, "kelto.tmp"), temp_ready);
    // Another run's open is refused: it waits for its turn.
    FILE* second = nullptr;
    EXPECT_EQ(plat_open_temp("kelto.tmp", temp_write, &second), call_busy);
    EXPECT_EQ(second, nullptr);
    temp.put_byte('x');
    EXPECT_TRUE(seal_temp_file(temp));
    EXPECT_EQ(GetFileAttributesA("kelto.tmp") & FILE_ATTRIBUTE_READONLY,
              DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(temp.get_byte(), 'x');
    remove_temp_file(temp);
    EXPECT_TRUE(temp.close());
    EXPECT_EQ(GetFileAttributesA("kelto.tmp"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(platform_win32_test, same_file_under_every_spelling_of_its_name)
{
    write_bytes("a.txt", "x");
    write_bytes("b.txt", "x");
    ASSERT_TRUE(CreateHardLinkA("hard.txt", "a.txt", nullptr));
    const std::string full = (dir / "a.txt").string();
    std::string slashes = full;
    for (char& c : slashes) {
        if (c == '\\')
            c = '/';
    }
    const std::string drive_relative = full.substr(0, 2) + "a.txt";
    const struct {
        std::string name;
        bool same;
    } cases[] = {
        {"a.txt", true},  {"A.TXT", true},        {".\\a.txt", true},     {"sub\\..\\a.txt", true},
        {full, true},     {slashes, true},        {drive_relative, true}, {"hard.txt", true},
        {"b.txt", false}, {"missing.txt", false}, {"sub", false},
    };
    file_stamp stamp;
    FILE* f = plat_open("a.txt", SIZE_MAX, open_read, &stamp);
    ASSERT_NE(f, nullptr);
    for (const auto& c : cases)
        EXPECT_EQ(denotes(c.name.c_str(), stamp), c.same) << c.name;
    EXPECT_TRUE(plat_close(f));
}

// Names and attribute bits of the entries that the listing of a search's
// directory part yields and its name pattern matches, as the tree takes
// them, with the bits the tree looks at.
std::map<std::string, unsigned> find_all(const char* search)
{
    std::map<std::string, unsigned> found;
    find_entry e;
    const int dir_len = dir_prefix_length(search);
    find_handle* h = plat_find_first(std::string(search, dir_len).c_str(), &e);
    if (!h)
        return found;
    do {
        if (dos_match(search + dir_len, e.name))
            found[e.name] = e.attrib & (attr_readonly | attr_hidden | attr_system | attr_directory);
    } while (plat_find_next(h, &e));
    plat_find_close(h);
    return found;
}

TEST_F(platform_win32_test, find_hands_on_names_and_attributes_as_the_system_has_them)
{
    const struct {
        const char* name;
        DWORD attrs;
    } files[] = {
        {"plain.txt", FILE_ATTRIBUTE_NORMAL},
        {"ro.txt", FILE_ATTRIBUTE_READONLY},
        {"hid.txt", FILE_ATTRIBUTE_HIDDEN},
        {"sys.txt", FILE_ATTRIBUTE_SYSTEM},
        {"all.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"noext", FILE_ATTRIBUTE_NORMAL},
    };
    for (const auto& f : files) {
        write_bytes(f.name, "");
        set_attributes(f.name, f.attrs);
    }
    const std::map<std::string, unsigned> txt = {
        {"all.txt", attr_readonly | attr_hidden | attr_system},
        {"hid.txt", attr_hidden},
        {"plain.txt", 0},
        {"ro.txt", attr_readonly},
        {"sys.txt", attr_system},
    };
    EXPECT_EQ(find_all("*.txt"), txt);
    std::map<std::string, unsigned> every = txt;
    every["noext"] = 0;
    every["sub"] = attr_directory;
    every["."] = attr_directory;
    every[".."] = attr_directory;
    EXPECT_EQ(find_all("*.*"), every);

    // The directory part as the tree builds it: relative, absolute with '\'
    // (or '/'), and a drive with no directory (the drive's current directory).
    write_bytes("sub\\in.c", "");
    const std::map<std::string, unsigned> in_sub = {{"in.c", 0}};
    EXPECT_EQ(find_all("sub\\*.c"), in_sub);
    EXPECT_EQ(find_all(((dir / "sub").string() + "\\*.c").c_str()), in_sub);
    EXPECT_EQ(find_all((dir.string() + "/sub\\*.c").c_str()), in_sub);
    fs::current_path(dir / "sub");
    EXPECT_EQ(find_all((dir.string().substr(0, 2) + "*.c").c_str()), in_sub);

    // The tool builds paths from what precedes the last '\' or ':', so a
    // '/' in the name pattern, which the system would take as a separator,
    // finds nothing.
    EXPECT_TRUE(find_all("sub/*.c").empty());
    EXPECT_TRUE(find_all("*.none").empty());
    EXPECT_TRUE(find_all("missing\\*.*").empty());
}

#ifdef __SSP_STRONG__
// Filled from the system's generator at start, not left at the canary it
// holds before the start, which is the same in every run.
TEST(stack_guard, is_filled_at_start)
{
    EXPECT_NE(__stack_chk_guard, uintptr_t{0x000a0dff});
}
#endif

}  // namespace
