// The main window's handlers, driven inside this process on the real dialog
// built from Kestrin's own template: drag and drop, the path buffer's growth,
// Start/Pause/Resume, the digest view, the progress tick and the
// control-state routines.
#include "jobs/run_state.h"
#include "res/resource.h"
#include "ui/control_state.h"
#include "ui/main_dialog.h"
#include "ui/progress.h"
#include "oracle.h"
#include "test_env.h"
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <cwchar>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

namespace {

HWND dialog()
{
    static HWND made = nullptr;
    if (!made) {
        g_run.instance = GetModuleHandleW(nullptr);
        g_run.PathBuffer = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, g_run.path_capacity * sizeof(wchar_t));
        made = CreateDialogParamW(g_run.instance, L"DLG", nullptr, MainDialog, 0);
        if (made)
            ShowWindow(made, SW_SHOW);
    }
    return made;
}

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps messages until `done` holds or `ms` pass.
template <class F> bool pump_until(F done, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        pump();
    }
    return true;
}

// Runs `routine` on a thread of its own, as the jobs do, while this thread
// keeps handling the window's messages.
void on_job_thread(void (*routine)())
{
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        routine();
        finished = true;
    });
    bool ok = pump_until([&] { return finished.load(); }, 10000);
    worker.join();
    EXPECT_TRUE(ok) << "the routine did not finish on its thread";
}

std::wstring text_of(HWND w)
{
    wchar_t buffer[4096];
    buffer[0] = 0;
    GetWindowTextW(w, buffer, 4096);
    return buffer;
}

std::wstring path_text()
{
    int length = GetWindowTextLengthW(g_run.path_field);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(g_run.path_field, text.data(), length + 1);
    text.resize(length);
    return text;
}

std::wstring status_part(int part)
{
    wchar_t buffer[256];
    buffer[0] = 0;
    LRESULT info = SendMessageW(g_run.status_bar, SB_GETTEXTLENGTHW, part, 0);
    if (LOWORD(info) < 256)
        SendMessageW(g_run.status_bar, SB_GETTEXTW, part, (LPARAM)buffer);
    return buffer;
}

bool visible(HWND w) { return (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0; }
bool enabled(HWND w) { return IsWindowEnabled(w) != 0; }
bool gate_open() { return WaitForSingleObject(g_run.pause_gate, 0) == WAIT_OBJECT_0; }

void press(int id)
{
    SendMessageW(dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog(), id));
}

// A drop of `paths` as the shell makes it: a DROPFILES header followed by
// the wide paths, each terminated, and one more terminator.
HDROP make_drop(const std::vector<std::wstring>& paths)
{
    size_t chars = paths.empty() ? 2 : 1;  // an empty list is an empty string and the end
    for (const std::wstring& p : paths)
        chars += p.size() + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    DROPFILES* header = (DROPFILES*)GlobalLock(memory);
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    wchar_t* out = (wchar_t*)(header + 1);
    for (const std::wstring& p : paths) {
        wcscpy(out, p.c_str());
        out += p.size() + 1;
    }
    *out = 0;
    GlobalUnlock(memory);
    return (HDROP)memory;
}

void drop(const std::vector<std::wstring>& paths)
{
    SendMessageW(dialog(), WM_DROPFILES, (WPARAM)make_drop(paths), 0);
}

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, dialog()) << "CreateDialogParamW failed, error " << GetLastError();
        ASSERT_EQ(1, g_run.init_done);
        ASSERT_EQ(Idle, g_run.mode.load());
        SetWindowTextW(g_run.path_field, L"");
        pump();
    }
};

// --- The command preamble ----------------------------------------------------

