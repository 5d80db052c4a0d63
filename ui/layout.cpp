// Initialisation of the main window and the layout that follows its size.
#include "ui/layout.h"
#include "ui/control_state.h"
#include "jobs/run_state.h"
#include "res/resource.h"
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

LayoutAnchors layout_anchors;
POINT min_track_size;
HFONT list_font;

// The client size the anchors were taken from.
static int32_t initial_width, initial_height, initial_half;

typedef BOOL(WINAPI* FilterExFn)(HWND, UINT, DWORD, void*);
typedef BOOL(WINAPI* FilterFn)(UINT, DWORD);

static void set_window_icon(HWND dialog)
{
    HANDLE icon = LoadImageW(g_run.instance, MAKEINTRESOURCEW(IDI_KESTRIN), IMAGE_ICON, 0, 0,
                             LR_DEFAULTSIZE);
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);
}

static void take_control_handles(HWND dialog)
{
    g_run.start_button = GetDlgItem(dialog, IDC_START);
    g_run.exit_button = GetDlgItem(dialog, IDC_EXIT);
    g_run.add_button = GetDlgItem(dialog, IDC_ADD);
    g_run.list_button = GetDlgItem(dialog, IDC_LIST);
    g_run.remove_button = GetDlgItem(dialog, IDC_REMOVE);
    g_run.rewrite_button = GetDlgItem(dialog, IDC_REWRITE);
    g_run.show_altered_button = GetDlgItem(dialog, IDC_SHOW_ALTERED);
    g_run.create_button = GetDlgItem(dialog, IDC_CREATE);
    g_run.altered_label = GetDlgItem(dialog, IDC_ALTERED_LABEL);
    g_run.withhash_label = GetDlgItem(dialog, IDC_WITHHASH_LABEL);
    g_run.without_label = GetDlgItem(dialog, IDC_WITHOUT_LABEL);
    g_run.status_line = GetDlgItem(dialog, IDC_STATUS_LINE);
    g_run.path_field = GetDlgItem(dialog, IDC_PATH);
    g_run.altered_list = GetDlgItem(dialog, IDC_ALTERED_LIST);
    g_run.withhash_list = GetDlgItem(dialog, IDC_WITHHASH_LIST);
    g_run.without_list = GetDlgItem(dialog, IDC_WITHOUT_LIST);
    g_run.frame_outer = GetDlgItem(dialog, IDC_FRAME_OUTER);
    g_run.frame_upper = GetDlgItem(dialog, IDC_FRAME_UPPER);
    g_run.frame_lower = GetDlgItem(dialog, IDC_FRAME_LOWER);
    g_run.status_bar = GetDlgItem(dialog, IDC_STATUS_BAR);
}

// The command line's arguments, exactly as typed, go into the path field.
static void take_command_line()
{
    const wchar_t* args = PathGetArgsW(GetCommandLineW());
    SetWindowTextW(g_run.path_field, args);
    BOOL any = args && args[0] != L'\0';
    EnableWindow(g_run.start_button, any);
    EnableWindow(g_run.list_button, any);
    EnableWindow(g_run.remove_button, any);
}

// Lets less privileged processes (a shell that is not elevated) drop files on
// the window. Older systems have only the process-wide filter, and the oldest
// none; each is looked up by name.
static void open_drop_filter(HWND dialog)
{
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32)
        return;
    FARPROC ex = GetProcAddress(user32, "ChangeWindowMessageFilterEx");
    if (ex) {
        FilterExFn filter = (FilterExFn)(void*)ex;
        filter(dialog, WM_DROPFILES, 1, nullptr);
        filter(dialog, 0x0049, 1, nullptr);
        return;
    }
    FARPROC old = GetProcAddress(user32, "ChangeWindowMessageFilter");
    if (old) {
        FilterFn filter = (FilterFn)(void*)old;
        filter(WM_DROPFILES, 1);
        filter(0x0049, 1);
    }
}

static void make_list_font(HWND dialog)
{
    RECT units = {3, 15, 0, 0};
    MapDialogRect(dialog, &units);
    list_font = CreateFontW(units.top / 2, units.left, 0, 0, 0, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg");
    HWND users[] = {g_run.path_field, g_run.altered_list, g_run.withhash_list,
                    g_run.without_list, g_run.status_line, g_run.status_bar};
    for (HWND control : users)
        SendMessageW(control, WM_SETFONT, (WPARAM)list_font, 0);
}

// A control's rectangle in client coordinates.
static RECT client_rect_of(HWND dialog, HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, dialog, (POINT*)&r, 2);
    return r;
}

// top_base and height_base are the client height or half-height that the
// control's top edge and height follow.
static ControlAnchor capture(HWND dialog, HWND control, int32_t top_base, int32_t height_base)
{
    RECT r = client_rect_of(dialog, control);
    ControlAnchor a;
    a.left = r.left;
    a.top = r.top;
    a.width = r.right - r.left;
    a.height = r.bottom - r.top;
    a.right_gap = initial_width - a.left;
    a.top_gap = top_base - a.top;
    a.width_margin = initial_width - a.width;
    a.height_margin = height_base - a.height;
    return a;
}

