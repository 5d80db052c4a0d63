// The help text: what scripts rely on (commands, output, exit codes) in one
// screen.
#include "cli/help_text.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "res/version.h"

#define WIDEN2(x) L##x
#define WIDEN(x) WIDEN2(x)

void print_version()
{
    out_text(L"kestrin-cli " WIDEN(KESTRIN_VERSION_TEXT) CLI_EOL);
    out_flush();
}

void print_help()
{
    out_text(L"Usage: kestrin-cli COMMAND [OPTIONS] PATH..." CLI_EOL
             L"Checks and keeps the Whirlpool digests that Kestrin stores in each file's" CLI_EOL
             L"NTFS stream \"z\". Folders are walked recursively." CLI_EOL CLI_EOL
             L"Commands:" CLI_EOL);
    for (int i = 0; i < kCommandCount; ++i) {
        out_text(L"  ");
        out_text(kCommands[i].name);
        out_text(L" ");
        out_text(kCommands[i].operands);
        out_text(CLI_EOL L"      ");
        out_text(kCommands[i].help);
        out_text(CLI_EOL);
    }
    out_text(CLI_EOL
             L"Options:" CLI_EOL
             L"  --report FILE  write a JSON report of the run to FILE (moved into place when whole)" CLI_EOL
             L"  --quiet        no progress line and no summary: findings only" CLI_EOL
             L"  --yes          remove without asking" CLI_EOL
             L"  --hash         export: hash each file and write only those that match their digest" CLI_EOL
             L"  --force        rewrite: store new digests for corrupt files too; protect: take" CLI_EOL
             L"                 files that do not match their digests as they are; repair:" CLI_EOL
             L"                 roll edited files back to the set's content" CLI_EOL
             L"  --redundancy N%  protect: recovery data as N % of the slices (default 5)" CLI_EOL
             L"  --slices N     protect: aim at N slices (default 2000, at most 32768)" CLI_EOL
             L"  --check        repair: say what could be repaired, change nothing" CLI_EOL
             L"  --keep-damaged repair: keep the damaged bytes as NAME.kestrin-damaged" CLI_EOL
             L"  --set SET.par2 check, update: the recovery set of the folder given first:" CLI_EOL
             L"                 the report says which corrupt files it can repair, and" CLI_EOL
             L"                 update says when the set went stale" CLI_EOL
             L"  --jobs N, -j N hash N files at once (1 to 64); the default is every processor" CLI_EOL
             L"                 when each target's drive has no seek penalty (solid-state)," CLI_EOL
             L"                 else 1: parallel reads make a spinning disk seek" CLI_EOL
             L"  --slice K/N    check, update: only the files of slice K of N (0 <= K < N; a file's" CLI_EOL
             L"                 slice comes from its full path), so that N runs see every file once;" CLI_EOL
             L"                 week/N or day/N: K from the date, the week's (day's) number modulo N" CLI_EOL
             L"  --notify       check, update: a message box on the desktop when files are corrupt," CLI_EOL
             L"                 altered or damaged; nothing at all otherwise" CLI_EOL
             L"  --event-log    check, update: one entry per run in the Application event log" CLI_EOL
             L"                 (source \"Kestrin\"): error when files are corrupt, altered or" CLI_EOL
             L"                 damaged, information otherwise; the text is the summary line" CLI_EOL
             L"  --pause        on a console, wait for a key before its window closes" CLI_EOL
             L"  --help         this text" CLI_EOL
             L"  --version      the version" CLI_EOL
             L"  --             what follows are paths, even when they begin with '-'" CLI_EOL CLI_EOL
             L"Recovery sets (protect, repair): PAR2 2.0, as par2cmdline and MultiPar read and" CLI_EOL
             L"write them: SET.par2 and SET.volA+B.par2 beside it, names relative to FOLDER." CLI_EOL
             L"repair puts a rebuilt file in place only when its Whirlpool digest is the one" CLI_EOL
             L"in its \"z\" (or its MD5 the set's), with z, z.rec and the recorded time." CLI_EOL CLI_EOL
             L"Manifests (export, verify, import): the checksum-file format that rhash and" CLI_EOL
             L"whirlpoolsum check (-c): per file 128 hex digits, two blanks, the path relative" CLI_EOL
             L"to the manifest's folder with '/', UTF-8. A manifest line that is malformed or" CLI_EOL
             L"names a file outside that folder stops the command (exit 3) before anything is done." CLI_EOL CLI_EOL
             L"Beside \"z\" kestrin-cli keeps a record, the stream \"z.rec\": the file's size and" CLI_EOL
             L"last-write time when its digest was made. A file whose content no longer matches" CLI_EOL
             L"its digest is then corrupt (size and time as recorded: not written through the file" CLI_EOL
             L"system, act now), edited (written since: update gives it a new digest), or altered" CLI_EOL
             L"(no record, as for digests made by the window program)." CLI_EOL CLI_EOL
             L"Output: one line per finding on standard output, \"STATUS  PATH\", STATUS one of" CLI_EOL
             L"corrupt, altered, edited, damaged, unreadable, no-digest, skipped, not-written," CLI_EOL
             L"not-deleted, missing, updated, added, repaired, unrepairable, repairable, stale" CLI_EOL
             L"(list prints digest and no-digest; the report alone holds intact); files that" CLI_EOL
             L"are fine are not printed. The summary line goes to standard error." CLI_EOL CLI_EOL
             L"The weekly run in one line: kestrin-cli schedule --slices 4 D:\\Photos (every Sunday" CLI_EOL
             L"at 03:00 a quarter of the files, each file once a month; the report goes to" CLI_EOL
             L"%LOCALAPPDATA%\\Kestrin\\Weekly check.json unless --report says elsewhere)." CLI_EOL CLI_EOL
             L"Exit codes:" CLI_EOL
             L"  0  everything reached is fine: every digest matched; everything asked was done" CLI_EOL
             L"  1  at least one file corrupt, altered or damaged (repair: not repaired): act now" CLI_EOL
             L"  2  nothing of that, but not everything could be verified or done (edited," CLI_EOL
             L"     no-digest, unreadable, skipped, not-written, not-deleted, missing)" CLI_EOL
             L"  3  the command did not run: bad usage or a missing target (nothing touched)" CLI_EOL
             L"  4  interrupted (Ctrl+C, Ctrl+Break, console closed, log-off): stopped cleanly" CLI_EOL
             L"     after the current file" CLI_EOL);
    out_flush();
}
