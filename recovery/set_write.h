// Making a recovery set: the slice size and count, the files' checksums and
// IDs, the recovery slices, and the set's files written as temporaries that
// are moved over their final names only once every one of them is whole.
//
// Files: BASE.par2 (the set's description, no recovery data) and
// BASE.volA+B.par2 holding B recovery slices from exponent A, in files of
// 1, 2, 4, ... slices; A is zero-padded to the digits of the number of
// recovery slices, B to those of the largest file's count.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <atomic>

// The default number of slices a set aims at, and the slice size's step.
constexpr uint32_t kDefaultSlices = 2000;
// The memory the slices of one pass may take (the recovery slices' share
// and the inputs read for them). A larger set takes several passes, each
// over a part of every slice.
constexpr size_t kSetMemory = 256u << 20;

// The slice size for files of these sizes (zero-byte files left out by
// the caller) aiming at `wanted` slices: the total divided by it, rounded
// up to a multiple of 4, then grown until no more than 32,768 slices are
// made. `slices` receives how many it makes.
uint64_t choose_slice_size(const uint64_t* sizes, int count, uint32_t wanted, uint32_t* slices);
// The number of recovery slices for `slices` input slices at `percent`:
// (slices x percent + 50) / 100, at least 1.
uint32_t recovery_slices_for(uint32_t slices, uint32_t percent);

struct SetInput {
    const wchar_t* call_path;
    const char* name;          // as stored: relative, '/'-separated, UTF-8
    size_t name_bytes;
    uint64_t size;             // as found before; a file whose size moved makes the set fail
};

struct SetOptions {
    uint64_t slice_size;
    uint32_t recovery_count;
    const char* creator;                 // the Creator packet's text
    std::atomic<int32_t>* stop;          // non-zero: stop before the next slice
    std::atomic<uint64_t>* done_bytes;   // input bytes taken, over every pass
    size_t memory;                       // kSetMemory unless a caller needs less
};

// The set's files: their temporaries, and the names they get.
struct SetFiles {
    int count;
    wchar_t** temp;
    wchar_t** final_name;
    uint64_t bytes;          // all of them together
    int passes;              // passes over the input made
};

enum SetWriteResult : int {
    SetWritten = 0,          // every temporary whole and on disk: commit_set or abandon_set
    SetWriteStopped,         // the stop flag: nothing left behind
    SetInputFailed,          // an input could not be read whole, or its size moved (`failed` says which)
    SetOutputFailed,         // a temporary could not be written
    SetTooLarge,             // more than 32,768 slices
    SetOutOfMemory,
};

// `base`: the call path of the set without ".par2". Inputs are taken in any
// order (the set's own order is by File ID). On anything but SetWritten no
// temporary is left.
SetWriteResult write_set(const wchar_t* base, const SetInput* inputs, int count, const SetOptions* options,
                         SetFiles* files, int* failed);
// Moves every temporary over its final name, recovery files first and the
// index file last. False when a move failed (the rest are removed).
bool commit_set(SetFiles* files);
void abandon_set(SetFiles* files);
void free_set_files(SetFiles* files);

// The final name's suffix for recovery file [first, first + count), into
// `out` (at least 40 characters).
void volume_suffix(uint32_t first, uint32_t count, int first_digits, int count_digits, wchar_t* out);
