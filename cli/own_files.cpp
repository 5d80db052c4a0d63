// The run's own files, left out of every walk.
#include "cli/own_files.h"
#include "cli/exact_path.h"
#include "cli/manifest_path.h"
#include "jobs/long_path.h"
#include <windows.h>

// The run's own files (its report and manifest, their temporaries), as full
// paths: never part of what the run reports on.
constexpr int kOwnFiles = 4;
static wchar_t g_own_files[kOwnFiles][kLongPathChars];
static int g_own_count;
static wchar_t g_own_check[kLongPathChars];

void leave_out_of_walk(const wchar_t* path)
{
    if (g_own_count < kOwnFiles && full_path_of(path, g_own_files[g_own_count], kLongPathChars))
        ++g_own_count;
}

static const wchar_t* last_name(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    return name;
}

bool is_own_file(const wchar_t* path)
{
    const wchar_t* name = last_name(path);
    for (int i = 0; i < g_own_count; ++i) {
        // The name first: a full path is made only for a file of the same name.
        if (CompareStringOrdinal(name, -1, last_name(g_own_files[i]), -1, TRUE) != CSTR_EQUAL)
            continue;
        bool kept = false;
        if (exact_full_path(path, g_own_check, kLongPathChars, &kept) && same_full_path(g_own_check, g_own_files[i]))
            return true;
    }
    return false;
}
