// remove: deletes the digests. It asks first on a console; elsewhere it
// refuses unless --yes was given, since a scheduled run cannot answer.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include <wchar.h>

bool prepare_remove()
{
    if (g_cli.yes)
        return true;
    if (!g_cli.in_console) {
        err_message(L"remove deletes digests: it needs --yes when it cannot ask on a console; nothing removed");
        return false;
    }
    err_text(L"Remove the digests of every file in:" CLI_EOL);
    for (int i = 0; i < g_cli.operand_count; ++i) {
        err_text(L"  ");
        err_text(g_cli.operands[i]);
        err_text(CLI_EOL);
    }
    err_text(L"Type y and Enter to remove them: ");
    wchar_t answer[64];
    DWORD got = 0;
    if (!ReadConsoleW(g_cli.in, answer, 63, &got, nullptr))
        got = 0;
    answer[got < 63 ? got : 63] = L'\0';
    if (got >= 1 && (answer[0] == L'y' || answer[0] == L'Y') &&
        (got == 1 || answer[1] == L'\r' || answer[1] == L'\n'))
        return true;
    err_message(L"nothing removed");
    return false;
}

static void remove_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusNotDeleted) || !stream_exists(work->stream_path))
        return;
    if (delete_digest(work->file_path, work->stream_path, record_path_of(work)))
        ++g_cli.deleted;
    else
        file_finding(work, StatusNotDeleted);
}

void run_remove()
{
    visit_targets(remove_file);
}
