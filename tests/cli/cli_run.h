// Running the real kestrin-cli.exe as a script or a scheduled task would:
// a separate process, standard output and error into files, no console,
// and its exit code. Plus the Linux side of the tree (tests/cli/cli_tree.py).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct CliRun {
    bool finished = false;   // ended within the time given
    DWORD code = 0;          // its exit code
    std::wstring out;        // standard output, decoded from UTF-8
    std::wstring err;        // standard error, decoded from UTF-8
    std::wstring out_file;   // where standard output went (Windows path)
    double seconds = 0;      // from the start of the process to its end
    size_t peak_working_set = 0;  // the largest peak seen while it ran (polled every 20 ms)
    DWORD priority_class = 0;     // the priority class last seen while it ran
};

// <build>\cli\kestrin-cli.exe
std::wstring cli_exe();

// One argument quoted as the C runtime splits command lines.
std::wstring quote_arg(const std::wstring& arg);

// Runs kestrin-cli with `args`. Standard input is an empty file (so the
// program sees no console) unless `input` names a file to read instead.
// With `one_output`, standard error goes into standard output's file (r.out
// holds both, in the order written).
CliRun run_cli(const std::vector<std::wstring>& args, DWORD timeout_ms = 300000, const std::wstring& input = L"",
               bool one_output = false);

// The finding lines "STATUS  PATH" of an output, summary left out, in order.
struct Finding {
    std::wstring status;
    std::wstring path;
};
std::vector<Finding> findings_of(const std::wstring& out);
// The paths printed with `status`, sorted.
std::vector<std::wstring> paths_with(const std::wstring& out, const std::wstring& status);
// The summary line, or "".
std::wstring summary_of(const std::wstring& out);

// tests/cli/cli_tree.py with `args` (already quoted for the shell); its output.
std::string cli_tree(const std::string& args, int* status);

// A scratch file in the build tree (Windows path), for reports and outputs.
std::wstring build_scratch(const std::wstring& name);

// kestrin-cli run on a terminal of its own (script(1)), standard output into
// `out_linux`; what the terminal showed (standard error's console), as plain
// text. With `out_linux` empty, standard output is on the terminal too. With
// an `answer`, it is typed on the terminal (and Enter) after two seconds.
std::string on_terminal(const std::string& args, const std::string& out_linux, int* status,
                        const std::string& answer = "");
