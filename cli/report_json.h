// The --report file: one JSON object in UTF-8, written as the run goes
// (findings are streamed, so memory stays flat over any number of files)
// under a temporary name beside the report, and moved into place only when
// it is whole.
#pragma once

// Creates the temporary file beside `path` and writes the head of the object
// (command, targets, version, start time); both are left out of the walk.
// False, with a message on standard error, when it cannot be created: then
// the command must not run.
bool report_open(const wchar_t* path);

// One finding into the findings array. Nothing without an open report.
// `repairable` 0 or 1 adds whether the named recovery set can rebuild the
// file; -1 adds nothing.
void report_finding(const wchar_t* status, const wchar_t* path, int repairable = -1);

// Writes the tail (end time, counts, bytes hashed, exit code), closes the
// file and moves it over `path`. False, with a message, when the report
// could not be completed or moved; the temporary file is then removed. Any
// thread; once ended (a closing console ends it from the handler), later
// calls only say whether it was placed.
bool report_close(int exit_code);
