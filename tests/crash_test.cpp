// Crash consistency: kelto killed with SIGKILL at many moments of a run over
// a large file and over a set of files; after each kill no byte of any file
// may be lost (fault::check_no_loss).
//
// The moments are the file operations of the run, counted by the seam of
// kelto_fault ("kill:any:N:*" kills the process just before its Nth open,
// read, write, close or delete), so each kill point lands in the same phase
// on every machine, however fast.
#include <gtest/gtest.h>

#include <chrono>
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
    long last_run_us = 0;  // how long the last run took, in microseconds

    // Runs kelto over the files and checks what it left; true when the run
    // was killed, false when it completed.
    bool checked_run(const std::string& what, const e2e::run_options& opts)
    {
        SCOPED_TRACE(what);
        e2e::temp_dir dir;
        const std::vector<std::string> args = fault::place_files(dir, option, files);
        auto start = std::chrono::steady_clock::now();
        e2e::run_result r = dir.kelto(args, opts);
        last_run_us = long(std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
        fault::phase end = fault::check_no_loss(dir, files, what);
        if (r.signal != SIGKILL) {
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(end, fault::phase_finished);
            return false;
        }
        ++phase_hits[end];
        ++kills;
        return true;
    }

    // Kills the run just before its Nth file operation; false when the run
    // has fewer operations.
    bool kill_at(int n)
    {
        fault::fault_point point("kill:any:" + std::to_string(n) + ":*");
        return checked_run("kill before operation #" + std::to_string(n), {});
    }

    bool kill_after(long us)
    {
        e2e::run_options opts;
        opts.kill_after_us = us;
        return checked_run("kill after " + std::to_string(us) + " us", opts);
    }

    void print_phases(const std::string& title) const
    {
        std::cout << title << ": " << kills << " kill points;";
        for (int p = 0; p < fault::phase_count; ++p)
            std::cout << " " << fault::phase_names[p] << " " << phase_hits[p] << ";";
        std::cout << "\n";
    }
};

TEST(crash_test, a_set_of_files_killed_before_each_operation)
{
    const size_t b = fault::buffer_size;
    crash_run run{"/du", fault::dos_files({b / 2, 2 * b + 100, 100, b + 3000}, 100)};
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
    // 8 MiB, about 270 operations: some 40 kill points spread over the
    // whole run by a fixed seed, the same ones on every run of the test.
    fault::sample s = fault::make_sample(8 << 20, 7);
    crash_run run{"/ud", {{"large.txt", s.lf, s.crlf}}};
    std::mt19937 rng(20261208);
    int n = 1;
    while (run.kill_at(n))
        n += 1 + int(rng() % 12);
    run.print_phases("large file");
    EXPECT_GT(run.phase_hits[fault::phase_conversion], 10);
    EXPECT_GT(run.phase_hits[fault::phase_copy_back], 10);
}

TEST(crash_test, a_large_file_killed_at_seeded_moments_in_time)
{
    // Kills at moments in time rather than before operations: inside a
    // write, between two bytes. Which phase a kill lands in depends on the
    // machine's speed, so the phases are only reported, but the promise is
    // checked after every kill.
    fault::sample s = fault::make_sample(8 << 20, 8);
    crash_run run{"/du", {{"large.txt", s.crlf, s.lf}}};
    // A run left alone gives the length of a run on this machine.
    EXPECT_FALSE(run.kill_after(60L * 1000 * 1000));
    const long length = run.last_run_us;
    std::mt19937 rng(20261209);
    for (int i = 0; i < 20; ++i)
        run.kill_after(long(rng() % unsigned(length + 1)));
    run.print_phases("large file, timed");
}

}  // namespace
