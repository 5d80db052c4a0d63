// The window's target list split from the path field, and its walk.
#include "jobs/targets.h"
#include "jobs/hash_stream.h"
#include "jobs/process_file.h"
#include "jobs/run_state.h"
#include "jobs/walk.h"
#include <shellapi.h>
#include <stdio.h>

constexpr int kMessageChars = 512;

static void report_missing(const wchar_t* target)
{
    wchar_t text[kMessageChars];
    _snwprintf(text, kMessageChars - 1, L"The following file or folder does not exist:\n\n%ls", target);
    text[kMessageChars - 1] = L'\0';
    MessageBoxW(g_run.dialog, text, nullptr, MB_ICONERROR | MB_OK);
}

int parse_targets()
{
    int count = 0;
    g_run.args = CommandLineToArgvW(g_run.PathBuffer, &count);
    g_run.arg_count = g_run.args ? count : 0;
    if (!g_run.args)
        return 1;  // the splitter itself failed: no job may start

    for (int i = 0; i < g_run.arg_count; ++i) {
        if (!target_exists(g_run.args[i])) {
            report_missing(g_run.args[i]);
            LocalFree(g_run.args);
            g_run.args = nullptr;
            g_run.arg_count = 0;
            return 1;
        }
    }
    return 0;
}

static bool visit_file(const wchar_t* path)
{
    process_file(path);
    return true;
}

// A folder that could not be enumerated leaves files unvisited: a Check
// that passed over one cannot call its targets good.
static void count_skipped(const wchar_t*)
{
    ++g_run.skipped_folders;
}

static constexpr WalkVisitor kJobVisitor = {visit_file, count_skipped, false};

void walk_folder(const wchar_t* folder)
{
    walk_directory(folder, &kJobVisitor);
}

void walk_targets()
{
    for (int i = 0; i < g_run.arg_count; ++i) {
        if (target_is_directory(g_run.args[i]))
            walk_folder(g_run.args[i]);
        else
            process_file(g_run.args[i]);
    }
}
