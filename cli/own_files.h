// The run's own files (its report and manifest, and their temporaries):
// never part of what the run reports on. A unit of its own, below the
// targets and the report alike.
#pragma once

// Leaves the file at `path` (the run's report or manifest, or a temporary
// of either) out of every walk: a run does not report on its own output.
void leave_out_of_walk(const wchar_t* path);
// Whether `path` is one of those files.
bool is_own_file(const wchar_t* path);
