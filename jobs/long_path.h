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
// - in a 32-bit program on 64-bit Windows, a path under <windir>\System32
//   names <windir>\Sysnative, the alias that reaches the real folder, since
//   the platform would send System32 to SysWOW64.
// Returns false, with `out` empty, when the result would not fit: a path is
// never cut, since a cut path can name another file.
bool make_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out);

// The last step of make_call_path, for a call path formed otherwise.
bool give_native_system_folder(wchar_t* call_path);

// True when `path` already carries a "\\?\" or "\\.\" prefix.
bool has_long_prefix(const wchar_t* path);
