// The HashStream record and the per-file action of the scan jobs.
#include "jobs/hash_stream.h"
#include "jobs/job_steps.h"
#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include "engine/digest.h"
#include "res/resource.h"
#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

bool make_stream_path(const wchar_t* path, wchar_t* out)
{
    // A cut stream path can name another file (or the file itself once the
    // ":z" is cut off), so a path that does not fit is refused, never shortened.
    size_t len = wcslen(path);
    if (len > kStreamPathChars - 3) {
        out[0] = L'\0';
        out[kStreamPathChars - 1] = L'\0';
        return false;
    }
    memcpy(out, path, len * sizeof(wchar_t));
    out[len] = L':';
    out[len + 1] = L'z';
    out[len + 2] = L'\0';
    out[kStreamPathChars - 1] = L'\0';
    return true;
}

static void add_size(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info))
        return;  // the total only feeds the progress display
    uint64_t size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    g_run.total_bytes.store(g_run.total_bytes.load(std::memory_order_relaxed) + size,
                            std::memory_order_relaxed);
}

static void remove_stream(const wchar_t* path, const wchar_t* stream)
{
    if (!PathFileExistsW(stream) || DeleteFileW(stream))
        add_result(g_run.without_list, path);
    else
        add_result(g_run.withhash_list, path);
}

// Reads the stored digest. False when the stream held fewer than 64 bytes or
// the read failed: bytes that were never read must not decide a comparison.
static bool read_stored_digest(HANDLE stream, uint8_t* stored)
{
    DWORD got = 0;
    return ReadFile(stream, stored, kDigestBytes, &got, nullptr) && got == (DWORD)kDigestBytes;
}

// Hashes the file's data. False when the data cannot be opened or sized, or
// did not deliver its whole size: such a file cannot be vouched for.
static bool compute_digest(const wchar_t* path, uint8_t* computed)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool complete = GetFileSizeEx(file, &size) &&
                    digest_file(file, size.QuadPart, computed, g_run.pause_gate, &g_run.done_bytes);
    CloseHandle(file);
    return complete;
}

static void check_file(const wchar_t* path, const wchar_t* stream_path)
{
    HANDLE stream = CreateFileW(stream_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        add_result(g_run.without_list, path);
        return;
    }
    set_status_line(path);

    uint8_t stored[kDigestBytes];
    alignas(16) uint8_t computed[kDigestBytes];
    bool stored_ok = read_stored_digest(stream, stored);
    CloseHandle(stream);

    bool matches = stored_ok && compute_digest(path, computed) &&
                   memcmp(stored, computed, kDigestBytes) == 0;
    if (!matches)
        add_result(g_run.altered_list, path);
}

void process_file(const wchar_t* path)
{
    RunMode mode = g_run.mode.load();
    wchar_t stream_path[kStreamPathChars];
    if (!make_stream_path(path, stream_path)) {
        // Treated as a file whose stream cannot be found.
        if (mode != SizePass)
            add_result(g_run.without_list, path);
        return;
    }

    switch (mode) {
    case SizePass:
        if (PathFileExistsW(stream_path))
            add_size(path);
        break;
    case List:
        add_result(PathFileExistsW(stream_path) ? g_run.withhash_list : g_run.without_list, path);
        break;
    case Remove:
        remove_stream(path, stream_path);
        break;
    default:
        check_file(path, stream_path);
        break;
    }
}
