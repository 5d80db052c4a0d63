// The depth-first walk of a folder, at any depth the platform allows.
//
// The walk is a loop over one process-wide path buffer rather than a
// recursion: each level appends its entry names behind its own separator and
// keeps only its enumeration handle, so neither the stack nor the heap grows
// with the depth or the number of files.
#include "jobs/walk.h"
#include "jobs/long_path.h"
#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

// A level adds at least a separator and one character to the path.
constexpr int kMaxDepth = (int)(kLongPathChars / 2);

static wchar_t walk_path[kLongPathChars];     // the joined path, as the visitor sees it
static wchar_t walk_call[kLongPathChars];     // the same in call form, with "\*"
static HANDLE walk_finds[kMaxDepth];
static size_t walk_name_at[kMaxDepth];        // where each level's entry names go
static WIN32_FIND_DATAW walk_entry;

// What names a folder whatever path reaches it: links and junctions lead to
// the same volume serial and file index.
struct FolderId {
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
};
static FolderId walk_ids[kMaxDepth];          // each open level's folder, once taken
static bool walk_id_known[kMaxDepth];

BOOL(WINAPI* walk_find_next)(HANDLE find, WIN32_FIND_DATAW* entry) = FindNextFileW;

bool target_exists(const wchar_t* path)
{
    if (!make_call_path(path, L"", walk_call))
        return false;
    if (has_long_prefix(walk_call))
        return GetFileAttributesW(walk_call) != INVALID_FILE_ATTRIBUTES;
    return PathFileExistsW(walk_call) != FALSE;
}

bool target_is_directory(const wchar_t* path)
{
    if (!make_call_path(path, L"", walk_call))
        return false;
    if (has_long_prefix(walk_call)) {
        DWORD attributes = GetFileAttributesW(walk_call);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return PathIsDirectoryW(walk_call) != FALSE;
}

// Opens the folder held in walk_path[0, len) as level `depth`: adds the
// separator unless the path ends with one, and reads its first entry into
// walk_entry. False when it cannot be enumerated; the visitor hears of it
// unless the folder simply has no entries (a drive's empty root).
static bool open_level(int depth, size_t len, const WalkVisitor* visit)
{
    walk_path[len] = L'\0';
    bool fits = depth < kMaxDepth && len + 2 < kLongPathChars;
    if (fits && (len == 0 || walk_path[len - 1] != L'\\'))
        walk_path[len++] = L'\\';
    walk_path[len] = L'\0';
    if (!fits || !make_call_path(walk_path, L"*", walk_call)) {
        visit->skipped(walk_path);
        return false;
    }
    HANDLE find = FindFirstFileW(walk_call, &walk_entry);
    if (find == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            visit->skipped(walk_path);
        return false;
    }
    walk_finds[depth] = find;
    walk_name_at[depth] = len;
    walk_id_known[depth] = false;
    return true;
}

// The identity of the folder at `path` (links followed). False when it
// cannot be opened: the enumeration then tells whether it can be walked.
static bool folder_id(const wchar_t* path, FolderId* id)
{
    if (!make_call_path(path, L"", walk_call))
        return false;
    HANDLE folder = CreateFileW(walk_call, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool got = GetFileInformationByHandle(folder, &info) != FALSE;
    CloseHandle(folder);
    if (got)
        *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return got;
}

static bool same_folder(const FolderId& a, const FolderId& b)
{
    return a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low;
}

// Whether the folder in walk_path (an entry of level `depth`) is that level
// or one above it: entering it would walk the same folders again, without
// end. Each level's identity is taken once, when first asked for.
static bool leads_back(int depth, FolderId* entered, bool* entered_known)
{
    *entered_known = folder_id(walk_path, entered);
    if (!*entered_known)
        return false;
    for (int d = 0; d <= depth; ++d) {
        if (!walk_id_known[d]) {
            size_t at = walk_name_at[d];
            wchar_t saved = walk_path[at];
            walk_path[at] = L'\0';
            walk_id_known[d] = folder_id(walk_path, &walk_ids[d]);
            walk_path[at] = saved;
            if (!walk_id_known[d])
                continue;
        }
        if (same_folder(walk_ids[d], *entered))
            return true;
    }
    return false;
}

static bool is_dot_entry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool walk_directory(const wchar_t* folder, const WalkVisitor* visit)
{
    size_t len = wcslen(folder);
    if (len >= kLongPathChars - 2) {
        visit->skipped(folder);
        return true;
    }
    memcpy(walk_path, folder, len * sizeof(wchar_t));
    walk_path[kLongPathChars - 1] = L'\0';
    if (!open_level(0, len, visit))
        return true;

    // walk_entry holds the current entry of level `depth`.
    int depth = 0;
    bool stopped = false;
    while (depth >= 0) {
        size_t at = walk_name_at[depth];
        size_t name_len = wcsnlen(walk_entry.cFileName, MAX_PATH);
        bool descended = false;
        if (!is_dot_entry(walk_entry.cFileName)) {
            if (at + name_len >= kLongPathChars - 1) {
                // Longer than any path the platform can hold: the folder's
                // entries cannot all be reached.
                walk_path[at] = L'\0';
                visit->skipped(walk_path);
            } else {
                memcpy(walk_path + at, walk_entry.cFileName, name_len * sizeof(wchar_t));
                walk_path[at + name_len] = L'\0';
                if (walk_entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    FolderId entered;
                    bool entered_known = false;
                    if (visit->once_per_folder) {
                        if (leads_back(depth, &entered, &entered_known)) {
                            visit->skipped(walk_path);
                        } else {
                            descended = open_level(depth + 1, at + name_len, visit);
                            if (descended) {
                                walk_ids[depth + 1] = entered;
                                walk_id_known[depth + 1] = entered_known;
                            }
                        }
                    } else if ((walk_entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                               at + name_len >= MAX_PATH) {
                        // A link or junction is walked as the folder it points
                        // at, but not once its path is MAX_PATH long: a link
                        // that loops back on itself then ends there.
                        visit->skipped(walk_path);
                    } else {
                        descended = open_level(depth + 1, at + name_len, visit);
                    }
                } else if (!visit->file(walk_path)) {
                    stopped = true;
                }
            }
        }
        if (stopped)
            break;
        if (descended) {
            ++depth;
            continue;   // the new level's first entry is in walk_entry
        }
        // Next entry of this level, or back up to the levels above. A
        // listing that fails before its end leaves entries unvisited: the
        // folder is reported like one that could not be enumerated.
        while (depth >= 0 && !walk_find_next(walk_finds[depth], &walk_entry)) {
            if (GetLastError() != ERROR_NO_MORE_FILES) {
                walk_path[walk_name_at[depth]] = L'\0';
                visit->skipped(walk_path);
            }
            FindClose(walk_finds[depth]);
            --depth;
        }
    }
    for (; depth >= 0; --depth)
        FindClose(walk_finds[depth]);
    return !stopped;
}
