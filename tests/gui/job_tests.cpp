// The jobs end to end through the real window, on the NTFS volume: Check,
// Create Hashes, Rewrite Hashes, List Files and Remove Hashes pressed as a user
// presses them, with every outcome checked in the window and, independently,
// from Linux through the mount (streams, OpenSSL's Whirlpool, last-write
// times, the files' own data).
#include <gtest/gtest.h>
#include <algorithm>
#include <wctype.h>
#include "driver.h"
#include "oracle.h"
#include "test_env.h"
#include "volume.h"
#include "res/resource.h"

namespace {

std::string show(const std::vector<std::wstring>& v)
{
    std::string s = "[";
    for (auto& x : v) s += "\n  " + narrow(x);
    return s + "]";
}

class Jobs : public ::testing::Test {
protected:
    Kestrin k;
    void TearDown() override
    {
        if (HasFailure()) {
            fprintf(stderr, "%s\n", kestrin_end_note(k).c_str());
            screenshot(k, (std::string("jobs_failed_") +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name()).c_str());
        }
        kestrin_kill(k);
    }

    // Presses a command button and waits for its job to end; the summary.
    std::wstring run(int button, DWORD timeout_ms = 60000) { return run_command(k, button, timeout_ms); }

    void expect_idle_after_job(const char* what)
    {
        EXPECT_TRUE(control_enabled(k, IDC_START)) << what << ": Start enabled after the job";
        EXPECT_EQ(L"Start", control_text(k, IDC_START)) << what;
        EXPECT_TRUE(control_enabled(k, IDC_LIST)) << what << ": List Files";
        EXPECT_TRUE(control_enabled(k, IDC_REMOVE)) << what << ": Remove Hashes";
        bool altered = !list_items(k, IDC_ALTERED_LIST).empty();
        bool without = !list_items(k, IDC_WITHOUT_LIST).empty();
        EXPECT_EQ(altered, control_enabled(k, IDC_REWRITE)) << what << ": Rewrite Hashes follows \"Altered Files:\"";
        EXPECT_EQ(altered, control_enabled(k, IDC_SHOW_ALTERED)) << what << ": Show Altered Files";
        EXPECT_EQ(without, control_enabled(k, IDC_CREATE)) << what << ": Create Hashes follows \"Files without Hash:\"";
        // The job moved the keyboard focus to the path field as it started.
        GUITHREADINFO gi = {};
        gi.cbSize = sizeof gi;
        ASSERT_TRUE(GetGUIThreadInfo(k.pi.dwThreadId, &gi)) << "GetGUIThreadInfo of Kestrin's window thread";
        EXPECT_EQ(control(k, IDC_PATH), gi.hwndFocus) << what << ": keyboard focus after the job (path field "
                                                      << control(k, IDC_PATH) << ")";
    }

