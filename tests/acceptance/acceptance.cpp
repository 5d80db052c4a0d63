// A user's whole cycle on a large tree, through the real window, with every
// step checked from Linux through the NTFS mount: stream contents against
// OpenSSL, file data and last-write times against a SHA-256 snapshot.
// Also the scale benchmarks (throughput, file rates, memory): they print
// figures and pass or fail on nothing but the window's answers; CTest runs
// them apart, as benchmarks (scripts/bench.sh), not among the tests.
#include <gtest/gtest.h>
#include "scenario.h"
#include "oracle.h"
#include "test_env.h"
#include "engine/digest.h"
#include "res/resource.h"
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <set>

namespace {

// The tree the acceptance script generated (Linux path).
std::string tree_root() { return env_or("KESTRIN_ACCEPT_ROOT", ""); }
std::string work_dir() { return env_or("KESTRIN_ACCEPT_WORK", "/tmp"); }

double seconds_since(ULONGLONG t0) { return (GetTickCount64() - t0) / 1000.0; }

// Runs one command of the window to its end; the seconds it took.
double timed_job(const Kestrin& k, int button)
{
    double t = 0;
    EXPECT_TRUE(run_job(k, button, 1800000, &t)) << "job of button " << button << " did not end";
    return t;
}

void set_path_field(const Kestrin& k, const std::wstring& text)
{
    SendMessageTimeoutW(control(k, IDC_PATH), WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_NORMAL, 5000, nullptr);
}

size_t peak_working_set(const Kestrin& k)
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(k.pi.hProcess, &pmc, sizeof pmc)) return 0;
    return pmc.PeakWorkingSetSize;
}

long long linux_count(const std::string& cmd)
{
    int st = 0;
    std::string r = linux_sh(cmd, &st);
    return st == 0 ? atoll(r.c_str()) : -1;
}

std::set<std::string> relative(const std::vector<std::wstring>& items, const std::string& root)
{
    std::set<std::string> out;
    for (auto& w : items) {
        std::string p = to_linux_path(w);
        out.insert(p.compare(0, root.size() + 1, root + "/") == 0 ? p.substr(root.size() + 1) : p);
    }
    return out;
}

class Acceptance : public testing::Test {
protected:
    void SetUp() override
    {
        if (tree_root().empty()) GTEST_SKIP() << "no acceptance tree (run scripts/acceptance.sh)";
    }
};

