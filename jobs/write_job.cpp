// WriteJob: the worker behind Rewrite Hashes and Create Hashes, and start_job.
#include "jobs/jobs.h"
#include "jobs/job_steps.h"
#include "jobs/hash_stream.h"
#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include "engine/digest.h"
#include "res/resource.h"
#include "ui/control_state.h"
#include <wchar.h>

// Longest item that is worked on: it, ":z" and the terminator fill MAX_PATH.
constexpr LRESULT kMaxItemChars = MAX_PATH - 3;

// Reads item `index` of `list` into `path` (MAX_PATH). Returns its length,
// -1 past the last item, or a length above kMaxItemChars (not read).
static LRESULT read_item(HWND list, int index, wchar_t* path)
{
    LRESULT len = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (len < 0)
        return -1;
    if (len > kMaxItemChars)
        return len;
    path[0] = L'\0';
    SendMessageW(list, LB_GETTEXT, index, (LPARAM)path);
    path[len] = L'\0';
    path[MAX_PATH - 1] = L'\0';
    return len;
}

static void size_pass(HWND* list_field, wchar_t* path)
{
    g_run.total_bytes = 0;
    for (int index = 0;; ++index) {
        LRESULT len = read_item(*list_field, index, path);
        if (len < 0)
            break;
        if (len > kMaxItemChars)
            continue;
        WIN32_FILE_ATTRIBUTE_DATA info;
        if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info))
            continue;  // adds nothing: the total only feeds the progress display
        uint64_t size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
        g_run.total_bytes.store(g_run.total_bytes.load(std::memory_order_relaxed) + size,
                                std::memory_order_relaxed);
    }
}

// Hashes the file at `path` and reads its last-write time from the same
// handle. False when it cannot be opened, timed or sized, or did not deliver
// its whole size: a digest of incomplete data is never stored.
static bool hash_file(const wchar_t* path, uint8_t* digest, FILETIME* last_write)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool complete = GetFileTime(file, nullptr, nullptr, last_write) && GetFileSizeEx(file, &size) &&
                    digest_file(file, size.QuadPart, digest, g_run.pause_gate, &g_run.done_bytes);
    CloseHandle(file);
    return complete;
}

// Some file systems (ntfs-3g; some network shares) refuse a time set through
// a stream handle: set it through the file itself.
static void restore_time_by_file(const wchar_t* path, const FILETIME* last_write)
{
    HANDLE file = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFileTime(file, nullptr, nullptr, last_write);
    CloseHandle(file);
}

// Stores `digest` in the stream `stream_path` of the file whose path is the
// first `path_len` characters of it, keeping the file's last-write time.
// False when the 64 bytes could not be written; no partial stream is left.
// Sends no window message: Exit waits on write_in_progress.
static bool write_stream(wchar_t* stream_path, size_t path_len, const uint8_t* digest,
                         const FILETIME* last_write)
{
    // Claimed only while Exit has not closed writing for good.
    int32_t idle = 0;
    if (!g_run.write_in_progress.compare_exchange_strong(idle, 1, std::memory_order_acq_rel))
        return false;
    HANDLE stream = CreateFileW(stream_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        g_run.write_in_progress = 0;
        return false;
    }
    DWORD wrote = 0;
    bool written = WriteFile(stream, digest, kDigestBytes, &wrote, nullptr) && wrote == (DWORD)kDigestBytes;
    bool time_set = written && SetFileTime(stream, nullptr, nullptr, last_write);
    CloseHandle(stream);
    if (!written)
        DeleteFileW(stream_path);  // a partial digest would later read as an altered file
    if (!time_set) {
        stream_path[path_len] = L'\0';
        restore_time_by_file(stream_path, last_write);
        stream_path[path_len] = L':';
    }
    g_run.write_in_progress = 0;
    return written;
}

DWORD WINAPI WriteJob(void* list_field)
{
    HWND* list = (HWND*)list_field;
    wchar_t path[MAX_PATH];
    path[MAX_PATH - 1] = L'\0';

    set_status_line(L"Calculating total size...");
    clear_progress();
    hold_list_redraw();
    size_pass(list, path);

    SetEvent(g_run.pause_gate);
    EnableWindow(g_run.start_button, TRUE);
    SetWindowTextW(g_run.start_button, L"Pause");
    begin_main_pass();

    // A handled item is deleted and the next one moves up into its place;
    // a failed one is stepped over, so the index ends as the failure count.
    int index = 0;
    for (;;) {
        LRESULT len = read_item(*list, index, path);
        if (len < 0)
            break;
        if (len > kMaxItemChars) {
            ++index;
            continue;
        }
        set_status_line(path);

        alignas(16) uint8_t digest[kDigestBytes];
        FILETIME last_write;
        if (!hash_file(path, digest, &last_write)) {
            ++index;
            continue;
        }
        path[len] = L':';
        path[len + 1] = L'z';
        path[len + 2] = L'\0';
        if (!write_stream(path, (size_t)len, digest, &last_write)) {
            ++index;
            continue;
        }

        remove_result(*list, index);
        if (g_run.mode.load() == Create) {
            path[len] = L'\0';
            add_result(g_run.withhash_list, path);
        }
    }

    end_main_pass();
    release_list_redraw();
    restore_commands();

    wchar_t summary[kSummaryChars];
    format_failures(index, L"written", summary);
    finish_job(summary);
    return 0;
}

bool start_job(LPTHREAD_START_ROUTINE job, void* arg)
{
    HANDLE thread = CreateThread(nullptr, 0, job, arg, 0, nullptr);
    if (!thread)
        return false;
    CloseHandle(thread);
    return true;
}
