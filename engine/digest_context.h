// Hashing files through a caller's context: reentrant, so that any number of
// threads hash files at once, each with its own context. The context holds
// the transform, the caller's buffer(s), the read size and, with read-ahead,
// one reader thread that reads the next buffer while the current one is
// hashed. Nothing is allocated per file; a context hashes one file at a time.
//
// Typical use (one worker):
//     alignas(64) static uint8_t buf[digest_buffer_bytes(1 << 20, true)];
//     DigestContext ctx;
//     if (!digest_context_open(&ctx, whirlpool_compress_sse41, buf, sizeof buf, 1 << 20, true)) ...
//     bool sound = digest_file_in(&ctx, file, size, digest, nullptr, &done, &interrupted);
//     ...
//     digest_context_close(&ctx);
#pragma once
#include "engine/digest.h"

// Bytes of buffer a context needs: one read area plus 64 spare bytes for the
// final block, twice with read-ahead (one area is read while the other is
// hashed).
constexpr size_t digest_buffer_bytes(uint32_t read_size, bool read_ahead)
{
    return (read_ahead ? 2 : 1) * ((size_t)read_size + 64);
}

// The largest read size a context accepts.
constexpr uint32_t kMaxContextReadSize = 64u << 20;

struct DigestContext {
    // Fixed by digest_context_open.
    CompressFn compress;
    uint8_t* area[2];        // read areas, read_size + 64 bytes each (area[1] only with read-ahead)
    uint32_t read_size;
    bool read_ahead;

    // What the last digest_file_in saw: bytes delivered within the stated
    // size, the error of a read that failed (0 when none failed), and
    // whether the stop flag ended the file.
    uint64_t delivered;
    DWORD read_error;
    bool stopped;

    // The reader thread and its hand-over (read-ahead only); the lock and
    // condition are slim user-mode objects, so no hand-over costs a kernel
    // (under Wine: wineserver) round trip.
    HANDLE reader;
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
    struct ReadPlan* plan;   // the file being read; null between files
    uint32_t file_serial;    // counts files handed to the reader
    uint32_t filled[2];      // bytes in area i to hash
    bool full[2];            // area i holds a read not yet hashed
    bool last[2];            // area i holds the file's last read
    bool quit;
};

// Prepares `ctx` over the caller's `buffer` (16-byte aligned, at least
// digest_buffer_bytes(read_size, read_ahead) bytes, owned by the caller and
// not touched by anything else until digest_context_close). `read_size` is a
// multiple of 64 from 64 to kMaxContextReadSize. With read_ahead a reader
// thread is started. False (nothing to close) when an argument is out of
// range or the thread cannot be started.
bool digest_context_open(DigestContext* ctx, CompressFn compress, uint8_t* buffer, size_t buffer_bytes,
                         uint32_t read_size, bool read_ahead);

// Ends the reader thread; the buffer is the caller's again.
void digest_context_close(DigestContext* ctx);

// Hashes an open file of `size` bytes into `digest` (64 bytes, 16-byte
// aligned) through `ctx`, from the file's current position, in reads of the
// context's read size.
//   gate:    when not null, waited on (INFINITE) before every read: a reset
//            event pauses the file between reads.
//   counter: when not null, every read's byte count is added once, with
//            release ordering, when that read is hashed.
//   stop:    when not null, looked at before every read; non-zero ends the
//            file at once (the current read finishes, none follows).
// Returns true only when the file delivered exactly `size` bytes: then the
// digest is the file's own. False when fewer or more arrived, a read failed
// (ctx->read_error), or the stop flag ended it (ctx->stopped); the digest
// then covers what was read, with the bit length of `size`, and must never be
// stored or trusted as a match. The first read that fails or delivers
// nothing before `size` bytes have arrived ends the file; so does a read
// whose count is not a multiple of 64 (the end of the data).
// Only one thread at a time may use a context.
bool digest_file_in(DigestContext* ctx, HANDLE file, int64_t size, uint8_t* digest, HANDLE gate,
                    std::atomic<uint64_t>* counter, std::atomic<int32_t>* stop);

// Start-up choice for programs that may take any transform: each transform
// this processor can run, timed over a moment, fastest chosen.
enum TransformId { TransformBaseline, TransformSse41, TransformRows64, TransformMmx, TransformCount };

struct TransformInfo {
    const char* name;              // "baseline", "sse41", "rows64", "mmx"
    CompressFn compress;           // for contexts
    BlockTransformFn window_form;  // for BlockTransform and digest_file
};
extern const TransformInfo kTransforms[TransformCount];

// Whether this processor can run the transform (the processor's features
// are read by cpu_has_sse41 alone).
bool transform_available(TransformId id);

// Bytes compressed in one timed round of one transform.
constexpr int kTransformTimingBytes = 2048 * 64;

// Times every available transform (rounds alternating, best round of each
// counts; a few milliseconds in all) and returns the fastest. ticks[id] gets
// the best round in performance-counter ticks, 0 for a transform not timed.
// build_digest_tables must have run. Leaves BlockTransform as it was.
TransformId choose_fastest_transform(int64_t ticks[TransformCount]);
