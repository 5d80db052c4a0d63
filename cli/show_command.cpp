// show FILE: the stored digest as 128 lower-case hex digits, then the path.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include "jobs/walk.h"

bool prepare_show()
{
    if (target_is_directory(g_cli.operands[0])) {
        err_path(L"show needs a file, not a folder", g_cli.operands[0]);
        return false;
    }
    return true;
}

static wchar_t g_file[kLongPathChars];
static wchar_t g_stream[kStreamPathChars];

void run_show()
{
    const wchar_t* path = g_cli.operands[0];
    g_cli.files = 1;
    uint8_t stored[kDigestBytes];
    StoredDigest found = form_call_paths(path, g_file, g_stream) ? read_stored_digest(g_stream, stored) : DigestLocked;
    if (found == DigestMissing) {
        add_finding(StatusNoDigest, path);
    } else if (found == DigestShort) {
        add_finding(StatusDamaged, path);
    } else if (found == DigestLocked) {
        add_finding(StatusUnreadable, path);
    } else {
        static const wchar_t kHex[] = L"0123456789abcdef";
        wchar_t hex[2 * kDigestBytes + 3];
        for (int i = 0; i < kDigestBytes; ++i) {
            hex[2 * i] = kHex[stored[i] >> 4];
            hex[2 * i + 1] = kHex[stored[i] & 15];
        }
        hex[2 * kDigestBytes] = L' ';
        hex[2 * kDigestBytes + 1] = L' ';
        hex[2 * kDigestBytes + 2] = L'\0';
        out_text(hex);
        out_text(path);
        out_text(CLI_EOL);
    }
}
