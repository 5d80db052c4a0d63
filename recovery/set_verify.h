// Which slices of a file are the set's own: each slice's MD5 and CRC-32 at
// its place (the last one padded with zeros), as the slice checksums hold
// them.
#pragma once
#include "recovery/par2_set.h"
#include <atomic>

struct SliceCheck {
    bool exists;         // the file could be opened
    bool read_whole;     // every byte up to the set's length (or the file's end) could be read
    uint64_t size;       // the file's size now
    uint32_t bad;        // slices that are not the set's (missing ones included)
};

// Checks file `f` of the set at `call_path`: present[first_slice + i] is set
// to 1 for each sound slice, 0 for the others. A file shorter than the set
// says misses the slices it does not reach; a longer one is not whole, though
// its slices may all be sound. `done_bytes` (may be null) counts bytes read.
void check_slices(const Par2Set* set, uint32_t f, const wchar_t* call_path, uint8_t* present, SliceCheck* out,
                  std::atomic<uint64_t>* done_bytes);

// Whether the check found the file exactly the set's: every slice sound and
// the length right.
inline bool file_is_intact(const Par2Set* set, uint32_t f, const SliceCheck* c)
{
    return c->exists && c->read_whole && c->bad == 0 && c->size == set->files[f].length;
}
