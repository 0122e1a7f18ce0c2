// Shared by the fault and crash tests, which run kelto_fault (the tool with
// the seam of fault_seam.cpp): sample texts, the choice of the seam's point,
// and the check of the promise that no byte of a user's file is lost.
#pragma once

#include <string>
#include <vector>

#include "harness.h"
#include "platform.h"

namespace fault {

// The platform layer's stream buffer: a read or a write call moves this much.
const size_t buffer_size = stream_buffer_size;

// One text in two conventions: lines of arbitrary bytes but CR and LF (00,
// 1A and FF among them), each ended by CR LF in crlf and by LF in lf.
struct sample {
    std::string crlf;
    std::string lf;
};
sample make_sample(size_t size, unsigned seed);

// Sets the seam's KELTO_FAULT (syntax at the top of fault_seam.cpp) for the
// runs started while the object lives.
class fault_point {
public:
    explicit fault_point(const std::string& setting);
    ~fault_point();
    fault_point(const fault_point&) = delete;
    fault_point& operator=(const fault_point&) = delete;
};

// The two ways of the copy back: inside the system (copy_file_range), or,
// where the system refuses, through the streams. Sets which the runs
// started while the object lives take: with STREAMS every copy inside the
// system fails as on a system without the call.
class copy_back_way {
public:
    explicit copy_back_way(bool streams);
    ~copy_back_way();
    copy_back_way(const copy_back_way&) = delete;
    copy_back_way& operator=(const copy_back_way&) = delete;
};
const bool copy_back_ways[] = {false, true};

// True when the run reached the seam's chosen call (the seam notes it on
// standard error).
bool reached(const e2e::run_result& r);

// One file of a run: its name and its bytes before and after a conversion.
struct file_case {
    std::string name;
    std::string before;
    std::string after;
};

// Files f0.txt, f1.txt, ... of DOS lines of the given sizes, each with its
// conversion by /du.
std::vector<file_case> dos_files(const std::vector<size_t>& sizes, unsigned seed);

// Writes the files' original bytes into DIR; returns the run's arguments:
// OPTION, then the files' names.
std::vector<std::string> place_files(const e2e::temp_dir& dir, const std::string& option,
                                     const std::vector<file_case>& files);

// Where a run ended, judged by what it left on disk.
enum phase {
    phase_not_started,    // every file untouched, no kelto.tmp
    phase_conversion,     // kelto.tmp filled from the file in hand
    phase_copy_back,      // the file in hand being written back, or written
                          // back with kelto.tmp not yet deleted
    phase_between_files,  // some files converted, the rest untouched
    phase_finished,       // every file converted, no kelto.tmp
    phase_count,
};
extern const char* const phase_names[phase_count];

// Checks the promise after a run over FILES, in order, ended in any way: the
// files before the one in hand completely converted, those after it
// untouched; the one in hand holds its original or its converted bytes, and
// where it holds neither, kelto.tmp holds its complete converted bytes.
// Failures are reported under the name WHAT. Returns the phase.
phase check_no_loss(const e2e::temp_dir& dir, const std::vector<file_case>& files,
                    const std::string& what);

}  // namespace fault
