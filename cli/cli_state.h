// The one process-wide record of a kestrin-cli run: what was asked, what the
// run has found so far, and the flags that the interrupt handler shares with
// the main thread. The main thread writes every field except those marked
// otherwise beside them.
#pragma once
#include "cli/findings.h"
#include "engine/digest_context.h"
#include <windows.h>
#include <stdint.h>
#include <atomic>

struct CliCommand;   // cli/commands.h

struct CliState {
    // What was asked (cli_args, before the run)
    const CliCommand* command;
    wchar_t** operands;          // the command's operands, as written (targets, or FILE for show)
    int operand_count;
    const wchar_t* report_path;  // --report FILE, or null
    bool quiet;                  // --quiet
    bool yes;                    // --yes
    bool hash;                   // --hash (export: hash each file and write only those that match)
    bool force;                  // --force (rewrite: corrupt files too; protect, repair: see their help)
    int jobs_asked;              // --jobs N, or 0 for the default
    const wchar_t* set_path;     // --set SET.par2 (check, update), or null
    int redundancy;              // protect --redundancy N%, or 0 for the default
    int slices;                  // protect --slices N, or 0 for the default
    bool keep_damaged;           // repair --keep-damaged
    bool check_only;             // repair --check
    int jobs;                    // the run's workers (1 for a command that hashes nothing)
    bool pause;                  // --pause: wait for a key at the end (a console window of its own)
    bool failed;                 // the command could not do what was asked (schedule, shell): exit code 3

    // The standard handles and what they are (start-up)
    HANDLE out;
    HANDLE err;
    HANDLE in;
    bool out_console;
    bool err_console;
    bool in_console;

    // Hashing counters; the progress thread reads them.
    std::atomic<uint64_t> done_bytes;
    std::atomic<uint64_t> total_bytes;      // size pass, before the progress thread starts
    bool progress;                          // a progress line is shown (and so a size pass made)

    // Writing: the number of files whose streams are being written; the
    // interrupt handler closes it for good (kWritesClosed) once it is 0.
    std::atomic<int32_t> writing;
    // Interrupt handler: 1 once an interrupt arrived; the run stops before
    // its next file.
    std::atomic<int32_t> interrupted;
    // Main thread: set once the run has ended and its report is in place, so
    // a handler that must hold the process open (console closed, log-off)
    // can let it go.
    HANDLE finished;

    // The block transform chosen at start-up, and the best timed round of
    // each (performance-counter ticks; 0 when not timed).
    const char* transform_name;
    int64_t transform_ticks[TransformCount];

    // Clocks: system time (100 ns units) and the performance counter.
    uint64_t start_time;
    uint64_t end_time;
    int64_t start_ticks;
    int64_t end_ticks;

    // What the run found. The counts of findings are made on the walk's
    // thread as they are given out; the workers count the rest.
    uint32_t counts[kStatusCount];        // findings per status
    std::atomic<uint32_t> files;          // files reached
    std::atomic<uint32_t> matched;        // files whose digest matched (check, rewrite)
    std::atomic<uint32_t> written;        // digests stored (create, rewrite)
    std::atomic<uint32_t> deleted;        // streams deleted (remove)
    std::atomic<uint32_t> carried;        // files left alone because they carry a digest (create)
};

extern constinit CliState g_cli;

// System time now, in 100 ns units since 1601 (UTC).
uint64_t cli_system_time();
