// The worker pool gives out every file's findings exactly once and in the
// order the files were handed in, whatever the number of workers and however
// long each file takes; and the default number of workers follows the drives'
// seek-penalty answers.
#include "cli/default_jobs.h"
#include "cli/file_pool.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <atomic>
#include <string>
#include <vector>

static std::vector<std::wstring> g_given;
static std::vector<int> g_given_status;
static std::atomic<int> g_worked[3000];
static unsigned g_seed;

static void slow_job(FileWork* work, const wchar_t* path)
{
    int n = _wtoi(path + 1);
    g_worked[n].fetch_add(1);
    // A manifest's digest reaches the worker with its own file only.
    bool carried = work->expected && work->expected[0] == (uint8_t)n && work->expected[63] == (uint8_t)(n >> 8);
    if (carried != (n % 3 == 0))
        file_finding(work, StatusMissing);
    // Files take between 0 and 3 ms, drawn from the seed and the file.
    unsigned h = (g_seed ^ (unsigned)n * 2654435761u) >> 7;
    if (h % 3 == 0)
        Sleep(h % 4);
    // Every seventh file yields two findings, every fifth one.
    if (n % 7 == 0) {
        file_finding(work, StatusAltered);
        file_finding(work, StatusNotWritten);
    } else if (n % 5 == 0) {
        file_finding(work, StatusUnreadable);
    }
}

static void record(const wchar_t* path, const FileOutcome* outcome)
{
    for (int i = 0; i < outcome->finding_count; ++i) {
        g_given.push_back(path);
        g_given_status.push_back(outcome->findings[i]);
    }
}

// What giving out must produce: the walk's order, a file's findings in the
// order it made them.
static void expected(int files, std::vector<std::wstring>* paths, std::vector<int>* statuses)
{
    for (int n = 0; n < files; ++n) {
        std::wstring p = L"f" + std::to_wstring(n);
        if (n % 100 == 50) {
            paths->push_back(L"dir" + std::to_wstring(n));
            statuses->push_back(StatusSkipped);
        }
        if (n % 7 == 0) {
            paths->push_back(p), statuses->push_back(StatusAltered);
            paths->push_back(p), statuses->push_back(StatusNotWritten);
        } else if (n % 5 == 0) {
            paths->push_back(p), statuses->push_back(StatusUnreadable);
        }
    }
}

TEST(FilePool, GivesOutEveryFindingOnceInWalkOrderForAnyNumberOfWorkers)
{
    g_seed = GetTickCount();
    printf("seed %u\n", g_seed);
    const int files = 3000;
    std::vector<std::wstring> want_paths;
    std::vector<int> want_status;
    expected(files, &want_paths, &want_status);
    for (int jobs : {1, 2, 4, 8, 64}) {
        g_given.clear();
        g_given_status.clear();
        for (auto& w : g_worked) w = 0;
        ASSERT_TRUE(pool_start(jobs, slow_job, record)) << jobs;
        EXPECT_EQ(jobs, pool_jobs());
        for (int n = 0; n < files; ++n) {
            if (n % 100 == 50)
                pool_submit_finding((L"dir" + std::to_wstring(n)).c_str(), StatusSkipped);
            uint8_t digest[64] = {(uint8_t)n};
            digest[63] = (uint8_t)(n >> 8);
            pool_submit((L"f" + std::to_wstring(n)).c_str(), n % 3 == 0 ? digest : nullptr);
        }
        pool_finish();
        EXPECT_EQ(want_paths, g_given) << "jobs " << jobs << ", seed " << g_seed;
        EXPECT_EQ(want_status, g_given_status) << "jobs " << jobs;
        for (int n = 0; n < files; ++n)
            ASSERT_EQ(1, g_worked[n].load()) << "file " << n << " at jobs " << jobs;
    }
    EXPECT_FALSE(pool_start(0, slow_job, record));
    EXPECT_FALSE(pool_start(kMaxJobs + 1, slow_job, record));
}

TEST(DefaultJobs, ParallelOnlyWhereEveryDriveSaysItDoesNotSeek)
{
    SeekAnswer ssd[] = {NoSeekPenalty, NoSeekPenalty};
    SeekAnswer mixed[] = {NoSeekPenalty, SeekPenalty};
    SeekAnswer unknown[] = {NoSeekPenalty, SeekUnknown};
    EXPECT_EQ(8, default_jobs(ssd, 2, 8, kMaxJobs));
    EXPECT_EQ(64, default_jobs(ssd, 2, 128, kMaxJobs));
    EXPECT_EQ(1, default_jobs(ssd, 2, 1, kMaxJobs));
    EXPECT_EQ(1, default_jobs(mixed, 2, 8, kMaxJobs));
    EXPECT_EQ(1, default_jobs(unknown, 2, 8, kMaxJobs));
    EXPECT_EQ(1, default_jobs(ssd, 0, 8, kMaxJobs));
}
