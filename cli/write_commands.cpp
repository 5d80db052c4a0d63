// create and rewrite: the commands that store digests over what they find.
// Each hashes the data, taking its size and last-write time from the same
// handle, and stores only a digest of complete data, and only while the
// file is still the one that was hashed.
#include "cli/file_hash.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include <string.h>

StoreResult store_digest(FileWork* work, const uint8_t* digest, const FileStamp* stamp,
                         bool create, bool record_only)
{
    if (g_cli.interrupted.load())
        return StoreStopped;
    const wchar_t* record = record_path_of(work);
    DigestWrite write = {work->file_path, record_only ? nullptr : work->stream_path, record, digest, stamp, create};
    WriteOutcome outcome = record ? write_digest(&write, &g_cli.writing) : WriteFailed;
    switch (outcome) {
    case WriteDone:
        ++g_cli.written;
        return Stored;
    case WriteClosed:
        return StoreStopped;
    case WriteTimeLost:
        // The file's time moved: the digest was taken back, and with it the
        // record, which would have claimed the old time.
        work->outcome.time_lost = true;
        break;
    case WriteFileSaved:
        // Saved by another program while its digest was written: what is
        // stored describes the file as it was hashed, which a check finds
        // edited, as it is.
        ++g_cli.written;
        file_finding(work, StatusEdited);
        return NotStored;
    default:
        break;
    }
    file_finding(work, StatusNotWritten);
    return NotStored;
}

// Hashes the data, taking its size and last-write time from the same handle.
// False, after an "unreadable" finding, when the data did not come whole.
static bool hash_for_storing(FileWork* work, uint8_t* digest, FileStamp* stamp)
{
    if (hash_run_file(work, digest, stamp, true))
        return true;
    unhashed_finding(work, StatusUnreadable);
    return false;
}

void add_digest(FileWork* work, bool report)
{
    alignas(16) uint8_t digest[kDigestBytes];
    FileStamp stamp;
    if (hash_for_storing(work, digest, &stamp) && store_digest(work, digest, &stamp, true) == Stored && report)
        file_finding(work, StatusAdded);
}

static void create_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusUnreadable))
        return;
    // The attribute query opens nothing: a file that has a digest costs no
    // open, and one that has none no failed one.
    switch (probe_stored_digest(work->stream_path)) {
    case DigestPresent:
    case DigestRead:
        ++g_cli.carried;
        return;
    case DigestShort:
        file_finding(work, StatusDamaged);
        return;
    case DigestLocked:
        // Something is there that could not be looked at: never replaced.
        file_finding(work, StatusNotWritten);
        return;
    case DigestMissing:
        break;
    }
    add_digest(work, false);
}

// Every digest rewrite stores is named, as update names its own.
static void rewrite_digest(FileWork* work, const uint8_t* digest, const FileStamp* stamp)
{
    if (store_digest(work, digest, stamp, false) == Stored)
        file_finding(work, StatusRewritten);
}

static void rewrite_file(FileWork* work, const wchar_t* path)
{
    if (!begin_file(work, path, StatusUnreadable))
        return;
    FileDigests d;
    StoredDigest found = read_stored_digest(work->stream_path, d.stored);
    if (found == DigestMissing) {
        file_finding(work, StatusNoDigest);
        return;
    }
    if (found == DigestLocked) {
        // A digest that could not be read is not known to be wrong.
        file_finding(work, StatusUnreadable);
        return;
    }
    if (found == DigestShort) {
        // A damaged digest protects nothing: the current content is taken.
        if (hash_for_storing(work, d.computed, &d.stamp))
            rewrite_digest(work, d.computed, &d.stamp);
        return;
    }
    Verdict verdict = judge_file(work, &d, JudgeToStore);
    // Corruption is evidence: it is blessed only when asked for by name.
    // Edited and altered files take what they hold now, as the window's
    // Rewrite does; each is named.
    if (verdict == VerdictMatch || verdict == VerdictUnreadable || (verdict == VerdictCorrupt && !g_cli.force)) {
        report_verdict(work, verdict);
        return;
    }
    rewrite_digest(work, d.computed, &d.stamp);
}

void run_create()
{
    visit_targets(create_file);
}

void run_rewrite()
{
    visit_targets(rewrite_file);
}
