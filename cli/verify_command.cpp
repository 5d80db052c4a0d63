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

static void verify_file(FileWork* work, const wchar_t* path)
{
    // Only the data's call path is used: verify never opens a stream.
    if (!begin_file(work, path, StatusUnreadable))
        return;
    alignas(16) uint8_t computed[kDigestBytes];
    if (!hash_run_file(work, computed, nullptr, false))
        unhashed_finding(work, missing_or_unreadable(work->file_path));
    else if (memcmp(computed, work->expected, kDigestBytes) != 0)
        file_finding(work, StatusAltered);
    else
        ++g_cli.matched;
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
