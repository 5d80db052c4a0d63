// kestrin-cli's run in-process, as its commands call it: a listing that
// fails half-way, an export interrupted after its last file, a console that
// closes mid-run.
#include "failing_listing.h"
#include "oracle.h"
#include "test_env.h"
#include "cli/atomic_file.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/file_hash.h"
#include "cli/interrupt.h"
#include "cli/report_json.h"
#include "cli/targets.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

int g_visited;
void count_file(FileWork*, const wchar_t*)
{
    ++g_visited;
}

BOOL WINAPI failing_query(const wchar_t*, GET_FILEEX_INFO_LEVELS, void*)
{
    SetLastError(ERROR_UNEXP_NET_ERR);
    return FALSE;
}

// The file that Linux saves at the moment before its time is put back, and
// the time that save gave it.
std::string g_saved_file;
long long g_saved_time;
void save_from_linux(const wchar_t*)
{
    linux_sh("python3 -c 'import sys\nwith open(sys.argv[1],\"r+b\") as f: b=f.read(); f.seek(0); "
             "f.write(bytes(x^0x5a for x in b))' " + sh_quote(g_saved_file));
    g_saved_time = linux_mtime_ns(g_saved_file);
}

class CliFaultTest : public testing::Test {
protected:
    void SetUp() override
    {
        static bool console_ready = false;
        if (!console_ready)
            console_setup();
        console_ready = true;
        dir = ntfs_scratch(testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_FALSE(dir.empty());
        failing_listing_install();
        g_visited = 0;
        g_cli.jobs = 1;
        g_cli.interrupted = 0;
        g_cli.writing = 0;
        g_cli.written = 0;
        for (auto& c : g_cli.counts)
            c = 0;
        // Six files, each with its digest stored from Linux.
        std::string d = to_linux_path(dir);
        int st = -1;
        linux_sh("cd " + sh_quote(d) + " && for i in 0 1 2 3 4 5; do printf \"file $i\" > f$i.bin && "
                 "openssl dgst -provider legacy -provider default -whirlpool -binary f$i.bin > f$i.bin:z; done", &st);
        ASSERT_EQ(0, st);
    }
    void TearDown() override
    {
        failing_listing_remove();
        query_attributes_by_path = GetFileAttributesExW;
        digest_write_seams.before_time_restore = nullptr;
        close_file_hashing();
        g_cli.interrupted = 0;
        g_cli.writing = 0;
        g_cli.report_path = nullptr;
    }
    // kestrin-cli's state for `command` with `operands`.
    void cli_command(const wchar_t* command, std::vector<std::wstring> operands)
    {
        held = std::move(operands);
        pointers.clear();
        for (auto& o : held)
            pointers.push_back(o.data());
        g_cli.command = find_command(command);
        ASSERT_NE(nullptr, g_cli.command);
        g_cli.operands = pointers.data();
        g_cli.operand_count = (int)pointers.size();
    }
    // Runs `command` over `operands` in-process, from zero counts.
    void run(const wchar_t* command, std::vector<std::wstring> operands)
    {
        cli_command(command, std::move(operands));
        for (auto& c : g_cli.counts)
            c = 0;
        g_cli.command->run();
    }
    std::wstring dir;
    std::vector<std::wstring> held;
    std::vector<wchar_t*> pointers;
};

}  // namespace

// A listing that breaks off is a folder kestrin-cli reports skipped (exit 2).
TEST_F(CliFaultTest, ListingThatFailsHalfWayIsASkippedFolder)
{
    g_failing_listing.fail_at = 3;
    cli_command(L"list", {dir});
    EXPECT_TRUE(visit_targets(count_file));
    EXPECT_LT(g_visited, 6) << "the listing broke off";
    EXPECT_EQ(1u, g_cli.counts[StatusSkipped]);
    EXPECT_EQ(ExitIncomplete, run_exit_code());
}

// An interrupt that arrives after the last file still makes the run
// interrupted (exit 4), and such a manifest is not moved into place.
TEST_F(CliFaultTest, ExportInterruptedAfterItsLastFileLeavesNoManifest)
{
    std::wstring manifest = dir + L"\\MANIFEST.whirlpool";
    cli_command(L"export", {manifest, dir});
    ASSERT_TRUE(prepare_export());
    g_failing_listing.at_end = [] { g_cli.interrupted = 1; };
    run_export();
    EXPECT_EQ(6u, g_cli.written) << "every file was reached before the interrupt";
    EXPECT_EQ(ExitInterrupted, run_exit_code());
    EXPECT_FALSE(file_exists(manifest));
    EXPECT_FALSE(file_exists(manifest + L".kestrin-tmp"));
}

