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
    constexpr size_t kRoom = 4;   // "\\?\"
    DWORD full = GetFullPathNameW(path, (DWORD)(kLongPathChars - kRoom), out + kRoom, nullptr);
    if (full == 0 || full >= kLongPathChars - kRoom) {
        out[0] = L'\0';
        return false;
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
