// The form in which the file-system calls take a path. What the user sees
// (list items, the status line, messages, a console's lines) stays as the
// user wrote it or as the walk joined it; only the calls see this form.
#pragma once
#include <stddef.h>

// The platform's longest path, terminator included.
constexpr size_t kLongPathChars = 32768;

// A call path of this many characters or more takes the long form.
constexpr size_t kLongFormFrom = 259;

// Writes into `out` (kLongPathChars) the path that the file-system calls take
// for `path` followed by `suffix` (L"" or, for a stream, L":z"):
// - shorter than kLongFormFrom with its suffix: exactly as written;
// - longer: made absolute and normalised (relative parts, "." and "..",
//   forward slashes) and given "\\?\" (drive paths) or "\\?\UNC\" (network
//   paths);
// - already carrying "\\?\" or "\\.\": as written.
// Returns false, with `out` empty, when the result would not fit: a path is
// never cut, since a cut path can name another file.
bool make_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out);

// True when `path` already carries a "\\?\" or "\\.\" prefix.
bool has_long_prefix(const wchar_t* path);
