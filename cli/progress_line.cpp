// The progress thread: the same three figures as the window's status bar,
// formatted by the same routine.
#include "cli/progress_line.h"
#include "cli/cli_state.h"
#include "cli/console_out.h"
#include "jobs/progress_format.h"
#include <stdio.h>
#include <wchar.h>

constexpr DWORD kTickMs = 1000;

static HANDLE g_stop;
static HANDLE g_thread;

static DWORD WINAPI progress_thread(void*)
{
    ProgressSample sample = {};
    sample.start = cli_system_time();
    sample.tick_time = sample.start;
    while (WaitForSingleObject(g_stop, kTickMs) == WAIT_TIMEOUT) {
        uint64_t done = g_cli.done_bytes.load(std::memory_order_acquire);
        if (done == 0)
            continue;   // as the window: no figures before the first data
        sample.now = cli_system_time();
        sample.done = done;
        sample.total = g_cli.total_bytes.load(std::memory_order_relaxed);

        wchar_t line[4 * kStatusTextChars + 8];
        wchar_t part[kStatusTextChars];
        line[0] = L'\0';
        for (int p = 0; p < 3; ++p) {
            format_progress_part(p, sample, part);
            wcscat(line, part);
            wcscat(line, L"  ");
        }
        // How many files are hashed at once: the rate depends on it.
        _snwprintf(part, kStatusTextChars - 1, L"%d job%ls", g_cli.jobs, g_cli.jobs == 1 ? L"" : L"s");
        part[kStatusTextChars - 1] = L'\0';
        wcscat(line, part);
        line[4 * kStatusTextChars + 7] = L'\0';
        progress_put(line);

        sample.tick_time = sample.now;
        sample.tick_done = sample.done;
    }
    return 0;
}

void progress_start()
{
    if (!g_cli.progress)
        return;
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_thread = g_stop ? CreateThread(nullptr, 0, progress_thread, nullptr, 0, nullptr) : nullptr;
}

void progress_stop()
{
    if (!g_thread)
        return;
    SetEvent(g_stop);
    WaitForSingleObject(g_thread, INFINITE);
    CloseHandle(g_thread);
    g_thread = nullptr;
    progress_clear();
}