TEST_F(MainDialogTest, PreambleGrowsTheBufferAtThe32770Margin)
{
    if (g_run.path_capacity != 65536)
        GTEST_SKIP() << "the buffer already grew in an earlier test";
    // 32,765 + 32,770 < 65,536: no growth; the field's text is copied whole.
    std::wstring below(32765, L'x');
    SetWindowTextW(g_run.path_field, below.c_str());  // EN_CHANGE runs the preamble
    EXPECT_EQ(65536, g_run.path_capacity);
    EXPECT_EQ(below, std::wstring(g_run.PathBuffer));

    // 32,766 + 32,770 = 65,536: the buffer grows to 32,766 + 65,536.
    std::wstring at(32766, L'y');
    SetWindowTextW(g_run.path_field, at.c_str());
    EXPECT_EQ(32766 + 65536, g_run.path_capacity);
    EXPECT_EQ(at, std::wstring(g_run.PathBuffer));
}

TEST_F(MainDialogTest, TypingWhileIdleEnablesAndEmptyingDisablesTheThreeButtons)
{
    SetWindowTextW(g_run.path_field, L"C:\\x");
    EXPECT_TRUE(enabled(g_run.start_button));
    EXPECT_TRUE(enabled(g_run.list_button));
    EXPECT_TRUE(enabled(g_run.remove_button));
    SetWindowTextW(g_run.path_field, L"");
    EXPECT_FALSE(enabled(g_run.start_button));
    EXPECT_FALSE(enabled(g_run.list_button));
    EXPECT_FALSE(enabled(g_run.remove_button));
}

// --- Drag and drop ---------------------------------------------------------

TEST_F(MainDialogTest, DropIntoEmptyFieldQuotesPathsWithBlanksAndSeparatesByOneBlank)
{
    ASSERT_EQ(1, g_run.append_flag) << "setting the text should have set append_flag";
    drop({L"C:\\photo album\\one.jpg", L"C:\\two.txt", L"D:\\a b c"});
    EXPECT_EQ(L"\"C:\\photo album\\one.jpg\" C:\\two.txt \"D:\\a b c\"", path_text());
}

// A path far beyond MAX_PATH is taken whole, and quoted when it holds a
// blank, so that it stays one target.
TEST_F(MainDialogTest, DropOfLongPathsKeepsEachOneTarget)
{
    std::wstring deep = L"C:\\" + std::wstring(150, L'a') + L"\\with blank " + std::wstring(2000, L'b') + L"\\f.jpg";
    std::wstring plain = L"C:\\" + std::wstring(400, L'c');
    drop({deep, plain});
    EXPECT_EQ(L"\"" + deep + L"\" " + plain, path_text());
    int count = 0;
    LPWSTR* split = CommandLineToArgvW((L"x " + path_text()).c_str(), &count);
    ASSERT_NE(nullptr, split);
    ASSERT_EQ(3, count) << "two targets after the program name";
    EXPECT_EQ(deep, std::wstring(split[1]));
    EXPECT_EQ(plain, std::wstring(split[2]));
    LocalFree(split);
}

TEST_F(MainDialogTest, DropWithTextPresentPutsDroppedPathsFirst)
{
    SetWindowTextW(g_run.path_field, L"C:\\old \"C:\\older one\"");
    drop({L"C:\\new", L"C:\\new two"});
    EXPECT_EQ(L"C:\\new \"C:\\new two\" C:\\old \"C:\\older one\"", path_text());
}

TEST_F(MainDialogTest, DropAfterAJobStartedReplacesThenTheNextGoesInFront)
{
    SetWindowTextW(g_run.path_field, L"C:\\targets of the last job");
    g_run.append_flag = 0;  // as a started Check, List or Remove leaves it
    drop({L"C:\\first"});
    EXPECT_EQ(L"C:\\first", path_text());
    EXPECT_EQ(1, g_run.append_flag) << "the field's change should have set append_flag again";
    drop({L"C:\\second drop"});
    EXPECT_EQ(L"\"C:\\second drop\" C:\\first", path_text());
}

TEST_F(MainDialogTest, DropWithNothingInItKeepsTheText)
{
    SetWindowTextW(g_run.path_field, L"C:\\kept");
    g_run.append_flag = 0;
    drop({});
    EXPECT_EQ(L"C:\\kept", path_text());
    g_run.append_flag = 1;
}

