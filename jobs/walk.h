// The depth-first walk of a folder, shared by both programs: every file below
// the folder reaches the visitor under its joined path (folder, separator,
// names), at any depth the platform allows.
#pragma once
#include <windows.h>

struct WalkVisitor {
    // One file, under its joined path. Returning false stops the walk.
    bool (*file)(const wchar_t* path);
    // A folder that could not be enumerated (no access, gone, too long): its
    // files were not visited.
    void (*skipped)(const wchar_t* folder);
};

// Walks `folder` and everything below it, depth first, in the order the file
// system enumerates each folder. False when the visitor stopped it. One walk
// at a time in the process (it works in one process-wide buffer).
bool walk_directory(const wchar_t* folder, const WalkVisitor* visit);

// Whether `path` (as written) names an existing file or folder / a folder.
bool target_exists(const wchar_t* path);
bool target_is_directory(const wchar_t* path);
