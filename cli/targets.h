// The targets of a run: that they exist, the walk over them, the size pass,
// and the two call paths of the file being worked on.
#pragma once
#include "cli/file_pool.h"
#include "cli/findings.h"
#include "cli/own_files.h"
#include "jobs/hash_stream.h"

// Forms both call paths of `path` (as written or joined): its data's and its
// stream's. False when either does not fit: such a file is never worked on
// under a cut name. Any thread.
bool form_call_paths(const wchar_t* path, wchar_t* file_path, wchar_t* stream_path);

// The start of every command's work on one file: counts it as reached and
// forms its call paths into `work`. False, after the finding `too_long` for
// it, when the paths do not fit.
bool begin_file(FileWork* work, const wchar_t* path, FindingStatus too_long);

// The record's call path of the worker's file (into work->record_path), or
// null when it does not fit.
const wchar_t* record_path_of(FileWork* work);

// The operands from the command's first target on are its targets.

// True when every target exists; otherwise says which does not, on
// standard error. A target on a drive without a folder after it ("D:",
// "D:Photos") is first replaced by its full path: that drive's current
// folder, as Windows reads it.
bool targets_exist();


// The number of workers a run takes when --jobs is not given: every
// processor where each target lies on a drive without a seek penalty,
// otherwise one (cli/default_jobs.h).
int default_run_jobs();

// Starts the run's workers (g_cli.jobs) for `job`, which is not begun for a
// file handed in after an interrupt; what each file yields goes to
// `give_out` in the order handed in (null: its findings are added). False,
// after a message, when they cannot be had. pool_finish ends them.
bool start_workers(FileJob job, GiveOut give_out);

// Visits every target in order: folders are walked (a folder that cannot be
// enumerated, or a link leading back to a folder being walked, is a
// "skipped" finding), each file goes to `job` on one of the run's workers,
// the run's own files are passed over; what each file yields goes to
// `give_out` in the walk's order (null: its findings are added). Stops
// before the next file once an interrupt has arrived or stop_walk was
// called; false when stopped.
bool visit_targets(FileJob job, GiveOut give_out = nullptr);

// Ends the walk before its next file (a manifest that cannot be written).
void stop_walk();

// Adds every finding a file yielded (the usual GiveOut).
void add_file_findings(const wchar_t* path, const FileOutcome* outcome);

// The size of the file at `path` (as written or joined) by the attribute
// query, on the walk's thread; false when it has none to give.
bool size_of_target_file(const wchar_t* path, uint64_t* size);

// Adds up in g_cli.total_bytes the sizes of the files that the command's
// size pass counts (by the attribute query; nothing is opened).
void size_pass(int which);
