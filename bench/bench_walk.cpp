// Where the time of a List or Check over many small files goes: the folder
// walk alone, the walk plus the stream presence test, the walk plus a stream
// open, and the list-box messages a job sends across threads.
//   bench_walk <folder (Windows path)>
#include <windows.h>
#include <shlwapi.h>
#include <stdio.h>
#include <wchar.h>

namespace {

enum Probe { WalkOnly, PresenceTest, StreamOpen };

long long visit(const wchar_t* folder, Probe probe, long long* found)
{
    wchar_t path[600];
    wchar_t stream[620];
    long long files = 0;
    size_t n = wcslen(folder);
    if (n + 260 >= 600) return 0;
    wcscpy(path, folder);
    if (path[n - 1] != L'\\') path[n++] = L'\\';
    path[n] = L'*';
    path[n + 1] = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(path, &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        wcscpy(path + n, fd.cFileName);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L".."))
                files += visit(path, probe, found);
            continue;
        }
        ++files;
        if (probe == WalkOnly) continue;
        _snwprintf(stream, 619, L"%ls:z", path);
        stream[619] = 0;
        if (probe == PresenceTest) {
            *found += PathFileExistsW(stream) ? 1 : 0;
        } else {
            HANDLE s = CreateFileW(stream, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (s != INVALID_HANDLE_VALUE) {
                ++*found;
                CloseHandle(s);
            }
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return files;
}

HWND g_list;
long long g_items;

DWORD WINAPI add_items(void*)
{
    wchar_t item[64];
    for (long long i = 0; i < g_items; ++i) {
        _snwprintf(item, 63, L"Z:\\some\\folder\\file number %lld.bin", i);
        item[63] = 0;
        SendMessageW(g_list, LB_ADDSTRING, 0, (LPARAM)item);
    }
    return 0;
}

double now_s()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_walk <folder>\n");
        return 2;
    }
    const char* names[] = {"walk only (FindFirstFile/FindNextFile)", "walk + stream presence test (List)",
                           "walk + stream open (Check, no digest)"};
    long long files = 0;
    for (int p = 0; p < 3; ++p) {
        long long found = 0;
        double t0 = now_s();
        files = visit(argv[1], (Probe)p, &found);
        double t = now_s() - t0;
        printf("%-42s %8lld files %7.2f s %9.0f files/s  (streams found: %lld)\n", names[p], files, t, files / t, found);
    }

    // The list-box messages: one LB_ADDSTRING per file, sent from a worker
    // thread to a list box whose thread pumps messages, as in a job; once to a
    // hidden list box, once to a visible one, which repaints as items arrive.
    g_items = files;
    for (int visible = 0; visible < 2; ++visible) {
        g_list = CreateWindowExW(0, L"LISTBOX", L"", WS_OVERLAPPEDWINDOW | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, 0, 0,
                                 600, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (visible) {
            ShowWindow(g_list, SW_SHOWNORMAL);
            UpdateWindow(g_list);
        }
        double t0 = now_s();
        HANDLE th = CreateThread(nullptr, 0, add_items, nullptr, 0, nullptr);
        MSG msg;
        while (MsgWaitForMultipleObjects(1, &th, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        double t = now_s() - t0;
        printf("%-42s %8lld items %7.2f s %9.0f items/s\n",
               visible ? "LB_ADDSTRING across threads, visible" : "LB_ADDSTRING across threads, hidden", g_items, t,
               g_items / t);
        CloseHandle(th);
        DestroyWindow(g_list);
    }
    return 0;
}