TEST_F(MainDialogTest, DropLargerThanTheBufferGrowsIt)
{
    // 600 paths of 250 characters: the drop needs 600 x (250 + 3) = 151,800
    // units, more than the buffer has, so it grows to 151,800 + 65,536; the
    // field's text (151,799) is then within the margin and nothing grows again.
    std::vector<std::wstring> paths;
    std::wstring expected;
    for (int i = 0; i < 600; ++i) {
        paths.push_back(L"C:\\" + std::wstring(240, L'a' + i % 26) + std::to_wstring(1000000 + i));
        expected += (i ? L" " : L"") + paths.back();
    }
    ASSERT_LT(g_run.path_capacity, 151800) << "an earlier test grew the buffer too far";
    drop(paths);
    EXPECT_EQ(expected, path_text());
    EXPECT_EQ(151800 + 65536, g_run.path_capacity);
}

// --- Start, Pause, Resume --------------------------------------------------

TEST_F(MainDialogTest, PauseClosesTheGateAndResumeShiftsBothClocks)
{
    // A job's main pass as the window sees it; no job thread is needed for
    // the window's side of pausing.
    g_run.mode = Check;
    g_run.paused = 0;
    SetEvent(g_run.pause_gate);
    SetWindowTextW(g_run.start_button, L"Pause");
    EnableWindow(g_run.start_button, TRUE);
    SetTimer(dialog(), IDT_PROGRESS, 1000, nullptr);  // as the job's main pass starts it

    uint64_t before = system_time_now();
    press(IDC_START);
    uint64_t after = system_time_now();
    // KillTimer answers whether the timer was still set.
    EXPECT_FALSE(KillTimer(dialog(), IDT_PROGRESS)) << "Pause must stop the progress timer";
    EXPECT_EQ(1, g_run.paused);
    EXPECT_FALSE(gate_open());
    EXPECT_EQ(L"Resume", text_of(g_run.start_button));
    EXPECT_LE(before, g_run.pause_started);
    EXPECT_GE(after, g_run.pause_started);

    // Pretend the pause began 5 s ago.
    const uint64_t five_seconds = 50000000;
    g_run.pause_started -= five_seconds;
    g_run.start_time = 1000000000;
    g_run.tick_time = 1500000000;
    uint64_t pressed = system_time_now();
    press(IDC_START);
    uint64_t done = system_time_now();
    uint64_t shift = g_run.start_time - 1000000000;
    EXPECT_EQ(shift, g_run.tick_time - 1500000000) << "both clocks move by the same span";
    EXPECT_LE(pressed - g_run.pause_started, shift) << "the span runs from the pause to the press";
    EXPECT_GE(done - g_run.pause_started, shift);
    EXPECT_EQ(0, g_run.paused);
    EXPECT_TRUE(gate_open());
    EXPECT_EQ(L"Pause", text_of(g_run.start_button));
    EXPECT_TRUE(KillTimer(dialog(), IDT_PROGRESS)) << "Resume must start the progress timer again";

    g_run.mode = Idle;
    SetWindowTextW(g_run.start_button, L"Start");
}

TEST_F(MainDialogTest, StartAfterAPauseThatOutlivedItsJobStartsANewJob)
{
    // A pause pressed after the job's last read: the job ended, leaving
    // paused set and the gate closed.
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    wcscat(folder, L"kestrin-empty-target");
    CreateDirectoryW(folder, nullptr);
    SetWindowTextW(g_run.path_field, folder);
    g_run.paused = 1;
    ResetEvent(g_run.pause_gate);
    SetDlgItemTextW(dialog(), IDC_STATUS_LINE, L"before the press");

    press(IDC_START);
    bool ended = pump_until([] {
        return g_run.mode.load() == Idle && text_of(g_run.status_line) != L"before the press";
    }, 30000);
    EXPECT_TRUE(ended) << "no job ran: the press took the Resume branch";
    EXPECT_EQ(0, g_run.paused);
    EXPECT_TRUE(gate_open());
    EXPECT_EQ(L"Start", text_of(g_run.start_button));
    EXPECT_TRUE(enabled(g_run.start_button));
    RemoveDirectoryW(folder);
}

