// import: digests from a manifest go back into the files' streams, but only
// where the file's data still hashes to the manifest's digest: a file
// altered on its way (a bad copy, a failing drive) is reported and never
// blessed with a digest of what it became.
#include "cli/file_hash.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/manifest_entries.h"
#include "cli/targets.h"
#include <string.h>

static void import_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusUnreadable))
        return;
    alignas(16) uint8_t computed[kDigestBytes];
    FileStamp stamp;
    if (!hash_run_file(work, computed, &stamp, true)) {
        unhashed_finding(work, missing_or_unreadable(work->file_path));
        return;
    }
    if (memcmp(computed, work->expected, kDigestBytes) != 0) {
        file_finding(work, StatusAltered);
        return;
    }
    ++g_cli.matched;
    uint8_t stored[kDigestBytes];
    if (read_stored_digest(work->stream_path, stored) == DigestRead &&
        memcmp(stored, work->expected, kDigestBytes) == 0) {
        ++g_cli.carried;
        return;
    }
    store_digest(work, work->expected, &stamp, false);
}

bool prepare_import()
{
    return load_manifest_operand();
}

void run_import()
{
    start_manifest_progress(manifest_size_pass);
    visit_manifest_entries(import_file);
}
