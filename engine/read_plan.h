// The reads of one file, shared by the window's digest_file and the contexts:
// the rule for when a file ends and whether its digest is its own.
#pragma once
#include "engine/digest.h"

struct ReadPlan {
    HANDLE file;
    uint64_t size;                 // the stated size (0 for a negative one)
    uint32_t read_size;
    HANDLE gate;                   // null: no wait
    std::atomic<int32_t>* stop;    // null: never stopped
    uint64_t delivered;            // bytes within the stated size so far
    DWORD error;                   // a failed read's error
    bool sound;                    // false once anything went wrong
    bool stopped;
    bool done;                     // no further read follows
};

// A plan for a file of `size` bytes (a negative size is never sound).
ReadPlan read_plan(HANDLE file, int64_t size, uint32_t read_size, HANDLE gate, std::atomic<int32_t>* stop);

// The next read into `area`: looks at the stop flag, waits on the gate, reads
// read_size bytes and keeps those within the stated size. Returns the bytes
// to hash; sets done when no read follows (the stated size reached, a read
// failed or delivered nothing or a count not a multiple of 64, or stopped).
uint32_t read_next(ReadPlan& plan, uint8_t* area);

// Compresses the whole blocks of `bytes` bytes at `data` into `state` and
// returns where the rest (bytes % 64) begins.
uint8_t* compress_blocks(CompressFn compress, uint8_t* state, uint8_t* data, uint32_t bytes);

// The final block(s), formed in place at `tail` over its `pending` (< 64)
// bytes: 0x80, zeros, and the bit length in the last 8 bytes (the upper 24
// bytes of the 256-bit length field are always zero). `tail` has 64 writable
// bytes.
void finish_digest(CompressFn compress, uint8_t* state, uint8_t* tail, uint32_t pending, uint64_t bit_length);
