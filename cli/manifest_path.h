// Paths between a manifest and the files it names: the relative path a file
// gets in a manifest, and the checking of a path read from one before any
// file is opened under it. A manifest names files inside its own folder
// only; a line that could reach anything else (an absolute path, a drive,
// "..", a stream) is refused. A name the platform would take for a device
// or shorten (AUX, "name.") is a file's name here: the files are opened by
// their exact names (cli/exact_path.h).
#pragma once
#include <stddef.h>

// What checking a path read from a manifest found.
enum ManifestPath : int {
    PathInside = 0,     // names a file inside the manifest's folder
    PathAbsolute,       // begins at a root, a drive or a network share
    PathOutside,        // climbs out through ".." (or a name of dots only)
    PathNoName,         // names nothing ("", ".", "./")
    PathStream,         // holds a ':' (a stream or a drive in its middle)
};

// Checks `path` (as read from a line) and forms it for joining to the
// manifest's folder into `out` (`cap` characters): `/` and `\` both
// separate names and become `\`, repeated separators and "." names are
// dropped. `out` is empty unless the result is PathInside.
ManifestPath check_manifest_path(const wchar_t* path, wchar_t* out, size_t cap);

// A short English phrase for a refused path ("names a file outside the
// manifest's folder", ...).
const char* manifest_path_problem(ManifestPath kind);

// The full path of `path` for comparing locations (`out`, `cap` characters):
// made absolute from the current folder, "." and ".." resolved, without a
// "\\?\" or "\\?\UNC\" prefix and without a final separator except after a
// drive's root. False when it does not fit.
bool full_path_of(const wchar_t* path, wchar_t* out, size_t cap);

// True when full paths `a` and `b` name the same place (the platform's
// case-insensitive comparison).
bool same_full_path(const wchar_t* a, const wchar_t* b);

// When full path `file` lies inside full path `folder`, writes its path
// relative to `folder`, names separated by `/`, into `out` (`cap`
// characters) and returns true; false when it lies elsewhere, is `folder`
// itself, or does not fit.
bool make_relative_path(const wchar_t* folder, const wchar_t* file, wchar_t* out, size_t cap);
