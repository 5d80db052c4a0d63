// The run's digest contexts, one per worker.
#include "cli/file_hash.h"
#include "cli/cli_state.h"

// 1 MiB reads: their fixed cost (a server round trip each under Wine)
// vanishes beside the hashing, and the next one is read while the current
// one is hashed. With more than two workers the workers themselves keep the
// drive and the processors busy: each reads 256 KiB at a time and has no
// reader thread, so that memory stays small however many there are.
constexpr uint32_t kRunReadSize = 1u << 20;
constexpr uint32_t kManyWorkersReadSize = 256u << 10;
constexpr int kMostWorkersReadingAhead = 2;

static DigestContext g_contexts[kMaxJobs];
static uint8_t* g_buffers[kMaxJobs];
static int g_open;   // contexts open

bool open_file_hashing(TransformId transform, int jobs)
{
    const bool read_ahead = jobs <= kMostWorkersReadingAhead;
    const uint32_t read_size = read_ahead ? kRunReadSize : kManyWorkersReadSize;
    const size_t bytes = digest_buffer_bytes(read_size, read_ahead);
    for (int i = 0; i < jobs && i < kMaxJobs; ++i) {
        // Page-aligned, as the context needs 16-byte alignment.
        g_buffers[i] = (uint8_t*)VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!g_buffers[i] ||
            !digest_context_open(&g_contexts[i], kTransforms[transform].compress, g_buffers[i], bytes, read_size, read_ahead)) {
            close_file_hashing();
            return false;
        }
        ++g_open;
    }
    return true;
}

void close_file_hashing()
{
    for (int i = 0; i < kMaxJobs; ++i) {
        if (i < g_open)
            digest_context_close(&g_contexts[i]);
        if (g_buffers[i])
            VirtualFree(g_buffers[i], 0, MEM_RELEASE);
        g_buffers[i] = nullptr;
    }
    g_open = 0;
}

// A run that hashes has every worker's context open: it does not start
// without them. Nothing pauses a console run, so no read waits on a gate
// (each wait would be a server round trip under Wine); the interrupt flag
// stops a file between reads.
bool hash_run_file(FileWork* work, uint8_t* digest, FileStamp* stamp, bool timed)
{
    return hash_file_data_in(&g_contexts[work->worker], work->file_path, digest, stamp, timed, nullptr,
                             &g_cli.done_bytes, &g_cli.interrupted);
}

bool hashing_was_stopped(const FileWork* work)
{
    return g_contexts[work->worker].stopped;
}

void unhashed_finding(FileWork* work, FindingStatus status)
{
    if (!hashing_was_stopped(work))
        file_finding(work, status);
}
