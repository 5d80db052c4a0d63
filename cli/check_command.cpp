// check: every file that carries a digest is hashed and compared; a
// mismatch is told apart by the record beside the digest (corrupt, edited,
// altered).
#include "cli/file_hash.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include <string.h>

// The record's call path of the file being worked on.
static wchar_t g_record_path[kStreamPathChars];

const wchar_t* record_path_of_file()
{
    return make_record_path(g_stream_path, g_record_path) ? g_record_path : nullptr;
}

bool read_digest_or_report(const wchar_t* path, uint8_t* stored)
{
    return digest_read_or_report(path, read_stored_digest(g_stream_path, stored));
}

bool digest_read_or_report(const wchar_t* path, StoredDigest found)
{
    switch (found) {
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

Verdict judge_file(FileDigests* d, bool record_on_match)
{
    d->record_valid = false;
    if (!hash_run_file(g_file_path, d->computed, &d->stamp))
        return VerdictUnreadable;
    // A match costs no further open unless the record is asked for.
    bool match = memcmp(d->stored, d->computed, kDigestBytes) == 0;
    if (!match || record_on_match)
        d->record_valid = read_record(record_path_of_file(), d->stored, &d->record);
    if (match)
        return VerdictMatch;
    if (!d->record_valid)
        return VerdictAltered;
    // Only a file that stood still while it was hashed, with the size and
    // time it had when its digest was made, changed without being written.
    return d->stamp.steady && record_fits(&d->record, &d->stamp) ? VerdictCorrupt : VerdictEdited;
}

bool report_verdict(const wchar_t* path, Verdict verdict)
{
    static const FindingStatus kFinding[] = {StatusDigest, StatusCorrupt, StatusEdited, StatusAltered,
                                             StatusUnreadable};
    if (verdict == VerdictMatch) {
        ++g_cli.matched;
        return true;
    }
    add_finding(kFinding[verdict], path);
    return false;
}

bool data_matches_or_report(const wchar_t* path, const uint8_t* stored)
{
    FileDigests d;
    memcpy(d.stored, stored, kDigestBytes);
    return report_verdict(path, judge_file(&d, false));
}

static bool check_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    FileDigests d;
    if (read_digest_or_report(path, d.stored))
        report_verdict(path, judge_file(&d, false));
    return true;
}

void run_check()
{
    visit_targets(check_file);
}
