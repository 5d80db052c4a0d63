// kestrin-cli: the same digests as Kestrin's window, checked and kept from a
// console or a scheduled task, with exit codes and a report.
#include "cli/cli_args.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/help_text.h"
#include "cli/run.h"
#include "cli/run_notice.h"
#include <windows.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv)
{
    // The notification of a finished run, in a process of its own.
    if (argc == 3 && wcscmp(argv[1], KESTRIN_NOTICE_ARG) == 0)
        return show_notice_box(argv[2]);
    console_setup();
    switch (parse_args(argc, argv)) {
    case ArgsHelp:
        print_help();
        return ExitFine;
    case ArgsVersion:
        print_version();
        return ExitFine;
    case ArgsBad:
        return ExitUsage;
    case ArgsRun:
        break;
    }
    // ExitProcess rather than a return: the handler thread of a closing
    // console may still wait, and the code must be this one.
    int code = run_command();
    if (g_cli.pause)
        pause_for_key();
    ExitProcess((UINT)code);
}