TEST_F(Acceptance, WholeCycleOnLargeTree)
{
    const std::string root = tree_root();
    const std::wstring win_root = to_windows_path(root);
    const std::string before = work_dir() + "/before.json";
    int st = 0;
    printf("%s", tree_py("snapshot " + sh_quote(root) + " " + sh_quote(before), &st).c_str());
    ASSERT_EQ(0, st) << "snapshot of the tree failed";
    long long files = linux_count("find " + sh_quote(root) + " -type f ! -name '.kestrin*' | wc -l");
    long long bytes = linux_count("find " + sh_quote(root) + " -type f -printf '%s\\n' | awk '{s+=$1} END {print s}'");
    printf("tree: %lld files, %.1f MiB\n", files, bytes / 1048576.0);

    Kestrin k;
    ASSERT_TRUE(kestrin_start(k, L"\"" + win_root + L"\""));

    double t = timed_job(k, IDC_LIST);
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    EXPECT_EQ((size_t)files, list_items(k, IDC_WITHOUT_LIST).size()) << "List: every file without a digest";
    EXPECT_EQ(0u, list_items(k, IDC_WITHHASH_LIST).size());
    printf("List (no digests): %.1f s, %.0f files/s\n", t, files / t);

    t = timed_job(k, IDC_CREATE);
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE)) << "Create Hashes summary";
    EXPECT_EQ(0u, list_items(k, IDC_WITHOUT_LIST).size());
    EXPECT_EQ((size_t)files, list_items(k, IDC_WITHHASH_LIST).size());
    printf("Create Hashes: %.1f s, %.1f MB/s\n", t, bytes / t / 1e6);
    printf("%s", tree_py("streams " + sh_quote(root) + " present", &st).c_str());
    EXPECT_EQ(0, st) << "after Create every stream must hold OpenSSL's digest";

    set_path_field(k, L"\"" + win_root + L"\"");
    t = timed_job(k, IDC_START);
    EXPECT_EQ(L"All files checked successfully.", control_text(k, IDC_STATUS_LINE));
    printf("Check (all good): %.1f s, %.1f MB/s, %.0f files/s\n", t, bytes / t / 1e6, files / t);

    const std::string flipped = work_dir() + "/flipped.txt";
    printf("%s", tree_py("corrupt " + sh_quote(root) + " 7 " + sh_quote(flipped), &st).c_str());
    ASSERT_EQ(0, st);
    std::set<std::string> expected_altered;
    {
        std::string list = linux_sh("cat " + sh_quote(flipped));
        size_t pos = 0;
        while (pos < list.size()) {
            size_t nl = list.find('\n', pos);
            if (nl == std::string::npos) nl = list.size();
            if (nl > pos) expected_altered.insert(list.substr(pos, nl - pos));
            pos = nl + 1;
        }
    }
    std::string corrupted_snapshot = work_dir() + "/corrupted.json";
    tree_py("snapshot " + sh_quote(root) + " " + sh_quote(corrupted_snapshot), &st);

    set_path_field(k, L"\"" + win_root + L"\"");
    timed_job(k, IDC_START);
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    std::set<std::string> altered = relative(list_items(k, IDC_ALTERED_LIST), root);
    EXPECT_EQ(expected_altered, altered) << "Check must list exactly the files with a flipped bit";
    EXPECT_EQ(0u, list_items(k, IDC_WITHOUT_LIST).size());

    timed_job(k, IDC_REWRITE);
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE)) << "Rewrite Hashes summary";
    EXPECT_EQ(0u, list_items(k, IDC_ALTERED_LIST).size());
    printf("%s", tree_py("streams " + sh_quote(root) + " present", &st).c_str());
    EXPECT_EQ(0, st) << "after Rewrite every stream must hold OpenSSL's digest";

    set_path_field(k, L"\"" + win_root + L"\"");
    timed_job(k, IDC_START);
    EXPECT_EQ(L"All files checked successfully.", control_text(k, IDC_STATUS_LINE)) << "Check after Rewrite";
    printf("peak working set after the checks: %.1f MiB\n", peak_working_set(k) / 1048576.0);

    set_path_field(k, L"\"" + win_root + L"\"");
    t = timed_job(k, IDC_REMOVE);
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE)) << "Remove Hashes summary";
    EXPECT_EQ(0u, list_items(k, IDC_WITHHASH_LIST).size());
    printf("Remove Hashes: %.1f s, %.0f files/s\n", t, files / t);
    printf("%s", tree_py("streams " + sh_quote(root) + " absent", &st).c_str());
    EXPECT_EQ(0, st) << "after Remove no stream may be left";

    set_path_field(k, L"\"" + win_root + L"\"");
    timed_job(k, IDC_LIST);
    EXPECT_EQ((size_t)files, list_items(k, IDC_WITHOUT_LIST).size()) << "List after Remove";
    screenshot(k, "acceptance");

    press(k, IDC_EXIT);
    DWORD code = 1;
    EXPECT_TRUE(kestrin_wait_exit(k, 20000, &code));
    EXPECT_EQ(0u, code);
    kestrin_kill(k);

    // Kestrin wrote no file's data and kept every last-write time: compare with
    // the snapshot taken after our own corruption (which restored mtimes), and
    // the untouched files with the very first snapshot.
    printf("%s", tree_py("same " + sh_quote(root) + " " + sh_quote(corrupted_snapshot), &st).c_str());
    EXPECT_EQ(0, st) << "data or last-write time changed";
    printf("%s", tree_py("same " + sh_quote(root) + " " + sh_quote(before) + " --except " + sh_quote(flipped), &st).c_str());
    EXPECT_EQ(0, st) << "a file other than the corrupted ones changed since before the cycle";
}

