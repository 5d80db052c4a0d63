// ScanJob end to end: started with start_job as the window starts it, on a
// worker thread whose window messages this thread handles.
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/jobs.h"
#include "jobs/targets.h"
#include <gtest/gtest.h>

using Paths = std::vector<std::wstring>;

class ScanJobTest : public JobsTest {
protected:
    void SetUp() override
    {
        JobsTest::SetUp();
        if (HasFatalFailure())
            return;
        CreateDirectoryW(join(dir, L"sub").c_str(), nullptr);
        files = {join(dir, L"a.txt"), join(dir, L"sub\\b.bin"), join(dir, L"z.txt")};
        ASSERT_TRUE(write_file(files[0], "alpha\n"));
        ASSERT_TRUE(write_file(files[1], std::string(200000, 'b')));
        ASSERT_TRUE(write_file(files[2], ""));
    }
    bool scan(RunMode mode)
    {
        lstrcpyW(g_run.PathBuffer, (L"\"" + dir + L"\"").c_str());
        if (parse_targets() != 0)
            return false;
        return run_job(mode, ScanJob, nullptr);
    }
    uint64_t linux_total(const Paths& paths)
    {
        long long sum = 0;
        for (const auto& p : paths)
            sum += linux_file_size(to_linux_path(p));
        return (uint64_t)sum;
    }
    // What every finished job leaves behind.
    void expect_ended(const char* job)
    {
        EXPECT_EQ(Idle, g_run.mode.load()) << job;
        EXPECT_TRUE(IsWindowEnabled(g_run.start_button)) << job;
        EXPECT_EQ(L"Start", window_text(g_run.start_button)) << job;
        EXPECT_TRUE(IsWindowEnabled(g_run.list_button)) << job;
        EXPECT_TRUE(IsWindowEnabled(g_run.remove_button)) << job;
        EXPECT_EQ(1, g_final_ticks) << job << ": one last synchronous tick";
        EXPECT_FALSE(progress_timer_was_running()) << job << ": the progress timer must be stopped at the end";
        EXPECT_EQ(nullptr, g_run.args) << job << ": targets released";
        for (int part = 0; part < 3; ++part)
            EXPECT_EQ(L"", status_bar_text(part)) << job << ": status bar part " << part;
    }
    Paths files;
};

TEST_F(ScanJobTest, CheckOfMatchingFilesSucceeds)
{
    for (const auto& f : files)
        linux_store_digest(f);
    add_items(g_run.withhash_list, {L"kept by a Check"});
    add_items(g_run.altered_list, {L"stale"});

    ASSERT_TRUE(scan(Check));
    expect_ended("Check");
    EXPECT_EQ(L"All files checked successfully.", status_text());
    EXPECT_EQ(Paths{}, items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.without_list));
    EXPECT_EQ((Paths{L"kept by a Check"}), items(g_run.withhash_list));
    EXPECT_EQ(linux_total(files), g_run.total_bytes.load());
    EXPECT_EQ(linux_total(files), g_run.done_bytes.load());
    EXPECT_FALSE(IsWindowEnabled(g_run.rewrite_button));
    EXPECT_FALSE(IsWindowEnabled(g_run.create_button));
}

TEST_F(ScanJobTest, CheckListsOnlyTheChangedFile)
{
    for (const auto& f : files)
        linux_store_digest(f);
    ASSERT_TRUE(write_file(files[1], std::string(200000, 'B')));

    ASSERT_TRUE(scan(Check));
    expect_ended("Check");
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ((Paths{files[1]}), items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.without_list));
    EXPECT_EQ(1, g_run.altered_count);
    EXPECT_TRUE(IsWindowEnabled(g_run.rewrite_button));
    EXPECT_TRUE(IsWindowEnabled(g_run.show_altered_button));
}

// A folder that cannot be enumerated leaves its files unchecked: the Check
// must not end with "all good", even when every file it reached matched.
TEST_F(ScanJobTest, CheckWithAFolderThatCannotBeEnumeratedIsNotAllGood)
{
    for (const auto& f : files)
        linux_store_digest(f);
    std::string unreachable = linux_make_unreachable_folder(to_linux_path(dir));
    ASSERT_NE("", unreachable);
    ASSERT_TRUE(scan(Check));
    expect_ended("Check");
    EXPECT_EQ(L"Ready.", status_text()) << "one folder was passed over";
    EXPECT_EQ(Paths{}, items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.without_list));

    // The same tree without the unreadable folder is all good again.
    linux_sh("rm -rf " + sh_quote(unreachable));
    harness_reset();
    ASSERT_TRUE(scan(Check));
    EXPECT_EQ(L"All files checked successfully.", status_text());
}

TEST_F(ScanJobTest, CheckWithoutDigestsOffersCreate)
{
    ASSERT_TRUE(scan(Check));
    expect_ended("Check");
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(files, items(g_run.without_list));
    EXPECT_EQ(3, g_run.without_count);
    EXPECT_TRUE(IsWindowEnabled(g_run.create_button));
    EXPECT_EQ(0u, g_run.total_bytes.load());
    EXPECT_EQ(0u, g_run.done_bytes.load());
}

