#include "driver.h"
#include <wctype.h>
#include "oracle.h"
#include "test_env.h"
#include "res/resource.h"
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

std::wstring kestrin_exe()
{
    // A benchmark may set another build's program, to compare the two.
    wchar_t other[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"KESTRIN_EXE", other, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        return other;
    return build_dir() + L"\\app\\Kestrin.exe";
}

namespace {

struct FindMain {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK find_main_proc(HWND w, LPARAM lp)
{
    FindMain* f = (FindMain*)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != f->pid || !IsWindowVisible(w)) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 63);
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    // The main window is the one with the path field.
    if (!GetDlgItem(w, IDC_PATH) || !GetDlgItem(w, IDC_STATUS_BAR)) return TRUE;
    f->found = w;
    return FALSE;
}

}  // namespace

bool wait_until(const std::function<bool()>& cond, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (GetTickCount() - start >= timeout_ms) return cond();
        Sleep(20);
    }
}

bool kestrin_start(Kestrin& k, const std::wstring& args, bool blank, DWORD timeout_ms)
{
    k = Kestrin{};
    std::wstring exe = kestrin_exe();
    if (!file_exists(exe)) {
        fprintf(stderr, "Kestrin.exe not found at %s\n", narrow(exe).c_str());
        return false;
    }
    k.command_line = L"\"" + exe + L"\"" + (blank ? L" " : L"") + args;
    std::wstring cmd = k.command_line;  // CreateProcessW may write into it
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &k.pi)) {
        fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return false;
    }
    FindMain f{k.pi.dwProcessId, nullptr};
    wait_until([&] {
        EnumWindows(find_main_proc, (LPARAM)&f);
        return f.found != nullptr || WaitForSingleObject(k.pi.hProcess, 0) == WAIT_OBJECT_0;
    }, timeout_ms);
    k.dlg = f.found;
    if (!k.dlg) {
        fprintf(stderr, "Kestrin's window did not open within %lu ms\n", timeout_ms);
        return false;
    }
    // Let the dialog finish its first paint and settle its layout.
    SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(200);
    return true;
}

bool kestrin_running(const Kestrin& k)
{
    return k.pi.hProcess && WaitForSingleObject(k.pi.hProcess, 0) == WAIT_TIMEOUT;
}

std::string kestrin_end_note(const Kestrin& k)
{
    DWORD code = 0;
    if (kestrin_running(k) || !k.pi.hProcess || !GetExitCodeProcess(k.pi.hProcess, &code))
        return "Kestrin still runs";
    char text[64];
    snprintf(text, sizeof text, "Kestrin ended with exit code 0x%08lX", (unsigned long)code);
    return text;
}

