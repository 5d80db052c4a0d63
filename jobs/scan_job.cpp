// ScanJob: the worker behind Check, List and Remove.
#include "jobs/jobs.h"
#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include "jobs/walk.h"
#include "res/resource.h"
#include "ui/control_state.h"

static void set_status(const wchar_t* text)
{
    SetDlgItemTextW(g_run.dialog, IDC_STATUS_LINE, text);
}

static void size_pass()
{
    g_run.mode = SizePass;
    set_status(L"Calculating total size...");
    g_run.total_bytes = 0;
    walk_targets();
    g_run.mode = Check;
    EnableWindow(g_run.start_button, TRUE);
    SetWindowTextW(g_run.start_button, L"Pause");
}

// Fills `out` (at least 48 characters) with the closing summary of `mode`.
static void format_summary(RunMode mode, wchar_t* out)
{
    if (mode == Remove) {
        // What is left in "Files with Hash:" are the streams that could not be deleted.
        int failed = (int)SendMessageW(g_run.withhash_list, LB_GETCOUNT, 0, 0);
        if (failed <= 0)
            lstrcpyW(out, L"Ready.");
        else
            wsprintfW(out, L"%d hash%s could not be deleted.", failed, failed == 1 ? L"" : L"es");
    } else if (g_run.altered_count + g_run.without_count != 0 || mode == List || g_run.skipped_folders != 0) {
        // A folder that could not be enumerated was not checked: never "all good".
        lstrcpyW(out, L"Ready.");
    } else {
        lstrcpyW(out, L"All files checked successfully.");
    }
}

DWORD WINAPI ScanJob(void*)
{
    RunMode mode = g_run.mode.load();
    SendMessageW(mode == Check ? g_run.altered_list : g_run.withhash_list, LB_RESETCONTENT, 0, 0);
    SendMessageW(g_run.without_list, LB_RESETCONTENT, 0, 0);
    hold_list_redraw();
    clear_progress();

    if (mode == Check)
        size_pass();

    set_status(L"Processing...");
    g_run.done_bytes = 0;
    g_run.tick_done_bytes = 0;
    SetTimer(g_run.dialog, IDT_PROGRESS, 1000, nullptr);
    // Published to the progress tick by digest_file's first raise of done_bytes.
    uint64_t now = system_time_now();
    g_run.start_time = now;
    g_run.tick_time = now;

    g_run.skipped_folders = 0;
    walk_targets();

    SendMessageW(g_run.dialog, WM_TIMER, 0, 0);
    KillTimer(g_run.dialog, IDT_PROGRESS);
    LocalFree(g_run.args);
    g_run.args = nullptr;
    g_run.arg_count = 0;

    release_list_redraw();
    restore_commands();
    EnableWindow(g_run.start_button, TRUE);

    wchar_t summary[64];
    format_summary(mode, summary);
    summary[63] = L'\0';
    set_status(summary);

    if (g_run.taskbar)
        g_run.taskbar->SetProgressState(g_run.dialog, TBPF_NOPROGRESS);
    g_run.mode = Idle;
    return 0;
}
