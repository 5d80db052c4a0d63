// WriteJob end to end: the streams it writes are read back by Linux and
// compared with OpenSSL's Whirlpool; last-write times are read by Linux too.
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/jobs.h"
#include "jobs/targets.h"
#include <gtest/gtest.h>

using Paths = std::vector<std::wstring>;

class WriteJobTest : public JobsTest {
protected:
    // Sets an old last-write time from Linux, so that any change shows.
    void age(const std::wstring& file)
    {
        linux_sh("touch -m -d '2001-02-03 04:05:06.123456700' " + sh_quote(to_linux_path(file)));
    }
    std::vector<long long> mtimes(const Paths& files)
    {
        std::vector<long long> out;
        for (const auto& f : files)
            out.push_back(linux_mtime_ns(to_linux_path(f)));
        return out;
    }
    void expect_openssl_stream(const std::wstring& file)
    {
        bool exists = false;
        std::string stored = linux_stream_hex(file, &exists);
        EXPECT_TRUE(exists) << narrow(file) << ":z";
        EXPECT_EQ(128u, stored.size()) << narrow(file) << ":z must hold exactly 64 bytes";
        EXPECT_EQ(openssl_whirlpool_hex(to_linux_path(file)), stored) << narrow(file);
    }
    void expect_ended()
    {
        EXPECT_EQ(Idle, g_run.mode.load());
        EXPECT_EQ(0, g_run.write_in_progress.load());
        EXPECT_TRUE(IsWindowEnabled(g_run.start_button));
        EXPECT_EQ(L"Start", window_text(g_run.start_button));
        EXPECT_EQ(1, g_final_ticks) << "one last synchronous tick";
        EXPECT_FALSE(progress_timer_was_running()) << "the progress timer must be stopped at the end";
    }
    void expect_clean_check()
    {
        harness_reset();
        lstrcpyW(g_run.PathBuffer, (L"\"" + dir + L"\"").c_str());
        ASSERT_EQ(0, parse_targets());
        ASSERT_TRUE(run_job(Check, ScanJob, nullptr));
        EXPECT_EQ(L"All files checked successfully.", status_text()) << "the Check after writing";
        EXPECT_EQ(Paths{}, items(g_run.altered_list));
        EXPECT_EQ(Paths{}, items(g_run.without_list));
    }
};

