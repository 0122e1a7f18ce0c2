#include "tempfile.h"

#include <atomic>
#include <cstdlib>

namespace {

// What an interruption does depends on where the temporary file stands.
enum temp_phase {
    phase_none,        // there is none: the signal has its usual effect
    phase_taking,      // it is being had: the signal waits until it is
    phase_conversion,  // the file on disk is untouched and the temporary file
                       // worthless: it is deleted and the run ends at once
    phase_copy_back,   // the file is rewritten: the copy is finished first
};

// Read by the interruption's handler, in a signal handler or on a thread of
// its own: lock-free atomics are safe in both.
std::atomic<int> current_phase{phase_none};
std::atomic<bool> interrupted{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler's state needs no lock");

// The temporary file in use and the file its name denoted when it was had.
const char* held_name = nullptr;
file_stamp held_id;

// Opens NAME without following a link into TEMP: made anew, or the file
// found. That one is looked at before it is opened, so that no device or
// FIFO is ever opened, and opened for writing where it may be, else for
// reading, so that a file that another run holds is told from one refused.
temp_call open_temp(FileStream& temp, const char* name, bool* made, bool* writable)
{
    temp_call r = plat_open_temp(name, temp_make, &temp.stream);
    *made = r == call_done;
    if (r != call_exists)
        return r;
    file_stamp named;
    if (!plat_look(name, false, &named))
        return call_missing;
    if (!named.regular)
        return call_failed;
    r = plat_open_temp(name, temp_write, &temp.stream);
    *writable = r != call_denied;
    return *writable ? r : plat_open_temp(name, temp_read, &temp.stream);
}

// Whether the locked file HELD may be used: a regular file of this user's
// own with no other link, writable and not marked read-only by a copy back
// that did not end (it may hold the only complete copy of a file), and, when
// it was found rather than made, on the mount of the current directory.
temp_status judge(FileStream& temp, const file_stamp& held, bool made, bool writable)
{
    if (!held.regular)
        return temp_failed;
    if (held.links != 1 || !held.own || held.read_only || !writable ||
        (!made && !plat_same_mount(temp.stream)))
        return temp_refused;
    return temp_ready;
}

// Waits, holding nothing, until the run that holds the temporary file found
// in TEMP (or, where the open was refused, under its name) has finished
// with it, and closes it. Until then there is nothing to undo: an
// interruption has its usual effect.
void wait_turn(FileStream& temp)
{
    if (interrupted)
        finish(2);
    current_phase = phase_none;
    plat_wait_turn(temp.stream);
    current_phase = phase_taking;
    if (temp.stream)
        temp.close();
}

// Has the file locked and judged, in a few attempts: between two of them
// another run may have deleted the file found, or made one of its own. A
// file that another run holds is waited for, as often as that happens:
// each wait ends with that run's file done.
temp_status take(FileStream& temp, const char* name)
{
    for (int attempt = 0; attempt < 4;) {
        bool made = false;
        bool writable = true;
        file_stamp held = {};
        temp_call r = open_temp(temp, name, &made, &writable);
        if (r == call_done && !plat_stamp(temp.stream, &held))
            r = call_failed;
        if (r == call_done)
            r = plat_try_lock(temp.stream);
        // Its last user may have deleted it before it let go of the lock, or
        // someone put another file in its place.
        if (r == call_done && !denotes(name, held, false))
            r = call_missing;
        if (r == call_busy) {
            wait_turn(temp);
            continue;
        }
        // A file that this user may not even read is another's.
        temp_status status = r == call_done     ? judge(temp, held, made, writable)
                             : r == call_denied ? temp_refused
                                                : temp_failed;
        if (status == temp_ready && held.size != 0 && !plat_truncate(temp.stream))
            status = temp_failed;
        if (status == temp_ready && !plat_hold(temp.stream, name, held))
            status = temp_failed;
        if (status == temp_ready) {
            held_name = name;
            held_id = held;
            return status;
        }
        // A file made here but not locked is removed; one locked by another
        // run that found it belongs to that run now.
        if (made && r == call_failed && plat_hold(temp.stream, name, held))
            plat_delete_held();
        if (temp.stream)
            temp.close();
        if (r != call_missing)
            return status;
        ++attempt;
    }
    return temp_failed;
}

}  // namespace

bool temp_on_interrupt()
{
    int phase = current_phase;
    if (phase == phase_conversion) {
        plat_delete_held();
        std::_Exit(2);
    }
    if (phase == phase_none)
        return false;
    interrupted = true;
    return true;
}

temp_status take_temp_file(FileStream& temp, const char* name)
{
    current_phase = phase_taking;
    temp_status status = take(temp, name);
    current_phase = status == temp_ready ? phase_conversion : phase_none;
    // An interruption while the file was being had waited for it: it now
    // deletes the file and ends the run, as during a conversion.
    if (interrupted)
        temp_on_interrupt();
    return status;
}

void open_temp_file(FileStream& temp)
{
    // By temp_status.
    const char* const messages[] = {nullptr, "cannot open file", "cannot use temporary file"};
    temp_status status = take_temp_file(temp, temp_file_name);
    if (status != temp_ready)
        report_error(messages[status], temp_file_name);
}

bool seal_temp_file(FileStream& temp)
{
    // Not forced to the disk: a flush per file made a run over many small
    // files several times slower.
    bool ok = fflush(temp.stream) == 0 && !temp.failed() && plat_mark(temp.stream, true) &&
              fseek(temp.stream, 0, SEEK_SET) == 0;
    if (ok)
        current_phase = phase_copy_back;
    return ok;
}

void remove_temp_file(FileStream& temp)
{
    // Should the deletion fail, the mark goes: what is left is then an
    // ordinary leftover that the next conversion takes over. When the name
    // no longer denotes the run's file, nothing more is changed.
    if (!plat_delete_held() && denotes(held_name, held_id, false))
        plat_mark(temp.stream, false);
    current_phase = phase_none;
}

bool temp_interrupted()
{
    return interrupted;
}
