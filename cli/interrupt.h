// Ctrl+C and Ctrl+Break: the run stops before its next file, no stream write
// is begun after the interrupt, and one that is under way is finished first.
// The console closed, a log-off, a shut-down: the process has moments left,
// so the run is ended at once: the report is moved into place saying
// interrupted, and unfinished files (a manifest's temporary) are removed.
#pragma once
#include <windows.h>

// Installs the console control handler (Ctrl+C included, even in a process
// group of its own).
void install_interrupt_handler();

// The handler itself.
BOOL WINAPI on_console_event(DWORD event);

// What the handler does for a closing console, after the interrupt is
// raised and writing closed: halts hashing at its next read, gives a run
// between files a moment to end by itself, then ends the report (as
// interrupted) and abandons every file still being written.
void end_run_for_close();

// Closes stream writing for good once no stream is being written: after it
// returns, the shared write (write_digest) refuses to begin. Any thread.
void close_writing();
