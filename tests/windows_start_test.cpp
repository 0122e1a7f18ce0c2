// kelto.exe started with exact command lines, the way a Windows console
// starts it: the start-up's splitting into arguments, seen in what the tool
// prints for each argument. Runs with the directory of kelto.exe as its
// current directory; each case runs kelto.exe in a fresh directory.
#include <gtest/gtest.h>

#include "scratch_file.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "expected_text.h"

namespace {

namespace fs = std::filesystem;

struct run_result {
    DWORD exit_code = 0;
    std::string out;  // standard output and standard error, byte for byte
};

class windows_start_test : public ::testing::Test {
protected:
    fs::path top;  // holds the captured output beside the working directory
    fs::path dir;  // the working directory of kelto.exe
    std::string kelto;

    void SetUp() override
    {
        char full[MAX_PATH];
        ASSERT_NE(GetFullPathNameA("kelto.exe", MAX_PATH, full, nullptr), 0u);
        kelto = full;
        ASSERT_TRUE(fs::exists(kelto))
            << kelto << ": run with the build directory as current directory";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        top = scratch_path(std::string("kelto_start_") + info->name() + "_");
        dir = top / "work";
        fs::create_directories(dir);
        write("a b.txt", "dos\r\n");
        write("t.txt", "unix\n");
        write("README", "mac\r");
    }
    void TearDown() override { fs::remove_all(top); }

    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }

    // Starts kelto.exe with the command line "kelto.exe" + TAIL, exactly.
    run_result run(const std::string& tail) const
    {
        run_result r;
        const std::string out_name = (top / "out.bin").string();
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(out_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(out, INVALID_HANDLE_VALUE);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out;
        si.hStdError = out;
        PROCESS_INFORMATION pi;
        std::string line = "\"" + kelto + "\"" + tail;
        bool started = CreateProcessA(kelto.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      dir.string().c_str(), &si, &pi);
        CloseHandle(out);
        EXPECT_TRUE(started) << line;
        if (!started)
            return r;
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &r.exit_code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        std::ifstream in(out_name, std::ios::binary);
        r.out.assign(std::istreambuf_iterator<char>(in), {});
        return r;
    }
};

using expected::report_line;

// The tool's text as the Windows program prints it: each line feed leaves
// the text stream as CR LF.
std::string crlf(const std::string& text)
{
    return expected::with_line_feed(text, "\r\n");
}

std::string cannot_open(const std::string& name)
{
    return expected::error_line("cannot open file", name);
}

TEST_F(windows_start_test, arguments_split_at_blanks_and_tabs_outside_quotes)
{
    // Where the runtime's own splitting differs, it is named: a backslash is
    // never an escape here, since it separates the parts of a path.
    const struct {
        const char* tail;
        std::string out;
        DWORD exit_code;
    } cases[] = {
        {" /v \"a b.txt\"", report_line("a b.txt", " dos"), 0},
        {" /v a\" \"b.txt", report_line("a b.txt", " dos"), 0},
        {"\t/v\t\"a b.txt\"\tt.txt", report_line("a b.txt", " dos") + report_line("t.txt", " unix"),
         0},
        {"   /v    t.txt   ", report_line("t.txt", " unix"), 0},
        {" \"/v\" \"t.txt\"", report_line("t.txt", " unix"), 0},
        {" /v \"t.txt", report_line("t.txt", " unix"), 0},  // an unclosed quote ends with the line
        {" /v .\\t.txt", report_line(".\\t.txt", " unix"), 0},
        {" /v \"\"", cannot_open(""), 2},
        {" /v t.txt \"\" README", report_line("t.txt", " unix") + cannot_open(""), 2},
        {" /v \"\"t.txt", report_line("t.txt", " unix"), 0},
        // The runtime: nofile" (\" is a quote there).
        {" /v \"nofile\\\"", cannot_open("nofile\\"), 2},
        // The runtime: nofile" and t.txt.
        {" /v nofile\\\" t.txt", cannot_open("nofile\\ t.txt"), 2},
        // The runtime: a\b (\\ is one backslash there before a quote).
        {" /v \"a\\\\\"b", cannot_open("a\\\\b"), 2},
    };
    for (const auto& c : cases) {
        run_result r = run(c.tail);
        EXPECT_EQ(r.out, crlf(c.out)) << c.tail;
        EXPECT_EQ(r.exit_code, c.exit_code) << c.tail;
    }
}

TEST_F(windows_start_test, a_pattern_reaches_the_tool_unexpanded)
{
    // The runtime's globbing would hand on every name; the tool's own rule
    // lets a pattern without extension match only names without one.
    run_result r = run(" /v *");
    EXPECT_EQ(r.out, crlf(report_line("README", " mac")));
    EXPECT_EQ(r.exit_code, 0u);
}

TEST_F(windows_start_test, drive_letters_and_backslashes_reach_the_system)
{
    const std::string drive = dir.string().substr(0, 2);  // the working directory's drive
    const std::string full = (dir / "t.txt").string();
    for (const std::string& arg : {drive + "t.txt", full, std::string("..\\work\\t.txt")}) {
        run_result r = run(" /v " + arg);
        EXPECT_EQ(r.out, crlf(report_line(arg, " unix"))) << arg;
        EXPECT_EQ(r.exit_code, 0u) << arg;
    }
}

}  // namespace
