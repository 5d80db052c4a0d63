// Parsing the command line into g_cli.
#include "cli/cli_args.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/file_pool.h"
#include "cli/run_notice.h"
#include "cli/slice.h"
#include <wchar.h>

// "kestrin-cli: <what><detail>" and where to look, on standard error.
static ArgsOutcome bad_usage(const wchar_t* what, const wchar_t* detail = L"", const wchar_t* more = L"")
{
    err_text(L"kestrin-cli: ");
    err_text(what);
    err_text(detail);
    err_text(more);
    err_text(CLI_EOL L"Try 'kestrin-cli --help'." CLI_EOL);
    return ArgsBad;
}

// N of --jobs N into g_cli.jobs_asked: 1 to kMaxJobs, in decimal digits only.
static bool parse_jobs(const wchar_t* text)
{
    int n = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9' || n > kMaxJobs)
            return false;
        n = n * 10 + (*p - L'0');
    }
    if (n < 1 || n > kMaxJobs)
        return false;
    g_cli.jobs_asked = n;
    return true;
}

// A whole number from `low` to `high`, in decimal digits only, with one
// '%' after it when `percent`.
static bool parse_count(const wchar_t* text, int low, int high, bool percent, int* out)
{
    long long n = 0;
    const wchar_t* p = text;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        n = n * 10 + (*p - L'0');
        if (n > high)
            return false;
    }
    if (p == text)
        return false;
    if (percent && *p == L'%')
        ++p;
    if (*p != L'\0' || n < low)
        return false;
    *out = (int)n;
    return true;
}

