// ScanJob: the worker behind Check, List and Remove.
#include "jobs/jobs.h"
#include "jobs/job_steps.h"
#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include "jobs/targets.h"
#include "res/resource.h"
#include "ui/control_state.h"

static void size_pass()
{
    g_run.mode = SizePass;
    set_status_line(L"Calculating total size...");
    g_run.total_bytes = 0;
    walk_targets();
    g_run.mode = Check;
    EnableWindow(g_run.start_button, TRUE);
    SetWindowTextW(g_run.start_button, L"Pause");
}

// Fills `out` (kSummaryChars) with the closing summary of `mode`.
static void format_summary(RunMode mode, wchar_t* out)
{
    if (mode == Remove) {
        // What is left in "Files with Hash:" are the streams that could not be deleted.
        format_failures((int)SendMessageW(g_run.withhash_list, LB_GETCOUNT, 0, 0), L"deleted", out);
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

    set_status_line(L"Processing...");
    begin_main_pass();

    g_run.skipped_folders = 0;
    walk_targets();

    end_main_pass();
    LocalFree(g_run.args);
    g_run.args = nullptr;
    g_run.arg_count = 0;

    release_list_redraw();
    restore_commands();
    EnableWindow(g_run.start_button, TRUE);

    wchar_t summary[kSummaryChars];
    format_summary(mode, summary);
    finish_job(summary);
    return 0;
}
