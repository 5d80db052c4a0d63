// update: the command for a scheduled run. It checks as check does, then
// keeps the digests in step with what the user did and nothing else: an
// edited file gets a new digest ("updated"), a file without one gets one
// ("added"), a matching file whose record is missing or out of date gets a
// fresh record (silently, so that a later flipped bit is "corrupt"), and a
// corrupt or altered file is left as it is and reported.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"

static bool update_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    FileDigests d;
    StoredDigest found = read_stored_digest(g_stream_path, d.stored);
    if (found == DigestMissing)
        return add_digest(path, true);
    if (!digest_read_or_report(path, found))
        return true;
    Verdict verdict = judge_file(&d, true);
    if (verdict == VerdictMatch) {
        ++g_cli.matched;
        if (d.record_valid && record_fits(&d.record, &d.stamp))
            return true;
        return store_digest(path, d.stored, &d.stamp, false, true) != StoreStopped;
    }
    if (verdict != VerdictEdited) {
        report_verdict(path, verdict);
        return true;
    }
    StoreResult stored = store_digest(path, d.computed, &d.stamp, false);
    if (stored == Stored)
        add_finding(StatusUpdated, path);
    return stored != StoreStopped;
}

void run_update()
{
    visit_targets(update_file);
}