bool kestrin_wait_exit(Kestrin& k, DWORD timeout_ms, DWORD* exit_code)
{
    if (!k.pi.hProcess) return false;
    if (WaitForSingleObject(k.pi.hProcess, timeout_ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0xDEADBEEF;
    GetExitCodeProcess(k.pi.hProcess, &code);
    if (exit_code) *exit_code = code;
    return true;
}

void kestrin_kill(Kestrin& k)
{
    if (k.pi.hProcess) {
        if (WaitForSingleObject(k.pi.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(k.pi.hProcess, 99);
            WaitForSingleObject(k.pi.hProcess, 10000);
        }
        CloseHandle(k.pi.hProcess);
        CloseHandle(k.pi.hThread);
    }
    k = Kestrin{};
}

HWND control(const Kestrin& k, int id)
{
    return GetDlgItem(k.dlg, id);
}

std::wstring window_text(HWND w)
{
    if (!w) return L"<no window>";
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &len)) return L"<no answer>";
    std::wstring s(len + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, len + 1, (LPARAM)s.data(), SMTO_NORMAL, 5000, &got);
    s.resize(got);
    return s;
}

std::wstring control_text(const Kestrin& k, int id)
{
    return window_text(control(k, id));
}

bool control_visible(const Kestrin& k, int id)
{
    HWND w = control(k, id);
    return w && (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool control_enabled(const Kestrin& k, int id)
{
    HWND w = control(k, id);
    return w && IsWindowEnabled(w);
}

std::vector<std::wstring> list_items(const Kestrin& k, int list_id)
{
    std::vector<std::wstring> items;
    HWND w = control(k, list_id);
    DWORD_PTR n = 0;
    if (!w || !SendMessageTimeoutW(w, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 5000, &n)) return items;
    for (int i = 0; i < (int)n; ++i) {
        DWORD_PTR len = 0;
        SendMessageTimeoutW(w, LB_GETTEXTLEN, i, 0, SMTO_NORMAL, 5000, &len);
        if ((LRESULT)len == LB_ERR) break;
        std::wstring s(len + 1, L'\0');
        DWORD_PTR got = 0;
        SendMessageTimeoutW(w, LB_GETTEXT, i, (LPARAM)s.data(), SMTO_NORMAL, 5000, &got);
        s.resize((LRESULT)got == LB_ERR ? 0 : got);
        items.push_back(s);
    }
    return items;
}

namespace {

// Memory inside the Kestrin process for messages whose pointer Wine does not
// carry across processes: the status bar writes its answer there and we read
// it back.
struct Remote {
    HANDLE process = nullptr;
    void* at = nullptr;
    Remote(const Kestrin& k, size_t size)
    {
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, k.pi.dwProcessId);
        if (process) at = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~Remote()
    {
        if (at) VirtualFreeEx(process, at, 0, MEM_RELEASE);
        if (process) CloseHandle(process);
    }
    bool put(const void* data, size_t size) { return at && WriteProcessMemory(process, at, data, size, nullptr); }
    bool get(void* data, size_t size) { return at && ReadProcessMemory(process, at, data, size, nullptr); }
};

}  // namespace

std::wstring status_part(const Kestrin& k, int part)
{
    HWND bar = control(k, IDC_STATUS_BAR);
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(bar, SB_GETTEXTLENGTHW, part, 0, SMTO_NORMAL, 5000, &r)) return L"<no answer>";
    size_t len = LOWORD(r);
    // Wine does not carry SB_GETTEXTW's buffer across processes: the status
    // bar writes into the Kestrin process's memory and we read it from there.
    Remote mem(k, (len + 1) * sizeof(wchar_t));
    std::wstring s(len + 1, L'\0');
    if (!mem.put(s.data(), s.size() * sizeof(wchar_t))) return L"<no remote memory>";
    SendMessageTimeoutW(bar, SB_GETTEXTW, part, (LPARAM)mem.at, SMTO_NORMAL, 5000, &r);
    mem.get(s.data(), s.size() * sizeof(wchar_t));
    s.resize(wcsnlen(s.c_str(), len + 1));
    return s;
}

std::vector<int> status_part_edges(const Kestrin& k)
{
    HWND bar = control(k, IDC_STATUS_BAR);
    int edges[8];
    for (int& e : edges) e = -12345;
    DWORD_PTR n = 0;
    // Wine may or may not carry this array across processes: try our own
    // memory first, then the Kestrin process's.
    SendMessageTimeoutW(bar, SB_GETPARTS, 8, (LPARAM)edges, SMTO_NORMAL, 5000, &n);
    if (n > 8) n = 8;
    if (n > 0 && edges[0] == -12345) {
        Remote mem(k, sizeof edges);
        mem.put(edges, sizeof edges);
        SendMessageTimeoutW(bar, SB_GETPARTS, 8, (LPARAM)mem.at, SMTO_NORMAL, 5000, &n);
        if (n > 8) n = 8;
        mem.get(edges, sizeof edges);
    }
    return std::vector<int>(edges, edges + n);
}

bool status_part_rect(const Kestrin& k, int part, RECT* r)
{
    HWND bar = control(k, IDC_STATUS_BAR);
    RECT local = {-1, -1, -1, -1};
    DWORD_PTR ok = 0;
    SendMessageTimeoutW(bar, SB_GETRECT, part, (LPARAM)&local, SMTO_NORMAL, 5000, &ok);
    if (ok && !(local.left == -1 && local.right == -1)) {
        *r = local;
        return true;
    }
    Remote mem(k, sizeof(RECT));
    RECT init = {-1, -1, -1, -1};
    mem.put(&init, sizeof init);
    SendMessageTimeoutW(bar, SB_GETRECT, part, (LPARAM)mem.at, SMTO_NORMAL, 5000, &ok);
    return ok && mem.get(r, sizeof(RECT));
}

RECT control_rect(const Kestrin& k, int id)
{
    RECT r = {};
    HWND w = control(k, id);
    if (!w) return RECT{-1, -1, -1, -1};
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, k.dlg, (POINT*)&r, 2);
    return r;
}

RECT window_rect(const Kestrin& k)
{
    RECT r = {};
    GetWindowRect(k.dlg, &r);
    return r;
}

SIZE client_size(const Kestrin& k)
{
    RECT r = {};
    GetClientRect(k.dlg, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void set_window_size(const Kestrin& k, int width, int height)
{
    SetWindowPos(k.dlg, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(100);
}

bool press(const Kestrin& k, int id)
{
    HWND w = control(k, id);
    if (!w || !IsWindowVisible(w) || !IsWindowEnabled(w)) return false;
    return PostMessageW(w, BM_CLICK, 0, 0);
}

void type_text(const Kestrin& k, const std::wstring& text)
{
    HWND edit = control(k, IDC_PATH);
    for (wchar_t c : text)
        SendMessageTimeoutW(edit, WM_CHAR, c, 1, SMTO_NORMAL, 5000, nullptr);
}

void erase_path_field(const Kestrin& k)
{
    HWND edit = control(k, IDC_PATH);
    SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_NORMAL, 5000, nullptr);
    SendMessageTimeoutW(edit, WM_CHAR, VK_BACK, 1, SMTO_NORMAL, 5000, nullptr);
}

namespace {

struct FindOther {
    DWORD pid;
    HWND main;
    std::vector<HWND> found;
};

BOOL CALLBACK find_other_proc(HWND w, LPARAM lp)
{
    FindOther* f = (FindOther*)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != f->pid || w == f->main || !IsWindowVisible(w)) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 63);
    if (wcscmp(cls, L"#32770") == 0) f->found.push_back(w);
    return TRUE;
}

}  // namespace

std::vector<HWND> other_dialogs(const Kestrin& k)
{
    FindOther f{k.pi.dwProcessId, k.dlg, {}};
    EnumWindows(find_other_proc, (LPARAM)&f);
    return f.found;
}

HWND find_dialog(const Kestrin& k, const wchar_t* title, DWORD timeout_ms)
{
    HWND box = nullptr;
    wait_until([&] {
        for (HWND w : other_dialogs(k)) {
            if (!title || window_text(w) == title) {
                box = w;
                return true;
            }
        }
        return false;
    }, timeout_ms);
    return box;
}

namespace {

struct BoxText {
    std::wstring text;
};

BOOL CALLBACK box_text_proc(HWND w, LPARAM lp)
{
    BoxText* t = (BoxText*)lp;
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 63);
    if (_wcsicmp(cls, L"Static") != 0) return TRUE;
    std::wstring s = window_text(w);
    if (!s.empty()) {
        t->text = s;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::wstring box_text(HWND box)
{
    BoxText t;
    EnumChildWindows(box, box_text_proc, (LPARAM)&t);
    return t.text;
}

bool answer(HWND box, int button_id)
{
    HWND b = GetDlgItem(box, button_id);
    if (!b) return false;
    return PostMessageW(b, BM_CLICK, 0, 0);
}

// A text that no job writes, so that its disappearance shows a job has run.
static const wchar_t kMarker[] = L"(test: waiting for the job)";

void mark_status_line(const Kestrin& k)
{
    SendMessageTimeoutW(control(k, IDC_STATUS_LINE), WM_SETTEXT, 0, (LPARAM)kMarker, SMTO_NORMAL, 5000, nullptr);
}

bool is_summary(const std::wstring& s)
{
    auto ends_with = [&](const wchar_t* tail) {
        size_t n = wcslen(tail);
        return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
    };
    return s == L"Ready." || s == L"All files checked successfully." || ends_with(L" could not be written.") ||
           ends_with(L" could not be deleted.");
}

bool wait_job_end(const Kestrin& k, DWORD timeout_ms)
{
    bool ended = wait_until([&] {
        if (!kestrin_running(k)) return true;
        std::wstring s = control_text(k, IDC_STATUS_LINE);
        return s != kMarker && is_summary(s) && control_enabled(k, IDC_START) && control_text(k, IDC_START) == L"Start";
    }, timeout_ms);
    // The job sets its mode back to Idle just after its last window change.
    Sleep(150);
    return ended && kestrin_running(k);
}

static std::string screenshot_rect(const RECT& r, const char* name)
{
    const char* dir = getenv("KESTRIN_BUILD_DIR");
    if (!dir) return {};
    std::string shots = std::string(dir) + "/screenshots";
    std::string out = shots + "/" + name + ".png";
    char crop[96];
    snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left < 0 ? 0 : r.left,
             r.top < 0 ? 0 : r.top);
    int st = -1;
    linux_sh("mkdir -p " + sh_quote(shots) + " && import -window root -crop " + crop + " +repage " + sh_quote(out), &st,
             30000);
    return st == 0 ? out : std::string();
}

std::string screenshot(const Kestrin& k, const char* name)
{
    if (!k.dlg) return {};
    return screenshot_rect(window_rect(k), name);
}

std::string screenshot_control(const Kestrin& k, int id, const char* name)
{
    RECT r = {};
    if (!k.dlg || !GetWindowRect(control(k, id), &r)) return {};
    return screenshot_rect(r, name);
}

bool differing_pixels(const std::string& a, const std::string& b, long* pixels, std::string* why)
{
    // compare exits 0 (alike) or 1 (different) with the count on stderr; 2 on error.
    int st = -1;
    std::string out = linux_sh("compare -metric AE " + sh_quote(a) + " " + sh_quote(b) + " null: 2>&1", &st);
    char* end = nullptr;
    long n = strtol(out.c_str(), &end, 10);
    if ((st != 0 && st != 1) || end == out.c_str()) {
        *why = "compare " + a + " " + b + " failed (status " + std::to_string(st) + "): " + out;
        return false;
    }
    *pixels = n;
    return true;
}

long dark_pixels(const std::string& image)
{
    int st = -1;
    std::string out = linux_sh("convert " + sh_quote(image) +
                                   " -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:",
                               &st);
    char* end = nullptr;
    long n = strtol(out.c_str(), &end, 10);
    return st == 0 && end != out.c_str() ? n : -1;
}

int default_button(HWND box)
{
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(c, cls, 63);
        if (_wcsicmp(cls, L"Button") == 0 && (GetWindowLongW(c, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
            return GetDlgCtrlID(c);
    }
    return 0;
}

namespace {

// The text of a tree-view item, read through the Kestrin process's memory.
std::wstring tree_item_text(Remote& mem, HWND tree, HTREEITEM item)
{
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = (LPWSTR)((char*)mem.at + 256);
    tv.cchTextMax = 511;
    wchar_t text[512] = {};
    mem.put(&tv, sizeof tv);
    WriteProcessMemory(mem.process, (char*)mem.at + 256, text, sizeof text, nullptr);
    SendMessageTimeoutW(tree, TVM_GETITEMW, 0, (LPARAM)mem.at, SMTO_NORMAL, 5000, nullptr);
    ReadProcessMemory(mem.process, (char*)mem.at + 256, text, sizeof text, nullptr);
    text[511] = 0;
    return text;
}

HTREEITEM tree_child(Remote& mem, HWND tree, HTREEITEM parent, const std::function<bool(const std::wstring&)>& match)
{
    SendMessageTimeoutW(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent, SMTO_NORMAL, 20000, nullptr);
    DWORD_PTR c = 0;
    SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)parent, SMTO_NORMAL, 5000, &c);
    while (c) {
        if (match(tree_item_text(mem, tree, (HTREEITEM)c))) return (HTREEITEM)c;
        DWORD_PTR next = 0;
        SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_NEXT, c, SMTO_NORMAL, 5000, &next);
        c = next;
    }
    return nullptr;
}

}  // namespace

std::string browse_pick(const Kestrin& k, const std::wstring& path, std::wstring* text_above_tree)
{
    if (path.size() < 3 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':')
        return "only paths on the Z: drive can be picked";
    if (!press(k, IDC_ADD)) return "Add Files/Folders could not be pressed";
    HWND dlg = find_dialog(k, nullptr, 15000);
    if (!dlg) return "no folder browser appeared";
    HWND tree = nullptr;
    std::wstring above;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(c, cls, 63);
        if (_wcsicmp(cls, WC_TREEVIEWW) == 0) tree = c;
        if (_wcsicmp(cls, L"Static") == 0 && above.empty() && IsWindowVisible(c)) above = window_text(c);
    }
    if (text_above_tree) *text_above_tree = above;
    if (!tree) return "the folder browser has no tree";
    Remote mem(k, 2048);
    if (!mem.at) return "no memory in the Kestrin process";

    // Desktop > My Computer > "(Z:)" > each folder of the path.
    DWORD_PTR root = 0;
    SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, SMTO_NORMAL, 5000, &root);
    HTREEITEM item = tree_child(mem, tree, (HTREEITEM)root, [](const std::wstring& t) { return t == L"My Computer"; });
    if (item)
        item = tree_child(mem, tree, item, [](const std::wstring& t) { return t.find(L"(Z:)") != std::wstring::npos; });
    if (!item) return "the Z: drive was not found in the browser's tree";
    size_t at = 3;
    while (at < path.size()) {
        size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos) end = path.size();
        std::wstring part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty()) continue;
        item = tree_child(mem, tree, item, [&](const std::wstring& t) { return _wcsicmp(t.c_str(), part.c_str()) == 0; });
        if (!item) {
            std::string why = narrow(part);
            why.insert(0, 1, '"');
            why.append("\" was not found in the browser's tree");
            return why;
        }
    }
    SendMessageTimeoutW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item, SMTO_NORMAL, 5000, nullptr);
    Sleep(100);
    if (!answer(dlg, IDOK)) return "the folder browser has no OK button";
    if (!wait_until([&] { return !IsWindowVisible(dlg); }, 10000)) return "the folder browser did not close";
    SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(200);
    return {};
}