ArgsOutcome parse_args(int argc, wchar_t** argv)
{
    // --help and --version answer whatever else stands beside them.
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        if (options_end)
            continue;
        if (wcscmp(argv[i], L"--") == 0)
            options_end = true;
        else if (wcscmp(argv[i], L"--help") == 0 || wcscmp(argv[i], L"-h") == 0 || wcscmp(argv[i], L"/?") == 0)
            return ArgsHelp;
        else if (wcscmp(argv[i], L"--version") == 0)
            return ArgsVersion;
    }

    g_cli.operands = (wchar_t**)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)(argc > 0 ? argc : 1) * sizeof(wchar_t*));
    if (!g_cli.operands)
        return bad_usage(L"out of memory");
    g_cli.operand_count = 0;

    options_end = false;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (!options_end && arg[0] == L'-' && arg[1] != L'\0') {
            if (wcscmp(arg, L"--") == 0) {
                options_end = true;
            } else if (wcscmp(arg, L"--quiet") == 0 || wcscmp(arg, L"-q") == 0) {
                g_cli.quiet = true;
            } else if (wcscmp(arg, L"--yes") == 0 || wcscmp(arg, L"-y") == 0) {
                g_cli.yes = true;
            } else if (wcscmp(arg, L"--hash") == 0) {
                g_cli.hash = true;
            } else if (wcscmp(arg, L"--force") == 0) {
                g_cli.force = true;
            } else if (wcscmp(arg, L"--jobs") == 0 || wcscmp(arg, L"-j") == 0) {
                if (i + 1 >= argc || !parse_jobs(argv[i + 1]))
                    return bad_usage(L"--jobs needs a number of workers from 1 to 64");
                ++i;
            } else if (wcsncmp(arg, L"--jobs=", 7) == 0) {
                if (!parse_jobs(arg + 7))
                    return bad_usage(L"--jobs needs a number of workers from 1 to 64");
            } else if (wcscmp(arg, L"--keep-damaged") == 0) {
                g_cli.keep_damaged = true;
            } else if (wcscmp(arg, L"--check") == 0) {
                g_cli.check_only = true;
            } else if (wcscmp(arg, L"--set") == 0) {
                if (i + 1 >= argc || argv[i + 1][0] == L'\0')
                    return bad_usage(L"--set needs a recovery set (SET.par2)");
                g_cli.set_path = argv[++i];
            } else if (wcscmp(arg, L"--redundancy") == 0 || wcscmp(arg, L"-r") == 0) {
                if (i + 1 >= argc || !parse_count(argv[i + 1], 1, 100, true, &g_cli.redundancy))
                    return bad_usage(L"--redundancy needs a percentage from 1 to 100");
                ++i;
            } else if (wcscmp(arg, L"--slices") == 0) {
                if (i + 1 >= argc || !parse_count(argv[i + 1], 1, 32768, false, &g_cli.slices))
                    return bad_usage(L"--slices needs a number of slices from 1 to 32768");
                ++i;
            } else if (wcscmp(arg, L"--report") == 0) {
                if (i + 1 >= argc || argv[i + 1][0] == L'\0')
                    return bad_usage(L"--report needs a file name");
                g_cli.report_path = argv[++i];
            } else if (wcsncmp(arg, L"--report=", 9) == 0) {
                if (arg[9] == L'\0')
                    return bad_usage(L"--report needs a file name");
                g_cli.report_path = arg + 9;
            } else if (wcscmp(arg, L"--slice") == 0 || wcsncmp(arg, L"--slice=", 8) == 0) {
                const wchar_t* text = arg[7] == L'=' ? arg + 8 : (i + 1 < argc ? argv[++i] : L"");
                if (!parse_slice(text))
                    return bad_usage(L"--slice needs K/N (0 <= K < N <= 10000), week/N or day/N");
            } else if (wcscmp(arg, L"--pause") == 0) {
                g_cli.pause = true;
            } else if (wcscmp(arg, L"--notify") == 0) {
                g_notice.notify = true;
            } else if (wcscmp(arg, L"--event-log") == 0) {
                g_notice.event_log = true;
            } else {
                return bad_usage(L"unknown option: ", arg);
            }
            continue;
        }
        if (!g_cli.command) {
            g_cli.command = find_command(arg);
            if (!g_cli.command)
                return bad_usage(L"unknown command: ", arg);
            // A command with options of its own (schedule, shell) reads
            // everything after its name itself.
            if (g_cli.command->flags & CommandOwnOptions) {
                for (++i; i < argc; ++i)
                    g_cli.operands[g_cli.operand_count++] = argv[i];
                break;
            }
            continue;
        }
        g_cli.operands[g_cli.operand_count++] = argv[i];
    }

    if (!g_cli.command)
        return bad_usage(L"no command given");
    const CliCommand* c = g_cli.command;
    if (g_cli.hash && wcscmp(c->name, L"export") != 0)
        return bad_usage(L"--hash is an option of export only");
    const bool protect = wcscmp(c->name, L"protect") == 0, repair = wcscmp(c->name, L"repair") == 0;
    if (g_cli.force && wcscmp(c->name, L"rewrite") != 0 && !protect && !repair)
        return bad_usage(L"--force is an option of rewrite, protect and repair only");
    if ((g_cli.redundancy || g_cli.slices) && !protect)
        return bad_usage(L"--redundancy and --slices are options of protect only");
    if ((g_cli.keep_damaged || g_cli.check_only) && !repair)
        return bad_usage(L"--keep-damaged and --check are options of repair only");
    if (g_cli.set_path && wcscmp(c->name, L"check") != 0 && wcscmp(c->name, L"update") != 0)
        return bad_usage(L"--set is an option of check and update only");
    bool checks = wcscmp(c->name, L"check") == 0 || wcscmp(c->name, L"update") == 0;
    if (g_slice.n && !checks)
        return bad_usage(L"--slice is an option of check and update only");
    if ((g_notice.notify || g_notice.event_log) && !checks)
        return bad_usage(L"--notify and --event-log are options of check and update only");
    if (g_cli.jobs_asked && !(c->flags & CommandHashes))
        return bad_usage(L"--jobs is an option of the commands that hash files, not of ", c->name);
    if (g_cli.operand_count < c->min_operands)
        return bad_usage(c->name, L" needs ", c->operands);
    if (c->max_operands >= 0 && g_cli.operand_count > c->max_operands)
        return bad_usage(c->name, L" takes only ", c->operands);
    return ArgsRun;
}