TEST_F(ScanJobTest, ListSortsByPresenceAndReadsNothing)
{
    linux_store_digest(files[1]);
    add_items(g_run.altered_list, {L"kept by a List"});
    add_items(g_run.withhash_list, {L"stale"});
    g_run.total_bytes = 777;

    ASSERT_TRUE(scan(List));
    expect_ended("List");
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ((Paths{L"kept by a List"}), items(g_run.altered_list));
    EXPECT_EQ((Paths{files[1]}), items(g_run.withhash_list));
    EXPECT_EQ((Paths{files[0], files[2]}), items(g_run.without_list));
    EXPECT_EQ(0u, g_run.done_bytes.load());
    EXPECT_EQ(777u, g_run.total_bytes.load()) << "a List has no size pass";
}

// A List whose files all carry a digest, with nothing under "Altered Files:",
// still ends with "Ready.": only a Check can find every file good.
TEST_F(ScanJobTest, ListOfFilesThatAllCarryADigestIsReady)
{
    for (const auto& f : files)
        linux_store_digest(f);

    ASSERT_TRUE(scan(List));
    expect_ended("List");
    EXPECT_EQ(Paths{}, items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.without_list));
    EXPECT_EQ(files, items(g_run.withhash_list));
    EXPECT_EQ(L"Ready.", status_text()) << "a List never reports all files checked";

    // The same files checked are all good: the List's summary owes nothing to them.
    harness_reset();
    ASSERT_TRUE(scan(Check));
    EXPECT_EQ(L"All files checked successfully.", status_text());
}

TEST_F(ScanJobTest, RemoveSummaryCountsFailedDeletions)
{
    for (const auto& f : files)
        linux_store_digest(f);
    std::string before = linux_data_snapshot(dir);

    // Two streams held open without delete sharing cannot be deleted.
    HANDLE held[2];
    for (int i = 0; i < 2; ++i)
        held[i] = CreateFileW((files[i] + L":z").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(scan(Remove));
    expect_ended("Remove");
    EXPECT_EQ(L"2 hashes could not be deleted.", status_text());
    EXPECT_EQ((Paths{files[0], files[1]}), items(g_run.withhash_list));
    CloseHandle(held[0]);

    harness_reset();
    ASSERT_TRUE(scan(Remove));
    EXPECT_EQ(L"1 hash could not be deleted.", status_text());
    EXPECT_EQ((Paths{files[1]}), items(g_run.withhash_list));
    CloseHandle(held[1]);

    harness_reset();
    add_items(g_run.altered_list, {L"kept by a Remove"});
    ASSERT_TRUE(scan(Remove));
    expect_ended("Remove");
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(Paths{}, items(g_run.withhash_list));
    EXPECT_EQ(files, items(g_run.without_list));
    EXPECT_EQ((Paths{L"kept by a Remove"}), items(g_run.altered_list));
    EXPECT_EQ(0u, g_run.done_bytes.load());
    for (const auto& f : files) {
        bool exists = true;
        linux_stream_hex(f, &exists);
        EXPECT_FALSE(exists) << narrow(f) << ":z";
    }
    EXPECT_EQ(before, linux_data_snapshot(dir));
}

TEST_F(ScanJobTest, PauseHoldsTheNextReadUntilResume)
{
    std::wstring big = join(dir, L"big.bin");
    linux_sh("head -c 67108864 /dev/urandom > " + sh_quote(to_linux_path(big)));
    linux_store_digest(big);
    uint64_t size = (uint64_t)linux_file_size(to_linux_path(big));
    ASSERT_EQ(67108864u, size);

    lstrcpyW(g_run.PathBuffer, (L"\"" + big + L"\"").c_str());
    ASSERT_EQ(0, parse_targets());
    g_run.mode = Check;
    ASSERT_TRUE(start_job(ScanJob, nullptr));
    DWORD start = GetTickCount();
    while (g_run.done_bytes.load() == 0 && GetTickCount() - start < 60000)
        pump_for(1);
    ResetEvent(g_run.pause_gate);
    uint64_t at_pause = g_run.done_bytes.load();
    ASSERT_GT(at_pause, 0u) << "the Check never started reading";

    pump_for(300);
    uint64_t paused = g_run.done_bytes.load();
    // The progress timer runs through the main pass, held at the gate or not
    // (only the window's Pause stops it).
    EXPECT_GE(ticks_within(2200), 1) << "no progress tick in 2.2 s of the main pass";
    EXPECT_EQ(paused, g_run.done_bytes.load()) << "reading went on while the gate was reset";
    EXPECT_LE(paused - at_pause, 65536u) << "at most the read already under way may finish";
    EXPECT_LT(paused, size);
    EXPECT_EQ(Check, g_run.mode.load());
    EXPECT_EQ(L"Pause", window_text(g_run.start_button));

    SetEvent(g_run.pause_gate);
    start = GetTickCount();
    while (g_run.mode.load() != Idle && GetTickCount() - start < 120000)
        pump_for(5);
    pump_for(20);
    EXPECT_EQ(0, ticks_within(1500)) << "progress ticks after the job ended";
    expect_ended("Check");
    EXPECT_EQ(L"All files checked successfully.", status_text());
    EXPECT_EQ(size, g_run.done_bytes.load());
}
