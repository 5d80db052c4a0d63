// The commands of kestrin-cli, one row each in kCommands (cli/command_table.cpp);
// each command's routines live in a file of its own. Adding a command is a
// row in that table and its file.
#pragma once
#include <windows.h>
#include "cli/file_pool.h"
#include "jobs/digest_record.h"
#include "cli/file_judgement.h"   // the comparing routines, which many commands use
#include <stdint.h>

// What the common run does around a command.
enum CommandFlags : uint32_t {
    CommandTargets = 1,      // the operands are files and folders, each of which must exist
    CommandHashes = 2,       // reads file data: the faster transform is chosen first
    CommandSummary = 4,      // a summary line closes the output (unless --quiet)
    CommandOwnOptions = 8,   // every argument after the command's name is its operand: it reads its own options
};

// Which files a size pass counts towards the progress total.
enum SizePass : int {
    SizeNone = 0,            // no size pass and no progress line
    SizeWithDigest,          // files whose stream exists
    SizeWithoutDigest,       // files whose stream does not exist
};

struct CliCommand {
    const wchar_t* name;
    const wchar_t* operands;     // as the usage shows them, e.g. L"PATH..."
    const wchar_t* help;         // one line for --help
    int min_operands;
    int max_operands;            // -1: no limit
    uint32_t flags;              // CommandFlags
    SizePass sizes;
    // Before anything is touched: false (after a message on standard error)
    // when the command must not run; null when there is nothing to ask.
    bool (*prepare)();
    // The run: findings go through add_finding, counts into g_cli.
    void (*run)();
    // The first operand that is a target (a command such as "export
    // MANIFEST PATH..." starts at 1).
    int first_target;
};

extern const CliCommand kCommands[];
extern const int kCommandCount;

// The command called `name`, or null.
const CliCommand* find_command(const wchar_t* name);

// What became of a digest kestrin-cli set out to store.
enum StoreResult : int {
    Stored = 0,      // written, last-write time kept; counted as written
    NotStored,       // not written: a finding says so
    StoreStopped,    // writing was closed by an interrupt: the run stops, the file is left as it was
};

// Stores `digest` and its record for the worker's file (its call paths
// formed by begin_file), hashed as `stamp` says, with its last-write time
// kept. `create`: an existing digest is never replaced. `record_only`: "z"
// already holds `digest`; only the record is written. Anything but a clean
// write is a "not-written" finding.
StoreResult store_digest(FileWork* work, const uint8_t* digest, const FileStamp* stamp,
                         bool create, bool record_only = false);

// Hashes a file that has no digest and stores one (never over a digest
// that appeared meanwhile); `report` adds an "added" finding when stored
// (update).
void add_digest(FileWork* work, bool report);

// The commands' routines (each in its own file).
void run_check();
void run_create();
void run_rewrite();
void run_update();
void run_list();
bool prepare_remove();
void run_remove();
bool prepare_show();
void run_show();
bool prepare_export();
void run_export();
bool prepare_verify();
void run_verify();
bool prepare_import();
void run_import();
bool prepare_protect();
void run_protect();
bool prepare_repair();
void run_repair();
bool prepare_schedule();
void run_schedule();
bool prepare_shell();
void run_shell();
// --pause: on a console, waits for a key before the window closes
// (cli/shell_command.cpp: Explorer's entries open such a window).
void pause_for_key();
