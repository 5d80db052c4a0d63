// Judging a file that carries a digest, for every command that compares.
#include "cli/file_judgement.h"
#include "cli/file_hash.h"
#include "cli/cli_state.h"
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
    case DigestPresent:
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
    // now must then be the record's. A file that could not be asked is not
    // known to have been written: it was not verified.
    FileStamp now;
    switch (check_stamp_by_path(work->file_path, &d->stamp, &now)) {
    case StampUnknown:
        return VerdictUnreadable;
    case StampSame:
        return record_fits(&d->record, &now) ? VerdictCorrupt : VerdictEdited;
    case StampMoved:
        break;
    }
    return VerdictEdited;
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
