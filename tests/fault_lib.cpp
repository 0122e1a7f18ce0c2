#include "fault_lib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace fault {

const char* const phase_names[phase_count] = {"not started", "conversion", "copy back",
                                              "between files", "finished"};

sample make_sample(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    const char odd_bytes[] = {'\0', '\x1A', '\xFF', '\t'};
    sample s;
    while (s.crlf.size() < size) {
        size_t len = rng() % 120;
        std::string line;
        for (size_t i = 0; i < len; ++i) {
            unsigned r = rng() % 64;
            line += r < 4 ? odd_bytes[r] : char('!' + rng() % 94);
        }
        s.crlf += line + "\r\n";
        s.lf += line + "\n";
    }
    return s;
}

fault_point::fault_point(const std::string& setting)
{
    setenv("KELTO_FAULT", setting.c_str(), 1);
}

fault_point::~fault_point()
{
    unsetenv("KELTO_FAULT");
}

copy_back_way::copy_back_way(bool streams)
{
    if (streams)
        setenv("KELTO_STREAM_COPY", "1", 1);
}

copy_back_way::~copy_back_way()
{
    unsetenv("KELTO_STREAM_COPY");
}

bool reached(const e2e::run_result& r)
{
    return r.err.find("kelto_fault: ") != std::string::npos;
}

std::vector<file_case> dos_files(const std::vector<size_t>& sizes, unsigned seed)
{
    std::vector<file_case> files;
    for (size_t i = 0; i < sizes.size(); ++i) {
        sample s = make_sample(sizes[i], seed + unsigned(i));
        files.push_back({"f" + std::to_string(i) + ".txt", s.crlf, s.lf});
    }
    return files;
}

std::vector<std::string> place_files(const e2e::temp_dir& dir, const std::string& option,
                                     const std::vector<file_case>& files)
{
    std::vector<std::string> args = {option};
    for (const file_case& f : files) {
        dir.write(f.name, f.before);
        args.push_back(f.name);
    }
    return args;
}

namespace {

bool is_prefix(const std::string& part, const std::string& whole)
{
    return whole.compare(0, part.size(), part) == 0;
}

}  // namespace

phase check_no_loss(const e2e::temp_dir& dir, const std::vector<file_case>& files,
                    const std::string& what)
{
    const bool has_temp = dir.exists("kelto.tmp");
    const std::string temp = has_temp ? dir.read("kelto.tmp") : std::string();
    std::vector<std::string> now;
    for (const file_case& f : files)
        now.push_back(dir.read(f.name));
    size_t done = 0;
    while (done < files.size() && now[done] == files[done].after)
        ++done;
    size_t next = done;
    bool interrupted = false;
    if (next < files.size() && now[next] != files[next].before) {
        interrupted = true;
        EXPECT_TRUE(has_temp && temp == files[next].after)
            << what << ": " << files[next].name
            << " holds neither its original nor its converted bytes, and kelto.tmp ("
            << (has_temp ? std::to_string(temp.size()) + " bytes" : "absent")
            << ") is not its complete conversion";
        ++next;
    }
    for (size_t i = next; i < files.size(); ++i)
        EXPECT_TRUE(now[i] == files[i].before)
            << what << ": " << files[i].name
            << " changed after an earlier file was left unfinished";

    if (interrupted || (has_temp && done > 0 && temp == files[done - 1].after))
        return phase_copy_back;
    if (has_temp) {
        // The conversion writes kelto.tmp from the start: what is there is
        // the beginning of the converted bytes.
        EXPECT_TRUE(done < files.size() && is_prefix(temp, files[done].after))
            << what << ": kelto.tmp is not the beginning of a conversion";
        return phase_conversion;
    }
    if (done == 0)
        return phase_not_started;
    return done == files.size() ? phase_finished : phase_between_files;
}

}  // namespace fault
