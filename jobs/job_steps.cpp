#include "jobs/job_steps.h"
#include "jobs/run_state.h"
#include "res/resource.h"

void set_status_line(const wchar_t* text)
{
    SetDlgItemTextW(g_run.dialog, IDC_STATUS_LINE, text);
}

void begin_main_pass()
{
    g_run.done_bytes = 0;
    g_run.tick_done_bytes = 0;
    SetTimer(g_run.dialog, IDT_PROGRESS, 1000, nullptr);
    uint64_t now = system_time_now();
    g_run.start_time = now;
    g_run.tick_time = now;
}

void end_main_pass()
{
    SendMessageW(g_run.dialog, WM_TIMER, 0, 0);
    KillTimer(g_run.dialog, IDT_PROGRESS);
}

void format_failures(int failed, const wchar_t* verb, wchar_t* out)
{
    if (failed <= 0)
        lstrcpyW(out, L"Ready.");
    else
        wsprintfW(out, L"%d hash%s could not be %s.", failed, failed == 1 ? L"" : L"es", verb);
    out[kSummaryChars - 1] = L'\0';
}

void finish_job(const wchar_t* summary)
{
    set_status_line(summary);
    if (g_run.taskbar)
        g_run.taskbar->SetProgressState(g_run.dialog, TBPF_NOPROGRESS);
    g_run.mode = Idle;
}
