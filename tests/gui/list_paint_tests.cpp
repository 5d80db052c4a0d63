// The result lists as the screen shows them while a job runs: resized,
// minimised and restored during the hash of one large file, a list must show
// its items as it does when no job runs. Judged on screenshots of the list's
// area against the same list drawn while idle. Also, only when asked for
// (KESTRIN_LIST_SPEED=1), the time Check, Create, List and Remove take over
// 2,000 small files, printed as figures.
#include <gtest/gtest.h>
#include "driver.h"
#include "oracle.h"
#include "test_env.h"
#include "sizing.h"
#include "volume.h"
#include "res/resource.h"
#include <stdlib.h>

namespace {

class ListPaint : public ::testing::Test {
protected:
    Kestrin k;
    void TearDown() override
    {
        if (HasFailure())
            screenshot(k, (std::string("paint_failed_") +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name()).c_str());
        kestrin_kill(k);
    }

    // User and kernel time of the Kestrin process so far: less disturbed by
    // other load on the machine than the time on the clock.
    double cpu_seconds()
    {
        FILETIME created, ended, kernel, user;
        if (!GetProcessTimes(k.pi.hProcess, &created, &ended, &kernel, &user)) return -1;
        auto s = [](const FILETIME& t) { return ((ULONGLONG)t.dwHighDateTime << 32 | t.dwLowDateTime) / 1e7; };
        return s(kernel) + s(user);
    }

    std::wstring run(int button, DWORD timeout_ms = 120000) { return run_command(k, button, timeout_ms); }

    void resize_to(SIZE s)
    {
        set_window_size(k, s.cx, s.cy);
        Sleep(600);
    }

    void minimise_and_restore()
    {
        ShowWindow(k.dlg, SW_MINIMIZE);
        ASSERT_TRUE(wait_until([&] { return IsIconic(k.dlg) != 0; }, 5000)) << "window did not minimise";
        Sleep(300);
        ShowWindow(k.dlg, SW_RESTORE);
        ASSERT_TRUE(wait_until([&] { return !IsIconic(k.dlg); }, 5000)) << "window did not restore";
        SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
        Sleep(600);
    }

    // The list's area as shown now must match `reference` (the same list with
    // the same items, drawn while no job ran).
    void expect_list_shown(int list, const std::string& reference, const char* name)
    {
        std::string shown = screenshot_control(k, list, name);
        ASSERT_FALSE(shown.empty()) << "screenshot " << name;
        long differing = -1;
        std::string why;
        ASSERT_TRUE(differing_pixels(shown, reference, &differing, &why)) << why;
        EXPECT_LE(differing, 20) << "pixels of the list area shown during the job (" << shown
                                 << ") that differ from the same list drawn while idle (" << reference << ")";
    }

