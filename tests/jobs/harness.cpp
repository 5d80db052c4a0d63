#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/hash_stream.h"
#include "jobs/process_file.h"
#include "jobs/jobs.h"
#include "jobs/targets.h"
#include "jobs/walk.h"
#include "res/resource.h"
#include <commctrl.h>

int g_final_ticks;
int g_timer_ticks;

static wchar_t g_path_buffer[65536];

static LRESULT CALLBACK test_window_proc(HWND window, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_TIMER) {
        if (wp == 0) ++g_final_ticks;
        else if (wp == IDT_PROGRESS) ++g_timer_ticks;
        return 0;
    }
    return DefWindowProcW(window, msg, wp, lp);
}

static HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id)
{
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 200, 100, parent,
                           (HMENU)(INT_PTR)id, GetModuleHandleW(nullptr), nullptr);
}

void harness_create()
{
    if (g_run.dialog)
        return;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = test_window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KestrinJobsTestWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, L"Kestrin", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                             nullptr, nullptr, wc.hInstance, nullptr);
    g_run.dialog = w;
    DWORD lb = LBS_NOTIFY | WS_VSCROLL | LBS_NOINTEGRALHEIGHT;  // unsorted, like the real lists
    g_run.altered_list = child(w, L"LISTBOX", L"", lb, IDC_ALTERED_LIST);
    g_run.withhash_list = child(w, L"LISTBOX", L"", lb, IDC_WITHHASH_LIST);
    g_run.without_list = child(w, L"LISTBOX", L"", lb, IDC_WITHOUT_LIST);
    g_run.status_line = child(w, L"STATIC", L"Ready.", 0, IDC_STATUS_LINE);
    g_run.start_button = child(w, L"BUTTON", L"Start", BS_PUSHBUTTON, IDC_START);
    g_run.list_button = child(w, L"BUTTON", L"List Files", BS_PUSHBUTTON, IDC_LIST);
    g_run.remove_button = child(w, L"BUTTON", L"Remove Hashes", BS_PUSHBUTTON, IDC_REMOVE);
    g_run.rewrite_button = child(w, L"BUTTON", L"Rewrite Hashes", BS_PUSHBUTTON, IDC_REWRITE);
    g_run.show_altered_button = child(w, L"BUTTON", L"Show Altered Files", BS_PUSHBUTTON, IDC_SHOW_ALTERED);
    g_run.create_button = child(w, L"BUTTON", L"Create Hashes", BS_PUSHBUTTON, IDC_CREATE);
    g_run.path_field = child(w, L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL, IDC_PATH);
    g_run.status_bar = child(w, STATUSCLASSNAMEW, L"", 0, IDC_STATUS_BAR);
    int parts[3] = {200, 400, -1};
    SendMessageW(g_run.status_bar, SB_SETPARTS, 3, (LPARAM)parts);
    g_run.pause_gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    g_run.PathBuffer = g_path_buffer;
    g_run.path_capacity = 65536;
}

void harness_reset()
{
    for (HWND list : {g_run.altered_list, g_run.withhash_list, g_run.without_list})
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
    SetWindowTextW(g_run.status_line, L"Ready.");
    for (int part = 0; part < 3; ++part)
        SendMessageW(g_run.status_bar, SB_SETTEXTW, part, (LPARAM)L"x");
    EnableWindow(g_run.start_button, FALSE);
    SetWindowTextW(g_run.start_button, L"Start");
    SetEvent(g_run.pause_gate);
    g_run.mode = Idle;
    g_run.total_bytes = 0;
    g_run.done_bytes = 0;
    g_run.write_in_progress = 0;
    g_final_ticks = g_timer_ticks = 0;
}

static void pump_messages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void pump_for(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        pump_messages();
    }
}

bool progress_timer_was_running()
{
    return KillTimer(g_run.dialog, IDT_PROGRESS) != FALSE;
}

int ticks_within(DWORD ms)
{
    int before = g_timer_ticks;
    pump_for(ms);
    return g_timer_ticks - before;
}

bool run_on_worker(LPTHREAD_START_ROUTINE fn, void* arg, DWORD timeout_ms)
{
    HANDLE thread = CreateThread(nullptr, 0, fn, arg, 0, nullptr);
    if (!thread)
        return false;
    DWORD start = GetTickCount();
    bool ended = false;
    while (GetTickCount() - start < timeout_ms) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        pump_messages();
    }
    pump_messages();
    CloseHandle(thread);
    return ended;
}

