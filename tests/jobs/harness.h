// An in-process stand-in for the main window: a hidden top-level window with
// child controls of the real ids, put into g_run, whose messages this (the
// test) thread pumps while the jobs run on a worker thread, as the real window
// thread does.
#pragma once
#include "jobs/run_state.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Creates the window, its controls and the PauseGate once; fills g_run.
void harness_create();

// Empties the lists, status line and status bar, sets the gate, mode Idle,
// zero counters, Start disabled and captioned "Start".
void harness_reset();

// Handles this thread's messages for `ms` milliseconds.
void pump_for(DWORD ms);

// Runs `fn(arg)` on a new thread while pumping messages until it returns.
// False when it did not end within `timeout_ms`.
bool run_on_worker(LPTHREAD_START_ROUTINE fn, void* arg, DWORD timeout_ms = 180000);

// process_file(path) on a worker with g_run.mode = mode.
bool run_process_file(RunMode mode, const std::wstring& path);

// Puts `text` into PathBuffer, splits it with parse_targets (which must find
// every target) and runs walk_targets on a worker with g_run.mode = mode.
bool run_walk(RunMode mode, const std::wstring& text);

// Starts a job with start_job (mode set first) and pumps until mode is Idle.
bool run_job(RunMode mode, LPTHREAD_START_ROUTINE job, void* arg, DWORD timeout_ms = 300000);

std::vector<std::wstring> items(HWND list);
void add_items(HWND list, const std::vector<std::wstring>& paths);
std::wstring window_text(HWND window);
std::wstring status_text();           // the StatusLine (204)
std::wstring status_bar_text(int part);

// WM_TIMER messages the window received with identifier 0 (a job's last
// synchronous tick) and with the progress timer's identifier 1.
extern int g_final_ticks;
extern int g_timer_ticks;

// Whether the progress timer was still set on the window; asking stops it.
bool progress_timer_was_running();

// Progress ticks that arrive while this thread handles messages for `ms`.
int ticks_within(DWORD ms);

// --- Linux's view of the NTFS volume ---------------------------------------

// Stores OpenSSL's Whirlpool of the file's data (64 bytes) in FILE:z from
// Linux, followed by `extra_bytes` bytes of 0xEE.
void linux_store_digest(const std::wstring& file, int extra_bytes = 0);
// Writes `bytes` bytes of 0xAB as FILE:z from Linux.
void linux_store_junk(const std::wstring& file, int bytes);
// "name size sha256" of every file below `folder` (data streams only).
std::string linux_data_snapshot(const std::wstring& folder);
// The stream FILE:z as Linux reads it, hex; "" with *exists false when absent.
std::string linux_stream_hex(const std::wstring& file, bool* exists = nullptr);

std::wstring join(const std::wstring& folder, const std::wstring& name);


// A test of the jobs on its own fresh folder of the NTFS volume, named after
// the test, with the window reset.
class JobsTest : public testing::Test {
protected:
    void SetUp() override;
    // Writes `data` to dir\name; the path.
    std::wstring make(const wchar_t* name, const std::string& data);
    std::wstring dir;
};
