// kestrin-cli's side of a recovery set: where its files lie, the names it
// stores relative to a folder, and the set read back for repair, check and
// update (the format itself is the recovery layer's).
#pragma once
#include "recovery/par2_set.h"
#include <stddef.h>

// "SET" of "SET.par2" (case-insensitive) into `out` (kLongPathChars); false
// when the name does not end in ".par2".
bool set_base_of(const wchar_t* set_path, wchar_t* out);

// Whether `path` is one of the set's own files (BASE.par2, BASE.*.par2, or
// a temporary of either) for the set at `base` (as set_base_of gives it):
// a set kept inside the folder it protects is not part of what it protects.
bool is_set_file(const wchar_t* base, const wchar_t* path);

// The name a file under `folder` gets in a set: relative, '/' between
// names, UTF-8, into `out` (`cap` bytes, terminated). False when the path
// does not lie under the folder or has no UTF-8 form (a lone surrogate).
bool set_name_of(const wchar_t* folder, const wchar_t* path, char* out, size_t cap, size_t* len);

// `folder` joined with a stored name ('/' made '\'), as the user would write
// it (into `out`, kLongPathChars). False when it does not fit or the name
// may not be joined (recovery/par2_set.h's set_name_is_safe).
bool set_member_path(const wchar_t* folder, const char* name, size_t len, wchar_t* out);

// Reads the set named SET.par2 with every BASE.*.par2 beside it. False,
// after a message on standard error, when it cannot be used at all.
bool load_named_set(const wchar_t* set_path, Par2Set* set);

// The set's file with the stored name, or -1.
int find_set_member(const Par2Set* set, const char* name, size_t len);

// check and update --set SET.par2: the set of the folder that is the first
// target, read before the run (false, after a message, when it cannot be).
struct FileWork;
bool prepare_set_option();
// A corrupt file's outcome says whether the set can rebuild it: the set
// holds it, and its damaged slices are no more than the set's recovery
// slices (the damage of other files left aside).
void note_repairable(FileWork* work, const wchar_t* path);
// update: a file of the folder got a new digest (edited) or its first one
// (added); a set that holds an older content of it, or lacks it, is stale.
void note_set_change(const wchar_t* path);
// At the end of update: the finding "stale" for the set when anything
// changed under it.
void report_stale_set();
