// The dialog procedure: each message it handles goes to its own handler;
// everything else is left to the dialog manager.
#include "ui/main_dialog.h"
#include "ui/commands.h"
#include "ui/layout.h"
#include "ui/progress.h"

INT_PTR CALLBACK MainDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        init_main_dialog(dialog);
        return TRUE;  // the dialog manager focuses the first tab stop, the path field
    case WM_SIZE:
        layout_controls(LOWORD(lparam), HIWORD(lparam));
        return TRUE;
    case WM_GETMINMAXINFO:
        apply_min_track_size((MINMAXINFO*)lparam);
        return TRUE;
    case WM_COMMAND:
        return on_command(dialog, wparam);
    case WM_DROPFILES:
        on_drop_files((HDROP)wparam);
        return TRUE;
    case WM_TIMER:
        progress_tick();
        return TRUE;
    }
    return FALSE;
}
