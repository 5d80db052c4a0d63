// Console or UTF-8 output, and the progress line between the findings.
#include "cli/console_out.h"
#include "cli/cli_state.h"
#include "cli/text_sink.h"
#include <wchar.h>

static CRITICAL_SECTION g_console_lock;
static TextSink g_out_sink;
static TextSink g_err_sink;
// Characters of the progress line now on the console (0: none shown).
static size_t g_progress_chars;

static bool is_console(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void console_setup()
{
    InitializeCriticalSection(&g_console_lock);
    g_cli.out = GetStdHandle(STD_OUTPUT_HANDLE);
    g_cli.err = GetStdHandle(STD_ERROR_HANDLE);
    g_cli.in = GetStdHandle(STD_INPUT_HANDLE);
    g_cli.out_console = is_console(g_cli.out);
    g_cli.err_console = is_console(g_cli.err);
    g_cli.in_console = is_console(g_cli.in);
    g_out_sink.handle = g_cli.out;
    g_err_sink.handle = g_cli.err;
}

static void console_write(HANDLE handle, const wchar_t* text, size_t len)
{
    while (len != 0) {
        DWORD chunk = len > 8192 ? 8192 : (DWORD)len;
        DWORD wrote = 0;
        if (!WriteConsoleW(handle, text, chunk, &wrote, nullptr) || wrote == 0)
            return;
        text += wrote;
        len -= wrote;
    }
}

// Blanks the progress line when standard output shares the screen with it.
// Caller holds the lock.
static void clear_progress_locked()
{
    if (g_progress_chars == 0)
        return;
    wchar_t blank[160];
    size_t n = g_progress_chars < 157 ? g_progress_chars : 157;
    blank[0] = L'\r';
    for (size_t i = 1; i <= n; ++i)
        blank[i] = L' ';
    blank[n + 1] = L'\r';
    blank[159] = L'\0';
    console_write(g_cli.err, blank, n + 2);
    g_progress_chars = 0;
}

static void out_put(const wchar_t* text, size_t len)
{
    if (g_cli.out_console) {
        clear_progress_locked();
        console_write(g_cli.out, text, len);
    } else {
        sink_text(&g_out_sink, text, len);
    }
}

void out_finding(const wchar_t* status, const wchar_t* path)
{
    EnterCriticalSection(&g_console_lock);
    out_put(status, wcslen(status));
    out_put(L"  ", 2);
    out_put(path, wcslen(path));
    out_put(CLI_EOL, 2);
    LeaveCriticalSection(&g_console_lock);
}

void out_text(const wchar_t* text)
{
    EnterCriticalSection(&g_console_lock);
    out_put(text, wcslen(text));
    LeaveCriticalSection(&g_console_lock);
}

void out_flush()
{
    EnterCriticalSection(&g_console_lock);
    if (!g_cli.out_console)
        sink_flush(&g_out_sink);
    LeaveCriticalSection(&g_console_lock);
}

void err_text(const wchar_t* text)
{
    EnterCriticalSection(&g_console_lock);
    size_t len = wcslen(text);
    if (g_cli.err_console) {
        clear_progress_locked();
        console_write(g_cli.err, text, len);
    } else {
        sink_text(&g_err_sink, text, len);
        sink_flush(&g_err_sink);
    }
    LeaveCriticalSection(&g_console_lock);
}

void err_message(const wchar_t* text)
{
    EnterCriticalSection(&g_console_lock);
    err_text(L"kestrin-cli: ");
    err_text(text);
    err_text(CLI_EOL);
    LeaveCriticalSection(&g_console_lock);
}

void err_path(const wchar_t* what, const wchar_t* path)
{
    EnterCriticalSection(&g_console_lock);
    err_text(L"kestrin-cli: ");
    err_text(what);
    err_text(L": ");
    err_text(path);
    err_text(CLI_EOL);
    LeaveCriticalSection(&g_console_lock);
}

void progress_put(const wchar_t* line)
{
    if (!g_cli.err_console)
        return;
    EnterCriticalSection(&g_console_lock);
    size_t len = wcslen(line);
    console_write(g_cli.err, L"\r", 1);
    console_write(g_cli.err, line, len);
    // Spaces over what is left of a longer line before.
    for (size_t i = len; i < g_progress_chars; ++i)
        console_write(g_cli.err, L" ", 1);
    g_progress_chars = len > g_progress_chars ? len : g_progress_chars;
    LeaveCriticalSection(&g_console_lock);
}

void progress_clear()
{
    EnterCriticalSection(&g_console_lock);
    clear_progress_locked();
    LeaveCriticalSection(&g_console_lock);
}
