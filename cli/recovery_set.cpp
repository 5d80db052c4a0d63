// Sets on disk as kestrin-cli names and finds them.
#include "cli/recovery_set.h"
#include "cli/console_out.h"
#include "jobs/long_path.h"
#include <windows.h>
#include <string.h>
#include <wchar.h>

bool set_base_of(const wchar_t* set_path, wchar_t* out)
{
    size_t n = wcslen(set_path);
    if (n <= 5 || n >= kLongPathChars || _wcsicmp(set_path + n - 5, L".par2") != 0)
        return false;
    memcpy(out, set_path, (n - 5) * sizeof(wchar_t));
    out[n - 5] = L'\0';
    return true;
}

static const wchar_t* name_part(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            name = p + 1;
    return name;
}

// The full path of `path` into a heap buffer, or null.
static wchar_t* full_of(const wchar_t* path)
{
    DWORD need = GetFullPathNameW(path, 0, nullptr, nullptr);
    wchar_t* full = need ? (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (need + 1) * sizeof(wchar_t)) : nullptr;
    if (full && GetFullPathNameW(path, need + 1, full, nullptr) == 0) {
        HeapFree(GetProcessHeap(), 0, full);
        full = nullptr;
    }
    return full;
}

bool is_set_file(const wchar_t* base, const wchar_t* path)
{
    const wchar_t* base_name = name_part(base);
    const wchar_t* name = name_part(path);
    size_t bn = wcslen(base_name), n = wcslen(name);
    if (n <= bn || _wcsnicmp(name, base_name, bn) != 0 || name[bn] != L'.')
        return false;
    bool par2 = (n >= 5 && _wcsicmp(name + n - 5, L".par2") == 0) ||
                (n >= 17 && _wcsicmp(name + n - 17, L".par2.kestrin-tmp") == 0);
    if (!par2)
        return false;
    // The same folder: compared as full paths of the folders.
    wchar_t* a = full_of(base);
    wchar_t* b = full_of(path);
    bool same = a && b && (size_t)(name_part(a) - a) == (size_t)(name_part(b) - b) &&
                _wcsnicmp(a, b, (size_t)(name_part(a) - a)) == 0;
    if (a)
        HeapFree(GetProcessHeap(), 0, a);
    if (b)
        HeapFree(GetProcessHeap(), 0, b);
    return same;
}

bool set_name_of(const wchar_t* folder, const wchar_t* path, char* out, size_t cap, size_t* len)
{
    size_t fn = wcslen(folder);
    while (fn > 0 && (folder[fn - 1] == L'\\' || folder[fn - 1] == L'/'))
        --fn;
    if (_wcsnicmp(folder, path, fn) != 0 || (path[fn] != L'\\' && path[fn] != L'/'))
        return false;
    const wchar_t* rel = path + fn + 1;
    int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, rel, -1, out, (int)cap, nullptr, nullptr);
    if (n <= 1)
        return false;
    for (int i = 0; i < n; ++i)
        if (out[i] == '\\')
            out[i] = '/';
    *len = (size_t)n - 1;
    return true;
}

bool set_member_path(const wchar_t* folder, const char* name, size_t len, wchar_t* out)
{
    if (!set_name_is_safe(name, len))
        return false;
    size_t fn = wcslen(folder);
    while (fn > 0 && (folder[fn - 1] == L'\\' || folder[fn - 1] == L'/'))
        --fn;
    if (fn + 2 >= kLongPathChars)
        return false;
    memcpy(out, folder, fn * sizeof(wchar_t));
    out[fn] = L'\\';
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, (int)len, out + fn + 1,
                                (int)(kLongPathChars - fn - 2));
    if (n <= 0)
        return false;
    out[fn + 1 + n] = L'\0';
    for (wchar_t* p = out + fn + 1; *p; ++p)
        if (*p == L'/')
            *p = L'\\';
    return true;
}

int find_set_member(const Par2Set* set, const char* name, size_t len)
{
    for (uint32_t f = 0; f < set->file_count; ++f)
        if (set->files[f].name && set->files[f].name_bytes == len && memcmp(set->files[f].name, name, len) == 0)
            return (int)f;
    return -1;
}

bool load_named_set(const wchar_t* set_path, Par2Set* set)
{
    static wchar_t base[kLongPathChars];
    static wchar_t call[kLongPathChars];
    if (!set_base_of(set_path, base)) {
        err_path(L"a recovery set's name ends in .par2", set_path);
        return false;
    }
    HANDLE heap = GetProcessHeap();
    int room = 16, count = 0;
    wchar_t** paths = (wchar_t**)HeapAlloc(heap, 0, sizeof(wchar_t*) * (size_t)room);
    bool sound = paths && make_call_path(set_path, L"", call);
    if (sound) {
        paths[count] = (wchar_t*)HeapAlloc(heap, 0, (wcslen(call) + 1) * sizeof(wchar_t));
        sound = paths[count] != nullptr;
        if (sound)
            wcscpy(paths[count++], call);
    }
    // Every BASE.*.par2 beside it, the recovery files among them.
    static wchar_t pattern[kLongPathChars];
    sound = sound && make_call_path(base, L".*.par2", pattern);
    WIN32_FIND_DATAW found;
    HANDLE find = sound ? FindFirstFileW(pattern, &found) : INVALID_HANDLE_VALUE;
    if (find != INVALID_HANDLE_VALUE) {
        size_t folder_len = (size_t)(name_part(call) - call);
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            size_t n = wcslen(found.cFileName);
            if (n < 5 || _wcsicmp(found.cFileName + n - 5, L".par2") != 0 ||
                _wcsicmp(found.cFileName, name_part(call)) == 0)
                continue;
            if (count == room) {
                wchar_t** more = (wchar_t**)HeapReAlloc(heap, 0, paths, sizeof(wchar_t*) * (size_t)room * 2);
                if (!more)
                    break;
                paths = more;
                room *= 2;
            }
            wchar_t* p = (wchar_t*)HeapAlloc(heap, 0, (folder_len + n + 1) * sizeof(wchar_t));
            if (!p)
                break;
            memcpy(p, call, folder_len * sizeof(wchar_t));
            wcscpy(p + folder_len, found.cFileName);
            paths[count++] = p;
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    SetRead r = sound ? read_set(paths, count, set) : SetReadNoMemory;
    for (int i = 0; paths && i < count; ++i)
        HeapFree(heap, 0, paths[i]);
    if (paths)
        HeapFree(heap, 0, paths);
    switch (r) {
    case SetReadOk:
    case SetIncomplete:
        return true;
    case SetNoMain:
        err_path(L"no recovery set found (no whole Main packet)", set_path);
        break;
    case SetUnreadable:
        err_path(L"cannot read the recovery set", set_path);
        break;
    case SetBadMain:
        err_path(L"the recovery set's Main packet makes no sense", set_path);
        break;
    case SetReadNoMemory:
        err_path(L"out of memory reading the recovery set", set_path);
        break;
    }
    free_set(set);
    return false;
}
