#include "driver.h"

#include "fileio.h"
#include "nocase.h"
#include "scan.h"
#include "tempfile.h"
#include "wildcard.h"

namespace {

const char* const conversion_options[] = {"du", "ud", "dm", "md", "um", "mu", nullptr};

const char banner_title[] = "Tervolin  KELTO Version 1.11 for DOS32";
const char banner_notice[] = "Copyright (C) 2026 the kelto developers. Free software, no warranty.";

const char usage_text[] =
    "Usage > kelto [/du|/ud|/dm|/md|/um|/mu] [/v] [/subdir] [/hidden] <file>...\n"
    "      > kelto /?\n"
    "\n"
    "/du : convert dos to unix (0D,0A to 0A)\n"
    "/ud : convert unix to dos (0A to 0D,0A)\n"
    "/dm : convert dos to mac (0D,0A to 0D)\n"
    "/md : convert mac to dos (0D to 0D,0A)\n"
    "/um : convert unix to mac (0A to 0D)\n"
    "/mu : convert mac to unix (0D to 0A)\n"
    "/v  : display return code type used in input file\n"
    "/?  : description\n"
    "/subdir : process files in subdirectories, too\n"
    "/hidden : process hidden files, too\n"
    "<file>  : file(s) to convert (wildcald available)\n";

const char description_text[] =
    "Return character of text files are different by operating system as follows:\n"
    "\n"
    "DOS, Windows   0D 0A   (\\r\\n)\n"
    "UNIX           0A      (\\n)\n"
    "Machintosh     0D      (\\r)\n"
    "\n"
    "KELTO convert these return characters each other.\n"
    "\n"
    "If you convert UNIX type to other type, only single 0A codes are converted,\n"
    "and 0D,0A sequences remain as they are. Similary, If you convert Machintosh\n"
    "type to other type, only single 0D codes are converted, and 0D,0A sequences\n"
    "will not be changed.\n"
    "\n"
    "Options are preceded by \"/\" or \"-\".\n"
    "\n"
    "The kelto developers <kelto@example.org>\n"
    "    Report a fault by mail to that address, with the command and its output.\n"
    "    The Debian package lists its changes in /usr/share/doc/kelto/changelog.gz.\n";

struct run_state {
    bool report_types = false;
    bool describe = false;
    int from_type = 0;
    int to_type = 0;
    int processed = 0;
};

// Entry I of ARGV is an option when it was typed with '/' or '-' first; a
// path that a pattern found names a file, whatever its first byte.
bool is_option(char* const* argv, int i)
{
    return (argv[i][0] == '/' || argv[i][0] == '-') && !found_by_pattern(i);
}

void read_option(run_state& run, const char* word)
{
    if (equal_nocase(word, "v")) {
        run.report_types = true;
        return;
    }
    if (equal_nocase(word, "?")) {
        run.describe = true;
        return;
    }
    for (const char* const* opt = conversion_options; *opt; ++opt) {
        if (equal_nocase(word, *opt)) {
            run.from_type = word[0] | 0x20;
            run.to_type = word[1] | 0x20;
            return;
        }
    }
    report_error("unknown option", word);
}

// Prints the report line of the file open in IN. A report that could not be
// written ends the run: going on would convert files the user was not told
// about. Standard output keeps lines in its buffer, so a line followed by a
// conversion is flushed first: its failure must be seen while the file is
// still as it was. The conversion reads the file again from its start.
void report_file(FileStream& in, const char* name, bool before_conversion)
{
    int found = detect_line_endings(in);
    if (in.failed() || (before_conversion && fseek(in.stream, 0, SEEK_SET) != 0))
        report_error("cannot read file", name);
    printf("%-30s", shown(name));
    if (found & FOUND_DOS)
        fputs(" dos", stdout);
    if (found & FOUND_UNIX)
        fputs(" unix", stdout);
    if (found & FOUND_MAC)
        fputs(" mac", stdout);
    putchar('\n');
    if ((before_conversion && fflush(stdout) != 0) || ferror(stdout))
        finish(2);
}

}  // namespace

void print_description()
{
    fputs(description_text, stdout);
}

void print_usage()
{
    printf("%s\n%s\n\n", banner_title, banner_notice);
    fputs(usage_text, stdout);
    finish(2);
}

