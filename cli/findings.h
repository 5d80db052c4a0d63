// A finding: one file (or folder) that is not simply fine, printed as one
// line "STATUS  PATH", counted, and streamed into the report. The exit code
// is made from the counts.
#pragma once
#include <stdint.h>

enum FindingStatus : int {
    StatusAltered = 0,   // the content differs from its digest, and no record tells how
    StatusCorrupt,       // the content differs while size and last-write time are the recorded ones
    StatusEdited,        // the content differs and the file was written since its digest was made
    StatusDamaged,       // the stream is shorter than 64 bytes, or reading it failed
    StatusUnreadable,    // the data (or its stream) could not be opened, or did not deliver its whole size
    StatusNoDigest,      // the file carries no digest
    StatusSkipped,       // a folder that could not be enumerated
    StatusNotWritten,    // create, rewrite, update: the digest could not be stored
    StatusNotDeleted,    // remove: the stream could not be deleted
    StatusMissing,       // a file named in a manifest is not there
    StatusUpdated,       // update: an edited file got a new digest (not a fault)
    StatusAdded,         // update: a file without a digest got one (not a fault)
    StatusRewritten,     // rewrite: a file got a new digest of what it holds now (not a fault)
    StatusDigest,        // list: the file carries a digest (not a fault)
    StatusRepaired,      // repair: rebuilt, its digest proved, and put in place (not a fault)
    StatusUnrepairable,  // repair: damaged, and the set cannot rebuild it (or not proven original)
    StatusRepairable,    // repair --check: damaged, and the set can rebuild it
    StatusIntact,        // repair: the file is the set's own data (only in the report)
    StatusStale,         // update --set: files in the set were edited or added since it was made
    kStatusCount
};

// The exit codes that scripts rely on.
enum ExitCode : int {
    ExitFine = 0,
    ExitAltered = 1,      // at least one file altered, corrupt or damaged
    ExitIncomplete = 2,   // nothing altered, but not everything verified or done
    ExitUsage = 3,        // the command did not run
    ExitInterrupted = 4,  // stopped by an interrupt after the current file
};

// The word printed for a status ("altered", "no-digest", ...).
const wchar_t* status_name(FindingStatus status);

// Records one finding: its line on standard output (--quiet keeps it: the
// findings are what a quiet run prints), its count, and the report's entry.
void add_finding(FindingStatus status, const wchar_t* path);
// The same, with what only the report says: `repairable` -1 (nothing), or
// whether the named recovery set can rebuild the file; `printed` false for
// a finding that only the report holds.
void add_finding_ex(FindingStatus status, const wchar_t* path, int repairable, bool printed);

// The exit code of the run from what it found: 4 when interrupted, else 1
// for any altered, corrupt or damaged file, else 2 for anything not verified or not
// done, else 0.
int run_exit_code();
