// The three result lists while a job fills or empties them. A list box
// repaints after every item it gains or loses, and with thousands of files
// that repainting, not the files, sets the pace of a job. So while a job runs
// the lists do not redraw themselves; they are redrawn together a few times a
// second, and once more when the job ends. Job thread only.
#pragma once
#include <windows.h>

// At the start of a job's work on the lists.
void hold_list_redraw();
// Appends `path` to `list` (LB_ADDSTRING).
void add_result(HWND list, const wchar_t* path);
// Deletes item `index` of `list` (LB_DELETESTRING).
void remove_result(HWND list, int index);
// At the end of the job: the lists redraw themselves again, and do so now.
void release_list_redraw();