std::wstring run_command(const Kestrin& k, int button, DWORD timeout_ms)
{
    mark_status_line(k);
    if (!press(k, button)) return L"<button " + std::to_wstring(button) + L" could not be pressed>";
    if (button == IDC_REMOVE) {
        HWND box = find_dialog(k, L"Remove Hashes", 10000);
        if (!box) return L"<no Remove Hashes question>";
        answer(box, IDYES);
    }
    if (!wait_job_end(k, timeout_ms)) return L"<job did not end: " + control_text(k, IDC_STATUS_LINE) + L">";
    return control_text(k, IDC_STATUS_LINE);
}

HWND open_digest_view(const Kestrin& k, const std::wstring& item)
{
    std::vector<std::wstring> items = list_items(k, IDC_WITHHASH_LIST);
    size_t at = 0;
    while (at < items.size() && items[at] != item) ++at;
    if (at == items.size()) return nullptr;
    HWND list = control(k, IDC_WITHHASH_LIST);
    SendMessageTimeoutW(list, LB_SETCURSEL, at, 0, SMTO_NORMAL, 5000, nullptr);
    PostMessageW(k.dlg, WM_COMMAND, MAKEWPARAM(IDC_WITHHASH_LIST, LBN_DBLCLK), (LPARAM)list);
    return find_dialog(k, L"Hash", 10000);
}

std::wstring digest_view_lines(const std::string& hex)
{
    std::wstring lines;
    for (size_t i = 0; 2 * i + 1 < hex.size(); ++i) {
        if (i) lines += (i % 16 == 0) ? L'\n' : L' ';
        lines += (wchar_t)towupper(hex[2 * i]);
        lines += (wchar_t)towupper(hex[2 * i + 1]);
    }
    return lines;
}
