// A recovery set read back from its files: every packet that is whole (its
// MD5 right) and belongs to the set is taken, the first of each kind per
// file or exponent; damaged packets, packets of other sets and packet types
// this reader does not know are passed over and counted.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

struct SetFile {
    uint8_t id[16];
    bool described;          // its File Description packet was found
    uint8_t md5[16];         // of the whole file
    uint8_t md5_16k[16];     // of its first 16 KiB
    uint64_t length;
    char* name;              // as stored ('/'-separated, UTF-8 in practice), zero-terminated, padding cut
    size_t name_bytes;
    uint8_t* checksums;      // 20 bytes per slice (MD5, then CRC-32 little-endian), or null when not found
    uint32_t slice_count;    // slices the length makes
    uint32_t first_slice;    // its first slice's number in the set
};

struct RecoverySlice {
    uint32_t exponent;
    int par_file;            // which of the set's files holds it
    uint64_t data_offset;    // where its data begins in that file
    uint64_t data_bytes;     // how long it is (one slice in a sound set)
};

struct Par2Set {
    uint8_t set_id[16];
    uint64_t slice_size;
    uint32_t file_count;        // the files that can be repaired, in Main-packet order
    SetFile* files;
    uint32_t slice_count;       // over all of them
    uint32_t recovery_count;
    RecoverySlice* recovery;    // by exponent, ascending
    int par_file_count;
    wchar_t** par_files;        // call paths, as given
    uint32_t damaged_packets;   // passed over: MD5 or length wrong
    uint32_t other_packets;     // passed over: unknown type or another set
    char creator[128];          // the first Creator packet's text
};

enum SetRead : int {
    SetReadOk = 0,
    SetNoMain,          // no whole Main packet: nothing can be done
    SetIncomplete,      // a file of the set has no File Description or no slice checksums
    SetUnreadable,      // a file could not be opened or read
    SetBadMain,         // the Main packet makes no sense (slice size 0 or not a multiple of 4, too many slices)
    SetReadNoMemory,
};

// Reads the set from the files `paths` (call paths; the first the index
// file, which decides the set when files of several sets are given). The
// paths are copied.
SetRead read_set(const wchar_t* const* paths, int count, Par2Set* set);
void free_set(Par2Set* set);

// Whether a stored name may be joined to a folder: relative, '/'-separated,
// no empty, "." or ".." parts, none of \ : * ? " < > | or control characters.
bool set_name_is_safe(const char* name, size_t bytes);
