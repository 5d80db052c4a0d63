// Relative paths in a manifest and the refusal of those that reach outside.
#include "cli/manifest_path.h"
#include <windows.h>
#include <string.h>
#include <wchar.h>

static bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// A name of dots and blanks only: the platform strips trailing dots and
// blanks, so "..." or ". ." can end up meaning the folder above.
static bool is_dots_only(const wchar_t* name, size_t len)
{
    bool dot = false;
    for (size_t i = 0; i < len; ++i) {
        if (name[i] == L'.') dot = true;
        else if (name[i] != L' ') return false;
    }
    return dot;
}

ManifestPath check_manifest_path(const wchar_t* path, wchar_t* out, size_t cap)
{
    out[0] = L'\0';
    out[cap - 1] = L'\0';
    if (is_separator(path[0])) return PathAbsolute;
    if (path[0] && path[1] == L':') return PathAbsolute;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L':') return PathStream;

    size_t n = 0;
    const wchar_t* p = path;
    while (*p) {
        while (is_separator(*p)) ++p;
        const wchar_t* name = p;
        while (*p && !is_separator(*p)) ++p;
        size_t len = (size_t)(p - name);
        if (len == 0) break;
        if (len == 1 && name[0] == L'.') continue;
        if (is_dots_only(name, len)) {
            out[0] = L'\0';
            return PathOutside;
        }
        if (n + (n ? 1 : 0) + len + 1 > cap) {
            out[0] = L'\0';
            return PathNoName;   // cannot happen for a line's path: it fits the same buffer
        }
        if (n) out[n++] = L'\\';
        memcpy(out + n, name, len * sizeof(wchar_t));
        n += len;
    }
    out[n] = L'\0';
    return n ? PathInside : PathNoName;
}

const char* manifest_path_problem(ManifestPath kind)
{
    switch (kind) {
    case PathInside: return "names a file inside the manifest's folder";
    case PathAbsolute: return "names a file by an absolute path, not relative to the manifest's folder";
    case PathOutside: return "names a file outside the manifest's folder";
    case PathNoName: return "names no file";
    case PathStream: return "holds a ':' (a drive or a stream), which no file name inside the folder has";
    }
    return "cannot be used";
}

bool full_path_of(const wchar_t* path, wchar_t* out, size_t cap)
{
    out[0] = L'\0';
    out[cap - 1] = L'\0';
    DWORD got = GetFullPathNameW(path, (DWORD)cap, out, nullptr);
    if (got == 0 || got >= cap) {
        out[0] = L'\0';
        return false;
    }
    // Compared without the long form's prefix: "\\?\C:\x" and "C:\x" are one place.
    size_t len = got;
    if (!wcsncmp(out, L"\\\\?\\UNC\\", 8)) {
        memmove(out + 2, out + 8, (len - 8 + 1) * sizeof(wchar_t));
        len -= 6;
    } else if (!wcsncmp(out, L"\\\\?\\", 4) || !wcsncmp(out, L"\\\\.\\", 4)) {
        memmove(out, out + 4, (len - 4 + 1) * sizeof(wchar_t));
        len -= 4;
    }
    bool drive_root = len == 3 && out[1] == L':';
    while (len > 1 && is_separator(out[len - 1]) && !drive_root) out[--len] = L'\0';
    return len > 0;
}

static bool equal_ignoring_case(const wchar_t* a, const wchar_t* b, size_t len)
{
    return CompareStringOrdinal(a, (int)len, b, (int)len, TRUE) == CSTR_EQUAL;
}

bool same_full_path(const wchar_t* a, const wchar_t* b)
{
    size_t la = wcslen(a), lb = wcslen(b);
    return la == lb && equal_ignoring_case(a, b, la);
}

bool make_relative_path(const wchar_t* folder, const wchar_t* file, wchar_t* out, size_t cap)
{
    out[0] = L'\0';
    out[cap - 1] = L'\0';
    size_t lf = wcslen(folder), lp = wcslen(file);
    // A drive's root keeps its separator; any other folder has none at its end.
    size_t prefix = (lf > 0 && is_separator(folder[lf - 1])) ? lf : lf + 1;
    if (lp <= prefix || !equal_ignoring_case(folder, file, lf)) return false;
    if (prefix > lf && !is_separator(file[lf])) return false;   // "C:\Photos2" is not inside "C:\Photos"
    size_t rest = lp - prefix;
    if (rest + 1 > cap) return false;
    for (size_t i = 0; i < rest; ++i) {
        wchar_t c = file[prefix + i];
        out[i] = is_separator(c) ? L'/' : c;
    }
    out[rest] = L'\0';
    return true;
}
