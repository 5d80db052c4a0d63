// Paths in the form the file-system calls take.
#include "jobs/long_path.h"
#include <windows.h>
#include <string.h>
#include <wchar.h>

bool has_long_prefix(const wchar_t* path)
{
    return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
           path[3] == L'\\';
}

// Copies `len` characters of `from` to `*at`, advancing it; false when they
// would pass `end` (the last position, kept for the terminator).
static bool put(wchar_t** at, const wchar_t* end, const wchar_t* from, size_t len)
{
    if ((size_t)(end - *at) < len)
        return false;
    memcpy(*at, from, len * sizeof(wchar_t));
    *at += len;
    return true;
}

// A path needs the platform's normalising unless it is already absolute and
// clean: a drive path (X:\...) or a network path (\\server\share...) with
// backslashes only and no empty, "." or ".." component. Paths the walk joins
// below a clean folder stay clean, and skipping the normalising for them
// keeps their names exact: it would strip a trailing dot or blank from a
// name, and reach another file or none.
static bool needs_normalising(const wchar_t* path)
{
    bool drive = ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') && path[1] == L':' && path[2] == L'\\';
    bool network = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\' && path[2] != L'\0';
    if (!drive && !network)
        return true;
    for (const wchar_t* c = path + (drive ? 3 : 2); *c; ++c) {
        if (*c == L'/')
            return true;
        bool starts = c[-1] == L'\\';
        if (!starts)
            continue;
        if (*c == L'\\')
            return true;   // an empty component
        if (c[0] == L'.' && (c[1] == L'\\' || c[1] == L'\0' ||
                             (c[1] == L'.' && (c[2] == L'\\' || c[2] == L'\0'))))
            return true;
    }
    return false;
}

// A 32-bit program on 64-bit Windows that names <windir>\System32 is sent to
// <windir>\SysWOW64: a check of System32 would hash the 32-bit copies under
// the 64-bit names, files only in System32 would be missing, and a walk of
// <windir> would visit SysWOW64 twice. The folder's "Sysnative" alias reaches
// the real one, so call paths name that; what the user sees keeps the name as
// written. (The per-thread switch that turns the redirection off would do it
// too, but it would also redirect the libraries the platform loads while it
// is off.)
struct SystemFolder {
    bool wow64;
    wchar_t windir[MAX_PATH];
    size_t windir_len;
};
static SystemFolder g_system;
static INIT_ONCE g_system_once = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK read_system_folder(INIT_ONCE*, void*, void**)
{
    BOOL wow64 = FALSE;
    UINT len = GetSystemWindowsDirectoryW(g_system.windir, MAX_PATH);
    g_system.wow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && len > 0 && len < MAX_PATH;
    g_system.windir_len = g_system.wow64 ? len : 0;
    if (g_system.wow64 && g_system.windir[len - 1] == L'\\')
        g_system.windir[--g_system.windir_len] = L'\0';
    return TRUE;
}

static bool contains_system32(const wchar_t* s)
{
    for (; *s; ++s)
        if ((s[0] | 0x20) == L's' && _wcsnicmp(s, L"system32", 8) == 0)
            return true;
    return false;
}

// Where `full` (an absolute path) lies under <windir>\System32: the length of
// that head, else 0.
static size_t system32_head(const wchar_t* full)
{
    size_t n = g_system.windir_len;
    if (_wcsnicmp(full, g_system.windir, n) != 0 || full[n] != L'\\' || _wcsnicmp(full + n + 1, L"system32", 8) != 0)
        return 0;
    wchar_t after = full[n + 9];
    return after == L'\0' || after == L'\\' || after == L':' ? n + 9 : 0;
}

static thread_local wchar_t* g_native_full;   // kLongPathChars, made on a thread's first System32 path

