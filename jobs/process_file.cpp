// The per-file action of the window's scan jobs: the stream record's answers
// routed into "Altered Files:", "Files with Hash:" and "Files without Hash:".
#include "jobs/process_file.h"
#include "jobs/hash_stream.h"
#include "jobs/job_steps.h"
#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include <string.h>

// The call forms of the file being processed. Job thread only.
static wchar_t stream_call[kStreamPathChars];
static wchar_t file_call[kLongPathChars];

static void add_size()
{
    uint64_t size;
    if (!file_size_by_path(file_call, &size))
        return;  // the total only feeds the progress display
    g_run.total_bytes.store(g_run.total_bytes.load(std::memory_order_relaxed) + size,
                            std::memory_order_relaxed);
}

static void remove_digest(const wchar_t* path)
{
    if (!stream_exists(stream_call) || delete_digest(file_call, stream_call, nullptr))
        add_result(g_run.without_list, path);
    else
        add_result(g_run.withhash_list, path);
}

static void check_file(const wchar_t* path)
{
    uint8_t stored[kDigestBytes];
    StoredDigest found = read_stored_digest(stream_call, stored);
    if (found == DigestMissing || found == DigestLocked) {
        add_result(g_run.without_list, path);
        return;
    }
    set_status_line(path);

    // A short stream, data that cannot be opened or sized, or data that did
    // not deliver its whole size cannot be vouched for.
    alignas(16) uint8_t computed[kDigestBytes];
    bool matches = found == DigestRead &&
                   hash_file_data(file_call, computed, nullptr, g_run.pause_gate, &g_run.done_bytes) &&
                   memcmp(stored, computed, kDigestBytes) == 0;
    if (!matches)
        add_result(g_run.altered_list, path);
}

void process_file(const wchar_t* path)
{
    RunMode mode = g_run.mode.load();
    if (!make_stream_path(path, stream_call) || !make_file_path(path, file_call)) {
        // Treated as a file whose stream cannot be found.
        if (mode != SizePass)
            add_result(g_run.without_list, path);
        return;
    }

    switch (mode) {
    case SizePass:
        if (stream_exists(stream_call))
            add_size();
        break;
    case List:
        add_result(stream_exists(stream_call) ? g_run.withhash_list : g_run.without_list, path);
        break;
    case Remove:
        remove_digest(path);
        break;
    default:
        check_file(path);
        break;
    }
}
