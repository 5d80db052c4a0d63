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

bool make_call_path(const wchar_t* path, const wchar_t* suffix, wchar_t* out)
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