    // The status bar after a job: empty when nothing was hashed, else the
    // final tick over the whole total.
    void expect_progress(bool hashed, const char* what)
    {
        if (!hashed) {
            for (int part = 0; part < 3; ++part)
                EXPECT_EQ(L"", status_part(k, part)) << what << ": status-bar part " << part;
            return;
        }
        EXPECT_EQ(L"   100.0 %", status_part(k, 0)) << what;
        std::wstring rate = status_part(k, 1);
        EXPECT_NE(std::wstring::npos, rate.find(L" MB/s  (Average:")) << what << ": " << narrow(rate);
        EXPECT_EQ(L"  Remaining: 00:00:00", status_part(k, 2)) << what;
    }
};

// A small tree with the awkward cases: a blank and a non-ASCII letter in
// names, an empty file, a file of exactly 64 KiB, nested folders.
const char kTree[] =
    "mkdir -p sub/deeper && "
    "head -c 1000 /dev/urandom > a.txt && "
    "head -c 70001 /dev/urandom > 'with blank.txt' && "
    ": > empty && "
    "head -c 65536 /dev/urandom > exact64k.bin && "
    "head -c 200000 /dev/urandom > sub/deeper/x.bin && "
    "head -c 33 /dev/urandom > sub/.dotfile && "
    "head -c 4097 /dev/urandom > 'sub/\xc3\xbc-umlaut.txt' && "
    "touch -d '2001-02-03 04:05:06.123456700' a.txt sub/deeper/x.bin";

TEST_F(Jobs, CheckCreateAlterListRewriteRemoveCycle)
{
    std::wstring dir = ntfs_scratch("cycle");
    ASSERT_TRUE(linux_in(dir, kTree));
    auto start = linux_report(dir);
    ASSERT_EQ(7u, start.size()) << "test tree";
    std::vector<std::wstring> all = keys_of(start);
    for (auto& kv : start) ASSERT_EQ(-1, kv.second.stream_size) << narrow(kv.first) << " starts without a stream";

    ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\""));

    // Check over files that carry no digest.
    EXPECT_EQ(L"Ready.", run(IDC_START)) << "Check of files without digests";
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHOUT_LIST))) << "\"Files without Hash:\" after the first Check";
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty());
    EXPECT_TRUE(control_enabled(k, IDC_CREATE)) << "Create Hashes after a Check that found files without digest";
    expect_idle_after_job("first Check");
    expect_progress(false, "Check that found no digest");
    screenshot(k, "jobs_without_hash");

    // Create Hashes: every stream is OpenSSL's digest, 64 bytes; times and data kept.
    EXPECT_EQ(L"Ready.", run(IDC_CREATE)) << "Create Hashes";
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty()) << show(list_items(k, IDC_WITHOUT_LIST));
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHHASH_LIST))) << "plain paths moved to \"Files with Hash:\"";
    EXPECT_FALSE(control_visible(k, IDC_WITHHASH_LIST)) << "Create keeps the group that was showing";
    expect_idle_after_job("Create Hashes");
    expect_progress(true, "Create Hashes");
    auto created = linux_report(dir);
    ASSERT_EQ(keys_of(start), keys_of(created)) << "no file may appear or vanish";
    for (auto& kv : created) {
        const FileReport& before = start[kv.first];
        const FileReport& now = kv.second;
        SCOPED_TRACE(narrow(kv.first));
        EXPECT_EQ(64, now.stream_size) << "stream length as Linux reads it";
        EXPECT_EQ(now.whirlpool_hex, now.stream_hex) << "stream bytes against OpenSSL's Whirlpool";
        EXPECT_EQ(before.mtime_ns, now.mtime_ns) << "last-write time";
        EXPECT_EQ(before.sha256_hex, now.sha256_hex) << "file data";
    }

    // A Check now finds everything in order and leaves "Files with Hash:" alone.
    auto with_hash = list_items(k, IDC_WITHHASH_LIST);
    EXPECT_EQ(L"All files checked successfully.", run(IDC_START));
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty()) << show(list_items(k, IDC_ALTERED_LIST));
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty()) << show(list_items(k, IDC_WITHOUT_LIST));
    EXPECT_EQ(with_hash, list_items(k, IDC_WITHHASH_LIST)) << "a Check leaves \"Files with Hash:\" untouched";
    expect_idle_after_job("clean Check");
    expect_progress(true, "clean Check");

    // Silent change: flip bytes of one file and put its time back; give
    // another changed file an old stream longer than 64 bytes.
    std::wstring x = dir + L"\\sub\\deeper\\x.bin", a = dir + L"\\a.txt";
    ASSERT_TRUE(linux_in(dir,
                         "printf 'QQ' | dd of=sub/deeper/x.bin bs=1 seek=100000 conv=notrunc 2>/dev/null && "
                         "touch -d '2001-02-03 04:05:06.123456700' sub/deeper/x.bin && "
                         "printf 'Z' | dd of=a.txt bs=1 seek=0 conv=notrunc 2>/dev/null && "
                         "head -c 100 /dev/urandom > a.txt:z && "
                         "touch -d '2001-02-03 04:05:06.123456700' a.txt"));
    auto altered_state = linux_report(dir);
    ASSERT_EQ(100, altered_state[a].stream_size) << "old stream longer than 64 bytes";
    EXPECT_EQ(L"Ready.", run(IDC_START)) << "Check with two changed files";
    EXPECT_EQ(sorted({a, x}), sorted(list_items(k, IDC_ALTERED_LIST))) << "exactly the changed files are altered";
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty()) << show(list_items(k, IDC_WITHOUT_LIST));
    EXPECT_TRUE(control_enabled(k, IDC_REWRITE));
    expect_idle_after_job("Check with altered files");
    screenshot(k, "jobs_altered");
    // The window stays while idle after such a Check (once, on an emulated
    // processor without SSE4.1 under load, it vanished within seconds).
    Sleep(5000);
    ASSERT_TRUE(kestrin_running(k)) << "Kestrin ended, idle, after a Check that found altered files";

    // List shows "Files with Hash:" and leaves "Altered Files:" alone.
    auto altered_items = list_items(k, IDC_ALTERED_LIST);
    EXPECT_EQ(L"Ready.", run(IDC_LIST));
    EXPECT_TRUE(control_visible(k, IDC_WITHHASH_LIST)) << "List brings \"Files with Hash:\" to the front";
    EXPECT_FALSE(control_visible(k, IDC_ALTERED_LIST));
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHHASH_LIST)));
    EXPECT_EQ(altered_items, list_items(k, IDC_ALTERED_LIST)) << "List leaves \"Altered Files:\" untouched";
    expect_idle_after_job("List");
    expect_progress(false, "List");
    // The digest view: a double-click on an item of "Files with Hash:" shows
    // its stored bytes, as Linux reads them from the stream.
    {
        std::wstring item = dir + L"\\exact64k.bin";
        HWND box = open_digest_view(k, item);
        ASSERT_TRUE(box) << "no \"Hash\" box after a double-click on exact64k.bin" << show(list_items(k, IDC_WITHHASH_LIST));
        screenshot(k, "jobs_digest_view");
        std::string hex = linux_read_hex(to_linux_path(item) + ":z");
        ASSERT_EQ(128u, hex.size());
        std::wstring expected = item + L"\n\n" + digest_view_lines(hex);
        std::wstring text = box_text(box);
        EXPECT_EQ(item.size() + 193, text.size()) << "length of the digest view's text";
        EXPECT_EQ(expected, text);
        EXPECT_TRUE(GetDlgItem(box, IDOK) && !GetDlgItem(box, IDYES) && !GetDlgItem(box, IDNO)) << "an OK button only";
        answer(box, IDOK);
        EXPECT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000));
    }
    ASSERT_TRUE(press(k, IDC_SHOW_ALTERED));
    // The window shows the altered group first, then hides the other: wait
    // for both, or a reading in between finds both lists showing.
    EXPECT_TRUE(wait_until([&] { return control_visible(k, IDC_ALTERED_LIST) && !control_visible(k, IDC_WITHHASH_LIST); },
                           5000))
        << "Show Altered Files: altered list " << control_visible(k, IDC_ALTERED_LIST) << ", files with hash "
        << control_visible(k, IDC_WITHHASH_LIST);

    // Rewrite Hashes replaces both digests, the long stream ends at 64 bytes.
    auto before_rewrite = linux_report(dir);
    EXPECT_EQ(L"Ready.", run(IDC_REWRITE));
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty()) << show(list_items(k, IDC_ALTERED_LIST));
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty()) << "Rewrite adds to no other list";
    expect_idle_after_job("Rewrite Hashes");
    auto rewritten = linux_report(dir);
    for (const std::wstring& f : {a, x}) {
        SCOPED_TRACE(narrow(f));
        EXPECT_EQ(64, rewritten[f].stream_size);
        EXPECT_EQ(rewritten[f].whirlpool_hex, rewritten[f].stream_hex);
        EXPECT_EQ(before_rewrite[f].mtime_ns, rewritten[f].mtime_ns) << "last-write time across Rewrite";
        EXPECT_EQ(before_rewrite[f].sha256_hex, rewritten[f].sha256_hex);
    }
    EXPECT_EQ(L"All files checked successfully.", run(IDC_START)) << "Check after Rewrite";

    // Remove Hashes: every stream goes, the data and times stay.
    EXPECT_EQ(L"Ready.", run(IDC_REMOVE));
    EXPECT_TRUE(list_items(k, IDC_WITHHASH_LIST).empty()) << show(list_items(k, IDC_WITHHASH_LIST));
    EXPECT_EQ(all, sorted(list_items(k, IDC_WITHOUT_LIST))) << "after Remove every file is without a digest";
    EXPECT_TRUE(control_visible(k, IDC_WITHHASH_LIST));
    expect_idle_after_job("Remove Hashes");
    expect_progress(false, "Remove Hashes");
    screenshot(k, "jobs_removed");
    auto removed = linux_report(dir);
    for (auto& kv : removed) {
        SCOPED_TRACE(narrow(kv.first));
        EXPECT_EQ(-1, kv.second.stream_size) << "stream left after Remove";
        EXPECT_EQ(rewritten[kv.first].sha256_hex, kv.second.sha256_hex);
        EXPECT_EQ(rewritten[kv.first].mtime_ns, kv.second.mtime_ns);
    }
}

