// The target list split from the path field, and the depth-first walk.
#include "jobs/walk.h"
#include "jobs/hash_stream.h"
#include "jobs/run_state.h"
#include <shellapi.h>
#include <shlwapi.h>
#include <malloc.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

constexpr int kMessageChars = 512;
// Room behind a folder path: separator, an entry name of up to 257
// characters, terminator.
constexpr size_t kEntryRoom = 259;
constexpr size_t kMaxEntryName = 257;

static void report_missing(const wchar_t* target)
{
    wchar_t text[kMessageChars];
    _snwprintf(text, kMessageChars - 1, L"The following file or folder does not exist:\n\n%ls", target);
    text[kMessageChars - 1] = L'\0';
    MessageBoxW(g_run.dialog, text, nullptr, MB_ICONERROR | MB_OK);
}

int parse_targets()
{
    int count = 0;
    g_run.args = CommandLineToArgvW(g_run.PathBuffer, &count);
    g_run.arg_count = g_run.args ? count : 0;
    if (!g_run.args)
        return 1;  // the splitter itself failed: no job may start

    for (int i = 0; i < g_run.arg_count; ++i) {
        if (!PathFileExistsW(g_run.args[i])) {
            report_missing(g_run.args[i]);
            LocalFree(g_run.args);
            g_run.args = nullptr;
            g_run.arg_count = 0;
            return 1;
        }
    }
    return 0;
}

void walk_targets()
{
    for (int i = 0; i < g_run.arg_count; ++i) {
        if (PathIsDirectoryW(g_run.args[i]))
            walk_directory(g_run.args[i]);
        else
            process_file(g_run.args[i]);
    }
}

void walk_directory(const wchar_t* folder)
{
    size_t len = wcslen(folder);
    // PathAddBackslashW refuses such folders; they are passed over like any
    // folder that cannot be enumerated.
    if (len >= MAX_PATH) {
        ++g_run.skipped_folders;
        return;
    }

    // One buffer per level, in this level's stack frame: the walk allocates
    // nothing from the heap.
    size_t chars = len + kEntryRoom;
    wchar_t* path = (wchar_t*)alloca(chars * sizeof(wchar_t));
    memcpy(path, folder, (len + 1) * sizeof(wchar_t));
    path[chars - 1] = L'\0';
    wchar_t* name_at = PathAddBackslashW(path);
    if (!name_at) {
        ++g_run.skipped_folders;
        return;
    }

    name_at[0] = L'*';
    name_at[1] = L'\0';
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(path, &entry);
    if (find == INVALID_HANDLE_VALUE) {
        // Only a drive's empty root has no entries at all; anything else
        // (no access, gone, too long) leaves files unvisited.
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            ++g_run.skipped_folders;
        return;
    }

    do {
        size_t name_len = wcsnlen(entry.cFileName, MAX_PATH);
        if (name_len > kMaxEntryName)
            continue;  // cannot occur on NTFS (255 at most); never written past the buffer
        memcpy(name_at, entry.cFileName, name_len * sizeof(wchar_t));
        name_at[name_len] = L'\0';

        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
                continue;
            walk_directory(path);
        } else {
            process_file(path);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}
