// kestrin-cli's figures on the acceptance tree (benchmarks: they print, they
// do not pass or fail on a speed): check on 1 GiB of cached large files
// against digest_file alone and OpenSSL; files per second of check over the
// 2,000- and 20,000-file trees against the window's Check of the same tree
// in the same run; the peak working set of those checks.
#include "cli_run.h"
#include "scenario.h"
#include "oracle.h"
#include "test_env.h"
#include "engine/digest.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

std::string tree_root() { return env_or("KESTRIN_ACCEPT_ROOT", ""); }

double now_seconds()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

long long linux_count(const std::string& cmd)
{
    int st = 0;
    std::string r = linux_sh(cmd, &st, 1800000);
    return st == 0 ? atoll(r.c_str()) : -1;
}

// digest_file over every file of `folder` (not below it) with `transform`;
// MB/s.
double digest_file_rate(const std::wstring& folder, BlockTransformFn transform, long long bytes)
{
    build_digest_tables();
    BlockTransform = transform;
    alignas(16) static uint8_t digest[64];
    std::atomic<uint64_t> counter{0};
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    double t0 = now_seconds();
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring p = folder + L"\\" + fd.cFileName;
        HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        LARGE_INTEGER size;
        GetFileSizeEx(h, &size);
        EXPECT_TRUE(digest_file(h, size.QuadPart, digest, gate, &counter));
        CloseHandle(h);
    } while (FindNextFileW(f, &fd));
    FindClose(f);
    double t = now_seconds() - t0;
    CloseHandle(gate);
    EXPECT_EQ((long long)counter.load(), bytes);
    return bytes / t / 1e6;
}

class CliScale : public testing::Test {
protected:
    void SetUp() override
    {
        if (tree_root().empty()) GTEST_SKIP() << "no acceptance tree";
    }
};

TEST_F(CliScale, CheckThroughputOnLargeFiles)
{
    const std::string large = tree_root() + "/large files";
    const std::wstring win_large = to_windows_path(large);
    long long bytes = linux_count("find " + sh_quote(large) + " -type f -printf '%s\\n' | awk '{s+=$1} END {print s}'");
    ASSERT_GT(bytes, 0);
    CliRun r = run_cli({L"create", L"--quiet", win_large}, 1800000);
    ASSERT_EQ(r.code, 0u) << narrow(r.out) << narrow(r.err);

    // The files are read once before anything is timed, so that every
    // figure below is of cached data.
    digest_file_rate(win_large, transform_baseline, bytes);
    double chosen_by_flag = digest_file_rate(win_large, cpu_has_sse41() ? transform_sse41 : transform_baseline, bytes);
    double baseline = digest_file_rate(win_large, transform_baseline, bytes);
    std::wstring report = build_scratch(L"scale-check-large.json");
    r = run_cli({L"check", L"--quiet", win_large, L"--report", report}, 1800000);
    EXPECT_EQ(r.code, 0u) << narrow(r.out);
    double check = bytes / r.seconds / 1e6;
    std::string transform = linux_sh("python3 -c \"import json,sys; print(json.load(open(sys.argv[1]))['transform'])\" " +
                                     sh_quote(to_linux_path(report)));
    double t0 = now_seconds();
    int st = 0;
    linux_sh("cd " + sh_quote(large) + " && openssl dgst -provider legacy -provider default -whirlpool * > /dev/null", &st, 1800000);
    double openssl = bytes / (now_seconds() - t0) / 1e6;
    run_cli({L"remove", L"--yes", L"--quiet", win_large}, 1800000);

    printf("large files: %.1f MiB, cached\n", bytes / 1048576.0);
    printf("  digest_file alone, transform by the SSE4.1 flag (%s): %7.1f MB/s\n",
           cpu_has_sse41() ? "sse41" : "baseline", chosen_by_flag);
    printf("  digest_file alone, baseline transform            : %7.1f MB/s\n", baseline);
    printf("  kestrin-cli check (whole process; chose %s)  : %7.1f MB/s = %.2f x digest_file by the flag, "
           "%.2f x digest_file baseline (target >= 0.95)\n",
           transform.substr(0, transform.find('\n')).c_str(), check, check / chosen_by_flag, check / baseline);
    printf("  OpenSSL native                                    : %7.1f MB/s; check = %.2f x OpenSSL\n", openssl,
           check / openssl);
}

// The window's Check of `tree` in seconds (digests already stored), through
// its real window.
double window_check_seconds(const std::string& tree)
{
    Kestrin k;
    std::wstring w = L"\"" + to_windows_path(tree) + L"\"";
    if (!kestrin_start(k, w)) {
        ADD_FAILURE() << "Kestrin.exe did not start";
        return 0;
    }
    double t = 0;
    EXPECT_TRUE(run_job(k, IDC_START, 1800000, &t));
    EXPECT_EQ(L"All files checked successfully.", control_text(k, IDC_STATUS_LINE));
    press(k, IDC_EXIT);
    kestrin_wait_exit(k, 20000, nullptr);
    kestrin_kill(k);
    return t;
}

TEST_F(CliScale, FilesPerSecondAndMemory)
{
    const std::string small = env_or("KESTRIN_ACCEPT_SMALL", "");
    if (small.empty()) GTEST_SKIP() << "no 2,000-file tree";
    struct Tree { std::string path; long long files; double cli_rate, window_rate; size_t peak; };
    Tree trees[2] = {{small, 0, 0, 0, 0}, {tree_root(), 0, 0, 0, 0}};
    for (Tree& tr : trees) {
        tr.files = linux_count("find " + sh_quote(tr.path) + " -type f ! -name '.kestrin*' | wc -l");
        std::wstring w = to_windows_path(tr.path);
        CliRun r = run_cli({L"create", L"--quiet", w}, 3600000);
        ASSERT_EQ(r.code, 0u) << narrow(r.err);
        r = run_cli({L"check", w}, 3600000);
        EXPECT_EQ(r.code, 0u) << narrow(r.out);
        tr.cli_rate = tr.files / r.seconds;
        tr.peak = r.peak_working_set;
        tr.window_rate = tr.files / window_check_seconds(tr.path);
        r = run_cli({L"remove", L"--yes", L"--quiet", w}, 3600000);
        EXPECT_EQ(r.code, 0u);
    }
    for (Tree& tr : trees)
        printf("%lld files: kestrin-cli check %.0f files/s, the window's Check %.0f files/s = %.2f x (target >= 2); "
               "peak working set of kestrin-cli check %.1f MiB\n",
               tr.files, tr.cli_rate, tr.window_rate, tr.cli_rate / tr.window_rate, tr.peak / 1048576.0);
    printf("peak growth from %lld to %lld files: %.2f MiB\n", trees[0].files, trees[1].files,
           ((double)trees[1].peak - (double)trees[0].peak) / 1048576.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
