#include "ui/control_state.h"
#include "jobs/run_state.h"
#include <commctrl.h>

void show_result_group(bool with_hash)
{
    int altered = with_hash ? SW_HIDE : SW_SHOWNORMAL;
    int withhash = with_hash ? SW_SHOWNORMAL : SW_HIDE;
    ShowWindow(g_run.altered_label, altered);
    ShowWindow(g_run.rewrite_button, altered);
    ShowWindow(g_run.altered_list, altered);
    ShowWindow(g_run.withhash_label, withhash);
    ShowWindow(g_run.show_altered_button, withhash);
    ShowWindow(g_run.withhash_list, withhash);
}

void disable_commands()
{
    EnableWindow(g_run.list_button, FALSE);
    EnableWindow(g_run.remove_button, FALSE);
    EnableWindow(g_run.rewrite_button, FALSE);
    EnableWindow(g_run.show_altered_button, FALSE);
    EnableWindow(g_run.create_button, FALSE);
    EnableWindow(g_run.start_button, FALSE);
}

void restore_commands()
{
    EnableWindow(g_run.list_button, TRUE);
    EnableWindow(g_run.remove_button, TRUE);

    g_run.altered_count = (int32_t)SendMessageW(g_run.altered_list, LB_GETCOUNT, 0, 0);
    EnableWindow(g_run.rewrite_button, g_run.altered_count != 0);
    EnableWindow(g_run.show_altered_button, g_run.altered_count != 0);

    g_run.without_count = (int32_t)SendMessageW(g_run.without_list, LB_GETCOUNT, 0, 0);
    EnableWindow(g_run.create_button, g_run.without_count != 0);

    SetWindowTextW(g_run.start_button, L"Start");
}

void clear_progress()
{
    for (int part = 0; part < 3; ++part)
        SendMessageW(g_run.status_bar, SB_SETTEXTW, part, (LPARAM)L"");
    SendMessageW(g_run.dialog, WM_NEXTDLGCTL, (WPARAM)g_run.path_field, TRUE);
}
