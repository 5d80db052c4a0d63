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

StoreResult store_digest(const wchar_t* path, const uint8_t* digest, const FileStamp* stamp, bool create,
                         bool record_only)
{
    if (g_cli.interrupted.load())
        return StoreStopped;
    const wchar_t* record = record_path_of_file();
    DigestWrite write = {g_file_path, record_only ? nullptr : g_stream_path, record, digest, stamp, create};
    WriteOutcome outcome = record ? write_digest(&write, &g_cli.writing) : WriteFailed;
    switch (outcome) {
    case WriteDone:
        ++g_cli.written;
        return Stored;
    case WriteClosed:
        return StoreStopped;
    case WriteTimeLost:
        // The digest is there, but the file's time moved: it was not stored
        // as promised.
        err_text(L"kestrin-cli: the last-write time could not be put back: ");
        err_text(path);
        err_text(CLI_EOL);
        break;
    default:
        break;
    }
    add_finding(StatusNotWritten, path);
    return NotStored;
}

// Hashes the data, taking its size and last-write time from the same handle.
// False, after an "unreadable" finding, when the data did not come whole.
static bool hash_for_storing(const wchar_t* path, uint8_t* digest, FileStamp* stamp)
{
    if (hash_run_file(g_file_path, digest, stamp))
        return true;
    add_finding(StatusUnreadable, path);
    return false;
}

bool add_digest(const wchar_t* path, bool report)
{
    alignas(16) uint8_t digest[kDigestBytes];
    FileStamp stamp;
    stamp.settle = false;   // the write itself confirms the file after the hash
    if (!hash_for_storing(path, digest, &stamp))
        return true;
    StoreResult stored = store_digest(path, digest, &stamp, true);
    if (stored == Stored && report)
        add_finding(StatusAdded, path);
    return stored != StoreStopped;
}

static bool create_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    // The attribute query opens nothing: a file that has a digest costs no
    // open, and one that has none no failed one.
    switch (probe_stored_digest(g_stream_path)) {
    case DigestRead:
        ++g_cli.carried;
        return true;
    case DigestShort:
        add_finding(StatusDamaged, path);
        return true;
    case DigestLocked:
        // Something is there that could not be looked at: never replaced.
        add_finding(StatusNotWritten, path);
        return true;
    case DigestMissing:
        break;
    }
    return add_digest(path, false);
}

static bool rewrite_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    FileDigests d;
    StoredDigest found = read_stored_digest(g_stream_path, d.stored);
    if (found == DigestMissing) {
        add_finding(StatusNoDigest, path);
        return true;
    }
    if (found == DigestLocked) {
        // A digest that could not be read is not known to be wrong.
        add_finding(StatusUnreadable, path);
        return true;
    }
    if (found == DigestShort) {
        // A damaged digest protects nothing: the current content is taken.
        if (!hash_for_storing(path, d.computed, &d.stamp))
            return true;
        return store_digest(path, d.computed, &d.stamp, false) != StoreStopped;
    }
    Verdict verdict = judge_file(&d, false);
    // Corruption is evidence: it is blessed only when asked for by name.
    if (verdict == VerdictMatch || verdict == VerdictUnreadable || (verdict == VerdictCorrupt && !g_cli.force)) {
        report_verdict(path, verdict);
        return true;
    }
    return store_digest(path, d.computed, &d.stamp, false) != StoreStopped;
}

void run_create()
{
    visit_targets(create_file);
}

void run_rewrite()
{
    visit_targets(rewrite_file);
}
