// Findings: the printed line, the count and the report entry of each.
#include "cli/findings.h"
#include "cli/cli_state.h"
#include "cli/console_out.h"
#include "cli/report_json.h"

static const wchar_t* const kStatusNames[kStatusCount] = {
    L"altered", L"corrupt", L"edited", L"damaged", L"unreadable", L"no-digest", L"skipped",
    L"not-written", L"not-deleted", L"missing", L"updated", L"added", L"rewritten", L"digest",
    L"repaired", L"unrepairable", L"repairable", L"intact", L"stale",
};

// What each status does to the exit code.
static const int kStatusExit[kStatusCount] = {
    ExitAltered, ExitAltered, ExitIncomplete, ExitAltered, ExitIncomplete, ExitIncomplete, ExitIncomplete,
    ExitIncomplete, ExitIncomplete, ExitIncomplete, ExitFine, ExitFine, ExitFine, ExitFine,
    ExitFine, ExitAltered, ExitAltered, ExitFine, ExitFine,
};

const wchar_t* status_name(FindingStatus status)
{
    return (status >= 0 && status < kStatusCount) ? kStatusNames[status] : L"?";
}

void add_finding(FindingStatus status, const wchar_t* path)
{
    add_finding_ex(status, path, -1, true);
}

void add_finding_ex(FindingStatus status, const wchar_t* path, int repairable, bool printed)
{
    ++g_cli.counts[status];
    if (printed)
        out_finding(status_name(status), path);
    report_finding(status_name(status), path, repairable);
}

int run_exit_code()
{
    if (g_cli.interrupted.load())
        return ExitInterrupted;
    int code = ExitFine;
    for (int s = 0; s < kStatusCount; ++s) {
        if (g_cli.counts[s] != 0 && kStatusExit[s] != ExitFine) {
            if (kStatusExit[s] == ExitAltered)
                return ExitAltered;
            code = ExitIncomplete;
        }
    }
    return code;
}
