// The temporary file in which each conversion is built: when an existing one
// may be taken over, and what an interruption does while one is in use.
#pragma once

#include "fileio.h"

// How the temporary file was had.
enum temp_status {
    temp_ready,    // made, or an old one of this user's taken over, and empty
    temp_failed,   // it could not be made or opened
    temp_refused,  // it may hold the only complete copy of a file (it is
                   // read-only), has other links, belongs to another user,
                   // or lies on another mount than the current directory
};

// What an interruption does, by where the temporary file stands; for
// plat_on_interrupt. It reads atomic state and calls async-signal-safe
// functions only.
bool temp_on_interrupt();

// Makes the temporary file NAME into TEMP, or takes over an old one, for
// writing and reading back, this run's alone until it is closed. While
// another run holds it, waits for that run to finish with it. From here on
// an interruption deletes it and ends the run with exit code 2.
temp_status take_temp_file(FileStream& temp, const char* name);

// The same for temp_file_name; a temporary file that may not be taken over
// ends the run, and so does one that cannot be opened.
void open_temp_file(FileStream& temp);

// Before the copy back: flushes the temporary file, marks it read-only (the
// mark of a copy that may be the only complete one) and rewinds it. From
// here on an interruption waits for the copy back (temp_interrupted). False
// when writing it failed.
bool seal_temp_file(FileStream& temp);

// Deletes the temporary file when its name still denotes it; the stream
// stays open. An interruption has its usual effect again.
void remove_temp_file(FileStream& temp);

// True when an interruption came during a copy back.
bool temp_interrupted();
