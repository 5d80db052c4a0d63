// WriteJob: the worker behind Rewrite Hashes and Create Hashes, and start_job.
#include "jobs/jobs.h"
#include "jobs/job_steps.h"
#include "jobs/hash_stream.h"
#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include "res/resource.h"
#include "ui/control_state.h"
#include <wchar.h>

// Longest item that is read: it and the terminator fill the item buffer.
// Whether its stream path fits is then the stream record's question.
constexpr LRESULT kMaxItemChars = (LRESULT)kLongPathChars - 1;

// The item being handled, as shown, and its call forms. Job thread only.
static wchar_t item_path[kLongPathChars];
static wchar_t stream_call[kStreamPathChars];
static wchar_t file_call[kLongPathChars];

// Reads item `index` of `list` into item_path. Returns its length, -1 past
// the last item, or a length above kMaxItemChars (not read).
static LRESULT read_item(HWND list, int index)
{
    LRESULT len = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (len < 0)
        return -1;
    if (len > kMaxItemChars)
        return len;
    item_path[0] = L'\0';
    SendMessageW(list, LB_GETTEXT, index, (LPARAM)item_path);
    item_path[len] = L'\0';
    item_path[kLongPathChars - 1] = L'\0';
    return len;
}

// Forms the call paths of item_path. False when they do not fit: the item is
// then never worked on under a cut name.
static bool make_item_paths()
{
    return make_stream_path(item_path, stream_call) && make_file_path(item_path, file_call);
}

static void size_pass(HWND* list_field)
{
    g_run.total_bytes = 0;
    for (int index = 0;; ++index) {
        LRESULT len = read_item(*list_field, index);
        if (len < 0)
            break;
        uint64_t size;
        if (len > kMaxItemChars || !make_item_paths() || !file_size_by_path(file_call, &size))
            continue;  // adds nothing: the total only feeds the progress display
        g_run.total_bytes.store(g_run.total_bytes.load(std::memory_order_relaxed) + size,
                                std::memory_order_relaxed);
    }
}

DWORD WINAPI WriteJob(void* list_field)
{
    HWND* list = (HWND*)list_field;

    set_status_line(L"Calculating total size...");
    clear_progress();
    hold_list_redraw();
    size_pass(list);

    SetEvent(g_run.pause_gate);
    EnableWindow(g_run.start_button, TRUE);
    SetWindowTextW(g_run.start_button, L"Pause");
    begin_main_pass();

    // A handled item is deleted and the next one moves up into its place;
    // a failed one is stepped over, so the index ends as the failure count.
    int index = 0;
    for (;;) {
        LRESULT len = read_item(*list, index);
        if (len < 0)
            break;
        if (len > kMaxItemChars || !make_item_paths()) {
            ++index;
            continue;
        }
        set_status_line(item_path);

        // A digest of incomplete data is never stored, nor one of a file
        // that changed after it was hashed; Create never replaces a digest
        // that is there (one that could not be read in a Check lands here).
        alignas(16) uint8_t digest[kDigestBytes];
        FileStamp stamp;
        DigestWrite write = {file_call, stream_call, nullptr, digest, &stamp, g_run.mode.load() == Create};
        if (!hash_file_data(file_call, digest, &stamp, g_run.pause_gate, &g_run.done_bytes) ||
            write_digest(&write, &g_run.write_in_progress) != WriteDone) {
            ++index;
            continue;
        }

        remove_result(*list, index);
        if (g_run.mode.load() == Create)
            add_result(g_run.withhash_list, item_path);
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
