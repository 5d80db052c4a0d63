// The targets of a run: that they exist, the walk over them, the size pass,
// and the two call paths of the file being worked on.
#pragma once
#include "cli/findings.h"
#include "jobs/hash_stream.h"

// The file being worked on, in the form the file calls take: its data and
// its stream. Filled by form_call_paths.
extern wchar_t g_file_path[kLongPathChars];
extern wchar_t g_stream_path[kStreamPathChars];

// Forms both call paths of `path` (as written or joined). False when either
// does not fit: such a file is never worked on under a cut name.
bool form_call_paths(const wchar_t* path);

// The start of every command's work on one file: counts it as reached and
// forms its call paths. False, after the finding `too_long` for it, when the
// paths do not fit.
bool begin_file(const wchar_t* path, FindingStatus too_long);

// The operands from the command's first target on are its targets.

// True when every target exists; otherwise says which does not, on
// standard error. A target on a drive without a folder after it ("D:",
// "D:Photos") is first replaced by its full path: that drive's current
// folder, as Windows reads it.
bool targets_exist();

// Leaves the file at `path` (the run's report or manifest, or a temporary
// of either) out of every walk: a run does not report on its own output.
void leave_out_of_walk(const wchar_t* path);
// Whether `path` is one of those files.
bool is_own_file(const wchar_t* path);

// Visits every target in order: folders are walked (a folder that cannot be
// enumerated, or a link leading back to a folder being walked, is a
// "skipped" finding), anything else goes to `file` as written; the run's
// own files are passed over. `file` returns false to stop. Stops before the next file once an
// interrupt has arrived; false when stopped.
bool visit_targets(bool (*file)(const wchar_t* path));

// Adds up in g_cli.total_bytes the sizes of the files that the command's
// size pass counts (by the attribute query; nothing is opened).
void size_pass(int which);