// Digests written by Linux (OpenSSL), not by Kestrin: a Check accepts them.
TEST_F(Jobs, CheckAcceptsDigestsStoredByOpenSSL)
{
    std::wstring dir = ntfs_scratch("foreign");
    ASSERT_TRUE(linux_in(dir, "mkdir -p d && head -c 123457 /dev/urandom > d/one && : > two && "
                              "head -c 131072 /dev/urandom > 'three 3'"));
    ASSERT_TRUE(linux_store_digests(dir, {"d/one", "two", "three 3"}));
    ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\\d\" \"" + dir + L"\\two\" \"" + dir + L"\\three 3\""));
    EXPECT_EQ(L"All files checked successfully.", run(IDC_START));
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty()) << show(list_items(k, IDC_ALTERED_LIST));
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty()) << show(list_items(k, IDC_WITHOUT_LIST));
    EXPECT_FALSE(control_enabled(k, IDC_CREATE));
    EXPECT_FALSE(control_enabled(k, IDC_REWRITE));
    expect_idle_after_job("Check of OpenSSL digests");
}

// Items that cannot be written stay in their list and are counted.
TEST_F(Jobs, WriteFailuresStayAndAreCountedWithTheRightPlural)
{
    std::wstring dir = ntfs_scratch("failures");
    ASSERT_TRUE(linux_in(dir, "head -c 5000 /dev/urandom > good && head -c 6000 /dev/urandom > locked && "
                              "head -c 7000 /dev/urandom > streamheld && head -c 100 /dev/urandom > vanishes"));
    ASSERT_TRUE(linux_store_digests(dir, {"streamheld"}));
    std::wstring good = dir + L"\\good", locked = dir + L"\\locked", held = dir + L"\\streamheld";
    std::wstring gone = dir + L"\\vanishes";

    // `locked` cannot be opened for reading; the stream of `streamheld` is held
    // without sharing, so it can neither be read by a Check nor replaced.
    HANDLE hl = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE hs = CreateFileW((held + L":z").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hl);
    ASSERT_NE(INVALID_HANDLE_VALUE, hs);
    auto before = linux_report(dir);

    ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\""));
    EXPECT_EQ(L"Ready.", run(IDC_START));
    EXPECT_EQ(sorted({good, locked, held, gone}), sorted(list_items(k, IDC_WITHOUT_LIST)))
        << "all four are without a usable digest";
    ASSERT_TRUE(linux_in(dir, "rm vanishes"));   // listed, then gone before Create

    EXPECT_EQ(L"3 hashes could not be written.", run(IDC_CREATE));
    EXPECT_EQ(sorted({locked, held, gone}), sorted(list_items(k, IDC_WITHOUT_LIST))) << "failures stay";
    EXPECT_EQ(std::vector<std::wstring>{good}, list_items(k, IDC_WITHHASH_LIST));
    expect_idle_after_job("Create with three failures");

    CloseHandle(hl);
    EXPECT_EQ(L"2 hashes could not be written.", run(IDC_CREATE)) << "after unlocking one file";
    EXPECT_EQ(sorted({held, gone}), sorted(list_items(k, IDC_WITHOUT_LIST)));

    // A digest that was there but could not be read is never replaced by
    // one of today's content: had the file rotted, the rot would be blessed.
    CloseHandle(hs);
    EXPECT_EQ(L"2 hashes could not be written.", run(IDC_CREATE)) << "after releasing the stream";
    EXPECT_EQ(sorted({held, gone}), sorted(list_items(k, IDC_WITHOUT_LIST))) << "the vanished file stays";
    EXPECT_EQ(sorted({good, locked}), sorted(list_items(k, IDC_WITHHASH_LIST)));
    screenshot(k, "jobs_write_failures");

    auto after = linux_report(dir);
    for (const std::wstring& f : {good, locked, held}) {
        SCOPED_TRACE(narrow(f));
        EXPECT_EQ(64, after[f].stream_size);
        EXPECT_EQ(after[f].whirlpool_hex, after[f].stream_hex);
        EXPECT_EQ(before[f].mtime_ns, after[f].mtime_ns);
    }
    EXPECT_EQ(0u, after.count(gone)) << "writing a digest never brings a vanished file back";
    for (auto& kv : after) EXPECT_EQ(before[kv.first].sha256_hex, kv.second.sha256_hex) << narrow(kv.first);
}

