// verify: every file a manifest names is hashed and compared with its line.
// It works on any file system, since it never opens a stream: a copy on an
// exFAT drive or a network share is checked from the manifest alone.
#include "cli/file_hash.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/manifest_entries.h"
#include "cli/targets.h"
#include <string.h>

static bool verify_file(const wchar_t* path, const uint8_t* digest)
{
    // Only the data's call path is used: verify never opens a stream.
    if (!begin_file(path, StatusUnreadable))
        return true;
    alignas(16) uint8_t computed[kDigestBytes];
    if (!hash_run_file(g_file_path, computed, nullptr))
        add_finding(missing_or_unreadable(g_file_path), path);
    else if (memcmp(computed, digest, kDigestBytes) != 0)
        add_finding(StatusAltered, path);
    else
        ++g_cli.matched;
    return true;
}

bool prepare_verify()
{
    return load_manifest_operand();
}

void run_verify()
{
    start_manifest_progress(manifest_size_pass);
    visit_manifest_entries(verify_file);
}