TEST_F(WriteJobTest, CreateStoresDigestsAndKeepsLastWriteTimes)
{
    std::string mixed(300000, '\0');
    for (size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = (char)(i * 131 + (i >> 9));
    Paths files = {make(L"empty.bin", ""), make(L"one.txt", "1"), make(L"mixed.bin", mixed),
                   make(L"block.bin", std::string(65536, 'k'))};
    for (const auto& f : files)
        age(f);
    std::vector<long long> before_times = mtimes(files);
    std::string before_data = linux_data_snapshot(dir);
    add_items(g_run.without_list, files);
    add_items(g_run.altered_list, {L"kept by a Create"});

    ASSERT_TRUE(run_job(Create, WriteJob, &g_run.without_list));
    expect_ended();
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(Paths{}, items(g_run.without_list));
    EXPECT_EQ(files, items(g_run.withhash_list)) << "plain paths, no \":z\"";
    EXPECT_EQ((Paths{L"kept by a Create"}), items(g_run.altered_list));
    EXPECT_FALSE(IsWindowEnabled(g_run.create_button));
    long long total = 0;
    for (const auto& f : files) {
        expect_openssl_stream(f);
        total += linux_file_size(to_linux_path(f));
    }
    EXPECT_EQ((uint64_t)total, g_run.total_bytes.load());
    EXPECT_EQ((uint64_t)total, g_run.done_bytes.load());
    EXPECT_EQ(before_times, mtimes(files)) << "last-write times must be unchanged";
    EXPECT_EQ(before_data, linux_data_snapshot(dir)) << "data must be unchanged";

    expect_clean_check();
}

TEST_F(WriteJobTest, RewriteReplacesStaleDigests)
{
    Paths files = {make(L"stale.txt", "rewritten\n"), make(L"longer.txt", "old stream was longer\n")};
    linux_store_junk(files[0], 64);
    linux_store_junk(files[1], 100);
    for (const auto& f : files)
        age(f);
    std::vector<long long> before_times = mtimes(files);
    add_items(g_run.altered_list, files);
    add_items(g_run.withhash_list, {L"kept by a Rewrite"});

    ASSERT_TRUE(run_job(Rewrite, WriteJob, &g_run.altered_list));
    expect_ended();
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(Paths{}, items(g_run.altered_list));
    EXPECT_EQ((Paths{L"kept by a Rewrite"}), items(g_run.withhash_list)) << "a Rewrite adds to no list";
    EXPECT_EQ(Paths{}, items(g_run.without_list));
    EXPECT_FALSE(IsWindowEnabled(g_run.rewrite_button));
    for (const auto& f : files)
        expect_openssl_stream(f);
    EXPECT_EQ(before_times, mtimes(files));

    expect_clean_check();
}

TEST_F(WriteJobTest, FailedItemsStayAndAreCounted)
{
    // Longer than the long form of a stream path allows: never worked on.
    std::wstring long_item = join(dir, std::wstring(32767 - dir.size(), L'n'));
    std::wstring locked = make(L"locked.txt", "locked against reading\n");
    std::wstring shared = make(L"shared.txt", "its stream cannot be opened for writing\n");
    std::wstring good = make(L"good.txt", "good\n");
    Paths files = {long_item, locked, shared, good};
    for (const auto& f : {locked, shared, good})
        linux_store_junk(f, 100);
    std::string junk = linux_stream_hex(good);
    add_items(g_run.altered_list, files);

    // Held without read sharing: cannot be opened for reading. Held by a
    // reader without write sharing: readable, but Wine keeps one sharing
    // lock per file for all its streams on this volume, so the stream
    // cannot be opened for writing.
    HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE reader = CreateFileW(shared.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    bool ran = run_job(Rewrite, WriteJob, &g_run.altered_list);
    CloseHandle(lock);
    CloseHandle(reader);
    ASSERT_TRUE(ran);

    expect_ended();
    EXPECT_EQ(L"3 hashes could not be written.", status_text());
    EXPECT_EQ((Paths{long_item, locked, shared}), items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.withhash_list));
    EXPECT_TRUE(IsWindowEnabled(g_run.rewrite_button));
    EXPECT_EQ(3, g_run.altered_count);
    uint64_t sized = 0, read = 0;
    for (const auto& f : {locked, shared, good})
        sized += linux_file_size(to_linux_path(f));
    for (const auto& f : {shared, good})
        read += linux_file_size(to_linux_path(f));
    EXPECT_EQ(sized, g_run.total_bytes.load()) << "the long item adds nothing to the total";
    EXPECT_EQ(read, g_run.done_bytes.load()) << "shared.txt is hashed, then its stream cannot be opened";
    for (const auto& f : {locked, shared})
        EXPECT_EQ(junk, linux_stream_hex(f)) << narrow(f) << ":z must be left as it was";
    expect_openssl_stream(good);

    // Running again retries what is left; only the long item fails now.
    harness_reset();
    add_items(g_run.altered_list, {long_item, locked, shared});
    ASSERT_TRUE(run_job(Rewrite, WriteJob, &g_run.altered_list));
    EXPECT_EQ(L"1 hash could not be written.", status_text());
    EXPECT_EQ((Paths{long_item}), items(g_run.altered_list));
    EXPECT_EQ(Paths{}, items(g_run.withhash_list));
    expect_openssl_stream(locked);
    expect_openssl_stream(shared);
}

// Once Exit has claimed write_in_progress, the job, which runs on until the
// process ends, must not begin another stream: one cut off by the end of the
// process would be half-written and would have changed the file's time.
TEST_F(WriteJobTest, NoStreamIsBegunOnceExitHasClosedWriting)
{
    Paths files = {make(L"a.txt", "alpha"), make(L"b.txt", "beta")};
    for (const auto& f : files)
        age(f);
    std::vector<long long> before_times = mtimes(files);
    add_items(g_run.without_list, files);
    g_run.write_in_progress = kWritesClosed;

    ASSERT_TRUE(run_job(Create, WriteJob, &g_run.without_list));
    EXPECT_EQ(kWritesClosed, g_run.write_in_progress.load()) << "writing stays closed";
    EXPECT_EQ(L"2 hashes could not be written.", status_text());
    EXPECT_EQ(files, items(g_run.without_list));
    for (const auto& f : files) {
        bool exists = true;
        linux_stream_hex(f, &exists);
        EXPECT_FALSE(exists) << narrow(f) << ":z was begun after Exit";
    }
    EXPECT_EQ(before_times, mtimes(files));
    g_run.write_in_progress = 0;
}

// The progress timer is started for the main pass and stopped at its end:
// ticks arrive while a large file is hashed (held at the gate), none after.
TEST_F(WriteJobTest, ProgressTimerTicksThroughTheMainPassOnly)
{
    std::wstring big = join(dir, L"big.bin");
    linux_sh("head -c 67108864 /dev/urandom > " + sh_quote(to_linux_path(big)));
    add_items(g_run.without_list, {big});

    g_run.mode = Create;
    ASSERT_TRUE(start_job(WriteJob, &g_run.without_list));
    DWORD start = GetTickCount();
    while (g_run.done_bytes.load() == 0 && GetTickCount() - start < 60000)
        pump_for(1);
    ResetEvent(g_run.pause_gate);
    ASSERT_GT(g_run.done_bytes.load(), 0u) << "the Create never started reading";
    EXPECT_GE(ticks_within(2200), 1) << "no progress tick in 2.2 s of the main pass";
    EXPECT_EQ(Create, g_run.mode.load()) << "the job ended while held at the gate";

    SetEvent(g_run.pause_gate);
    start = GetTickCount();
    while (g_run.mode.load() != Idle && GetTickCount() - start < 120000)
        pump_for(5);
    pump_for(20);
    EXPECT_EQ(0, ticks_within(1500)) << "progress ticks after the job ended";
    expect_ended();
    EXPECT_EQ(L"Ready.", status_text());
    expect_openssl_stream(big);
}
