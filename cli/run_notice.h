// What a run tells beyond its output, for runs that nobody watches (a
// scheduled task): an entry in the Application event log (--event-log) and,
// only when files are corrupt, altered or damaged, a message box on the
// user's desktop (--notify).
#pragma once
#include <stdint.h>

struct RunNotice {
    bool notify;       // --notify
    bool event_log;    // --event-log
};

extern constinit RunNotice g_notice;

// Gives the run's notices once its summary and report are complete:
// `exit_code` is the run's. The message box is left to a process of its own
// (show_notice_box), so that this one ends with its code at once.
void give_run_notices(int exit_code);

// The title of the box (a test finds the window by it).
#define KESTRIN_NOTICE_TITLE L"Kestrin found damaged files"

// The first argument of kestrin-cli's own notice process: what follows is
// the box's text.
#define KESTRIN_NOTICE_ARG L"--show-notice"

// Shows the box with `text` and waits until it is closed; returns 0.
int show_notice_box(const wchar_t* text);
