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
    // Each folder is entered once along any chain of folders: a link or
    // junction that leads back to a folder being walked (same volume serial
    // and file index) is not entered but reported to `skipped`. Without it a
    // link is walked as a folder until its path is MAX_PATH long.
    bool once_per_folder;
};

// The enumeration's next-entry call. Tests replace it to make a listing fail
// half-way; the walk takes only ERROR_NO_MORE_FILES as a folder's end.
extern BOOL(WINAPI* walk_find_next)(HANDLE find, WIN32_FIND_DATAW* entry);

// Walks `folder` and everything below it, depth first, in the order the file
// system enumerates each folder. False when the visitor stopped it. One walk
// at a time in the process (it works in one process-wide buffer).
bool walk_directory(const wchar_t* folder, const WalkVisitor* visit);

// Whether `path` (as written) names an existing file or folder / a folder.
bool target_exists(const wchar_t* path);
bool target_is_directory(const wchar_t* path);
