// How the commands that compare (check, update, rewrite, export --hash,
// verify, import) judge a file that carries a digest: reading the stored
// digest, hashing the data, and telling a match from corrupt, edited and
// altered by the record beside it.
#pragma once
#include "cli/file_pool.h"
#include "jobs/digest_record.h"
#include <stdint.h>

// What hashing a file that carries a digest found.
enum Verdict : int {
    VerdictMatch = 0,
    VerdictCorrupt,      // differs; size and last-write time are the recorded ones: not written through the file system
    VerdictEdited,       // differs; size or last-write time moved since the record was made (or while hashing)
    VerdictAltered,      // differs; no valid record
    VerdictUnreadable,   // the data could not be hashed whole, or asked for its size and time after a mismatch
};

// One file's digests as the comparing commands see them.
struct FileDigests {
    uint8_t stored[kDigestBytes];                  // "z"
    alignas(16) uint8_t computed[kDigestBytes];    // the data's
    FileStamp stamp;                               // the file when it was hashed
    DigestRecord record;
    bool record_valid;                             // a record that belongs to `stored`
};

// For the worker's file, shared by the commands that compare: reads the stored digest into `stored`, or records the
// finding (no-digest, unreadable, damaged) and returns false.
bool read_digest_or_report(FileWork* work, uint8_t* stored);
// The same for what read_stored_digest already found.
bool digest_read_or_report(FileWork* work, StoredDigest found);
// What a caller of judge_file does with the file besides reporting it.
enum JudgeFor {
    JudgeToReport,        // nothing: d->stamp is untimed
    JudgeToStore,         // may store a digest with d->stamp
    JudgeToKeepRecord,    // the same, and a match's record is read too
};
// Hashes the data into `d` and judges it against d->stored and, for a
// mismatch (or any file JudgeToKeepRecord), the record; records no finding.
Verdict judge_file(FileWork* work, FileDigests* d, JudgeFor judge_for);
// Counts a match (true), or records the verdict's finding (false).
bool report_verdict(FileWork* work, Verdict verdict);
// judge_file and report_verdict for a digest read by read_digest_or_report.
bool data_matches_or_report(FileWork* work, const uint8_t* stored);
