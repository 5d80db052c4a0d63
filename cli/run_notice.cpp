// The event log entry and the notification of a run.
//
// The notification is a message box rather than a tray balloon: a weekly
// check runs at night, and a balloon is gone within seconds, while a box
// waits on the desktop until the user has read it. The box is shown by a
// second kestrin-cli process, so that the run itself ends at once with its
// exit code (Task Scheduler's "Last Run Result", a script's errorlevel) and
// a task that nobody answers does not keep the next week's run from
// starting. Only that process loads the window system (user32), and only
// when there is something to say.
#include "cli/run_notice.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/summary.h"
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

constinit RunNotice g_notice = {};

// The event identifiers of the source "Kestrin".
constexpr DWORD kEventRunFine = 1;       // information: nothing is corrupt, altered or damaged
constexpr DWORD kEventRunDamaged = 2;    // error: something is

constexpr int kNoticeChars = 4096;

// Appends printf-style text to `text` at `*at`, never past kNoticeChars - 1.
static void append(wchar_t* text, int* at, const wchar_t* format, ...)
{
    if (*at >= kNoticeChars - 1)
        return;
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(text + *at, (size_t)(kNoticeChars - 1 - *at), format, args);
    va_end(args);
    *at = n < 0 ? kNoticeChars - 1 : *at + n;
    text[kNoticeChars - 1] = L'\0';
}

// Whether the run found what the user must act on: the files of exit code 1.
static bool found_damage()
{
    return g_cli.counts[StatusCorrupt] + g_cli.counts[StatusAltered] + g_cli.counts[StatusDamaged] != 0;
}

static void write_event(int exit_code)
{
    wchar_t text[kNoticeChars];
    format_summary(text);
    int at = (int)wcslen(text);
    if (g_cli.report_path)
        append(text, &at, L"\r\nReport: %ls", g_cli.report_path);
    if (exit_code == ExitInterrupted)
        append(text, &at, L"\r\nThe run was interrupted.");
    // The source needs no registration to write; Event Viewer notes that it
    // has no message file for it and shows the text all the same, which is
    // what monitoring tools and event triggers read.
    HANDLE source = RegisterEventSourceW(nullptr, L"Kestrin");
    if (!source) {
        err_message(L"cannot write to the Application event log");
        return;
    }
    bool damaged = found_damage();
    const wchar_t* strings[1] = {text};
    if (!ReportEventW(source, damaged ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                      damaged ? kEventRunDamaged : kEventRunFine, nullptr, 1, 0, strings, nullptr))
        err_message(L"cannot write to the Application event log");
    DeregisterEventSource(source);
}

// One count with its word, "1 corrupt file", between others.
static void append_count(wchar_t* text, int* at, uint32_t count, const wchar_t* word, bool* first)
{
    if (count == 0)
        return;
    append(text, at, L"%ls%u %ls file%ls", *first ? L"" : L", ", count, word, count == 1 ? L"" : L"s");
    *first = false;
}

static void start_notice_process()
{
    wchar_t text[kNoticeChars];
    int at = 0;
    bool first = true;
    append(text, &at, L"kestrin-cli %ls found ", g_cli.command->name);
    append_count(text, &at, g_cli.counts[StatusCorrupt], L"corrupt", &first);
    append_count(text, &at, g_cli.counts[StatusAltered], L"altered", &first);
    append_count(text, &at, g_cli.counts[StatusDamaged], L"damaged-digest", &first);
    append(text, &at, L" in:");
    for (int i = g_cli.command->first_target; i < g_cli.operand_count && i < 4; ++i)
        append(text, &at, L"\r\n    %ls", g_cli.operands[i]);
    if (g_cli.operand_count > 4)
        append(text, &at, L"\r\n    ...");
    append(text, &at, L"\r\n\r\nTheir content is no longer what it was when their digests were made. "
                      L"Restore them from a backup (check the backup's copy first), and do not give "
                      L"them new digests unless you changed them yourself. Several at once point to a "
                      L"failing disk: check its health and copy your data off it.\r\n\r\n");
    if (g_cli.report_path)
        append(text, &at, L"The files are listed in the report:\r\n    %ls", g_cli.report_path);
    else
        append(text, &at, L"To list them, run kestrin-cli check on these folders.");

    // kestrin-cli --show-notice "TEXT", quoted as the C runtime splits it:
    // the text holds no quotes of its own except in paths, which cannot.
    wchar_t self[MAX_PATH * 4];
    DWORD got = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    if (got == 0 || got >= MAX_PATH * 4)
        return;
    static wchar_t command[kNoticeChars + MAX_PATH * 4 + 32];
    int n = _snwprintf(command, sizeof command / sizeof command[0] - 1, L"\"%ls\" " KESTRIN_NOTICE_ARG L" \"%ls\"",
                       self, text);
    command[sizeof command / sizeof command[0] - 1] = L'\0';
    if (n < 0)
        return;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(self, command, nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr,
                        nullptr, &si, &pi)) {
        err_message(L"cannot show the notification");
        return;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

void give_run_notices(int exit_code)
{
    if (g_notice.event_log)
        write_event(exit_code);
    // Nothing at all when nothing rotted: edits, new files, a file that
    // could not be read are in the report and the exit code.
    if (g_notice.notify && found_damage())
        start_notice_process();
}

int show_notice_box(const wchar_t* text)
{
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    typedef int(WINAPI * MessageBoxFn)(HWND, LPCWSTR, LPCWSTR, UINT);
    MessageBoxFn box = user32 ? (MessageBoxFn)(void*)GetProcAddress(user32, "MessageBoxW") : nullptr;
    if (box)
        box(nullptr, text, KESTRIN_NOTICE_TITLE, MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
    return 0;
}
