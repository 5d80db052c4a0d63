// The HashStream record (the file's "z" stream: exactly 64 raw Whirlpool
// bytes) and process_file, the per-file action of the scan jobs.
#pragma once
#include <windows.h>

constexpr int kStreamPathChars = 262;   // stream path buffer, terminator included
constexpr int kDigestBytes = 64;

// Forms "<path>:z" in `out` (kStreamPathChars). Returns false when the stream
// path does not fit: such a file must never be worked on under a cut name.
bool make_stream_path(const wchar_t* path, wchar_t* out);

// Acts on one file according to g_run.mode (SizePass, List, Remove, else Check).
void process_file(const wchar_t* path);
