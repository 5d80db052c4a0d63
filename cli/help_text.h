// --help and --version.
#pragma once

// The usage, the commands, the options and the exit codes, on standard output.
void print_help();
// "kestrin-cli <version>" on standard output.
void print_version();
