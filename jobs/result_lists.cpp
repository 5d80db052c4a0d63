#include "jobs/result_lists.h"
#include "jobs/run_state.h"

// How often the lists are brought up to date while a job runs.
constexpr DWORD kRedrawPeriodMs = 200;

static DWORD last_redraw;   // job thread only
static bool holding;        // job thread only: between hold and release

static void redraw_lists(BOOL keep_redrawing)
{
    HWND lists[3] = {g_run.altered_list, g_run.withhash_list, g_run.without_list};
    for (HWND list : lists) {
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
        if (!keep_redrawing)
            SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    }
    last_redraw = GetTickCount();
}

static void redraw_if_due()
{
    if (holding && GetTickCount() - last_redraw >= kRedrawPeriodMs)
        redraw_lists(FALSE);
}

void hold_list_redraw()
{
    SendMessageW(g_run.altered_list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(g_run.withhash_list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(g_run.without_list, WM_SETREDRAW, FALSE, 0);
    last_redraw = GetTickCount();
    holding = true;
}

void add_result(HWND list, const wchar_t* path)
{
    SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)path);
    redraw_if_due();
}

void remove_result(HWND list, int index)
{
    SendMessageW(list, LB_DELETESTRING, index, 0);
    redraw_if_due();
}

void release_list_redraw()
{
    holding = false;
    redraw_lists(TRUE);
}
