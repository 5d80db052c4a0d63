// Whole files handed to several workers at once, and what each file yields
// given out in the order the walk handed the files in: the output, the report
// and the exit code of a run are the same whatever the number of workers.
//
// The walk runs on the calling thread and submits each file; a worker takes
// the oldest file not yet taken and does the command's whole work on it with
// its own context. Submitting blocks while every slot is in use, so memory is
// bounded by the number of workers and flat in the number of files.
#pragma once
#include "cli/findings.h"
#include "jobs/hash_stream.h"
#include <stdint.h>

constexpr int kMaxJobs = 64;
// More than any command's work on one file yields.
constexpr int kMaxFileFindings = 4;

// What one file yielded, given out on the walk's thread in the walk's order.
struct FileOutcome {
    int finding_count;
    FindingStatus findings[kMaxFileFindings];
    // Its last-write time could not be put back: said on standard error
    // after its findings.
    bool time_lost;
    // export: the file's digest goes into the manifest, in its place.
    bool manifest_line;
    uint8_t digest[kDigestBytes];
    // check, update --set: whether the set can rebuild a corrupt file (-1: not asked).
    int repairable;
};

// One worker's own things: the call paths of the file in hand, the digest a
// manifest holds for it, and what it has yielded so far.
struct FileWork {
    wchar_t file_path[kLongPathChars];
    wchar_t stream_path[kStreamPathChars];
    wchar_t record_path[kStreamPathChars];
    int worker;                  // 0 .. jobs - 1: which hashing context is its own
    const uint8_t* expected;     // verify, import: the 64 bytes of the file's line; else null
    FileOutcome outcome;
};

// The command's work on one file, as joined by the walk.
typedef void (*FileJob)(FileWork* work, const wchar_t* path);
// Takes what a file yielded, on the walk's thread, in the walk's order.
typedef void (*GiveOut)(const wchar_t* path, const FileOutcome* outcome);

// Records a finding of the file in hand; it is given out, with the file's
// path, when the file's turn comes. Any thread.
void file_finding(FileWork* work, FindingStatus status);

// Starts `jobs` workers (1 to kMaxJobs) for `job`. With 1 there is no thread:
// each file is worked on when it is submitted. False when the threads could
// not be made; nothing is then started.
bool pool_start(int jobs, FileJob job, GiveOut give_out);

// Hands in one file (its path, and `expected` when given, are copied), then
// gives out every file that is finished and whose turn has come. Blocks
// while every slot is in use.
void pool_submit(const wchar_t* path, const uint8_t* expected = nullptr);

// Hands in a finding of the walk itself (a folder that could not be
// enumerated), to be given out in its place among the files.
void pool_submit_finding(const wchar_t* path, FindingStatus status);

// Waits for every file handed in, gives out the rest in order and ends the
// workers.
void pool_finish();

// The number of workers of the run, 1 when none was started.
int pool_jobs();
