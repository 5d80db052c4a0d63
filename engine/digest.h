// The Whirlpool digest engine: constant data, the lookup tables, the two block
// transforms behind one pointer, and the streaming routine that hashes a file.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

extern const uint8_t SBox[256];
extern const uint8_t RoundConstants[10][8];

// T0..T7, each 256 rows of 8 bytes in byte order (byte 0 first). Built once by
// build_digest_tables, read-only afterwards.
extern uint8_t DigestTables[8][256][8];

// Both transforms share this prototype: they read the chaining value at
// state_ptr and the block at block_ptr (both 16-byte aligned) and replace the
// chaining value in place.
typedef void (*BlockTransformFn)();
extern BlockTransformFn BlockTransform;
extern uint8_t* state_ptr;
extern const uint8_t* block_ptr;

void transform_baseline();
void transform_sse41();

// Fills the tables and chooses BlockTransform by the processor's SSE4.1 flag.
void build_digest_tables();
// The SSE4.1 flag (CPUID leaf 1, ECX bit 19).
bool cpu_has_sse41();

// 65,536 bytes for reads plus 64 spare bytes for the final block.
constexpr uint32_t kReadSize = 65536;
extern uint8_t ReadBuffer[kReadSize + 64];

// Hashes an open file of `size` bytes into `digest` (64 bytes, 16-byte
// aligned), waiting on `gate` before every 64 KiB read and adding every read's
// byte count to `counter`. Returns true when the file delivered exactly `size`
// bytes; false means the digest covers incomplete (or changing) data and must
// never be stored or trusted as a match.
bool digest_file(HANDLE file, int64_t size, uint8_t* digest, HANDLE gate,
                 std::atomic<uint64_t>* counter);
