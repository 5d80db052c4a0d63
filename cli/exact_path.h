// Paths whose names the platform's path handling would change. A name that
// ends in a dot or a blank loses that ending, and a device's name (AUX, CON,
// NUL, COM1...) names the device, when a path goes through the platform's
// normalising; such names exist on NTFS when another system made them. The
// long form ("\\?\") takes every name as it stands.
#pragma once
#include <stddef.h>

// Whether the platform opens the name [name, name + len) (with any
// extension, trailing blanks or dots) as a device in every folder.
bool is_device_name(const wchar_t* name, size_t len);

// Whether the platform's normalising would change the name: it ends in a
// dot or a blank, or it is a device's name. "." and ".." are not names.
bool name_is_altered(const wchar_t* name, size_t len);

// The full path of `path` (`out`, `cap` characters), as full_path_of makes
// it, except that from the first name the normalising would change on, the
// names are kept exactly as they stand. `*kept` tells whether there was
// such a name. False when it does not fit.
bool exact_full_path(const wchar_t* path, wchar_t* out, size_t cap, bool* kept);

// The path the file calls take for `path` followed by `suffix` (`out`,
// kLongPathChars): as make_call_path, but in the long form, names exact,
// when a name of it would be changed. False when it does not fit.
bool make_exact_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out);