static DWORD WINAPI process_file_thread(void* path)
{
    process_file((const wchar_t*)path);
    return 0;
}

bool run_process_file(RunMode mode, const std::wstring& path)
{
    g_run.mode = mode;
    bool ok = run_on_worker(process_file_thread, (void*)path.c_str());
    g_run.mode = Idle;
    return ok;
}

static DWORD WINAPI walk_thread(void*)
{
    walk_targets();
    return 0;
}

bool run_walk(RunMode mode, const std::wstring& text)
{
    lstrcpynW(g_run.PathBuffer, text.c_str(), g_run.path_capacity);
    if (parse_targets() != 0)
        return false;
    g_run.mode = mode;
    bool ok = run_on_worker(walk_thread, nullptr);
    g_run.mode = Idle;
    LocalFree(g_run.args);
    g_run.args = nullptr;
    g_run.arg_count = 0;
    return ok;
}

bool run_job(RunMode mode, LPTHREAD_START_ROUTINE job, void* arg, DWORD timeout_ms)
{
    g_run.mode = mode;
    if (!start_job(job, arg))
        return false;
    DWORD start = GetTickCount();
    while (g_run.mode.load() != Idle) {
        if (GetTickCount() - start > timeout_ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        pump_messages();
    }
    pump_for(20);
    return true;
}

std::vector<std::wstring> items(HWND list)
{
    std::vector<std::wstring> out;
    int n = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        int len = (int)SendMessageW(list, LB_GETTEXTLEN, i, 0);
        std::wstring s(len + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, (LPARAM)s.data());
        s.resize(len);
        out.push_back(s);
    }
    return out;
}

void add_items(HWND list, const std::vector<std::wstring>& paths)
{
    for (const auto& p : paths)
        SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)p.c_str());
}

std::wstring window_text(HWND window)
{
    wchar_t buf[1024];
    buf[0] = 0;
    GetWindowTextW(window, buf, 1024);
    return buf;
}

std::wstring status_text()
{
    return window_text(g_run.status_line);
}

std::wstring status_bar_text(int part)
{
    wchar_t buf[256];
    buf[0] = 0;
    int len = LOWORD(SendMessageW(g_run.status_bar, SB_GETTEXTLENGTHW, part, 0));
    if (len < 256)
        SendMessageW(g_run.status_bar, SB_GETTEXTW, part, (LPARAM)buf);
    return buf;
}

static const char* kOpenSsl = "openssl dgst -provider legacy -provider default -whirlpool -binary ";

void linux_store_digest(const std::wstring& file, int extra_bytes)
{
    std::string f = sh_quote(to_linux_path(file));
    std::string s = sh_quote(to_linux_path(file) + ":z");
    std::string cmd = "{ " + std::string(kOpenSsl) + f + "; head -c " + std::to_string(extra_bytes) +
                      " /dev/zero | tr '\\0' '\\356'; } > " + s;
    linux_sh(cmd);
}

void linux_store_junk(const std::wstring& file, int bytes)
{
    std::string s = sh_quote(to_linux_path(file) + ":z");
    linux_sh("head -c " + std::to_string(bytes) + " /dev/zero | tr '\\0' '\\253' > " + s);
}

std::string linux_data_snapshot(const std::wstring& folder)
{
    std::string d = sh_quote(to_linux_path(folder));
    return linux_sh("cd " + d + " && find . -type f -exec sh -c 'for f; do printf \"%s %s \" \"$f\" $(stat -c %s \"$f\"); "
                    "sha256sum < \"$f\"; done' sh {} + | sort");
}

std::string linux_stream_hex(const std::wstring& file, bool* exists)
{
    return linux_read_hex(to_linux_path(file) + ":z", exists);
}

std::wstring join(const std::wstring& folder, const std::wstring& name)
{
    return folder + L"\\" + name;
}

void JobsTest::SetUp()
{
    harness_reset();
    dir = ntfs_scratch(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(dir.empty());
}

std::wstring JobsTest::make(const wchar_t* name, const std::string& data)
{
    std::wstring p = join(dir, name);
    EXPECT_TRUE(write_file(p, data)) << narrow(p);
    return p;
}

