// Rebuilding missing input slices from the present ones and the recovery
// slices a solution chose (recovery/solver.h), in passes over parts of the
// slices as the memory allows; each rebuilt part goes to the caller.
#pragma once
#include "recovery/par2_set.h"
#include "recovery/solver.h"
#include <atomic>

// The memory one pass may take.
constexpr size_t kRebuildMemory = 256u << 20;

struct RebuildInput {
    const Par2Set* set;
    const wchar_t* const* data_paths;   // per set file: the call path to read its present slices from (null: none)
    const uint8_t* present;             // per set slice: 1 when its data is sound at its place
    const uint32_t* missing;            // the solution's m slices, in its order
    const Solution* solution;
    std::atomic<int32_t>* stop;
    std::atomic<uint64_t>* done_bytes;
    size_t memory;                      // kRebuildMemory unless less is wanted
};

// Receives `len` rebuilt bytes of set slice `slice` from `offset` within it
// (the last slice of a file still padded with zeros); false stops the work.
typedef bool (*RebuiltPart)(void* context, uint32_t slice, uint64_t offset, const uint8_t* data, size_t len);

enum RebuildResult : int {
    Rebuilt = 0,
    RebuildStopped,
    RebuildReadFailed,     // a present slice or a recovery slice could not be read
    RebuildRefused,        // the receiver said stop
    RebuildNoMemory,
};

RebuildResult rebuild_slices(const RebuildInput* in, RebuiltPart part, void* context);
