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

static bool import_file(const wchar_t* path, const uint8_t* digest)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    alignas(16) uint8_t computed[kDigestBytes];
    FileStamp stamp;
    if (!hash_run_file(g_file_path, computed, &stamp)) {
        add_finding(missing_or_unreadable(g_file_path), path);
        return true;
    }
    if (memcmp(computed, digest, kDigestBytes) != 0) {
        add_finding(StatusAltered, path);
        return true;
    }
    ++g_cli.matched;
    uint8_t stored[kDigestBytes];
    if (read_stored_digest(g_stream_path, stored) == DigestRead && memcmp(stored, digest, kDigestBytes) == 0) {
        ++g_cli.carried;
        return true;
    }
    return store_digest(path, digest, &stamp, false) != StoreStopped;
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
