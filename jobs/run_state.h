// The one process-wide record through which the window thread and the job
// thread work together. No lock guards it: every field has one writing thread
// in each phase of a job, named beside it.
#pragma once
#include <windows.h>
#include <shobjidl.h>
#include <stdint.h>
#include <atomic>
#include "jobs/hash_stream.h"   // kWritesClosed, the value Exit leaves in write_in_progress

enum RunMode : int32_t {
    Idle = 0,
    Check = 1,
    List = 2,
    Remove = 3,
    Rewrite = 4,
    Create = 6,
    SizePass = 10,
};

struct LayoutAnchors;  // ui/layout.h

struct RunState {
    // Job control and flags
    std::atomic<RunMode> mode;              // window: a job's value before its thread starts; ScanJob: SizePass/Check; each job: Idle last
    std::atomic<int32_t> write_in_progress; // WriteJob: 1 around writing one stream; Exit: kWritesClosed once
                                            // no stream is being written, after which no job writes again
    int32_t paused;                         // window thread only
    uint64_t pause_started;                 // window thread (Pause), read by Resume
    HANDLE pause_gate;                      // window thread, once, at the end of initialisation
    int32_t init_done;                      // window thread, once

    // Targets and the path field
    wchar_t* PathBuffer;                    // window thread only (start-up allocates, commands grow)
    int32_t path_capacity = 65536;          // window thread only; grows, never shrinks
    int32_t append_flag = 1;                // window thread only
    wchar_t** args;                         // window thread (parse_targets) while Idle; ScanJob releases it
    int32_t arg_count;                      // window thread (parse_targets) while Idle

    // Progress counters and clocks of the current job
    std::atomic<uint64_t> total_bytes;      // job thread, during its size pass
    std::atomic<uint64_t> done_bytes;       // job thread: zeroed at the main pass, raised by digest_file (release)
    uint64_t tick_done_bytes;               // job thread at the main pass start; then window thread (progress_tick)
    uint64_t start_time;                    // job thread at the main pass start; then window thread (Resume)
    uint64_t tick_time;                     // job thread at the main pass start; then window thread (tick, Resume)

    // Results of the last job
    int32_t altered_count;                  // job thread (restore_commands)
    int32_t without_count;                  // job thread (restore_commands)
    int32_t skipped_folders;                // job thread (walk_directory): folders of the current walk
                                            // that could not be enumerated, so a Check cannot call them good

    // Platform objects
    HINSTANCE instance;                     // start-up
    ITaskbarList3* taskbar;                 // start-up; null when the taskbar object cannot be made
    HWND dialog;                            // window thread, at the end of initialisation

    // Control handles, window thread during initialisation
    HWND start_button;        // 1
    HWND exit_button;         // 2
    HWND add_button;          // 101
    HWND list_button;         // 102
    HWND remove_button;       // 103
    HWND rewrite_button;      // 104
    HWND show_altered_button; // 105
    HWND create_button;       // 106
    HWND altered_label;       // 201
    HWND withhash_label;      // 202
    HWND without_label;       // 203
    HWND status_line;         // 204, StatusLine
    HWND path_field;          // 301
    HWND altered_list;        // 401, AlteredList
    HWND withhash_list;       // 402, WithHashList
    HWND without_list;        // 403, WithoutHashList
    HWND frame_outer;         // 501
    HWND frame_upper;         // 502
    HWND frame_lower;         // 503
    HWND status_bar;          // 601
};

extern constinit RunState g_run;


// Seconds, in system-time units (100 ns).
inline uint64_t system_time_now()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
