// Rolling slices (--slice): a run that looks at only the files whose path
// falls into one of N slices, so that a large archive is seen whole over N
// runs. Membership is a function of the path alone: nothing is kept between
// runs, every file lies in exactly one slice, and a new file belongs to one
// from the moment it exists.
#pragma once
#include <stdint.h>

struct RunSlice {
    uint32_t k;          // the slice this run looks at, 0 to n-1
    uint32_t n;          // the number of slices; 0: no --slice, every file
    uint32_t outside;    // files the walk met that lie in another slice
};

extern constinit RunSlice g_slice;

// Reads the text of --slice into g_slice: "K/N" (0 <= K < N <= 10000), or
// "week/N" or "day/N", which take K from today's local date: the number of
// whole weeks (days) since Monday, 1 January 2001, modulo N. A weekly task
// that passes "week/N" thus meets slice 0, 1, ..., N-1 in turn, without a
// repeat or a gap at the turn of a year. False for anything else.
bool parse_slice(const wchar_t* text);

// The slice of `path` (as written or joined) among `n`: its full path, case
// folded, hashed. On the walk's thread only.
uint32_t slice_of_path(const wchar_t* path, uint32_t n);

// Whether the run looks at `path` (true without --slice); `count`: a file
// outside the slice is counted in g_slice.outside. On the walk's thread.
bool in_run_slice(const wchar_t* path, bool count);
