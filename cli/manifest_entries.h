// The files a manifest names, for the commands that read one (verify,
// import): the manifest is read and every line checked before any file is
// opened; then each entry reaches the command under its path joined to the
// manifest's folder, with the digest the line holds.
#pragma once
#include "cli/file_pool.h"
#include "cli/findings.h"
#include <stdint.h>

// Reads the manifest named by the command's operand and checks every line.
// False, after a message on standard error, when the manifest is missing,
// unreadable, names no file, or holds a line that is malformed or names a
// file outside its folder: then nothing is opened and the command does not
// run.
bool load_manifest_operand();

// Adds up in g_cli.total_bytes the sizes of the files the manifest names,
// for the progress line (by the attribute query; nothing is opened).
void manifest_size_pass();

// Gives every entry to `job` on one of the run's workers, in the manifest's
// order: the path as joined (the manifest's folder as written, then the
// entry's path), with the 64 bytes of its line as work->expected; what each
// yields is added in that order. Entries naming the manifest itself or its
// temporary are passed over. Stops before the next entry once an interrupt
// has arrived; false when stopped.
bool visit_manifest_entries(FileJob job);

// What to report for a file whose data could not be hashed: "missing" when
// it is not there, else "unreadable". `file_path` in the form the calls take.
FindingStatus missing_or_unreadable(const wchar_t* file_path);

// For the manifest commands, whose files the common run cannot count: turns
// the progress line on, as every hashing command shows it, when standard
// error is a console and --quiet was not given, after `size_pass` has filled
// the total. The common run stops it after the command.
void start_manifest_progress(void (*size_pass)());
