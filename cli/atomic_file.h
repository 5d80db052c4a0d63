// A file written whole or not at all: the text goes, buffered, into a
// temporary beside the file, and only a complete temporary, on disk, is
// moved over the file's name. The report and the manifest are written so.
// Writing and closing are guarded by the file's own lock, so that the
// interrupt handler of a closing console may end a file the main thread is
// still writing (see atomic_file_abandon_all).
#pragma once
#include "cli/text_sink.h"
#include "jobs/long_path.h"
#include <windows.h>

struct AtomicFile {
    TextSink sink;                          // handle: the temporary; failed: a write failed
    bool open;
    bool lock_ready;
    CRITICAL_SECTION lock;
    wchar_t temp[kLongPathChars];           // in the form the calls take
    wchar_t target[kLongPathChars];
};

// Creates (or replaces) the temporary `path` + `suffix` beside `path` (as
// written; any length). False when it cannot be created (GetLastError tells
// why); `file` is then not open.
bool atomic_file_begin(AtomicFile* file, const wchar_t* path, const wchar_t* suffix);

// Takes the file's lock for a piece of writing (into file->sink, with the
// sink_ routines) that must stand whole. False, without the lock, once the
// file is closed.
bool atomic_file_enter(AtomicFile* file);
void atomic_file_leave(AtomicFile* file);

// Writes out the rest, puts it on disk, closes the temporary and moves it
// over the file's name (write-through). False, with the temporary removed
// and the old file left as it was, when any step failed or the file was
// already closed; GetLastError tells why.
bool atomic_file_commit(AtomicFile* file);

// Closes and removes the temporary; the file's name keeps what it held.
void atomic_file_abandon(AtomicFile* file);

// Abandons every file still open in the process: the console is closing
// and what is unfinished must not be left behind.
void atomic_file_abandon_all();
