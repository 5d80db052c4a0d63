// Reading the manifest operand and visiting the files it names.
#include "cli/manifest_entries.h"
#include "cli/cli_state.h"
#include "cli/console_out.h"
#include "cli/manifest_file.h"
#include "cli/progress_line.h"
#include "cli/targets.h"
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static ManifestText g_text;
static ManifestEntry g_entry;
static wchar_t g_prefix[kManifestPathChars];        // the manifest's folder as written, with its separator
static wchar_t g_manifest_full[kManifestPathChars];
static wchar_t g_temp_full[kManifestPathChars];
static wchar_t g_joined[2 * kManifestPathChars];
static wchar_t g_full[2 * kManifestPathChars];

static const wchar_t* manifest_operand()
{
    return g_cli.operands[0];
}

// "kestrin-cli: <what>: MANIFEST" on standard error.
static void manifest_message(const wchar_t* what)
{
    err_path(what, manifest_operand());
}

// "kestrin-cli: MANIFEST, line N: <problem>" for the first bad line, with
// the path when it is the path that is refused.
static void line_message(const ManifestEntry* entry)
{
    wchar_t text[300];
    if (entry->line_kind == LineEntry)
        _snwprintf(text, 299, L", line %u: %hs: ", entry->line, manifest_path_problem(entry->path_kind));
    else
        _snwprintf(text, 299, L", line %u: malformed line: %hs", entry->line, manifest_line_problem(entry->line_kind));
    text[299] = L'\0';
    err_text(L"kestrin-cli: ");
    err_text(manifest_operand());
    err_text(text);
    if (entry->line_kind == LineEntry) err_text(entry->raw_path);
    err_text(CLI_EOL L"kestrin-cli: nothing was done: a manifest is used only when every line is sound" CLI_EOL);
}

bool load_manifest_operand()
{
    switch (load_manifest(manifest_operand(), &g_text)) {
    case ManifestLoaded:
        break;
    case ManifestNotFound:
        manifest_message(L"no such manifest");
        return false;
    case ManifestIsFolder:
        manifest_message(L"this is a folder, not a manifest");
        return false;
    case ManifestUnreadable:
        manifest_message(L"the manifest cannot be read");
        return false;
    case ManifestTooLarge:
        manifest_message(L"too large for a manifest (more than 256 MiB)");
        return false;
    }
    if (!full_path_of(manifest_operand(), g_manifest_full, kManifestPathChars) ||
        !manifest_temp_path(g_manifest_full, g_temp_full)) {
        manifest_message(L"the manifest's path is too long");
        return false;
    }
    manifest_folder_prefix(manifest_operand(), g_prefix);

    // Every line is sound, or nothing is done at all.
    unsigned entries = 0;
    int got;
    while ((got = next_manifest_entry(&g_text, &g_entry)) != 0) {
        if (got < 0) {
            line_message(&g_entry);
            return false;
        }
        ++entries;
    }
    if (entries == 0) {
        manifest_message(L"the manifest names no files");
        return false;
    }
    return true;
}

// The entry's path joined to the manifest's folder into g_joined; false when
// the entry is the manifest itself or its temporary.
static bool join_entry(const ManifestEntry* entry)
{
    size_t lp = wcslen(g_prefix), le = wcslen(entry->path);
    memcpy(g_joined, g_prefix, lp * sizeof(wchar_t));
    memcpy(g_joined + lp, entry->path, (le + 1) * sizeof(wchar_t));
    g_joined[2 * kManifestPathChars - 1] = L'\0';
    if (!full_path_of(g_joined, g_full, sizeof g_full / sizeof g_full[0])) return true;
    return !same_full_path(g_full, g_manifest_full) && !same_full_path(g_full, g_temp_full);
}

bool visit_manifest_entries(FileJob job)
{
    if (!start_workers(job, nullptr))
        return false;
    bool whole = true;
    rewind_manifest(&g_text);
    while (next_manifest_entry(&g_text, &g_entry) > 0) {
        if (g_cli.interrupted.load()) {
            whole = false;
            break;
        }
        if (join_entry(&g_entry))
            pool_submit(g_joined, g_entry.digest);
    }
    pool_finish();
    return whole;
}

void manifest_size_pass()
{
    g_cli.total_bytes = 0;
    rewind_manifest(&g_text);
    while (next_manifest_entry(&g_text, &g_entry) > 0) {
        if (g_cli.interrupted.load()) return;
        uint64_t size = 0;
        if (join_entry(&g_entry) && size_of_target_file(g_joined, &size))
            g_cli.total_bytes.store(g_cli.total_bytes.load(std::memory_order_relaxed) + size,
                                    std::memory_order_relaxed);
    }
}

FindingStatus missing_or_unreadable(const wchar_t* file_path)
{
    if (GetFileAttributesW(file_path) != INVALID_FILE_ATTRIBUTES) return StatusUnreadable;
    DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? StatusMissing : StatusUnreadable;
}

void start_manifest_progress(void (*size_pass)())
{
    if (!g_cli.err_console || g_cli.quiet) return;
    g_cli.progress = true;
    size_pass();
    progress_start();
}
