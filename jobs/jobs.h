// The two worker threads.
#pragma once
#include <windows.h>

// Check, List and Remove: walks the targets in g_run.args by g_run.mode.
DWORD WINAPI ScanJob(void* unused);

// Rewrite and Create: `list_field` is the address of the RunState field that
// holds the handle of the list box to work through.
DWORD WINAPI WriteJob(void* list_field);

// Starts a job thread without keeping its handle. Returns false when the
// thread could not be created.
bool start_job(LPTHREAD_START_ROUTINE job, void* arg);
