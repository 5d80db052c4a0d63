// The table of commands.
#include "cli/commands.h"
#include "cli/recovery_set.h"
#include <wchar.h>

const CliCommand kCommands[] = {
    {L"check", L"PATH...", L"hash every file that carries a digest and compare; files without one are reported",
     1, -1, CommandTargets | CommandHashes | CommandSummary, SizeWithDigest, prepare_set_option, run_check, 0},
    {L"create", L"PATH...", L"store a digest for every file that has none (files that have one are left alone)",
     1, -1, CommandTargets | CommandHashes | CommandSummary, SizeWithoutDigest, nullptr, run_create, 0},
    {L"update", L"PATH...", L"check, then store new digests for edited files and for files without one; corrupt and altered files are left alone",
     1, -1, CommandTargets | CommandHashes | CommandSummary, SizeWithDigest, prepare_set_option, run_update, 0},
    {L"rewrite", L"PATH...", L"store a new digest for every file whose stored digest no longer matches or is damaged (corrupt ones only with --force)",
     1, -1, CommandTargets | CommandHashes | CommandSummary, SizeWithDigest, nullptr, run_rewrite, 0},
    {L"list", L"PATH...", L"report which files carry a digest and which do not; hashes nothing",
     1, -1, CommandTargets | CommandSummary, SizeNone, nullptr, run_list, 0},
    {L"remove", L"PATH...", L"delete the digests (asks first on a console; elsewhere needs --yes)",
     1, -1, CommandTargets | CommandSummary, SizeNone, prepare_remove, run_remove, 0},
    {L"show", L"FILE", L"print the stored digest (128 hex digits) and the path",
     1, 1, CommandTargets, SizeNone, prepare_show, run_show, 0},
    {L"export", L"MANIFEST PATH...", L"write the stored digests of the files under PATH into the checksum file MANIFEST",
     2, -1, CommandTargets | CommandHashes | CommandSummary, SizeNone, prepare_export, run_export, 1},
    {L"verify", L"MANIFEST", L"hash every file MANIFEST names, relative to its folder, and compare; on any file system",
     1, 1, CommandHashes | CommandSummary, SizeNone, prepare_verify, run_verify, 0},
    {L"import", L"MANIFEST", L"store MANIFEST's digests in the streams of the files that still match them",
     1, 1, CommandHashes | CommandSummary, SizeNone, prepare_import, run_import, 0},
    {L"protect", L"SET.par2 FOLDER", L"make a PAR2 recovery set for the files under FOLDER that match their digests (or have none yet)",
     2, 2, CommandTargets | CommandHashes | CommandSummary, SizeWithDigest, prepare_protect, run_protect, 1},
    {L"repair", L"SET.par2 [FOLDER]", L"rebuild damaged and missing files from the set, each only when its digest proves the bytes original",
     1, 2, CommandHashes | CommandSummary, SizeNone, prepare_repair, run_repair, 1},
    {L"schedule", L"[--weekly DAY HH:MM | --daily HH:MM] [OPTIONS] PATH... | --list | --remove NAME",
     L"register a Task Scheduler task (in its folder \\Kestrin, for you) that runs update --notify --event-log over the PATHs, by default every Sunday at 03:00, at low priority, on mains power only (--battery: on battery too); --slices N: one slice of N each time; --report FILE (default %LOCALAPPDATA%\\Kestrin\\NAME.json); --name NAME (default \"Weekly check\"); --xml FILE: write the definition instead; --list shows Kestrin's tasks, --remove deletes one",
     0, -1, CommandOwnOptions, SizeNone, prepare_schedule, run_schedule, 0},
    {L"shell", L"--install | --uninstall",
     L"add to (or remove from) Explorer's menu on files and folders, for this user only: \"Check with Kestrin\", \"Update digests with Kestrin\", \"Open in Kestrin\"",
     1, 1, CommandOwnOptions, SizeNone, prepare_shell, run_shell, 0},
};
const int kCommandCount = (int)(sizeof kCommands / sizeof kCommands[0]);

const CliCommand* find_command(const wchar_t* name)
{
    for (int i = 0; i < kCommandCount; ++i)
        if (wcscmp(kCommands[i].name, name) == 0)
            return &kCommands[i];
    return nullptr;
}