// Rewrites a finished call path under System32 to name Sysnative instead;
// false (with `out` empty) when the result would not fit.
static bool reach_native_system32(wchar_t* out)
{
    InitOnceExecuteOnce(&g_system_once, read_system_folder, nullptr, nullptr);
    if (!g_system.wow64 || !contains_system32(out))
        return true;
    bool long_form = has_long_prefix(out) && out[2] == L'?';
    const wchar_t* body = long_form ? out + 4 : out;
    if (!g_native_full && !(g_native_full = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, kLongPathChars * sizeof(wchar_t))))
        return true;
    const wchar_t* full = body;
    if (!long_form && needs_normalising(body)) {
        DWORD got = GetFullPathNameW(body, (DWORD)kLongPathChars, g_native_full, nullptr);
        if (got == 0 || got >= kLongPathChars)
            return true;
        full = g_native_full;
    }
    size_t head = system32_head(full);
    if (head == 0)
        return true;
    if (full == body) {
        memcpy(g_native_full, body, (wcslen(body) + 1) * sizeof(wchar_t));
        full = g_native_full;
    }
    // <prefix><windir>\Sysnative<rest>: one character longer than System32.
    size_t prefix = long_form ? 4 : 0, rest = wcslen(full + head);
    if (prefix + head + 1 + rest + 1 > kLongPathChars) {
        out[0] = L'\0';
        return false;
    }
    wchar_t* at = out + prefix;
    memcpy(at, full, (head - 8) * sizeof(wchar_t));
    memcpy(at + head - 8, L"Sysnative", 9 * sizeof(wchar_t));
    memcpy(at + head + 1, full + head, (rest + 1) * sizeof(wchar_t));
    return true;
}

static bool form_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out);

bool make_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out)
{
    return form_call_path(path, suffix, out) && reach_native_system32(out);
}

bool give_native_system_folder(wchar_t* call_path)
{
    return reach_native_system32(call_path);
}

static bool form_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out)
{
    size_t len = wcslen(path);
    size_t suffix_len = wcslen(suffix);
    wchar_t* at = out;
    const wchar_t* end = out + kLongPathChars - 1;
    out[0] = L'\0';
    out[kLongPathChars - 1] = L'\0';

    if (len + suffix_len < kLongFormFrom || has_long_prefix(path)) {
        if (!put(&at, end, path, len) || !put(&at, end, suffix, suffix_len)) {
            out[0] = L'\0';
            return false;
        }
        *at = L'\0';
        return true;
    }

    // The long form takes the path as it stands, with no normalising of its
    // own: resolve relative parts, "." and "..", and forward slashes first.
    // The full path is written behind room for the drive prefix, then moved
    // into place behind the prefix it needs.
    constexpr size_t kRoom = 4;   // "\\\\?\\"
    size_t full = len;
    if (needs_normalising(path)) {
        DWORD got = GetFullPathNameW(path, (DWORD)(kLongPathChars - kRoom), out + kRoom, nullptr);
        if (got == 0 || got >= kLongPathChars - kRoom) {
            out[0] = L'\0';
            return false;
        }
        full = got;
    } else {
        if (len >= kLongPathChars - kRoom) {
            out[0] = L'\0';
            return false;
        }
        memcpy(out + kRoom, path, len * sizeof(wchar_t));
    }
    const wchar_t* body = out + kRoom;
    size_t body_len = full;
    const wchar_t* prefix = L"\\\\?\\";
    if (body[0] == L'\\' && body[1] == L'\\') {
        // \\server\share\... becomes \\?\UNC\server\share\...
        prefix = L"\\\\?\\UNC\\";
        body += 2;
        body_len -= 2;
    }
    size_t prefix_len = wcslen(prefix);
    if (prefix_len + body_len + suffix_len > kLongPathChars - 1) {
        out[0] = L'\0';
        return false;
    }
    memmove(out + prefix_len, body, body_len * sizeof(wchar_t));
    memcpy(out, prefix, prefix_len * sizeof(wchar_t));
    at = out + prefix_len + body_len;
    memcpy(at, suffix, suffix_len * sizeof(wchar_t));
    at[suffix_len] = L'\0';
    return true;
}