    // Fails unless the job is still hashing `big`: otherwise the screenshots
    // showed the window after the job, not during it.
    void expect_still_hashing(const std::string& big)
    {
        long long read = linux_reader_rchar(big);
        EXPECT_TRUE(read > 0 && !is_summary(control_text(k, IDC_STATUS_LINE)))
            << "the hash of the large file ended before the window was examined (read " << read << " bytes)";
    }
};

TEST_F(ListPaint, ListsShowTheirItemsWhenResizedOrRestoredDuringAHash)
{
    std::wstring dir = ntfs_scratch("listpaint");
    // A sparse file reads as zeros at full speed and takes no room on the volume;
    // its hash outlasts two resizes, a minimise and their screenshots.
    ASSERT_TRUE(linux_in(dir, "truncate -s " + std::to_string(bytes_lasting(20)) +
                                  " big.bin && for n in one two three four five; do echo $n > small-$n.txt; done"));
    std::wstring big = dir + L"\\big.bin";
    std::string big_linux = to_linux_path(big);
    std::vector<std::wstring> smalls;
    for (const wchar_t* n : {L"one", L"two", L"three", L"four", L"five"})
        smalls.push_back(dir + L"\\small-" + n + L".txt");
    std::wstring args = L"\"" + big + L"\"";
    for (auto& s : smalls) args += L" \"" + s + L"\"";
    ASSERT_TRUE(kestrin_start(k, args));
    RECT w = window_rect(k);
    SIZE first = {w.right - w.left, w.bottom - w.top};
    SIZE larger = {first.cx + 80, first.cy + 60};

    // A Check finds no digest: all six wait under "Files without Hash:", the
    // large one first, so Create Hashes starts with its hash.
    ASSERT_EQ(L"Ready.", run(IDC_START));
    std::vector<std::wstring> all = {big};
    all.insert(all.end(), smalls.begin(), smalls.end());
    ASSERT_EQ(all, list_items(k, IDC_WITHOUT_LIST));
    resize_to(larger);
    std::string idle = screenshot_control(k, IDC_WITHOUT_LIST, "paint_create_idle");
    ASSERT_FALSE(idle.empty()) << "screenshot of the idle list";
    EXPECT_GT(dark_pixels(idle), 50) << "the idle list shows no items: " << idle;
    resize_to(first);

    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_CREATE));
    ASSERT_TRUE(wait_until([&] { return linux_reader_rchar(big_linux) > 0; }, 30000))
        << "Create Hashes never began to read the large file";
    resize_to(larger);
    expect_list_shown(IDC_WITHOUT_LIST, idle, "paint_create_resized");
    minimise_and_restore();
    expect_list_shown(IDC_WITHOUT_LIST, idle, "paint_create_restored");
    expect_still_hashing(big_linux);
    ASSERT_TRUE(wait_job_end(k, 180000)) << "Create Hashes did not end";
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));

    // A Check that lists two new files first and then hashes the large one;
    // paused as well, when the progress timer is stopped.
    ASSERT_TRUE(linux_in(dir, "echo new > new-a.txt && echo new > new-b.txt"));
    std::wstring na = dir + L"\\new-a.txt", nb = dir + L"\\new-b.txt";
    erase_path_field(k);
    type_text(k, L"\"" + na + L"\" \"" + nb + L"\" \"" + big + L"\"");
    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_until([&] { return linux_reader_rchar(big_linux) > 0; }, 30000))
        << "the Check never began to read the large file";
    resize_to(first);
    std::string during = screenshot_control(k, IDC_WITHOUT_LIST, "paint_check_resized");
    minimise_and_restore();
    std::string restored = screenshot_control(k, IDC_WITHOUT_LIST, "paint_check_restored");
    expect_still_hashing(big_linux);
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_until([&] { return control_text(k, IDC_START) == L"Resume"; }, 5000)) << "Pause";
    minimise_and_restore();
    std::string paused = screenshot_control(k, IDC_WITHOUT_LIST, "paint_check_paused");
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_job_end(k, 180000)) << "the Check did not end";
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    ASSERT_EQ((std::vector<std::wstring>{na, nb}), list_items(k, IDC_WITHOUT_LIST));

    // The reference: the same two items at the same size, after the job,
    // drawn as the window draws them when restored while idle.
    minimise_and_restore();
    std::string after = screenshot_control(k, IDC_WITHOUT_LIST, "paint_check_after");
    ASSERT_FALSE(after.empty() || during.empty() || restored.empty() || paused.empty()) << "screenshots";
    EXPECT_GT(dark_pixels(after), 20) << "the list after the Check shows no items: " << after;
    for (const std::string& shot : {during, restored, paused}) {
        long differing = -1;
        std::string why;
        ASSERT_TRUE(differing_pixels(shot, after, &differing, &why)) << why;
        EXPECT_LE(differing, 20) << "pixels of the list area shown during the Check (" << shot
                                 << ") that differ from the same list after it (" << after << ")";
    }
}

// Figures, not a timed test: how long each job takes over 2,000 small files
// through the real window. Runs only with KESTRIN_LIST_SPEED=1.
TEST_F(ListPaint, SpeedOverTwoThousandSmallFiles)
{
    const char* asked = getenv("KESTRIN_LIST_SPEED");
    if (!asked || strcmp(asked, "1") != 0) GTEST_SKIP() << "figures only with KESTRIN_LIST_SPEED=1";
    std::wstring dir = ntfs_scratch("listspeed");
    ASSERT_TRUE(linux_in(dir, "python3 -c \"import os\nfor i in range(2000):\n"
                              "  open('f%04d.bin' % i, 'wb').write(os.urandom(1 + i % 4000))\""));
    ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\""));
    for (int round = 0; round < 2; ++round) {
        struct Step { int button; const char* name; size_t without, with_hash; } steps[] = {
            {IDC_START, "Check (2,000 to \"Files without Hash:\")", 2000, 0},
            {IDC_CREATE, "Create (2,000 moved to \"Files with Hash:\")", 0, 2000},
            {IDC_LIST, "List (2,000 to \"Files with Hash:\")", 0, 2000},
            {IDC_REMOVE, "Remove (2,000 to \"Files without Hash:\")", 2000, 0},
        };
        for (const Step& s : steps) {
            DWORD t0 = GetTickCount();
            double cpu0 = cpu_seconds();
            std::wstring summary = run(s.button, 600000);
            DWORD ms = GetTickCount() - t0;
            double cpu = cpu_seconds() - cpu0;
            EXPECT_EQ(L"Ready.", summary) << s.name;
            EXPECT_EQ(s.without, list_items(k, IDC_WITHOUT_LIST).size()) << s.name;
            EXPECT_EQ(s.with_hash, list_items(k, IDC_WITHHASH_LIST).size()) << s.name;
            printf("round %d: %-45s %6lu ms  %6.0f files/s  Kestrin's CPU %5.2f s\n", round, s.name, ms,
                   2000.0 * 1000.0 / ms, cpu);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty()) return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    return RUN_ALL_TESTS();
}
