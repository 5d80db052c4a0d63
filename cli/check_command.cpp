// check: every file that carries a digest is hashed and compared; a
// mismatch is told apart by the record beside the digest (corrupt, edited,
// altered).
#include "cli/file_hash.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/recovery_set.h"
#include "cli/targets.h"
#include <string.h>

bool read_digest_or_report(FileWork* work, uint8_t* stored)
{
    return digest_read_or_report(work, read_stored_digest(work->stream_path, stored));
}

bool digest_read_or_report(FileWork* work, StoredDigest found)
{
    switch (found) {
    case DigestMissing:
        file_finding(work, StatusNoDigest);
        return false;
    case DigestLocked:
        // Held open by another program, or no access: nothing says it rotted,
        // but it was not verified.
        file_finding(work, StatusUnreadable);
        return false;
    case DigestShort:
        file_finding(work, StatusDamaged);
        return false;
    case DigestRead:
        break;
    }
    return true;
}

Verdict judge_file(FileWork* work, FileDigests* d, JudgeFor judge_for)
{
    d->record_valid = false;
    if (!hash_run_file(work, d->computed, &d->stamp, judge_for != JudgeToReport))
        return VerdictUnreadable;
    // A match costs no further open unless the record is asked for.
    bool match = memcmp(d->stored, d->computed, kDigestBytes) == 0;
    if (!match || judge_for == JudgeToKeepRecord)
        d->record_valid = read_record(record_path_of(work), d->stored, &d->record);
    if (match)
        return VerdictMatch;
    if (!d->record_valid)
        return VerdictAltered;
    // Only a file that stood still while it was hashed, with the size and
    // time it had when its digest was made, changed without being written.
    // Asked only here, once the file is closed: a match needs no second
    // look. An untimed stamp compares the size alone; the time the file has
    // now must then be the record's.
    FileStamp now;
    return file_unchanged_since(work->file_path, &d->stamp, &now) && record_fits(&d->record, &now) ? VerdictCorrupt
                                                                                                   : VerdictEdited;
}

bool report_verdict(FileWork* work, Verdict verdict)
{
    static const FindingStatus kFinding[] = {StatusDigest, StatusCorrupt, StatusEdited, StatusAltered,
                                             StatusUnreadable};
    if (verdict == VerdictMatch) {
        ++g_cli.matched;
        return true;
    }
    if (verdict == VerdictUnreadable)
        unhashed_finding(work, StatusUnreadable);
    else
        file_finding(work, kFinding[verdict]);
    return false;
}

bool data_matches_or_report(FileWork* work, const uint8_t* stored)
{
    FileDigests d;
    memcpy(d.stored, stored, kDigestBytes);
    return report_verdict(work, judge_file(work, &d, JudgeToReport));
}

static void check_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusUnreadable))
        return;
    FileDigests d;
    if (!read_digest_or_report(work, d.stored))
        return;
    Verdict verdict = judge_file(work, &d, JudgeToReport);
    report_verdict(work, verdict);
    if (verdict == VerdictCorrupt)
        note_repairable(work, path);
}

void run_check()
{
    visit_targets(check_file);
}
