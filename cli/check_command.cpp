// check: every file that carries a digest is hashed and compared; a
// mismatch is told apart by the record beside the digest (corrupt, edited,
// altered: cli/file_judgement.cpp).
#include "cli/commands.h"
#include "cli/file_judgement.h"
#include "cli/findings.h"
#include "cli/recovery_set.h"
#include "cli/targets.h"

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
