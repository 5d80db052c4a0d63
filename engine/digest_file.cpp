// Hashing one open file: 64 KiB reads into the process-wide ReadBuffer, each
// block compressed where it lies, the final block formed in place behind the
// last data byte.
#include "engine/digest.h"
#include <string.h>

// 64 spare bytes behind the read area hold the final block of a file whose
// length is a whole multiple of 65,536 bytes.
alignas(64) uint8_t ReadBuffer[kReadSize + 64];

// Contract: `digest` is 64 bytes at a multiple of 16; build_digest_tables has
// run; no other digest is computed meanwhile (the operands and ReadBuffer are
// shared). The gate is waited on before every read, and each read's byte count
// is added to `counter` once, with release ordering, for the progress display.
//
// The passes follow the file's stated size: ceil(size / 64) of them, each
// compressing at most one block. A file that delivers less leaves the digest
// over what was read, with the bit length of `size`. Bytes delivered beyond
// `size` are ignored, so the digest covers exactly the first `size` bytes and
// the final block always starts from fewer than 64 pending bytes.
// Returns true only when every read delivered data and together they
// delivered exactly `size` bytes: only then is the digest the file's own.
bool digest_file(HANDLE file, int64_t size, uint8_t* digest, HANDLE gate,
                 std::atomic<uint64_t>* counter)
{
    state_ptr = digest;
    memset(digest, 0, 64);
    const uint64_t bit_length = (uint64_t)size << 3;
    uint8_t* block = ReadBuffer;
    uint32_t pending = 0;
    uint64_t delivered = 0;
    bool sound = size >= 0;

    if (size > 0) {
        int64_t remaining = size;
        do {
            remaining -= 64;
            if (pending == 0) {
                WaitForSingleObject(gate, INFINITE);
                DWORD got = 0;
                if (!ReadFile(file, ReadBuffer, kReadSize, &got, nullptr))
                    got = 0;
                if (got == 0)
                    sound = false;
                // Data beyond the stated size never enters the digest.
                if (got > (uint64_t)size - delivered) {
                    got = (DWORD)((uint64_t)size - delivered);
                    sound = false;
                }
                delivered += got;
                pending = got;
                block = ReadBuffer;
                counter->fetch_add(got, std::memory_order_release);
            }
            if (pending >= 64) {
                pending -= 64;
                block_ptr = block;
                BlockTransform();
                block += 64;
            }
        } while (remaining > 0);

        // Only reads that delivered nothing before data arrived can leave
        // whole blocks behind; they are compressed so that the padding below
        // starts inside its block.
        while (pending >= 64) {
            pending -= 64;
            block_ptr = block;
            BlockTransform();
            block += 64;
        }
    }
    if (delivered != (uint64_t)size)
        sound = false;

    // Padding: 0x80, zeros, and the bit length in the block's last 8 bytes
    // (the upper 24 bytes of the 256-bit length field are always zero).
    block_ptr = block;
    block[pending] = 0x80;
    uint32_t p = pending + 1;
    if (p > 32) {
        memset(block + p, 0, 64 - p);
        BlockTransform();
        p = 0;
    }
    memset(block + p, 0, 56 - p);
    for (int i = 0; i < 8; ++i)
        block[56 + i] = (uint8_t)(bit_length >> (56 - 8 * i));
    BlockTransform();
    return sound;
}
