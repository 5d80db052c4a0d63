// The console control handler.
#include "cli/interrupt.h"
#include "cli/atomic_file.h"
#include "cli/cli_state.h"
#include "cli/findings.h"
#include "cli/report_json.h"
#include "jobs/hash_stream.h"
#include <windows.h>

// How long a closing console, a log-off or a shut-down waits for a run that
// is between files to end by itself (its report then says all it found).
// The system ends the process soon after the handler returns, and a few
// seconds after the event in any case.
constexpr DWORD kCloseWaitMs = 500;

void close_writing()
{
    close_writes(&g_cli.writing);
}

void end_run_for_close()
{
    // The interrupt flag has every worker stop at its next read, so the main
    // thread normally ends the run, report and all, within the wait; only
    // when it does not are the report and the temporaries ended here.
    if (g_cli.finished && WaitForSingleObject(g_cli.finished, kCloseWaitMs) == WAIT_OBJECT_0)
        return;
    if (g_cli.end_time == 0)
        g_cli.end_time = cli_system_time();
    report_close(ExitInterrupted);
    // A manifest of part of the files must not be left, nor its temporary.
    atomic_file_abandon_all();
}

BOOL WINAPI on_console_event(DWORD event)
{
    g_cli.interrupted.store(1);
    close_writing();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        end_run_for_close();
    return TRUE;
}

void install_interrupt_handler()
{
    // A process started in a group of its own has Ctrl+C turned off.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