// --- Progress tick ------------------------------------------------------------

TEST_F(MainDialogTest, TickWithNothingReadChangesNothing)
{
    for (int part = 0; part < 3; ++part)
        SendMessageW(g_run.status_bar, SB_SETTEXTW, part, (LPARAM)L"untouched");
    g_run.done_bytes = 0;
    g_run.tick_time = 12345;
    g_run.tick_done_bytes = 678;
    SendMessageW(dialog(), WM_TIMER, IDT_PROGRESS, 0);
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(L"untouched", status_part(part)) << "part " << part;
    EXPECT_EQ(12345u, g_run.tick_time);
    EXPECT_EQ(678u, g_run.tick_done_bytes);
}

TEST_F(MainDialogTest, TickShowsThreeTextsAndMovesTheTickClock)
{
    // 25 % of 200 MB; the job started one hour ago (so the last second's
    // rate and the average are both tiny), 3 h of work left at that pace.
    uint64_t now = system_time_now();
    const uint64_t hour = 36000000000ull;
    g_run.total_bytes = 200000000;
    g_run.start_time = now - hour;
    g_run.tick_time = now - hour;
    g_run.tick_done_bytes = 0;
    g_run.done_bytes = 50000000;
    SendMessageW(dialog(), WM_TIMER, 0, 0);
    uint64_t after = system_time_now();
    EXPECT_EQ(L"    25.0 %", status_part(0));
    EXPECT_EQ(L"    0.0 MB/s  (Average:   0.0 MB/s)", status_part(1));
    // 50 MB/h: 150 MB left is 3 h, plus three times the moments this test
    // took (the job is that much older at the tick), a second either side.
    std::wstring remaining = status_part(2);
    int h = -1, m = -1, sec = -1;
    ASSERT_EQ(3, swscanf(remaining.c_str(), L"  Remaining: %d:%d:%d", &h, &m, &sec)) << narrow(remaining);
    long long shown = h * 3600LL + m * 60 + sec, slack = (long long)(3 * (after - now) / 10000000) + 1;
    EXPECT_LE(3 * 3600LL - 1, shown) << narrow(remaining);
    EXPECT_GE(3 * 3600LL + slack, shown) << narrow(remaining);
    EXPECT_EQ(21u, remaining.size()) << "two digits for each part";
    EXPECT_EQ(50000000u, g_run.tick_done_bytes);
    EXPECT_GE(g_run.tick_time, now);
    EXPECT_LE(g_run.tick_time, after);
    g_run.done_bytes = 0;
}

// --- Control-state routines ----------------------------------------------------

TEST_F(MainDialogTest, ResultGroupsShowOneAtATime)
{
    HWND altered[] = {g_run.altered_label, g_run.rewrite_button, g_run.altered_list};
    HWND withhash[] = {g_run.withhash_label, g_run.show_altered_button, g_run.withhash_list};
    show_result_group(true);
    for (HWND w : altered)
        EXPECT_FALSE(visible(w)) << GetDlgCtrlID(w) << " should be hidden";
    for (HWND w : withhash)
        EXPECT_TRUE(visible(w)) << GetDlgCtrlID(w) << " should be visible";
    // Show Altered Files brings the other group back.
    press(IDC_SHOW_ALTERED);
    for (HWND w : altered)
        EXPECT_TRUE(visible(w)) << GetDlgCtrlID(w) << " should be visible";
    for (HWND w : withhash)
        EXPECT_FALSE(visible(w)) << GetDlgCtrlID(w) << " should be hidden";
}

