// Files written through a temporary and moved into place whole.
#include "cli/atomic_file.h"
#include <wchar.h>

// The files open in the process; a run has a report and a manifest at most.
constexpr int kOpenFiles = 4;
static AtomicFile* g_open_files[kOpenFiles];

static void set_listed(AtomicFile* file, bool listed)
{
    for (int i = 0; i < kOpenFiles; ++i) {
        if (listed ? g_open_files[i] == nullptr : g_open_files[i] == file) {
            g_open_files[i] = listed ? file : nullptr;
            return;
        }
    }
}

bool atomic_file_begin(AtomicFile* file, const wchar_t* path, const wchar_t* suffix)
{
    if (!file->lock_ready) {
        InitializeCriticalSection(&file->lock);
        file->lock_ready = true;
    }
    EnterCriticalSection(&file->lock);
    file->open = false;
    file->sink.handle = INVALID_HANDLE_VALUE;
    file->sink.failed = false;
    file->sink.used = 0;
    bool formed = make_call_path(path, L"", file->target) && make_call_path(path, suffix, file->temp);
    if (formed) {
        // Shared for deleting: a closing console removes it while it is open.
        file->sink.handle = CreateFileW(file->temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        file->open = file->sink.handle != INVALID_HANDLE_VALUE;
    } else {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (file->open)
        set_listed(file, true);
    LeaveCriticalSection(&file->lock);
    return file->open;
}

bool atomic_file_enter(AtomicFile* file)
{
    if (!file->lock_ready)
        return false;
    EnterCriticalSection(&file->lock);
    if (file->open)
        return true;
    LeaveCriticalSection(&file->lock);
    return false;
}

void atomic_file_leave(AtomicFile* file)
{
    LeaveCriticalSection(&file->lock);
}

// Caller holds the lock; the file is open.
static void close_temporary(AtomicFile* file)
{
    CloseHandle(file->sink.handle);
    file->sink.handle = INVALID_HANDLE_VALUE;
    file->open = false;
    set_listed(file, false);
}

bool atomic_file_commit(AtomicFile* file)
{
    if (!atomic_file_enter(file)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // On disk before the name points at it: a crash right after the move
    // must not leave an empty file under the name.
    bool whole = sink_flush(&file->sink) && FlushFileBuffers(file->sink.handle);
    DWORD error = whole ? 0 : GetLastError();
    close_temporary(file);
    if (whole && MoveFileExW(file->temp, file->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        atomic_file_leave(file);
        return true;
    }
    if (whole)
        error = GetLastError();
    DeleteFileW(file->temp);
    atomic_file_leave(file);
    SetLastError(error ? error : ERROR_WRITE_FAULT);
    return false;
}

void atomic_file_abandon(AtomicFile* file)
{
    if (!atomic_file_enter(file))
        return;
    close_temporary(file);
    DeleteFileW(file->temp);
    atomic_file_leave(file);
}

void atomic_file_abandon_all()
{
    for (int i = 0; i < kOpenFiles; ++i)
        if (g_open_files[i])
            atomic_file_abandon(g_open_files[i]);
}
