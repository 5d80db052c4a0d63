// update: the command for a scheduled run. It checks as check does, then
// keeps the digests in step with what the user did and nothing else: an
// edited file gets a new digest ("updated"), a file without one gets one
// ("added"), a matching file whose record is missing or out of date gets a
// fresh record (silently, so that a later flipped bit is "corrupt"), and a
// corrupt or altered file is left as it is and reported.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/recovery_set.h"
#include "cli/targets.h"

static void update_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusUnreadable))
        return;
    FileDigests d;
    StoredDigest found = read_stored_digest(work->stream_path, d.stored);
    if (found == DigestMissing) {
        add_digest(work, true);
        if (work->outcome.finding_count && work->outcome.findings[work->outcome.finding_count - 1] == StatusAdded)
            note_set_change(path);
        return;
    }
    if (!digest_read_or_report(work, found))
        return;
    Verdict verdict = judge_file(work, &d, JudgeToKeepRecord);
    if (verdict == VerdictMatch) {
        ++g_cli.matched;
        if (!d.record_valid || !record_fits(&d.record, &d.stamp))
            store_digest(work, d.stored, &d.stamp, false, true);
        return;
    }
    if (verdict != VerdictEdited) {
        report_verdict(work, verdict);
        if (verdict == VerdictCorrupt)
            note_repairable(work, path);
        return;
    }
    if (store_digest(work, d.computed, &d.stamp, false) == Stored) {
        file_finding(work, StatusUpdated);
        note_set_change(path);
    }
}

void run_update()
{
    visit_targets(update_file);
    report_stale_set();
}
