// A manifest file read into memory and taken line by line: every line is
// checked before any file is opened for it. (A manifest is written through
// cli/atomic_file.h, under the temporary name below.)
#pragma once
#include "cli/manifest_format.h"
#include "cli/manifest_path.h"
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// A manifest read into memory.
struct ManifestText {
    char* block;         // the allocation
    char* data;          // the whole file (without a byte-order mark)
    size_t size;
    size_t pos;          // where the next line begins
    unsigned line;       // number of the line last taken, from 1
};

enum ManifestLoad : int {
    ManifestLoaded = 0,
    ManifestNotFound,     // no such file
    ManifestIsFolder,     // the name is a folder's
    ManifestUnreadable,   // it could not be opened or read whole
    ManifestTooLarge,     // larger than a manifest can sensibly be held in memory
};

// Reads the file at `path` (as written; any length) whole. The buffer lives until
// release_manifest.
ManifestLoad load_manifest(const wchar_t* path, ManifestText* text);
void release_manifest(ManifestText* text);

// One entry of a manifest.
struct ManifestEntry {
    alignas(16) uint8_t digest[64];
    wchar_t path[kManifestPathChars];   // relative path formed for joining (`\` between names)
    wchar_t raw_path[kManifestPathChars];   // the path as the line names it (for messages)
    unsigned line;                      // its line number
    ManifestLine line_kind;             // what the line was, when it was not an entry
    ManifestPath path_kind;             // what the path was, when it was refused
};

// Takes the next entry: 1 with `entry` filled, 0 at the end, -1 when the
// line `entry->line` is malformed (line_kind) or names a path that is
// refused (line_kind LineEntry, path_kind). Empty lines are passed over.
int next_manifest_entry(ManifestText* text, ManifestEntry* entry);

// Starts again from the first line.
void rewind_manifest(ManifestText* text);

// The manifest's folder as a prefix to put before an entry's path
// (`out`, kManifestPathChars): everything up to the last separator of
// `manifest` as written, "" when it has none ("MANIFEST", "D:MANIFEST" keeps "D:").
void manifest_folder_prefix(const wchar_t* manifest, wchar_t* out);

// The temporary's suffix, and the temporary name beside `manifest` (`out`,
// kManifestPathChars): the manifest's name followed by the suffix. False
// when it does not fit.
#define MANIFEST_TEMP_SUFFIX L".kestrin-tmp"
bool manifest_temp_path(const wchar_t* manifest, wchar_t* out);
