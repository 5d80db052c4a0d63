// The three result lists while a job fills or empties them. A list box
// repaints after every item it gains or loses, and with thousands of files
// that repainting, not the files, sets the pace of a job. So a list that a job
// changes stops redrawing itself until the window thread's list timer comes
// round (a few times a second) and redraws it; a list the job has not changed
// since then redraws itself as usual, so a window uncovered, restored or
// resized while one large file is hashed shows its lists at once.
#pragma once
#include <windows.h>

// At the start of a job's work on the lists: starts the list timer. Job thread.
void hold_list_redraw();
// Appends `path` to `list` (LB_ADDSTRING). Job thread.
void add_result(HWND list, const wchar_t* path);
// Deletes item `index` of `list` (LB_DELETESTRING). Job thread.
void remove_result(HWND list, int index);
// At the end of the job: the list timer stops and every list redraws itself
// again, and does so now. Job thread.
void release_list_redraw();
