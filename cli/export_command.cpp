// export: a manifest of the digests the files under the targets carry, so
// that they survive a copy to a file system without streams. By default the
// stored digests are taken as they are (nothing is hashed); with --hash each
// file is hashed too, and only files that match their digest are written.
#include "cli/atomic_file.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/exact_path.h"
#include "cli/findings.h"
#include "cli/manifest_entries.h"
#include "cli/manifest_file.h"
#include "cli/targets.h"
#include "jobs/walk.h"
#include <string.h>
#include <wchar.h>

static const wchar_t* g_manifest;                   // as written
static wchar_t g_manifest_full[kManifestPathChars];
static wchar_t g_temp_full[kManifestPathChars];
static wchar_t g_folder_full[kManifestPathChars];   // the folder the lines are relative to
static wchar_t g_full[kManifestPathChars];          // the file being exported
static wchar_t g_relative[kManifestPathChars];
static wchar_t g_checked[kManifestPathChars];
static char g_line[kManifestLineBytes];
static AtomicFile g_writer;

// "kestrin-cli: <what>: <path>" on standard error.
static bool refuse(const wchar_t* what, const wchar_t* path)
{
    err_path(what, path);
    return false;
}

bool prepare_export()
{
    g_manifest = g_cli.operands[0];
    if (!full_path_of(g_manifest, g_manifest_full, kManifestPathChars) ||
        !manifest_temp_path(g_manifest_full, g_temp_full))
        return refuse(L"the manifest's path is too long", g_manifest);
    if (target_is_directory(g_manifest))
        return refuse(L"the manifest's name is a folder's", g_manifest);
    wcscpy(g_folder_full, g_manifest_full);
    g_folder_full[kManifestPathChars - 1] = L'\0';
    wchar_t* last = wcsrchr(g_folder_full, L'\\');
    if (!last) return refuse(L"the manifest's path names no folder", g_manifest);
    // A drive's root keeps its separator ("C:\"), any other folder loses it.
    last[last == g_folder_full + 2 && g_folder_full[1] == L':' ? 1 : 0] = L'\0';
    if (!target_is_directory(g_folder_full))
        return refuse(L"the manifest's folder does not exist", g_folder_full);

    // Lines name files relative to the manifest's folder, so every target
    // (each known to exist) must lie in it, or be it.
    for (int i = 1; i < g_cli.operand_count; ++i) {
        const wchar_t* target = g_cli.operands[i];
        if (!full_path_of(target, g_full, kManifestPathChars)) return refuse(L"the path is too long", target);
        if (!same_full_path(g_full, g_folder_full) &&
            !make_relative_path(g_folder_full, g_full, g_relative, kManifestPathChars)) {
            refuse(L"not inside the manifest's folder", target);
            return refuse(L"a manifest names files relative to its own folder", g_folder_full);
        }
    }
    // The temporary must be possible before anything else is done.
    if (!atomic_file_begin(&g_writer, g_manifest, MANIFEST_TEMP_SUFFIX))
        return refuse(L"the manifest cannot be written", g_manifest);
    atomic_file_abandon(&g_writer);
    // The manifest does not describe itself.
    leave_out_of_walk(g_manifest_full);
    leave_out_of_walk(g_temp_full);
    return true;
}

// Whether the line's path is one that verify and import accept and take to
// this very file: names the platform would shorten or read as a device are
// (they are opened by their exact names); a name of dots only is not.
static bool carried_exactly(const wchar_t* relative)
{
    return check_manifest_path(relative, g_checked, kManifestPathChars) == PathInside;
}

// A worker's part: the stored digest, and with --hash whether the data still
// matches it. The line itself is made in the walk's order (give_out_line).
static void export_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusUnreadable))
        return;
    if (!read_digest_or_report(work, work->outcome.digest))
        return;
    if (g_cli.hash && !data_matches_or_report(work, work->outcome.digest))
        return;
    work->outcome.manifest_line = true;
}

// Writes the file's line, in the walk's order; ends the walk when the
// manifest cannot be written.
static void give_out_line(const wchar_t* path, const FileOutcome* outcome)
{
    // Where the file is, its names exact: "name." is not "name".
    bool kept = false;
    if (!exact_full_path(path, g_full, kManifestPathChars, &kept)) {
        add_finding(StatusUnreadable, path);
        return;
    }
    add_file_findings(path, outcome);
    if (!outcome->manifest_line)
        return;
    size_t len = 0;
    if (make_relative_path(g_folder_full, g_full, g_relative, kManifestPathChars) && carried_exactly(g_relative))
        len = format_manifest_line(outcome->digest, g_relative, g_line, sizeof g_line);
    if (len == 0) {
        // A name with no UTF-8 form (a lone surrogate), or one no manifest
        // can carry, cannot be a line.
        add_finding(StatusNotWritten, path);
        return;
    }
    if (!atomic_file_enter(&g_writer)) {
        stop_walk();   // ended by a closing console
        return;
    }
    sink_bytes(&g_writer.sink, g_line, len);
    bool failed = g_writer.sink.failed;
    atomic_file_leave(&g_writer);
    if (failed) {
        stop_walk();
        return;
    }
    ++g_cli.written;
}

static void export_size_pass()
{
    size_pass(SizeWithDigest);
}

void run_export()
{
    if (g_cli.hash) start_manifest_progress(export_size_pass);
    if (!atomic_file_begin(&g_writer, g_manifest, MANIFEST_TEMP_SUFFIX)) {
        refuse(L"the manifest cannot be written", g_manifest);
        add_finding(StatusNotWritten, g_manifest);
        return;
    }
    bool whole = visit_targets(export_file, give_out_line);
    if (g_writer.sink.failed) {
        atomic_file_abandon(&g_writer);
        refuse(L"writing the manifest failed; it was left as it was", g_manifest);
        add_finding(StatusNotWritten, g_manifest);
        return;
    }
    // Interrupted, even after the last file: the run ends as interrupted,
    // and a manifest that may lack files must not stand under its name.
    if (!whole || g_cli.interrupted.load()) {
        atomic_file_abandon(&g_writer);
        return;
    }
    if (!atomic_file_commit(&g_writer)) {
        refuse(L"the manifest could not be moved into place; it was left as it was", g_manifest);
        add_finding(StatusNotWritten, g_manifest);
        return;
    }
    // A Ctrl+C that came after the decision above found every file written
    // and the manifest moving into place: nothing was stopped, and the run
    // must not report itself interrupted with a new manifest standing.
    g_cli.interrupted.store(false);
}
