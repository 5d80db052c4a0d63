// Paths with names the platform's normalising would change.
#include "cli/exact_path.h"
#include "cli/manifest_path.h"
#include "jobs/long_path.h"
#include <windows.h>
#include <string.h>
#include <wchar.h>

static bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

static wchar_t upper_ascii(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? (wchar_t)(c - 32) : c;
}

bool is_device_name(const wchar_t* name, size_t len)
{
    size_t base = 0;
    while (base < len && name[base] != L'.' && name[base] != L':') ++base;
    while (base > 0 && name[base - 1] == L' ') --base;
    wchar_t u[5] = {0, 0, 0, 0, 0};
    if (base != 3 && base != 4) return false;
    for (size_t i = 0; i < base; ++i) u[i] = upper_ascii(name[i]);
    if (base == 3)
        return !wcscmp(u, L"CON") || !wcscmp(u, L"PRN") || !wcscmp(u, L"AUX") || !wcscmp(u, L"NUL");
    bool com = u[0] == L'C' && u[1] == L'O' && u[2] == L'M';
    bool lpt = u[0] == L'L' && u[1] == L'P' && u[2] == L'T';
    // COM0/LPT0 are not devices; the superscript digits are (U+00B9, U+00B2, U+00B3).
    bool digit = (u[3] >= L'1' && u[3] <= L'9') || u[3] == 0xB9 || u[3] == 0xB2 || u[3] == 0xB3;
    return (com || lpt) && digit;
}

static bool is_dot_name(const wchar_t* name, size_t len)
{
    return (len == 1 && name[0] == L'.') || (len == 2 && name[0] == L'.' && name[1] == L'.');
}

bool name_is_altered(const wchar_t* name, size_t len)
{
    if (len == 0 || is_dot_name(name, len)) return false;
    return name[len - 1] == L'.' || name[len - 1] == L' ' || is_device_name(name, len);
}

// Each thread that forms paths (the walk, the workers) has its own.
static thread_local wchar_t g_head[kLongPathChars];

bool exact_full_path(const wchar_t* path, wchar_t* out, size_t cap, bool* kept)
{
    *kept = false;
    out[0] = L'\0';
    out[cap - 1] = L'\0';
    if (has_long_prefix(path)) return full_path_of(path, out, cap);

    // The first name that would be changed, and whether "." or ".." follow it.
    const wchar_t* p = path;
    if (p[0] && p[1] == L':') p += 2;
    const wchar_t* first = nullptr;
    bool dots_after = false;
    while (*p) {
        while (is_separator(*p)) ++p;
        const wchar_t* name = p;
        while (*p && !is_separator(*p)) ++p;
        size_t len = (size_t)(p - name);
        if (!first && name_is_altered(name, len)) first = name;
        else if (first && is_dot_name(name, len)) dots_after = true;
    }
    // "." and ".." after such a name are the platform's to resolve.
    if (!first || dots_after) return full_path_of(path, out, cap);

    // The folder before it resolved as the platform resolves it; the rest
    // joined name by name as it stands.
    size_t head_len = (size_t)(first - path);
    if (head_len + 2 > kLongPathChars) return false;
    memcpy(g_head, path, head_len * sizeof(wchar_t));
    if (head_len == 0 || (head_len == 2 && path[1] == L':')) g_head[head_len++] = L'.';
    g_head[head_len] = L'\0';
    if (!full_path_of(g_head, out, cap)) return false;
    size_t n = wcslen(out);
    for (p = first; *p;) {
        while (is_separator(*p)) ++p;
        const wchar_t* name = p;
        while (*p && !is_separator(*p)) ++p;
        size_t len = (size_t)(p - name);
        if (len == 0) break;
        bool sep = n == 0 || out[n - 1] != L'\\';
        if (n + (sep ? 1 : 0) + len + 1 > cap) {
            out[0] = L'\0';
            return false;
        }
        if (sep) out[n++] = L'\\';
        memcpy(out + n, name, len * sizeof(wchar_t));
        n += len;
    }
    out[n] = L'\0';
    *kept = true;
    return true;
}

static thread_local wchar_t g_exact[kLongPathChars];

bool make_exact_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out)
{
    bool kept = false;
    if (has_long_prefix(path) || !exact_full_path(path, g_exact, kLongPathChars, &kept) || !kept)
        return make_call_path(path, suffix, out);
    const wchar_t* body = g_exact;
    const wchar_t* prefix = L"\\\\?\\";
    if (body[0] == L'\\' && body[1] == L'\\') {
        prefix = L"\\\\?\\UNC\\";
        body += 2;
    }
    size_t lp = wcslen(prefix), lb = wcslen(body), ls = wcslen(suffix);
    out[0] = L'\0';
    out[kLongPathChars - 1] = L'\0';
    if (lp + lb + ls + 1 > kLongPathChars) return false;
    memcpy(out, prefix, lp * sizeof(wchar_t));
    memcpy(out + lp, body, lb * sizeof(wchar_t));
    memcpy(out + lp + lb, suffix, (ls + 1) * sizeof(wchar_t));
    return give_native_system_folder(out);
}