// A closing console ends the run at once: hashing is halted, the report is
// moved into place saying interrupted, and a manifest's temporary is removed.
// (Wine delivers no CTRL_CLOSE_EVENT to a console program; the handler is
// called here as the system would call it.)
TEST_F(CliFaultTest, ConsoleCloseEndsTheRunAndRemovesTemporaries)
{
    std::wstring report = dir + L"\\report.json";
    std::wstring manifest = dir + L"\\MANIFEST.whirlpool";
    cli_command(L"check", {dir});
    g_cli.report_path = report.c_str();
    g_cli.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(report_open(report.c_str()));
    add_finding(StatusAltered, (dir + L"\\f1.bin").c_str());
    static AtomicFile temp_manifest;
    ASSERT_TRUE(atomic_file_begin(&temp_manifest, manifest.c_str(), L".kestrin-tmp"));
    ASSERT_TRUE(file_exists(manifest + L".kestrin-tmp"));

    DWORD started = GetTickCount();
    on_console_event(CTRL_CLOSE_EVENT);
    EXPECT_LT(GetTickCount() - started, 2000u) << "at once";
    EXPECT_EQ(1, g_cli.interrupted.load()) << "hashing stops at its next read";
    EXPECT_FALSE(file_exists(manifest + L".kestrin-tmp"));
    EXPECT_FALSE(file_exists(manifest));
    int st = -1;
    std::string seen = linux_sh("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                                "print(d[\"interrupted\"], d[\"exit_code\"], [f[\"status\"] for f in d[\"findings\"]])' " +
                                    sh_quote(to_linux_path(report)) + " && ls " + sh_quote(to_linux_path(dir)),
                                &st);
    EXPECT_EQ(0, st) << seen;
    EXPECT_EQ(0u, seen.find("True 4 ['altered']\n")) << seen;
    EXPECT_EQ(std::string::npos, seen.find(".partial")) << seen;
    EXPECT_TRUE(report_close(ExitInterrupted)) << "the main thread finds it placed";
    CloseHandle(g_cli.finished);
    g_cli.finished = nullptr;
}

// A mismatch whose file cannot be asked for its size and time once closed is
// not known to be an edit: check and update call it unreadable, and update
// stores nothing over it.
TEST_F(CliFaultTest, AQueryThatFailsAfterAMismatchIsUnreadable)
{
    ASSERT_TRUE(open_file_hashing(TransformBaseline, 1));
    run(L"update", {dir});   // records beside the six digests Linux stored
    const std::string f1 = to_linux_path(dir + L"\\f1.bin");
    ASSERT_EQ(36, linux_file_size(f1 + ":z.rec"));
    linux_sh("printf more >> " + sh_quote(f1));
    const std::string before = linux_read_hex(f1 + ":z");

    query_attributes_by_path = failing_query;
    run(L"check", {dir});
    EXPECT_EQ(1u, g_cli.counts[StatusUnreadable]);
    EXPECT_EQ(0u, g_cli.counts[StatusEdited]);
    run(L"update", {dir});
    EXPECT_EQ(1u, g_cli.counts[StatusUnreadable]);
    EXPECT_EQ(0u, g_cli.counts[StatusUpdated]);
    EXPECT_EQ(ExitIncomplete, run_exit_code());
    EXPECT_EQ(before, linux_read_hex(f1 + ":z")) << "update stored a digest over a file it could not look at";
}

// A file saved by another program while its digest is written (here from
// Linux, whom no share mode holds off, at the moment before the time is put
// back; same size, new content) keeps the save's time, and the next check
// calls it edited, never corrupt.
TEST_F(CliFaultTest, ASaveWhileTheDigestIsWrittenIsEditedNeverCorrupt)
{
    ASSERT_TRUE(open_file_hashing(TransformBaseline, 1));
    const std::wstring f = dir + L"\\saved.bin";
    g_saved_file = to_linux_path(f);
    linux_sh("head -c 100000 /dev/urandom > " + sh_quote(g_saved_file) + " && touch -d 2004-05-06 " + sh_quote(g_saved_file));
    digest_write_seams.before_time_restore = save_from_linux;
    run(L"create", {f});
    digest_write_seams.before_time_restore = nullptr;
    EXPECT_EQ(g_saved_time, linux_mtime_ns(g_saved_file)) << "the save's time was put back to the old one";
    run(L"check", {f});
    EXPECT_EQ(1u, g_cli.counts[StatusEdited]);
    EXPECT_EQ(0u, g_cli.counts[StatusCorrupt]);
}
