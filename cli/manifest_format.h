// One line of a checksum manifest, in the convention every checksum tool
// reads (md5sum, sha256sum, rhash, whirlpoolsum):
//
//     <128 lower-case hex digits>  <path relative to the manifest's folder>
//
// UTF-8 without a byte-order mark, `/` between the path's names, each line
// ended by LF (a CR before the LF is accepted when reading). A path holding a
// newline or a carriage return is written escaped, as coreutils and rhash
// write it: the line begins with `\` and those characters become `\n` and
// `\r` (a backslash would become `\\`, but here it separates names and is
// written `/`). A line beginning with `\` is read the same way.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Longest path a line carries, in UTF-16 units, terminator included (the
// platform's longest path).
constexpr size_t kManifestPathChars = 32768;

// Longest line, LF included: the digest, two blanks, the escape marker and
// a path of the longest kind, each UTF-16 unit taking at most 3 bytes in
// UTF-8 and at most 2 when escaped.
constexpr size_t kManifestLineBytes = 1 + 128 + 2 + 3 * kManifestPathChars + 1;

// Writes the line for `digest` (64 bytes) and `rel_path` (UTF-16, names
// separated by `\` or `/`; written with `/`) into `out`, LF included.
// Returns its length, or 0 when the path cannot be written: empty, longer
// than `cap` allows, or not valid UTF-16 (a lone surrogate has no UTF-8
// form, and a line that named another file would be worse than none).
size_t format_manifest_line(const uint8_t* digest, const wchar_t* rel_path, char* out, size_t cap);

// What reading one line found.
enum ManifestLine : int {
    LineEntry = 0,      // a digest and a path
    LineBlank,          // nothing on it (skipped)
    LineBadDigest,      // not 128 hex digits at its start
    LineBadSeparator,   // the digest is not followed by two blanks (or " *")
    LineNoPath,         // nothing after the separator
    LineBadEscape,      // an escape other than \\, \n, \r, or a lone trailing `\`
    LineBadText,        // not UTF-8, or a NUL byte
    LineTooLong,        // the path does not fit the platform's longest path
};

// Reads one line (`len` bytes, without its LF; a final CR is dropped).
// On LineEntry, `digest` holds the 64 bytes and `path` (kManifestPathChars)
// the path as UTF-16 exactly as the line names it, unescaped, separators
// untouched; its checking and forming is manifest_path's business.
ManifestLine parse_manifest_line(const char* line, size_t len, uint8_t* digest, wchar_t* path);

// A short English phrase for a line that is not an entry ("the digest is not
// 128 hex digits", ...), for the message naming the line.
const char* manifest_line_problem(ManifestLine kind);
