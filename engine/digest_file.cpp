// Hashing one open file: the rule for its reads and its final block, shared
// by every form, and the window program's form over process-wide operands.
#include "engine/digest_context.h"
#include "engine/read_plan.h"
#include <string.h>

// 64 spare bytes behind the read area hold the final block of a file whose
// length is a whole multiple of 65,536 bytes.
alignas(64) uint8_t ReadBuffer[kReadSize + 64];

ReadPlan read_plan(HANDLE file, int64_t size, uint32_t read_size, HANDLE gate, std::atomic<int32_t>* stop)
{
    ReadPlan p = {};
    p.file = file;
    p.size = size > 0 ? (uint64_t)size : 0;
    p.read_size = read_size;
    p.gate = gate;
    p.stop = stop;
    p.sound = size >= 0;
    p.done = size <= 0;
    return p;
}

static bool stop_asked(ReadPlan& p)
{
    if (!p.stop || p.stop->load(std::memory_order_acquire) == 0)
        return false;
    p.stopped = true;
    p.sound = false;
    p.done = true;
    return true;
}

uint32_t read_next(ReadPlan& p, uint8_t* area)
{
    if (stop_asked(p))
        return 0;
    if (p.gate) {
        WaitForSingleObject(p.gate, INFINITE);
        // A pause may end in a stop.
        if (stop_asked(p))
            return 0;
    }
    DWORD got = 0;
    if (!ReadFile(p.file, area, p.read_size, &got, nullptr)) {
        p.error = GetLastError();
        got = 0;
    }
    // Data beyond the stated size never enters the digest.
    uint64_t left = p.size - p.delivered;
    if (got > left) {
        got = (DWORD)left;
        p.sound = false;
    }
    p.delivered += got;
    // Retrying a read that failed or found the end would only repeat it (a
    // bad sector answers slowly every time), and a count that is not whole
    // blocks is the end of the data.
    if (got == 0 || got % 64 != 0 || p.delivered == p.size)
        p.done = true;
    if (p.done && p.delivered != p.size)
        p.sound = false;
    return got;
}

uint8_t* compress_blocks(CompressFn compress, uint8_t* state, uint8_t* data, uint32_t bytes)
{
    uint8_t* end = data + (bytes & ~63u);
    for (; data != end; data += 64)
        compress(state, data);
    return data;
}

void finish_digest(CompressFn compress, uint8_t* state, uint8_t* tail, uint32_t pending, uint64_t bit_length)
{
    tail[pending] = 0x80;
    uint32_t p = pending + 1;
    if (p > 32) {
        memset(tail + p, 0, 64 - p);
        compress(state, tail);
        p = 0;
    }
    memset(tail + p, 0, 56 - p);
    for (int i = 0; i < 8; ++i)
        tail[56 + i] = (uint8_t)(bit_length >> (56 - 8 * i));
    compress(state, tail);
}

// The window's operands around whichever transform BlockTransform holds.
static void compress_through_operands(uint8_t state[64], const uint8_t block[64])
{
    state_ptr = state;
    block_ptr = block;
    BlockTransform();
}

// Contract: `digest` is 64 bytes at a multiple of 16; build_digest_tables has
// run; no other digest_file runs meanwhile. A context without read-ahead over
// ReadBuffer: every block is compressed where it lies, the final block formed
// in place behind the last data byte.
bool digest_file(HANDLE file, int64_t size, uint8_t* digest, HANDLE gate,
                 std::atomic<uint64_t>* counter)
{
    static DigestContext window;
    if (!window.compress)
        digest_context_open(&window, compress_through_operands, ReadBuffer, sizeof ReadBuffer, kReadSize, false);
    return digest_file_in(&window, file, size, digest, gate, counter, nullptr);
}
