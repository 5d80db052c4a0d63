// The summary line.
#include "cli/summary.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/slice.h"
#include <stdio.h>
#include <wchar.h>

// ", N word" into `text` at `*at` when `count` is not 0 (or `always`).
static void add_count(wchar_t* text, int* at, uint32_t count, const wchar_t* word, bool always = false)
{
    if (count == 0 && !always)
        return;
    int n = _snwprintf(text + *at, kSummaryChars - 1 - *at, L", %u %ls", count, word);
    if (n > 0)
        *at += n;
}

void format_summary(wchar_t* text)
{
    int at = _snwprintf(text, kSummaryChars - 1, L"summary  %ls: %u file%ls", g_cli.command->name, g_cli.files.load(),
                        g_cli.files == 1 ? L"" : L"s");
    if (at < 0)
        at = 0;
    add_count(text, &at, g_cli.matched, L"matched");
    add_count(text, &at, g_cli.written, L"written");
    add_count(text, &at, g_cli.deleted, L"deleted");
    add_count(text, &at, g_cli.carried, L"already with digest");
    for (int s = 0; s < kStatusCount; ++s)
        add_count(text, &at, g_cli.counts[s], status_name((FindingStatus)s));
    if (g_slice.n) {
        int m = _snwprintf(text + at, kSummaryChars - 1 - at, L"; slice %u of %u, %u file%ls outside it", g_slice.k,
                           g_slice.n, g_slice.outside, g_slice.outside == 1 ? L"" : L"s");
        if (m > 0)
            at += m;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double seconds = (double)(g_cli.end_ticks - g_cli.start_ticks) / (double)frequency.QuadPart;
    uint64_t bytes = g_cli.done_bytes.load();
    double rate = seconds > 0 ? (double)bytes / seconds / 1e6 : 0.0;
    int n = _snwprintf(text + at, kSummaryChars - 1 - at, L"; %llu bytes hashed in %.1f s, %.1f MB/s%ls",
                       (unsigned long long)bytes, seconds, rate, g_cli.interrupted.load() ? L"; interrupted" : L"");
    (void)n;
    text[kSummaryChars - 1] = L'\0';
}

void print_summary()
{
    wchar_t text[kSummaryChars];
    format_summary(text);
    // Standard output holds findings only, so that it can be kept as a list.
    err_text(text);
    err_text(CLI_EOL);
}
