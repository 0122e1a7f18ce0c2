// Crash consistency: kelto killed with SIGKILL at many moments of a run over
// a large file and over a set of files; after each kill no byte of any file
// may be lost (fault::check_no_loss).
//
// The moments are the file operations of the run, counted by the seam of
// kelto_fault ("kill:any:N:*" kills the process just before its Nth open,
// read, write, close or delete), so each kill point lands in the same phase
// on every machine, however fast.
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <random>

#include "fault_lib.h"
#include "harness.h"

namespace {

using fault::file_case;

struct crash_run {
    std::string option;
    std::vector<file_case> files;
    int phase_hits[fault::phase_count] = {};
    int kills = 0;

    // Kills the run just before its Nth file operation and checks what it
    // left; false when the run has fewer operations and completed instead.
    bool kill_at(int n)
    {
        const std::string what = "kill before operation #" + std::to_string(n);
        SCOPED_TRACE(what);
        e2e::temp_dir dir;
        std::vector<std::string> args = {option};
        for (const file_case& f : files) {
            dir.write(f.name, f.before);
            args.push_back(f.name);
        }
        fault::fault_point point("kill:any:" + std::to_string(n) + ":*");
        e2e::run_result r = dir.kelto(args);
        fault::phase end = fault::check_no_loss(dir, files, what);
        if (!fault::reached(r)) {
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(end, fault::phase_finished);
            return false;
        }
        EXPECT_EQ(r.signal, SIGKILL) << r.err;
        ++phase_hits[end];
        ++kills;
        return true;
    }

    void print_phases(const std::string& title) const
    {
        std::cout << title << ": " << kills << " kill points;";
        for (int p = 0; p < fault::phase_count; ++p)
            std::cout << " " << fault::phase_names[p] << " " << phase_hits[p] << ";";
        std::cout << "\n";
    }
};

std::vector<file_case> dos_files(const std::vector<size_t>& sizes, unsigned seed)
{
    std::vector<file_case> files;
    for (size_t i = 0; i < sizes.size(); ++i) {
        fault::sample s = fault::make_sample(sizes[i], seed + unsigned(i));
        files.push_back({"f" + std::to_string(i) + ".txt", s.crlf, s.lf});
    }
    return files;
}

TEST(crash_test, a_set_of_files_killed_before_each_operation)
{
    const size_t b = fault::buffer_size;
    crash_run run{"/du", dos_files({b / 2, 2 * b + 100, 100, b + 3000}, 100)};
    int n = 1;
    while (run.kill_at(n))
        ++n;
    run.print_phases("set of files");
    EXPECT_GT(run.phase_hits[fault::phase_conversion], 0);
    EXPECT_GT(run.phase_hits[fault::phase_copy_back], 0);
    EXPECT_GT(run.phase_hits[fault::phase_between_files], 0);
}

TEST(crash_test, a_large_file_killed_at_seeded_points)
{
    // 16 MiB, about 540 operations: some 45 kill points spread over the
    // whole run by a fixed seed, the same ones on every run of the test.
    fault::sample s = fault::make_sample(16 << 20, 7);
    crash_run run{"/ud", {{"large.txt", s.lf, s.crlf}}};
    std::mt19937 rng(20261208);
    int n = 1;
    while (run.kill_at(n))
        n += 1 + int(rng() % 24);
    run.print_phases("large file");
    EXPECT_GT(run.phase_hits[fault::phase_conversion], 10);
    EXPECT_GT(run.phase_hits[fault::phase_copy_back], 10);
}

}  // namespace
