// The commands of the main window and the run control of a job: Start, Pause,
// Resume, the other jobs, the folder browser, drag and drop, the digest view
// and Exit.
#include "ui/commands.h"
#include "ui/control_state.h"
#include "jobs/hash_stream.h"
#include "jobs/jobs.h"
#include "jobs/run_state.h"
#include "jobs/targets.h"
#include "res/resource.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

// The path field's text length may approach PathBuffer's capacity no closer
// than this before a command; the buffer then grows.
constexpr int kPathMargin = 32770;
constexpr int kPathGrowth = 65536;
constexpr int kDigestViewExtra = 193;   // "\n\n" replacing ":z", 64 x 3 - 1

// Set once Exit has ended the dialog: later commands are not handled.
static bool dialog_ended;

bool grow_path_buffer(int capacity)
{
    if (capacity <= 0)
        return false;
    HANDLE heap = GetProcessHeap();
    SIZE_T bytes = (SIZE_T)capacity * sizeof(wchar_t);
    void* grown = g_run.PathBuffer ? HeapReAlloc(heap, 0, g_run.PathBuffer, bytes)
                                   : HeapAlloc(heap, 0, bytes);
    if (!grown)
        return false;
    g_run.PathBuffer = (wchar_t*)grown;
    g_run.path_capacity = capacity;
    return true;
}

// Quotes `path` when it holds a blank, as PathQuoteSpacesW does; that call
// leaves a path of MAX_PATH or more unquoted, and such a path would then be
// split into several targets. `room` counts the characters `path` may use,
// terminator included.
static void quote_spaces(wchar_t* path, int room)
{
    if (!wcschr(path, L' '))
        return;
    PathQuoteSpacesW(path);
    if (path[0] == L'"')
        return;   // a file name never holds a quote: this one was just added
    int length = lstrlenW(path);
    if (length + 3 > room)
        return;
    memmove(path + 1, path, (length + 1) * sizeof(wchar_t));
    path[0] = L'"';
    path[length + 1] = L'"';
    path[length + 2] = L'\0';
}

static void set_taskbar_state(TBPFLAG state)
{
    if (g_run.taskbar)
        g_run.taskbar->SetProgressState(g_run.dialog, state);
}

static void enable_by_path_text()
{
    BOOL any = g_run.PathBuffer[0] != L'\0';
    EnableWindow(g_run.list_button, any);
    EnableWindow(g_run.remove_button, any);
    EnableWindow(g_run.start_button, any);
}

// A job thread that could not be created: the window goes back to how a
// finished job leaves it, with no job and nothing held.
static void job_not_started()
{
    if (g_run.args) {
        LocalFree(g_run.args);
        g_run.args = nullptr;
        g_run.arg_count = 0;
    }
    g_run.mode = Idle;
    restore_commands();
    EnableWindow(g_run.start_button, TRUE);
}

static void start_check()
{
    if (parse_targets() != 0)
        return;
    show_result_group(false);
    disable_commands();
    g_run.append_flag = 0;
    g_run.mode = Check;
    g_run.paused = 0;
    SetEvent(g_run.pause_gate);
    if (!start_job(ScanJob, nullptr))
        job_not_started();
}

static void pause_job(HWND dialog)
{
    ResetEvent(g_run.pause_gate);
    KillTimer(dialog, IDT_PROGRESS);
    SetWindowTextW(g_run.start_button, L"Resume");
    set_taskbar_state(TBPF_PAUSED);
    g_run.pause_started = system_time_now();
    g_run.paused = 1;
}

// The time spent paused counts neither in the average nor in the current rate.
static void resume_job(HWND dialog)
{
    uint64_t span = system_time_now() - g_run.pause_started;
    g_run.start_time += span;
    g_run.tick_time += span;
    SetWindowTextW(g_run.start_button, L"Pause");
    set_taskbar_state(TBPF_NORMAL);
    SetEvent(g_run.pause_gate);
    SetTimer(dialog, IDT_PROGRESS, 1000, nullptr);
    g_run.paused = 0;
}

