// check: every file that carries a digest is hashed and compared.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include <string.h>

bool read_digest_or_report(const wchar_t* path, uint8_t* stored)
{
    switch (read_stored_digest(g_stream_path, stored)) {
    case DigestMissing:
        add_finding(StatusNoDigest, path);
        return false;
    case DigestLocked:
        // Held open by another program, or no access: nothing says it rotted,
        // but it was not verified.
        add_finding(StatusUnreadable, path);
        return false;
    case DigestShort:
        add_finding(StatusDamaged, path);
        return false;
    case DigestRead:
        break;
    }
    return true;
}

bool data_matches_or_report(const wchar_t* path, const uint8_t* stored)
{
    alignas(16) uint8_t computed[kDigestBytes];
    if (!hash_file_data(g_file_path, computed, nullptr, g_cli.gate, &g_cli.done_bytes)) {
        add_finding(StatusUnreadable, path);
        return false;
    }
    if (memcmp(stored, computed, kDigestBytes) != 0) {
        add_finding(StatusAltered, path);
        return false;
    }
    ++g_cli.matched;
    return true;
}

static bool check_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    uint8_t stored[kDigestBytes];
    if (read_digest_or_report(path, stored))
        data_matches_or_report(path, stored);
    return true;
}

void run_check()
{
    visit_targets(check_file);
}
