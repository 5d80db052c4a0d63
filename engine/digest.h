// The Whirlpool digest engine: constant data, the lookup tables, the block
// transforms, and the window program's streaming routine that hashes a file
// through process-wide operands. Hashing through a caller's own context (any
// number of files at once) is in engine/digest_context.h.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>

extern const uint8_t SBox[256];
extern const uint8_t RoundConstants[10][8];

// T0..T7, each 256 rows of 8 bytes in byte order (byte 0 first). Built once by
// build_digest_tables, read-only afterwards.
extern uint8_t DigestTables[8][256][8];

// One compression with explicit operands: replaces the chaining value `state`
// by W_state(block) xor state xor block. Every implementation has this
// prototype and differs only by its suffix; all give identical results.
// Both operands are 16-byte aligned (the SSE4.1 form faults otherwise).
typedef void (*CompressFn)(uint8_t state[64], const uint8_t block[64]);
// SSE2: index bytes read from memory, rows combined as 64-bit register halves.
void whirlpool_compress_baseline(uint8_t state[64], const uint8_t block[64]);
// SSE4.1: rows kept in vector registers, index bytes extracted from them.
void whirlpool_compress_sse41(uint8_t state[64], const uint8_t block[64]);
// Each row one 64-bit integer: on x86_64 every input row scattered into
// eight output rows held in general registers; on 32-bit x86 each output row
// gathered in a register pair (where the timed choice rarely takes it).
void whirlpool_compress_rows64(uint8_t state[64], const uint8_t block[64]);
// MMX: each output row one register gathering its table entries from memory;
// the 32-bit counterpart of rows64.
void whirlpool_compress_mmx(uint8_t state[64], const uint8_t block[64]);

// The window program's form of the same transforms: they read the chaining
// value at state_ptr and the block at block_ptr (both 16-byte aligned) and
// replace the chaining value in place.
typedef void (*BlockTransformFn)();
extern BlockTransformFn BlockTransform;
extern uint8_t* state_ptr;
extern const uint8_t* block_ptr;

void transform_baseline();
void transform_sse41();
void transform_rows64();
void transform_mmx();

// Fills the tables and chooses BlockTransform by the processor's SSE4.1 flag
// (transform_sse41 or transform_baseline).
void build_digest_tables();
// The SSE4.1 flag (CPUID leaf 1, ECX bit 19). The one place that reads the
// processor's features.
bool cpu_has_sse41();

// 65,536 bytes for reads plus 64 spare bytes for the final block.
constexpr uint32_t kReadSize = 65536;
extern uint8_t ReadBuffer[kReadSize + 64];

// Hashes an open file of `size` bytes into `digest` (64 bytes, 16-byte
// aligned) with BlockTransform, reading 64 KiB at a time into ReadBuffer,
// waiting on `gate` before every read and adding every read's byte count to
// `counter`. Returns true when the file delivered exactly `size` bytes; false
// means the digest covers incomplete (or changing) data and must never be
// stored or trusted as a match. The first read that fails or delivers nothing
// before `size` bytes have arrived ends the file. Not reentrant: the operands
// and ReadBuffer are process-wide.
bool digest_file(HANDLE file, int64_t size, uint8_t* digest, HANDLE gate,
                 std::atomic<uint64_t>* counter);