// Check throughput on the large files against digest_file alone (same files,
// same Wine, same volume) and OpenSSL's native Whirlpool.
TEST_F(Acceptance, CheckThroughputOnLargeFiles)
{
    const std::string large = tree_root() + "/large files";
    const std::wstring win_large = to_windows_path(large);
    long long bytes = linux_count("find " + sh_quote(large) + " -type f -printf '%s\\n' | awk '{s+=$1} END {print s}'");
    ASSERT_GT(bytes, 0);

    // digest_file alone.
    build_digest_tables();
    alignas(16) static uint8_t digest[64];
    std::atomic<uint64_t> counter{0};
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ULONGLONG t0 = GetTickCount64();
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW((win_large + L"\\*").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    int nfiles = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring p = win_large + L"\\" + fd.cFileName;
        HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        LARGE_INTEGER size;
        GetFileSizeEx(h, &size);
        EXPECT_TRUE(digest_file(h, size.QuadPart, digest, gate, &counter));
        CloseHandle(h);
        ++nfiles;
    } while (FindNextFileW(f, &fd));
    FindClose(f);
    double engine = bytes / seconds_since(t0) / 1e6;

    t0 = GetTickCount64();
    int st = 0;
    linux_sh("cd " + sh_quote(large) + " && openssl dgst -provider legacy -provider default -whirlpool * > /dev/null", &st, 1800000);
    double openssl = bytes / seconds_since(t0) / 1e6;

    Kestrin k;
    ASSERT_TRUE(kestrin_start(k, L"\"" + win_large + L"\""));
    timed_job(k, IDC_LIST);  // Create works from the list that List fills
    timed_job(k, IDC_CREATE);
    set_path_field(k, L"\"" + win_large + L"\"");
    double t = timed_job(k, IDC_START);
    EXPECT_EQ(L"All files checked successfully.", control_text(k, IDC_STATUS_LINE));
    double check = bytes / t / 1e6;
    set_path_field(k, L"\"" + win_large + L"\"");
    timed_job(k, IDC_REMOVE);
    press(k, IDC_EXIT);
    kestrin_wait_exit(k, 20000, nullptr);
    kestrin_kill(k);

    printf("large files: %d files, %.1f MiB\n", nfiles, bytes / 1048576.0);
    printf("  digest_file alone : %7.1f MB/s\n", engine);
    printf("  Check (window)    : %7.1f MB/s  = %.2f x digest_file (target >= 0.85)\n", check, check / engine);
    printf("  OpenSSL native    : %7.1f MB/s; Check = %.2f x OpenSSL\n", openssl, check / openssl);
}

// Files per second for List and Check on the small-file tree against `find`,
// and the peak working set for Checks over 2,000 and 20,000 files.
TEST_F(Acceptance, SmallFileRatesAndMemory)
{
    const std::string small = env_or("KESTRIN_ACCEPT_SMALL", "");
    const std::string root = tree_root();
    if (small.empty()) GTEST_SKIP() << "no 2,000-file tree";
    struct Tree { std::string path; long long files; double list_rate, check_rate; size_t peak; };
    Tree trees[2] = {{small, 0, 0, 0, 0}, {root, 0, 0, 0, 0}};
    for (Tree& tr : trees) {
        tr.files = linux_count("find " + sh_quote(tr.path) + " -type f ! -name '.kestrin*' | wc -l");
        std::wstring w = L"\"" + to_windows_path(tr.path) + L"\"";
        Kestrin k;
        ASSERT_TRUE(kestrin_start(k, w));
        tr.list_rate = tr.files / timed_job(k, IDC_LIST);
        timed_job(k, IDC_CREATE);
        // A fresh process for the Check, so that its peak is the Check's alone.
        press(k, IDC_EXIT);
        kestrin_wait_exit(k, 20000, nullptr);
        kestrin_kill(k);
        ASSERT_TRUE(kestrin_start(k, w));
        tr.check_rate = tr.files / timed_job(k, IDC_START);
        EXPECT_EQ(L"All files checked successfully.", control_text(k, IDC_STATUS_LINE));
        tr.peak = peak_working_set(k);
        set_path_field(k, w);
        timed_job(k, IDC_REMOVE);
        press(k, IDC_EXIT);
        kestrin_wait_exit(k, 20000, nullptr);
        kestrin_kill(k);
    }
    ULONGLONG t0 = GetTickCount64();
    long long found = linux_count("find " + sh_quote(root) + " -type f | wc -l");
    double find_rate = found / seconds_since(t0);
    for (Tree& tr : trees)
        printf("%lld files: List %.0f files/s, Check %.0f files/s, peak working set of the Check %.1f MiB\n", tr.files,
               tr.list_rate, tr.check_rate, tr.peak / 1048576.0);
    printf("find over %lld files: %.0f files/s\n", found, find_rate);
    if (trees[0].peak && trees[1].peak)
        printf("peak growth from 2,000 to 20,000 files: %.1f MiB\n",
               ((double)trees[1].peak - (double)trees[0].peak) / 1048576.0);
}

}  // namespace
