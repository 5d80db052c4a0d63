// The run's digest context.
#include "cli/file_hash.h"
#include "cli/cli_state.h"

// 1 MiB reads: their fixed cost (a server round trip each under Wine)
// vanishes beside the hashing, and two of them stay small beside the run.
constexpr uint32_t kRunReadSize = 1u << 20;

static DigestContext g_context;
static uint8_t* g_buffer;
static bool g_open;

bool open_file_hashing(TransformId transform)
{
    const size_t bytes = digest_buffer_bytes(kRunReadSize, true);
    // Page-aligned, as the context needs 16-byte alignment.
    g_buffer = (uint8_t*)VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!g_buffer)
        return false;
    g_open = digest_context_open(&g_context, kTransforms[transform].compress, g_buffer, bytes, kRunReadSize, true);
    return g_open;
}

void close_file_hashing()
{
    if (g_open)
        digest_context_close(&g_context);
    g_open = false;
}

bool hash_run_file(const wchar_t* file_path, uint8_t* digest, FileStamp* stamp)
{
    if (!g_open)
        return hash_file_data(file_path, digest, stamp, g_cli.gate, &g_cli.done_bytes);
    return hash_file_data_in(&g_context, file_path, digest, stamp, g_cli.gate, &g_cli.done_bytes,
                             &g_cli.interrupted);
}

bool hashing_was_stopped()
{
    return g_open && g_context.stopped;
}
