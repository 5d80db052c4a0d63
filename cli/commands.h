// The commands of kestrin-cli, one row each in kCommands (cli/command_table.cpp);
// each command's routines live in a file of its own. Adding a command is a
// row in that table and its file.
#pragma once
#include <windows.h>
#include <stdint.h>

// What the common run does around a command.
enum CommandFlags : uint32_t {
    CommandTargets = 1,      // the operands are files and folders, each of which must exist
    CommandHashes = 2,       // reads file data: the faster transform is chosen first
    CommandSummary = 4,      // a summary line closes the output (unless --quiet)
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

// Stores `digest` for the file whose call paths are formed (form_call_paths)
// with its last-write time kept: counted as written, or a "not-written"
// finding. False once writing has been closed by an interrupt (the run
// stops; this file is left as it was). In write_commands.cpp, shared by
// every command that stores digests.
bool store_digest(const wchar_t* path, const uint8_t* digest, const FILETIME* last_write);

// For the file whose call paths are formed, in check_command.cpp and shared
// by the commands that compare: reads the stored digest into `stored`, or
// adds the finding (no-digest, unreadable, damaged) and returns false; hashes
// the data and compares it with `stored`, counting a match, or adds the
// finding (unreadable, altered) and returns false.
bool read_digest_or_report(const wchar_t* path, uint8_t* stored);
bool data_matches_or_report(const wchar_t* path, const uint8_t* stored);

// The commands' routines (each in its own file).
void run_check();
void run_create();
void run_rewrite();
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
