#include "jobs/result_lists.h"
#include "jobs/run_state.h"
#include <atomic>

// How often a list that a job changes is brought up to date.
constexpr UINT kRedrawPeriodMs = 200;
// Timer of the main window that redraws the changed lists; its messages go to
// redraw_changed_lists, never to the dialog procedure. Not the progress
// timer (1), nor the identifier of a job's last tick (0).
constexpr UINT_PTR kListTimer = 2;

// Per list: it has stopped redrawing itself since the last redraw. Set by the
// job thread only after the list has stopped, cleared by the window thread
// before the list starts again, so a list never stays stopped unmarked.
static std::atomic<bool> stopped[3];
// Between hold_list_redraw and release_list_redraw; outside a job a list
// redraws itself after every change.
static std::atomic<bool> holding;

static HWND list_at(int i)
{
    return i == 0 ? g_run.altered_list : i == 1 ? g_run.withhash_list : g_run.without_list;
}

static int index_of(HWND list)
{
    return list == g_run.altered_list ? 0 : list == g_run.withhash_list ? 1 : 2;
}

static void redraw_now(HWND list)
{
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
}

// The list timer, on the window thread.
static void CALLBACK redraw_changed_lists(HWND, UINT, UINT_PTR, DWORD)
{
    for (int i = 0; i < 3; ++i)
        if (stopped[i].exchange(false))
            redraw_now(list_at(i));
}

static void stop_redraw(HWND list)
{
    int i = index_of(list);
    if (!holding.load() || stopped[i].load())
        return;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    stopped[i].store(true);
}

void hold_list_redraw()
{
    holding.store(true);
    SetTimer(g_run.dialog, kListTimer, kRedrawPeriodMs, redraw_changed_lists);
}

void add_result(HWND list, const wchar_t* path)
{
    stop_redraw(list);
    SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)path);
}

void remove_result(HWND list, int index)
{
    stop_redraw(list);
    SendMessageW(list, LB_DELETESTRING, index, 0);
}

void release_list_redraw()
{
    KillTimer(g_run.dialog, kListTimer);
    holding.store(false);
    for (int i = 0; i < 3; ++i) {
        redraw_now(list_at(i));
        stopped[i].store(false);
    }
}
