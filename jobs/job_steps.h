// Steps that the scan job and the hash-writing job take in the same way.
// Job thread only.
#pragma once
#include <windows.h>

constexpr int kSummaryChars = 64;

// The StatusLine (204) of the main window.
void set_status_line(const wchar_t* text);

// The main pass begins: counters zeroed, the progress timer started, then the
// clocks taken (the first raise of done_bytes publishes them to the tick).
void begin_main_pass();

// The main pass is over: one last synchronous progress tick, timer stopped.
void end_main_pass();

// "Ready." for no failures, else "%d hash%s could not be <verb>." with the
// right plural. `out` holds kSummaryChars.
void format_failures(int failed, const wchar_t* verb, wchar_t* out);

// The summary into the StatusLine, the taskbar button without progress, and,
// as the very last step, mode Idle.
void finish_job(const wchar_t* summary);