TEST_F(MainDialogTest, RestoreCommandsFollowsTheListsEvenWithAnEmptyField)
{
    SendMessageW(g_run.altered_list, LB_RESETCONTENT, 0, 0);
    SendMessageW(g_run.without_list, LB_RESETCONTENT, 0, 0);
    SendMessageW(g_run.without_list, LB_ADDSTRING, 0, (LPARAM)L"C:\\a");
    SendMessageW(g_run.without_list, LB_ADDSTRING, 0, (LPARAM)L"C:\\b");
    disable_commands();
    SetWindowTextW(g_run.start_button, L"Pause");
    ASSERT_EQ(L"", path_text());

    on_job_thread(restore_commands);
    EXPECT_TRUE(enabled(g_run.list_button));
    EXPECT_TRUE(enabled(g_run.remove_button));
    EXPECT_FALSE(enabled(g_run.rewrite_button));
    EXPECT_FALSE(enabled(g_run.show_altered_button));
    EXPECT_TRUE(enabled(g_run.create_button));
    EXPECT_EQ(0, g_run.altered_count);
    EXPECT_EQ(2, g_run.without_count);
    EXPECT_EQ(L"Start", text_of(g_run.start_button));
    SendMessageW(g_run.without_list, LB_RESETCONTENT, 0, 0);
}

TEST_F(MainDialogTest, ClearProgressEmptiesThePartsAndFocusesThePathField)
{
    for (int part = 0; part < 3; ++part)
        SendMessageW(g_run.status_bar, SB_SETTEXTW, part, (LPARAM)L"old figures");
    SetFocus(g_run.exit_button);
    on_job_thread(clear_progress);
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(L"", status_part(part)) << "part " << part;
    EXPECT_EQ(g_run.path_field, GetFocus());
}

// --- Digest view ---------------------------------------------------------------

// Double-clicks the selected item of WithHashList and returns the text of the
// "Hash" box that opens (answering it), or "" when none opened.
std::wstring digest_view_text()
{
    std::wstring seen;
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        DWORD pid = GetCurrentProcessId();
        while (!stop) {
            HWND box = FindWindowW(L"#32770", L"Hash");
            DWORD owner = 0;
            if (box)
                GetWindowThreadProcessId(box, &owner);
            // The box is shown only once its texts are set: a box found
            // while it is still being filled would read as empty.
            if (box && owner == pid && box != dialog() && IsWindowVisible(box)) {
                wchar_t text[2048];
                text[0] = 0;
                GetDlgItemTextW(box, 0xFFFF, text, 2048);
                seen = text;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
    });
    SendMessageW(dialog(), WM_COMMAND, MAKEWPARAM(IDC_WITHHASH_LIST, LBN_DBLCLK), (LPARAM)g_run.withhash_list);
    // The command returns once the box is answered, or at once when none opened.
    Sleep(200);
    stop = true;
    watcher.join();
    return seen;
}

class DigestViewTest : public MainDialogTest {
protected:
    std::wstring folder;
    void SetUp() override
    {
        MainDialogTest::SetUp();
        if (ntfs_root().empty())
            GTEST_SKIP() << "the NTFS test volume is not mounted: no alternate data streams here";
        folder = ntfs_scratch("digest_view");
        show_result_group(true);
        SendMessageW(g_run.withhash_list, LB_RESETCONTENT, 0, 0);
    }
    void TearDown() override
    {
        SendMessageW(g_run.withhash_list, LB_RESETCONTENT, 0, 0);
        show_result_group(false);
    }
    void write_stream(const std::wstring& file, const BYTE* bytes, DWORD count)
    {
        ASSERT_TRUE(write_file(file, "file data"));
        HANDLE s = CreateFileW((file + L":z").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, s);
        DWORD wrote = 0;
        WriteFile(s, bytes, count, &wrote, nullptr);
        CloseHandle(s);
        ASSERT_EQ(count, wrote);
    }
};

