// Rolling slices.
#include "cli/slice.h"
#include "cli/exact_path.h"
#include "jobs/long_path.h"
#include <windows.h>
#include <wchar.h>

constinit RunSlice g_slice = {};

constexpr uint32_t kMaxSlices = 10000;

// Decimal digits only, 1 to kMaxSlices (or 0 to kMaxSlices - 1 for a K).
static bool parse_count(const wchar_t* begin, const wchar_t* end, uint32_t* value)
{
    if (begin == end)
        return false;
    uint32_t n = 0;
    for (const wchar_t* p = begin; p < end; ++p) {
        if (*p < L'0' || *p > L'9' || n > kMaxSlices)
            return false;
        n = n * 10 + (uint32_t)(*p - L'0');
    }
    *value = n;
    return n <= kMaxSlices;
}

// Whole days from Monday, 1 January 2001 to today, local time.
static uint32_t local_days_since_2001()
{
    SYSTEMTIME now, start = {};
    GetLocalTime(&now);
    now.wHour = now.wMinute = now.wSecond = now.wMilliseconds = 0;
    start.wYear = 2001;
    start.wMonth = 1;
    start.wDay = 1;
    FILETIME a, b;
    SystemTimeToFileTime(&start, &a);
    SystemTimeToFileTime(&now, &b);
    uint64_t t0 = ((uint64_t)a.dwHighDateTime << 32) | a.dwLowDateTime;
    uint64_t t1 = ((uint64_t)b.dwHighDateTime << 32) | b.dwLowDateTime;
    return t1 > t0 ? (uint32_t)((t1 - t0) / (86400ull * 10000000ull)) : 0;
}

bool parse_slice(const wchar_t* text)
{
    const wchar_t* slash = wcschr(text, L'/');
    if (!slash)
        return false;
    uint32_t n = 0;
    if (!parse_count(slash + 1, slash + wcslen(slash), &n) || n == 0)
        return false;
    size_t head = (size_t)(slash - text);
    uint32_t k = 0;
    if (head == 4 && wcsncmp(text, L"week", 4) == 0)
        k = local_days_since_2001() / 7 % n;
    else if (head == 3 && wcsncmp(text, L"day", 3) == 0)
        k = local_days_since_2001() % n;
    else if (!parse_count(text, slash, &k) || k >= n)
        return false;
    g_slice.k = k;
    g_slice.n = n;
    return true;
}

static wchar_t g_full[kLongPathChars];
static wchar_t g_folded[kLongPathChars];

uint32_t slice_of_path(const wchar_t* path, uint32_t n)
{
    // The full path, so that "D:\Photos", "D:/Photos/" and a relative name
    // for the same folder put a file in the same slice; folded to upper
    // case as the file system compares names. A path too long to make full
    // is hashed as written.
    bool kept = false;
    const wchar_t* full = exact_full_path(path, g_full, kLongPathChars, &kept) ? g_full : path;
    int len = (int)wcslen(full);
    int folded = len ? LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full, len, g_folded, (int)kLongPathChars - 1) : 0;
    const wchar_t* text = folded > 0 ? g_folded : full;
    int count = folded > 0 ? folded : len;
    // 64-bit FNV-1a over the UTF-16 code units, '/' taken as '\'.
    uint64_t h = 14695981039346656037ull;
    for (int i = 0; i < count; ++i) {
        wchar_t c = text[i] == L'/' ? L'\\' : text[i];
        h = (h ^ (uint8_t)(c & 0xFF)) * 1099511628211ull;
        h = (h ^ (uint8_t)(c >> 8)) * 1099511628211ull;
    }
    return (uint32_t)(h % n);
}

bool in_run_slice(const wchar_t* path, bool count)
{
    if (g_slice.n <= 1)
        return true;
    if (slice_of_path(path, g_slice.n) == g_slice.k)
        return true;
    if (count)
        ++g_slice.outside;
    return false;
}
