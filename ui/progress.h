// The progress display: the status bar's three texts and the taskbar value,
// refreshed once a second while a job hashes files.
#pragma once
#include "jobs/progress_format.h"

// WM_TIMER of the main window (any identifier): shows the figures of the
// running job, or nothing while done_bytes is 0.
void progress_tick();