TEST_F(DigestViewTest, TwentyCharacterPathGives213CharactersOfStoredBytes)
{
    BYTE digest[64];
    for (int i = 0; i < 64; ++i)
        digest[i] = (BYTE)(0xC0 + i);
    // A relative path of exactly 20 characters, from the folder as current directory.
    const std::wstring name = L"digest_view_file.bin";
    ASSERT_EQ(20u, name.size());
    write_stream(folder + L"\\" + name, digest, 64);
    ASSERT_EQ(std::string("c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf"
                          "e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
              linux_read_hex(to_linux_path(folder + L"\\" + name) + ":z"))
        << "the stream as Linux reads it";

    wchar_t old_dir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old_dir);
    SetCurrentDirectoryW(folder.c_str());
    SendMessageW(g_run.withhash_list, LB_ADDSTRING, 0, (LPARAM)name.c_str());
    SendMessageW(g_run.withhash_list, LB_SETCURSEL, 0, 0);
    std::wstring text = digest_view_text();
    SetCurrentDirectoryW(old_dir);

    const std::wstring expected =
        L"digest_view_file.bin\n\n"
        L"C0 C1 C2 C3 C4 C5 C6 C7 C8 C9 CA CB CC CD CE CF\n"
        L"D0 D1 D2 D3 D4 D5 D6 D7 D8 D9 DA DB DC DD DE DF\n"
        L"E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF\n"
        L"F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF";
    EXPECT_EQ(213u, text.size());
    EXPECT_EQ(expected, text);
}

TEST_F(DigestViewTest, FullPathShowsTheBytesLinuxReads)
{
    BYTE digest[64];
    for (int i = 0; i < 64; ++i)
        digest[i] = (BYTE)(i * 37 + 11);
    std::wstring file = folder + L"\\with blank.txt";
    write_stream(file, digest, 64);
    std::string hex = linux_read_hex(to_linux_path(file) + ":z");
    ASSERT_EQ(128u, hex.size());

    std::wstring expected = file + L"\n\n";
    for (int i = 0; i < 64; ++i) {
        expected += (wchar_t)towupper(hex[2 * i]);
        expected += (wchar_t)towupper(hex[2 * i + 1]);
        if (i != 63)
            expected += (i % 16 == 15) ? L'\n' : L' ';
    }
    SendMessageW(g_run.withhash_list, LB_ADDSTRING, 0, (LPARAM)file.c_str());
    SendMessageW(g_run.withhash_list, LB_SETCURSEL, 0, 0);
    std::wstring text = digest_view_text();
    EXPECT_EQ(file.size() + 193, text.size());
    EXPECT_EQ(expected, text);
}

TEST_F(DigestViewTest, ShortStreamShowsOnlyTheBytesItHas)
{
    BYTE bytes[5] = {0x01, 0xAB, 0x00, 0xFF, 0x10};
    std::wstring file = folder + L"\\short.bin";
    write_stream(file, bytes, 5);
    SendMessageW(g_run.withhash_list, LB_ADDSTRING, 0, (LPARAM)file.c_str());
    SendMessageW(g_run.withhash_list, LB_SETCURSEL, 0, 0);
    EXPECT_EQ(file + L"\n\n01 AB 00 FF 10", digest_view_text());
}

TEST_F(DigestViewTest, NothingSelectedOrNoStreamShowsNothing)
{
    std::wstring file = folder + L"\\no_stream.txt";
    ASSERT_TRUE(write_file(file, "plain"));
    SendMessageW(g_run.withhash_list, LB_ADDSTRING, 0, (LPARAM)file.c_str());
    SendMessageW(g_run.withhash_list, LB_SETCURSEL, (WPARAM)-1, 0);
    EXPECT_EQ(L"", digest_view_text()) << "nothing selected";
    SendMessageW(g_run.withhash_list, LB_SETCURSEL, 0, 0);
    EXPECT_EQ(L"", digest_view_text()) << "the file has no stream";
}

}  // namespace