static void start_pause_resume(HWND dialog, bool text_whole)
{
    // A pause pressed after the job's last read outlives the job; with no job
    // there is nothing to resume, so the press starts a check.
    if (g_run.paused && g_run.mode == Idle)
        g_run.paused = 0;

    if (g_run.paused)
        resume_job(dialog);
    else if (g_run.mode != Idle)
        pause_job(dialog);
    else if (text_whole)
        start_check();
}

static void start_scan(HWND dialog, RunMode mode)
{
    if (mode == Remove &&
        MessageBoxA(dialog, "Do you really want to delete hashes of these files/folders?",
                    "Remove Hashes", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    if (parse_targets() != 0)
        return;
    show_result_group(true);
    disable_commands();
    g_run.append_flag = 0;
    g_run.mode = mode;
    if (!start_job(ScanJob, nullptr))
        job_not_started();
}

static void start_write(RunMode mode, HWND* list_field)
{
    disable_commands();
    g_run.mode = mode;
    g_run.paused = 0;
    if (!start_job(WriteJob, list_field))
        job_not_started();
}

// The picked file or folder goes in front of the field's text, or replaces
// it just after a job was started from it.
static void browse_for_target(HWND dialog, int old_length)
{
    BROWSEINFOW info = {};
    info.hwndOwner = dialog;
    info.pszDisplayName = g_run.PathBuffer;
    info.lpszTitle = L"Kestrin";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE |
                   BIF_NONEWFOLDERBUTTON | BIF_BROWSEINCLUDEFILES;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item)
        return;
    g_run.PathBuffer[0] = L'\0';
    // The long-path form of the call: a picked folder may lie deeper than
    // MAX_PATH. PathBuffer always has room for the platform's longest path.
    BOOL found = SHGetPathFromIDListEx(item, g_run.PathBuffer, (DWORD)kLongPathChars, GPFIDL_DEFAULT);
    CoTaskMemFree(item);
    if (!found || g_run.PathBuffer[0] == L'\0')
        return;  // not a file-system item: nothing to name
    quote_spaces(g_run.PathBuffer, g_run.path_capacity);
    if (old_length != 0 && g_run.append_flag) {
        int length = lstrlenW(g_run.PathBuffer);
        g_run.PathBuffer[length] = L' ';
        GetWindowTextW(g_run.path_field, g_run.PathBuffer + length + 1,
                       g_run.path_capacity - length - 1);
    }
    g_run.PathBuffer[g_run.path_capacity - 1] = L'\0';
    SetWindowTextW(g_run.path_field, g_run.PathBuffer);
}

// Shows the digest stored for the item selected in WithHashList: the path,
// an empty line, and four lines of 16 bytes in hexadecimal.
static void show_digest(HWND dialog)
{
    LRESULT index = SendMessageW(g_run.withhash_list, LB_GETCURSEL, 0, 0);
    LRESULT length = SendMessageW(g_run.withhash_list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || !g_run.PathBuffer)
        return;
    if (length + kDigestViewExtra + 1 >= g_run.path_capacity)
        return;
    int L = (int)length;
    wchar_t* text = g_run.PathBuffer;
    SendMessageW(g_run.withhash_list, LB_GETTEXT, index, (LPARAM)text);
    text[L] = L'\0';

    // Only a stream that cannot be opened shows nothing.
    static wchar_t stream_call[kStreamPathChars];   // window thread only
    uint8_t digest[kDigestBytes];
    uint32_t got = 0;
    if (!make_stream_path(text, stream_call))
        return;
    StoredDigest found = read_stored_digest(stream_call, digest, &got);
    if (found == DigestMissing || found == DigestLocked)
        return;

    // A stream shorter than 64 bytes shows the bytes it has, and no others.
    text[L] = L'\n';
    text[L + 1] = L'\n';
    int position = L + 2;
    for (uint32_t i = 0; i < got; ++i) {
        wsprintfW(text + position, L"%02X%c", digest[i], (i % 16 == 15) ? L'\n' : L' ');
        position += 3;
    }
    if (got != 0)
        --position;  // the separator after the last byte
    text[position] = L'\0';
    MessageBoxW(dialog, text, L"Hash", MB_OK);
}

// Exit never cuts a digest stream in half: it waits until the job has
// finished writing the one it is on.
static void exit_program(HWND dialog)
{
    if (g_run.mode != Idle &&
        MessageBoxA(dialog, "Do you really want to abort the current action?", "Exit",
                    MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    // Wait until no digest stream is being written, and in the same step
    // close the door on the next one: the job runs on until the process ends,
    // and a stream it began after this point would be cut off half-written.
    close_writes(&g_run.write_in_progress);
    dialog_ended = true;
    EndDialog(dialog, 0);
}

// Copies the path field into PathBuffer, growing it first when the text comes
// within the margin of its capacity. False when the buffer could not hold the
// whole text: commands that work from the text must not run on a part of it.
static bool copy_path_field(int length)
{
    bool whole = true;
    if (!g_run.PathBuffer || length + kPathMargin >= g_run.path_capacity)
        whole = grow_path_buffer(length + kPathGrowth);
    if (!g_run.PathBuffer)
        return false;
    GetWindowTextW(g_run.path_field, g_run.PathBuffer, g_run.path_capacity);
    g_run.PathBuffer[g_run.path_capacity - 1] = L'\0';
    return whole;
}

INT_PTR on_command(HWND dialog, WPARAM wparam)
{
    if (!g_run.init_done || dialog_ended)
        return FALSE;
    int length = GetWindowTextLengthW(g_run.path_field);
    bool text_whole = copy_path_field(length);
    if (g_run.PathBuffer && g_run.mode == Idle)
        enable_by_path_text();

    switch (LOWORD(wparam)) {
    case IDC_START:
        start_pause_resume(dialog, text_whole);
        return TRUE;
    case IDC_EXIT:
        exit_program(dialog);
        return TRUE;
    case IDC_ADD:
        if (text_whole)
            browse_for_target(dialog, length);
        return TRUE;
    case IDC_LIST:
        if (text_whole)
            start_scan(dialog, List);
        return TRUE;
    case IDC_REMOVE:
        if (text_whole)
            start_scan(dialog, Remove);
        return TRUE;
    case IDC_REWRITE:
        start_write(Rewrite, &g_run.altered_list);
        return TRUE;
    case IDC_SHOW_ALTERED:
        show_result_group(false);
        return TRUE;
    case IDC_CREATE:
        start_write(Create, &g_run.without_list);
        return TRUE;
    case IDC_PATH:
        if (HIWORD(wparam) == EN_CHANGE)
            g_run.append_flag = 1;
        return TRUE;
    case IDC_WITHHASH_LIST:
        if (HIWORD(wparam) == LBN_DBLCLK)
            show_digest(dialog);
        return TRUE;
    }
    return FALSE;
}

// Dropped paths go first, each quoted when it holds a blank and followed by
// one blank, then the field's old text; just after a job was started from
// the field they replace it.
void on_drop_files(HDROP drop)
{
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    int old = g_run.append_flag ? GetWindowTextLengthW(g_run.path_field) : 0;
    int64_t need = old;
    for (UINT i = 0; i < count; ++i)
        need += (int64_t)DragQueryFileW(drop, i, nullptr, 0) + 3;
    if (need >= g_run.path_capacity || !g_run.PathBuffer) {
        if (need + kPathGrowth > INT32_MAX || !grow_path_buffer((int)need + kPathGrowth)) {
            DragFinish(drop);
            return;
        }
    }

    wchar_t* text = g_run.PathBuffer;
    int position = 0;
    for (UINT i = 0; i < count; ++i) {
        UINT length = DragQueryFileW(drop, i, text + position, g_run.path_capacity - position - 3);
        if (length == 0)
            continue;  // an empty name names nothing
        text[position + length] = L'\0';
        quote_spaces(text + position, g_run.path_capacity - position - 1);
        position += lstrlenW(text + position);
        text[position++] = L' ';
    }
    if (position == 0) {
        DragFinish(drop);  // no path in the drop: the field keeps its text
        return;
    }
    if (old != 0)
        GetWindowTextW(g_run.path_field, text + position, g_run.path_capacity - position);
    else
        text[position - 1] = L'\0';
    text[g_run.path_capacity - 1] = L'\0';
    SetWindowTextW(g_run.path_field, text);
    DragFinish(drop);
}
