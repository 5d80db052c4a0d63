// Hashing files through a caller's context, with or without a reader thread
// that reads one area while the other is hashed.
#include "engine/digest_context.h"
#include "engine/read_plan.h"
#include <string.h>

// The reader thread: for each file handed over, reads into the areas in turn,
// each as soon as the hashing side has emptied it, until the plan is done;
// then waits for the next file or the end.
static DWORD WINAPI reader_thread(void* arg)
{
    DigestContext* ctx = (DigestContext*)arg;
    uint32_t served = 0;
    AcquireSRWLockExclusive(&ctx->lock);
    for (;;) {
        while (!ctx->quit && ctx->file_serial == served)
            SleepConditionVariableSRW(&ctx->changed, &ctx->lock, INFINITE, 0);
        if (ctx->quit)
            break;
        served = ctx->file_serial;
        ReadPlan* plan = ctx->plan;
        for (int i = 0;; i ^= 1) {
            while (ctx->full[i])
                SleepConditionVariableSRW(&ctx->changed, &ctx->lock, INFINITE, 0);
            ReleaseSRWLockExclusive(&ctx->lock);
            uint32_t got = read_next(*plan, ctx->area[i]);
            bool last = plan->done;
            AcquireSRWLockExclusive(&ctx->lock);
            ctx->filled[i] = got;
            ctx->last[i] = last;
            ctx->full[i] = true;
            WakeAllConditionVariable(&ctx->changed);
            if (last)
                break;
        }
    }
    ReleaseSRWLockExclusive(&ctx->lock);
    return 0;
}

bool digest_context_open(DigestContext* ctx, CompressFn compress, uint8_t* buffer, size_t buffer_bytes,
                         uint32_t read_size, bool read_ahead)
{
    memset(ctx, 0, sizeof *ctx);
    if (!compress || !buffer || (uintptr_t)buffer % 16 != 0 || read_size < 64 || read_size % 64 != 0 ||
        read_size > kMaxContextReadSize || buffer_bytes < digest_buffer_bytes(read_size, read_ahead))
        return false;
    ctx->compress = compress;
    ctx->read_size = read_size;
    ctx->read_ahead = read_ahead;
    ctx->area[0] = buffer;
    ctx->area[1] = read_ahead ? buffer + read_size + 64 : nullptr;
    InitializeSRWLock(&ctx->lock);
    InitializeConditionVariable(&ctx->changed);
    if (read_ahead) {
        ctx->reader = CreateThread(nullptr, 64 * 1024, reader_thread, ctx, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!ctx->reader) {
            ctx->compress = nullptr;
            return false;
        }
    }
    return true;
}

void digest_context_close(DigestContext* ctx)
{
    if (ctx->reader) {
        AcquireSRWLockExclusive(&ctx->lock);
        ctx->quit = true;
        WakeAllConditionVariable(&ctx->changed);
        ReleaseSRWLockExclusive(&ctx->lock);
        WaitForSingleObject(ctx->reader, INFINITE);
        CloseHandle(ctx->reader);
        ctx->reader = nullptr;
    }
    ctx->compress = nullptr;
}

// Hashes one read and tells where its rest begins.
static uint8_t* hash_read(DigestContext* ctx, uint8_t* digest, uint8_t* area, uint32_t got,
                          std::atomic<uint64_t>* counter)
{
    if (counter)
        counter->fetch_add(got, std::memory_order_release);
    return compress_blocks(ctx->compress, digest, area, got);
}

bool digest_file_in(DigestContext* ctx, HANDLE file, int64_t size, uint8_t* digest, HANDLE gate,
                    std::atomic<uint64_t>* counter, std::atomic<int32_t>* stop)
{
    memset(digest, 0, 64);
    ReadPlan plan = read_plan(file, size, ctx->read_size, gate, stop);
    uint8_t* tail = ctx->area[0];
    uint32_t got = 0;

    // A file that one read holds gains nothing from the reader thread and
    // would pay two hand-overs between threads for it.
    if (!ctx->read_ahead || plan.size <= ctx->read_size) {
        while (!plan.done) {
            got = read_next(plan, ctx->area[0]);
            tail = hash_read(ctx, digest, ctx->area[0], got, counter);
        }
    } else if (!plan.done) {
        AcquireSRWLockExclusive(&ctx->lock);
        ctx->plan = &plan;
        ctx->file_serial++;
        WakeAllConditionVariable(&ctx->changed);
        for (int i = 0;; i ^= 1) {
            while (!ctx->full[i])
                SleepConditionVariableSRW(&ctx->changed, &ctx->lock, INFINITE, 0);
            got = ctx->filled[i];
            bool last = ctx->last[i];
            ReleaseSRWLockExclusive(&ctx->lock);
            tail = hash_read(ctx, digest, ctx->area[i], got, counter);
            AcquireSRWLockExclusive(&ctx->lock);
            ctx->full[i] = false;
            // After the last read the reader touches neither area again, so
            // the final block may be formed in place behind the data.
            if (last)
                break;
            WakeAllConditionVariable(&ctx->changed);
        }
        ctx->plan = nullptr;
        ReleaseSRWLockExclusive(&ctx->lock);
    }

    ctx->delivered = plan.delivered;
    ctx->read_error = plan.error;
    ctx->stopped = plan.stopped;
    finish_digest(ctx->compress, digest, tail, got % 64, (uint64_t)size << 3);
    return plan.sound;
}