namespace {

// Ends the run with the error, after deleting the temporary file: until the
// copy back starts the named file is untouched, and the temporary file is
// incomplete or no longer a conversion of the file.
[[noreturn]] void drop_temp(FileStream& temp, const char* msg, const char* subject)
{
    remove_temp_file(temp);
    report_error(msg, subject);
}

// Where a file's modification time has no part below the second, a write
// made in the same second as the read, of the same size, leaves the time as
// it was: the bytes themselves are compared, by their sum.
bool coarse_time(const file_stamp& read)
{
    return read.mtime_ns == 0;
}

// True when the file open in IN is still as it was read: the same size,
// modification time and, where that time is coarse, sum of its bytes (SUM),
// so that nothing written to it meanwhile is lost, and still not read-only.
bool unchanged(FileStream& in, const file_stamp& read, std::uint64_t sum)
{
    file_stamp now;
    std::uint64_t again = 0;
    return plat_stamp(in.stream, &now) && now.size == read.size && now.mtime == read.mtime &&
           now.mtime_ns == read.mtime_ns && !now.read_only &&
           (!coarse_time(read) || (sum_content(in, &again) && again == sum));
}

// Opens NAME to be read and then written back through the same open, so
// that its name is never looked up again in between; false when it may
// only be read (a read-only file is converted all the same, and its
// conversion left in the temporary file).
bool open_for_update(FileStream& file, const char* name, size_t typed)
{
    if (file.try_open(name, open_update, typed))
        return true;
    file.open(name, open_read, typed);
    return false;
}

// Converts the file open in FILE in place through the temporary file:
// every line ending of type FROM becomes one of type TO. WRITABLE tells
// whether FILE may write the file back.
void convert_file_in_place(FileStream& file, bool writable, const char* name, int from, int to)
{
    // What the file was when it was opened, before a report read it: a
    // change since then is seen after the conversion.
    const file_stamp& read = file.opened;
    // Taking over the temporary file empties it: when it is the very file to
    // convert, that would destroy the user's data.
    if (denotes(temp_file_name, read))
        report_error("cannot convert temporary file", name);
    FileStream temp;
    open_temp_file(temp);
    // Another run's temporary file, named from another directory, is
    // emptied and written back by that run: it is never converted. The
    // shared lock taken here keeps such a run waiting until this conversion
    // is done. A file system without locks cannot tell, and goes on.
    if (plat_try_share(file.stream) == call_busy)
        drop_temp(temp, "cannot convert temporary file", name);
    std::uint64_t sum = 0;
    if (coarse_time(read) && !sum_content(file, &sum))
        drop_temp(temp, "cannot read file", name);
    convert_line_endings(file, temp, from, to);
    if (file.failed())
        drop_temp(temp, "cannot read file", name);
    // A file that reads otherwise than its size says is no ordinary file (a
    // file of /proc or /sys, where a write is a command to the system), or
    // it changed meanwhile: it is left alone.
    unsigned long long at = 0;
    if (!plat_tell(file.stream, &at) || at != read.size)
        drop_temp(temp, "file changed while converted", name);
    unsigned long long converted = 0;
    if (fflush(temp.stream) != 0 || temp.failed() || !plat_tell(temp.stream, &converted))
        drop_temp(temp, "cannot write file", temp_file_name);
    // A file that may not be written keeps its conversion in the temporary
    // file. One whose name no longer denotes it, or that was written to or
    // marked read-only meanwhile, is left alone.
    if (!writable)
        report_error("cannot open file", name);
    if (!denotes(name, read))
        drop_temp(temp, "file changed while converted", name);
    if (!seal_temp_file(temp))
        drop_temp(temp, "cannot write file", temp_file_name);
    // Looked at last thing before the file is emptied, so that a write
    // made meanwhile is not lost.
    if (!unchanged(file, read, sum))
        drop_temp(temp, "file changed while converted", name);
    copy_file(temp, temp_file_name, converted, file, name);
    remove_temp_file(temp);
    temp.close();
    // An interruption during the copy back ends the run once it is done.
    if (temp_interrupted())
        finish(2);
}

// Reports on the file NAME, converts it, or both, through one open of it:
// what is reported is what is converted.
void process_file(run_state& run, const char* name, size_t typed)
{
    // Without /v and a conversion a name is not even opened.
    if (!run.report_types && !run.from_type)
        return;
    FileStream file;
    bool writable = false;
    if (run.from_type)
        writable = open_for_update(file, name, typed);
    else
        file.open(name, open_read, typed);
    if (run.report_types) {
        report_file(file, name, run.from_type != 0);
        ++run.processed;
    }
    if (run.from_type) {
        convert_file_in_place(file, writable, name, run.from_type, run.to_type);
        ++run.processed;
    }
}

}  // namespace

int kelto_main(int argc, char** argv)
{
    run_state run;
    const char* unmatched = expand_wildcards(argc, argv, &argc, &argv);
    if (const char* path = unspelled_path())
        report_error("name not in code page", path);
    if (unmatched)
        report_error("no match file", unmatched);

    for (int i = 1; i < argc; ++i) {
        if (is_option(argv, i))
            read_option(run, argv[i] + 1);
    }
    if (run.describe) {
        print_description();
        finish(0);
    }

    for (int i = 1; i < argc; ++i) {
        if (is_option(argv, i))
            continue;
        process_file(run, argv[i], typed_length(i));
    }
    if (run.processed == 0)
        print_usage();
    return 0;
}
