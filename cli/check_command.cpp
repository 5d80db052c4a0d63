// check: every file that carries a digest is hashed and compared.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include <string.h>

static bool check_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    uint8_t stored[kDigestBytes];
    switch (read_stored_digest(g_stream_path, stored)) {
    case DigestMissing:
        add_finding(StatusNoDigest, path);
        return true;
    case DigestLocked:
        // Held open by another program, or no access: nothing says it rotted,
        // but it was not verified.
        add_finding(StatusUnreadable, path);
        return true;
    case DigestShort:
        add_finding(StatusDamaged, path);
        return true;
    case DigestRead:
        break;
    }
    alignas(16) uint8_t computed[kDigestBytes];
    if (!hash_file_data(g_file_path, computed, nullptr, g_cli.gate, &g_cli.done_bytes))
        add_finding(StatusUnreadable, path);
    else if (memcmp(stored, computed, kDigestBytes) != 0)
        add_finding(StatusAltered, path);
    else
        ++g_cli.matched;
    return true;
}

void run_check()
{
    visit_targets(check_file);
}
