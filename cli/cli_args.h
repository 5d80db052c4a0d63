// The command line: kestrin-cli COMMAND [OPTIONS] PATH...
// Options may stand anywhere after the program's name; "--" ends them, so
// that a path may begin with "-".
#pragma once

enum ArgsOutcome : int {
    ArgsRun = 0,     // g_cli.command, operands and options are set
    ArgsHelp,        // --help was given
    ArgsVersion,     // --version was given
    ArgsBad,         // bad usage: the message is on standard error
};

// Parses `argv` (argc entries, argv[0] the program) into g_cli.
ArgsOutcome parse_args(int argc, wchar_t** argv);
