// The console control handler.
#include "cli/interrupt.h"
#include "cli/cli_state.h"
#include "jobs/hash_stream.h"
#include <windows.h>

// How long a closing console, a log-off or a shut-down is held up for the
// run to end and its report to be moved into place; the system ends the
// process when the handler returns.
constexpr DWORD kCloseGraceMs = 4000;

void close_writing()
{
    for (;;) {
        int32_t expected = 0;
        if (g_cli.writing.compare_exchange_strong(expected, kWritesClosed, std::memory_order_acq_rel))
            return;
        if (expected == kWritesClosed)
            return;
        Sleep(1);   // a stream is being written: its 64 bytes and its time go first
    }
}

static BOOL WINAPI on_console_event(DWORD event)
{
    g_cli.interrupted.store(1);
    close_writing();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(g_cli.finished, kCloseGraceMs);
    return TRUE;
}

void install_interrupt_handler()
{
    // A process started in a group of its own has Ctrl+C turned off.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
