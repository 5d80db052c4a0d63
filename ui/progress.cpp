// The progress tick: percentage, current and average throughput, remaining
// time, and the taskbar value.
#include "ui/progress.h"
#include "jobs/run_state.h"
#include <commctrl.h>
#include <stdio.h>
#include <wchar.h>

void progress_tick()
{
    // One snapshot for the whole tick; acquiring it also makes the clocks
    // that the job set before its first read visible here.
    uint64_t done = g_run.done_bytes.load(std::memory_order_acquire);
    if (done == 0)
        return;

    ProgressSample sample;
    sample.now = system_time_now();
    sample.done = done;
    sample.total = g_run.total_bytes.load(std::memory_order_relaxed);
    sample.start = g_run.start_time;
    sample.tick_time = g_run.tick_time;
    sample.tick_done = g_run.tick_done_bytes;

    wchar_t text[kStatusTextChars];
    for (int part = 0; part < 3; ++part) {
        format_progress_part(part, sample, text);
        SendMessageW(g_run.status_bar, SB_SETTEXTW, part, (LPARAM)text);
    }
    if (g_run.taskbar)
        g_run.taskbar->SetProgressValue(g_run.dialog, sample.done, sample.total);

    g_run.tick_time = sample.now;
    g_run.tick_done_bytes = sample.done;
}
