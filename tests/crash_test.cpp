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
#include <memory>
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

    // Runs kelto over the files (with the seam's SETTING, if any) and checks
    // what it left, then runs the same command again; true when the first
    // run was killed, false when it completed.
    bool checked_run(const std::string& what, const e2e::run_options& opts,
                     const std::string& setting = "")
    {
        SCOPED_TRACE(what);
        e2e::temp_dir dir;
        const std::vector<std::string> args = fault::place_files(dir, option, files);
        auto start = std::chrono::steady_clock::now();
        e2e::run_result r;
        {
            std::unique_ptr<fault::fault_point> point;
            if (!setting.empty())
                point = std::make_unique<fault::fault_point>(setting);
            r = dir.kelto(args, opts);
        }
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
        run_again(dir, args, end);
        return true;
    }

    // A kelto.tmp marked read-only may hold the only complete copy of a file:
    // the same command again refuses it and changes nothing. Any other one
    // is taken over, and the run completes.
    void run_again(const e2e::temp_dir& dir, const std::vector<std::string>& args, fault::phase end)
    {
        const bool precious = dir.exists("kelto.tmp") && (dir.mode("kelto.tmp") & 0200) == 0;
        e2e::run_result r = dir.kelto(args);
        fault::phase again = fault::check_no_loss(dir, files, "run again");
        if (precious) {
            EXPECT_EQ(r.out, e2e::error_line("cannot use temporary file", "kelto.tmp"));
            EXPECT_EQ(r.exit_code, 2);
            EXPECT_EQ(again, end);
        } else {
            EXPECT_EQ(r.exit_code, 0) << r.out;
            EXPECT_EQ(again, fault::phase_finished);
        }
    }

    // Kills the run just before its Nth file operation; false when the run
    // has fewer operations.
    bool kill_at(int n)
    {
        return checked_run("kill before operation #" + std::to_string(n), {},
                           "kill:any:" + std::to_string(n) + ":*");
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
    for (bool streams : fault::copy_back_ways) {
        fault::copy_back_way way(streams);
        crash_run run{"/du", fault::dos_files({b / 2, 2 * b + 100, 100, b + 3000}, 100)};
        int n = 1;
        while (run.kill_at(n))
            ++n;
        run.print_phases(streams ? "set of files, by streams" : "set of files");
        EXPECT_GT(run.phase_hits[fault::phase_conversion], 0);
        EXPECT_GT(run.phase_hits[fault::phase_copy_back], 0);
        EXPECT_GT(run.phase_hits[fault::phase_between_files], 0);
    }
}

TEST(crash_test, a_large_file_killed_at_seeded_points)
{
    // 8 MiB, about 270 operations: some 40 kill points spread over the
    // whole run by a fixed seed, the same ones on every run of the test. The
    // copy back goes through the streams, a block per operation.
    fault::copy_back_way way(true);
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

TEST(crash_test, interrupting_signals_before_each_operation)
{
    // SIGINT, SIGTERM and SIGHUP in turn: the run ends with code 2 (or by the
    // signal, before any conversion began), no byte is lost and no
    // kelto.tmp is left.
    const size_t b = fault::buffer_size;
    const std::vector<file_case> files = fault::dos_files({b + 100, 100, 2 * b}, 200);
    const struct {
        const char* action;
        int signal;
    } signals[] = {{"int", SIGINT}, {"term", SIGTERM}, {"hup", SIGHUP}};
    int n = 1;
    for (;; ++n) {
        const auto& sig = signals[n % 3];
        const std::string what =
            std::string(sig.action) + " before operation #" + std::to_string(n);
        SCOPED_TRACE(what);
        e2e::temp_dir dir;
        const std::vector<std::string> args = fault::place_files(dir, "/du", files);
        fault::fault_point point(std::string(sig.action) + ":any:" + std::to_string(n) + ":*");
        e2e::run_result r = dir.kelto(args);
        if (!fault::reached(r))
            break;
        fault::phase end = fault::check_no_loss(dir, files, what);
        EXPECT_FALSE(dir.exists("kelto.tmp"));
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.exit_code == 2 || (r.signal == sig.signal && end != fault::phase_copy_back))
            << "exit code " << r.exit_code << ", signal " << r.signal;
    }
    std::cout << "signals: " << n - 1 << " operations\n";
    EXPECT_GT(n, 30);
}

}  // namespace