static void capture_anchors(HWND dialog)
{
    const int32_t H = initial_height, H2 = initial_half;
    LayoutAnchors& a = layout_anchors;
    a.outer_frame = capture(dialog, g_run.frame_outer, H, H);
    a.path_field = capture(dialog, g_run.path_field, H, H);
    a.list_button = capture(dialog, g_run.list_button, H, H);
    a.remove_button = capture(dialog, g_run.remove_button, H, H);
    a.upper_frame = capture(dialog, g_run.frame_upper, H2, H2);
    a.rewrite_button = capture(dialog, g_run.rewrite_button, H, H);
    a.show_altered = capture(dialog, g_run.show_altered_button, H, H);
    a.altered_list = capture(dialog, g_run.altered_list, H2, H2);
    a.withhash_list = capture(dialog, g_run.withhash_list, H2, H2);
    a.lower_frame = capture(dialog, g_run.frame_lower, H2, H2);
    a.without_label = capture(dialog, g_run.without_label, H2, H2);
    a.create_button = capture(dialog, g_run.create_button, H2, H2);
    a.without_list = capture(dialog, g_run.without_list, H2, H2);
    a.status_line = capture(dialog, g_run.status_line, H, H);
    a.start_button = capture(dialog, g_run.start_button, H, H);
    a.exit_button = capture(dialog, g_run.exit_button, H, H);
    RECT bar = client_rect_of(dialog, g_run.status_bar);
    a.status_bar_height = bar.bottom - bar.top;
}

void init_main_dialog(HWND dialog)
{
    set_window_icon(dialog);
    take_control_handles(dialog);
    SendMessageW(g_run.path_field, EM_LIMITTEXT, 0, 0);
    take_command_line();
    open_drop_filter(dialog);
    DragAcceptFiles(dialog, TRUE);
    make_list_font(dialog);

    RECT client;
    GetClientRect(dialog, &client);
    initial_width = client.right;
    initial_height = client.bottom;
    initial_half = initial_height / 2;
    min_track_size.x = initial_width * 64 / 100;
    min_track_size.y = initial_height * 66 / 100;

    int edges[3] = {initial_width * 9 / 100, initial_width * 40 / 100, -1};
    SendMessageW(g_run.status_bar, SB_SETPARTS, 3, (LPARAM)edges);

    capture_anchors(dialog);
    show_result_group(false);
    g_run.dialog = dialog;
    g_run.pause_gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    g_run.init_done = 1;
}

// Each call also raises the control to the top of its siblings: the order of
// the calls is the stacking order the window ends with.
static void place(HWND control, int x, int y, int width, int height)
{
    SetWindowPos(control, HWND_TOP, x, y, width, height, 0);
}

void layout_controls(int w, int h)
{
    if (!g_run.init_done)
        return;  // a size message during creation: there is nothing to place yet
    const LayoutAnchors& a = layout_anchors;
    const int h2 = h / 2;

    place(g_run.frame_outer, a.outer_frame.left, a.outer_frame.top,
          w - a.outer_frame.width_margin, h - a.outer_frame.height_margin);
    place(g_run.frame_upper, a.upper_frame.left, a.upper_frame.top,
          w - a.upper_frame.width_margin, h2 - a.upper_frame.height_margin);
    place(g_run.frame_lower, a.lower_frame.left, h2 - a.lower_frame.top_gap,
          w - a.upper_frame.width_margin, h2 - a.upper_frame.height_margin);
    place(g_run.without_label, a.without_label.left, h2 - a.without_label.top_gap,
          a.without_label.width, a.without_label.height);
    place(g_run.status_line, a.status_line.left, h - a.status_line.top_gap,
          w - a.status_line.width_margin, a.status_line.height);
    place(g_run.status_bar, 0, h - a.status_bar_height, w, a.status_bar_height);
    place(g_run.exit_button, w - a.exit_button.right_gap, h - a.exit_button.top_gap,
          a.exit_button.width, a.exit_button.height);
    place(g_run.start_button, w - a.start_button.right_gap, h - a.start_button.top_gap,
          a.start_button.width, a.start_button.height);
    place(g_run.without_list, a.without_list.left, h2 - a.without_list.top_gap,
          w - a.altered_list.width_margin, h2 - a.altered_list.height_margin);
    place(g_run.create_button, w - a.create_button.right_gap, h2 - a.create_button.top_gap,
          a.create_button.width, a.create_button.height);
    place(g_run.withhash_list, a.withhash_list.left, a.withhash_list.top,
          w - a.altered_list.width_margin, h2 - a.altered_list.height_margin);
    place(g_run.altered_list, a.altered_list.left, a.altered_list.top,
          w - a.altered_list.width_margin, h2 - a.altered_list.height_margin);
    place(g_run.show_altered_button, w - a.rewrite_button.right_gap, a.rewrite_button.top,
          a.show_altered.width, a.show_altered.height);
    place(g_run.rewrite_button, w - a.rewrite_button.right_gap, a.rewrite_button.top,
          a.rewrite_button.width, a.rewrite_button.height);
    place(g_run.remove_button, w - a.remove_button.right_gap, a.remove_button.top,
          a.remove_button.width, a.remove_button.height);
    place(g_run.list_button, w - a.list_button.right_gap, a.list_button.top,
          a.list_button.width, a.list_button.height);
    // Only raised, above the outer frame that overlaps it.
    SetWindowPos(g_run.add_button, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    place(g_run.path_field, a.path_field.left, a.path_field.top,
          w - a.path_field.width_margin, a.path_field.height);

    RedrawWindow(g_run.start_button, nullptr, nullptr, RDW_INVALIDATE);
    RedrawWindow(g_run.exit_button, nullptr, nullptr, RDW_INVALIDATE);
    // A frame that grows does not paint its inside, and Wine copies a moved
    // control's old pixels: without a full repaint the old frame edges and
    // parts of moved controls stay on the screen.
    RedrawWindow(g_run.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void apply_min_track_size(MINMAXINFO* info)
{
    info->ptMinTrackSize = min_track_size;
}