TEST_F(Jobs, RemoveCountsAFailedDeletion)
{
    std::wstring dir = ntfs_scratch("removefail");
    ASSERT_TRUE(linux_in(dir, "head -c 3000 /dev/urandom > a && head -c 4000 /dev/urandom > b"));
    ASSERT_TRUE(linux_store_digests(dir, {"a", "b"}));
    std::wstring a = dir + L"\\a", b = dir + L"\\b";
    HANDLE hb = CreateFileW((b + L":z").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hb);

    ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\""));
    EXPECT_EQ(L"1 hash could not be deleted.", run(IDC_REMOVE));
    EXPECT_EQ(std::vector<std::wstring>{b}, list_items(k, IDC_WITHHASH_LIST)) << "the failed deletion stays listed";
    EXPECT_EQ(std::vector<std::wstring>{a}, list_items(k, IDC_WITHOUT_LIST));
    auto mid = linux_report(dir);
    EXPECT_EQ(-1, mid[a].stream_size);
    EXPECT_EQ(64, mid[b].stream_size);
    EXPECT_EQ(mid[b].whirlpool_hex, mid[b].stream_hex) << "the held stream is intact";

    CloseHandle(hb);
    EXPECT_EQ(L"Ready.", run(IDC_REMOVE));
    EXPECT_TRUE(list_items(k, IDC_WITHHASH_LIST).empty());
    EXPECT_EQ(-1, linux_report(dir)[b].stream_size);
    expect_idle_after_job("Remove");
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty()) return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    return RUN_ALL_TESTS();
}
