// The real Kestrin.exe under Wine: its window as it opens, its layout when
// resized, minimised and restored, its commands that need no files, and how
// it ends. Everything is read from the running window from outside.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <tuple>
#include <shlwapi.h>
#include <commctrl.h>
#include "driver.h"
#include "oracle.h"
#include "test_env.h"
#include "res/resource.h"

namespace {

const int kAllControls[] = {501, 301, 101, 102, 103, 502, 201, 104, 401, 202,
                            105, 402, 503, 203, 106, 403, 204, 1,   2,   601};

std::wstring rect_text(const RECT& r)
{
    wchar_t buf[96];
    swprintf(buf, 96, L"(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
    return buf;
}

std::string rect_str(const RECT& r)
{
    return narrow(rect_text(r));
}

// A scratch folder in the build tree (not on the NTFS volume): these tests
// only need paths that exist.
std::wstring local_scratch(const wchar_t* name)
{
    std::wstring base = build_dir() + L"\\gui-scratch";
    CreateDirectoryW(base.c_str(), nullptr);
    std::wstring dir = base + L"\\" + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

class Window : public ::testing::Test {
protected:
    Kestrin k;
    void TearDown() override { kestrin_kill(k); }
    void start(const std::wstring& args, bool blank = true)
    {
        ASSERT_TRUE(kestrin_start(k, args, blank)) << "Kestrin.exe did not open its window";
    }
};

// ---------------------------------------------------------------------------
// The window as it opens

TEST_F(Window, OpensWithoutArgumentsReadyAndEmpty)
{
    start(L"", false);
    screenshot(k, "window_initial");

    EXPECT_EQ(L"Kestrin", window_text(k.dlg)) << "caption";
    EXPECT_EQ(L"", control_text(k, IDC_PATH)) << "path field";
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE)) << "StatusLine";
    EXPECT_EQ(L"Start", control_text(k, IDC_START));

    struct { int id; bool enabled; const char* name; } states[] = {
        {IDC_START, false, "Start"},         {IDC_LIST, false, "List Files"},
        {IDC_REMOVE, false, "Remove Hashes"}, {IDC_ADD, true, "Add Files/Folders"},
        {IDC_EXIT, true, "Exit"},            {IDC_REWRITE, false, "Rewrite Hashes"},
        {IDC_CREATE, false, "Create Hashes"},
    };
    for (auto& s : states)
        EXPECT_EQ(s.enabled, control_enabled(k, s.id)) << s.name << " enabled state";

    struct { int id; bool visible; const char* name; } shown[] = {
        {IDC_ALTERED_LABEL, true, "\"Altered Files:\""}, {IDC_REWRITE, true, "Rewrite Hashes"},
        {IDC_ALTERED_LIST, true, "AlteredList"},         {IDC_WITHHASH_LABEL, false, "\"Files with Hash:\""},
        {IDC_SHOW_ALTERED, false, "Show Altered Files"}, {IDC_WITHHASH_LIST, false, "WithHashList"},
        {IDC_WITHOUT_LIST, true, "WithoutHashList"},     {IDC_CREATE, true, "Create Hashes"},
    };
    for (auto& s : shown)
        EXPECT_EQ(s.visible, control_visible(k, s.id)) << s.name << " visibility";

    EXPECT_EQ(L"Altered Files:", control_text(k, IDC_ALTERED_LABEL));
    EXPECT_EQ(L"Files with Hash:", control_text(k, IDC_WITHHASH_LABEL));
    EXPECT_EQ(L"Files without Hash:", control_text(k, IDC_WITHOUT_LABEL));
    for (int list : {IDC_ALTERED_LIST, IDC_WITHHASH_LIST, IDC_WITHOUT_LIST})
        EXPECT_EQ(0u, list_items(k, list).size()) << "list " << list << " starts empty";
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(L"", status_part(k, part)) << "status-bar part " << part;
}

TEST_F(Window, RunsInTheIdlePriorityClass)
{
    start(L"", false);
    EXPECT_EQ((DWORD)IDLE_PRIORITY_CLASS, GetPriorityClass(k.pi.hProcess)) << "priority class of Kestrin.exe";
}

// The field holds the argument text as the platform splits it off the command
// line (PathGetArgsW in this process on the same command line), quotes and
// blanks kept, and a non-empty text enables Start, List Files and Remove Hashes.
TEST_F(Window, ArgumentsGoIntoThePathFieldAsTyped)
{
    const wchar_t* cases[] = {
        L"\"C:\\some dir\\a b.txt\" Z:\\plain \"Z:\\x y\"",
        L"   ",
        L"  two leading blanks \"and a quote",
        L"Z:\\one",
    };
    for (const wchar_t* args : cases) {
        SCOPED_TRACE(narrow(std::wstring(L"arguments [") + args + L"]"));
        start(args);
        std::wstring expected = PathGetArgsW(k.command_line.c_str());
        EXPECT_EQ(std::wstring(args), expected) << "the platform's own split of our command line";
        EXPECT_EQ(expected, control_text(k, IDC_PATH)) << "path field";
        EXPECT_TRUE(control_enabled(k, IDC_START)) << "Start";
        EXPECT_TRUE(control_enabled(k, IDC_LIST)) << "List Files";
        EXPECT_TRUE(control_enabled(k, IDC_REMOVE)) << "Remove Hashes";
        EXPECT_FALSE(control_enabled(k, IDC_REWRITE)) << "Rewrite Hashes";
        EXPECT_FALSE(control_enabled(k, IDC_CREATE)) << "Create Hashes";
        if (wcscmp(args, L"   ") == 0) screenshot(k, "window_blank_arguments");
        kestrin_kill(k);
    }
}

// A program path followed by nothing at all leaves the field empty.
TEST_F(Window, ProgramPathAloneLeavesFieldEmpty)
{
    start(L"", false);
    EXPECT_EQ(L"", std::wstring(PathGetArgsW(k.command_line.c_str())));
    EXPECT_EQ(L"", control_text(k, IDC_PATH));
    EXPECT_FALSE(control_enabled(k, IDC_START));
}

// ---------------------------------------------------------------------------
// Layout

struct Layout {
    std::map<int, RECT> rects;
    SIZE client;
    RECT window;
};

Layout read_layout(const Kestrin& k)
{
    Layout l;
    for (int id : kAllControls) l.rects[id] = control_rect(k, id);
    l.client = client_size(k);
    l.window = window_rect(k);
    return l;
}

void expect_moved(const Layout& before, const Layout& after, int id, int dl, int dt, int dw, int dh)
{
    const RECT& b = before.rects.at(id);
    const RECT& a = after.rects.at(id);
    RECT want = {b.left + dl, b.top + dt, b.left + dl + (b.right - b.left) + dw, b.top + dt + (b.bottom - b.top) + dh};
    EXPECT_TRUE(EqualRect(&want, &a)) << "control " << id << ": before " << rect_str(b) << ", expected "
                                      << rect_str(want) << ", got " << rect_str(a);
}

TEST_F(Window, EnlargingBy100MovesAndGrowsEveryControl)
{
    start(L"", false);
    Layout before = read_layout(k);
    std::vector<int> edges_before = status_part_edges(k);
    set_window_size(k, before.window.right - before.window.left + 100, before.window.bottom - before.window.top + 100);
    Layout after = read_layout(k);
    screenshot(k, "window_enlarged");

    ASSERT_EQ(before.client.cx + 100, after.client.cx) << "client width after enlarging the window by 100";
    ASSERT_EQ(before.client.cy + 100, after.client.cy) << "client height after enlarging the window by 100";
    int dh2 = (after.client.cy / 2) - (before.client.cy / 2);
    EXPECT_EQ(50, dh2);

    //                       id   left  top  width height
    expect_moved(before, after, 501, 0, 0, 100, 100);  // outer frame
    expect_moved(before, after, 301, 0, 0, 100, 0);    // path field
    expect_moved(before, after, 101, 0, 0, 0, 0);      // Add Files/Folders
    expect_moved(before, after, 102, 100, 0, 0, 0);    // List Files
    expect_moved(before, after, 103, 100, 0, 0, 0);    // Remove Hashes
    expect_moved(before, after, 502, 0, 0, 100, dh2);  // upper frame
    expect_moved(before, after, 201, 0, 0, 0, 0);
    expect_moved(before, after, 202, 0, 0, 0, 0);
    expect_moved(before, after, 104, 100, 0, 0, 0);    // Rewrite Hashes
    expect_moved(before, after, 105, 100, 0, 0, 0);    // Show Altered Files
    expect_moved(before, after, 401, 0, 0, 100, dh2);
    expect_moved(before, after, 402, 0, 0, 100, dh2);
    expect_moved(before, after, 503, 0, dh2, 100, dh2);  // lower frame
    expect_moved(before, after, 203, 0, dh2, 0, 0);
    expect_moved(before, after, 106, 100, dh2, 0, 0);    // Create Hashes
    expect_moved(before, after, 403, 0, dh2, 100, dh2);
    expect_moved(before, after, 204, 0, 100, 100, 0);    // StatusLine
    expect_moved(before, after, 1, 100, 100, 0, 0);      // Start
    expect_moved(before, after, 2, 100, 100, 0, 0);      // Exit

    // The status bar spans the bottom of the client area at its own height.
    const RECT& sb0 = before.rects.at(601);
    const RECT& sb = after.rects.at(601);
    EXPECT_EQ(0, sb.left) << "status bar " << rect_str(sb);
    EXPECT_EQ(after.client.cx, sb.right) << "status bar " << rect_str(sb);
    EXPECT_EQ(after.client.cy, sb.bottom) << "status bar " << rect_str(sb);
    EXPECT_EQ(sb0.bottom - sb0.top, sb.bottom - sb.top) << "status bar height";

    // The part edges stay where initialisation put them; the last reaches the new edge.
    std::vector<int> edges_after = status_part_edges(k);
    ASSERT_EQ(3u, edges_before.size()) << "status-bar parts";
    EXPECT_EQ(before.client.cx * 9 / 100, edges_before[0]) << "first part's right edge, client width " << before.client.cx;
    EXPECT_EQ(before.client.cx * 40 / 100, edges_before[1]) << "second part's right edge";
    EXPECT_EQ(-1, edges_before[2]) << "last part runs to the right edge";
    EXPECT_EQ(edges_before, edges_after) << "part edges after enlarging";
    RECT last = {};
    ASSERT_TRUE(status_part_rect(k, 2, &last));
    EXPECT_GE(last.right, after.client.cx - 2) << "last part " << rect_str(last) << " should reach the new right edge "
                                                << after.client.cx;
    EXPECT_GT(last.right, before.client.cx) << "last part must have grown with the window";
}

// What the window shows after a resize must be what it shows once everything
// is repainted: no control missing at its new place, no ghost at its old one.
// Compared pixel by pixel on the screen; the path field's blinking caret may
// differ by a few pixels.
TEST_F(Window, ResizedWindowShowsEveryControlWithoutGhosts)
{
    struct Case { const char* name; int dw, dh; bool maximise; } cases[] = {
        {"enlarge", 100, 100, false}, {"shrink", -60, -60, false}, {"maximise", 0, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(L"", false);
        RECT w = window_rect(k);
        if (c.maximise)
            ShowWindow(k.dlg, SW_MAXIMIZE);
        else
            set_window_size(k, w.right - w.left + c.dw, w.bottom - w.top + c.dh);
        Sleep(1000);
        std::string shown = screenshot(k, (std::string("window_resized_") + c.name).c_str());
        RedrawWindow(k.dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
        Sleep(1000);
        std::string repainted = screenshot(k, (std::string("window_resized_") + c.name + "_repainted").c_str());
        ASSERT_FALSE(shown.empty() || repainted.empty()) << "screenshots could not be taken";
        long differing = -1;
        std::string why;
        ASSERT_TRUE(differing_pixels(shown, repainted, &differing, &why)) << why;
        EXPECT_LE(differing, 40) << "pixels that differ between the window as shown after the resize (" << shown
                                 << ") and after a full repaint (" << repainted << ")";
        kestrin_kill(k);
    }
}

// After a resize the frames lie below every control raised after them and the
// path field is on top.
TEST_F(Window, ResizingKeepsFramesBelowTheControls)
{
    start(L"", false);
    RECT w = window_rect(k);
    set_window_size(k, w.right - w.left + 40, w.bottom - w.top + 30);

    std::vector<int> order;  // top to bottom
    for (HWND c = GetWindow(k.dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) order.push_back(GetDlgCtrlID(c));
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(IDC_PATH, order.front()) << "topmost control after a resize";
    auto pos = [&](int id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
    for (int frame : {501, 502, 503}) {
        for (int id : {301, 101, 102, 103, 104, 105, 401, 402, 106, 403, 1, 2, 601, 204, 203})
            EXPECT_LT(pos(id), pos(frame)) << "control " << id << " should lie above frame " << frame;
    }
    EXPECT_LT(pos(503), pos(502));
    EXPECT_LT(pos(502), pos(501));
}

TEST_F(Window, MinimiseAndRestoreGiveTheSameLayout)
{
    start(L"", false);
    RECT w = window_rect(k);
    set_window_size(k, w.right - w.left + 60, w.bottom - w.top + 44);
    Layout before = read_layout(k);

    ShowWindow(k.dlg, SW_MINIMIZE);
    EXPECT_TRUE(wait_until([&] { return IsIconic(k.dlg) != 0; }, 5000)) << "window did not minimise";
    ShowWindow(k.dlg, SW_RESTORE);
    EXPECT_TRUE(wait_until([&] { return !IsIconic(k.dlg); }, 5000)) << "window did not restore";
    SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(200);
    Layout after = read_layout(k);

    EXPECT_EQ(before.client.cx, after.client.cx);
    EXPECT_EQ(before.client.cy, after.client.cy);
    for (int id : kAllControls)
        EXPECT_TRUE(EqualRect(&before.rects[id], &after.rects[id]))
            << "control " << id << ": before minimising " << rect_str(before.rects[id]) << ", after restoring "
            << rect_str(after.rects[id]);
}

TEST_F(Window, CannotBeMadeSmallerThanTheMinimum)
{
    start(L"", false);
    SIZE c = client_size(k);
    int min_w = c.cx * 64 / 100, min_h = c.cy * 66 / 100;

    set_window_size(k, 50, 40);
    RECT r = window_rect(k);
    EXPECT_EQ(min_w, r.right - r.left) << "whole-window width after asking for 50; initial client width " << c.cx;
    EXPECT_EQ(min_h, r.bottom - r.top) << "whole-window height after asking for 40; initial client height " << c.cy;
    screenshot(k, "window_minimum");

    // One pixel above the minimum is granted as asked.
    set_window_size(k, min_w + 1, min_h + 1);
    r = window_rect(k);
    EXPECT_EQ(min_w + 1, r.right - r.left);
    EXPECT_EQ(min_h + 1, r.bottom - r.top);
}

// ---------------------------------------------------------------------------
// Ending the program

TEST_F(Window, ExitWhileIdleClosesAtOnceWithCodeZero)
{
    start(L"", false);
    ASSERT_TRUE(press(k, IDC_EXIT));
    bool box_seen = false;
    bool ended = wait_until([&] {
        if (!other_dialogs(k).empty()) box_seen = true;
        return !kestrin_running(k);
    }, 10000);
    DWORD code = 0xDEADBEEF;
    ASSERT_TRUE(ended && kestrin_wait_exit(k, 0, &code)) << "process still runs after Exit";
    EXPECT_FALSE(box_seen) << "Exit while Idle must not ask";
    EXPECT_EQ(0u, code) << "exit code";
}

TEST_F(Window, CloseBoxAndEscapeEndWithCodeZero)
{
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way == 0 ? "close box" : "Esc key");
        start(L"\"Z:\\some path\"");
        if (way == 0)
            PostMessageW(k.dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        else {
            PostMessageW(control(k, IDC_PATH), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PostMessageW(control(k, IDC_PATH), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        }
        DWORD code = 0xDEADBEEF;
        EXPECT_TRUE(kestrin_wait_exit(k, 10000, &code)) << "process still runs";
        EXPECT_EQ(0u, code) << "exit code";
        kestrin_kill(k);
    }
}

// ---------------------------------------------------------------------------
// Commands that need no files

TEST_F(Window, TypingEnablesAndEmptyingDisablesTheCommands)
{
    start(L"", false);
    auto three = [&] {
        return std::make_tuple(control_enabled(k, IDC_START), control_enabled(k, IDC_LIST), control_enabled(k, IDC_REMOVE));
    };
    EXPECT_EQ(std::make_tuple(false, false, false), three()) << "before typing";
    type_text(k, L"Z");
    EXPECT_EQ(std::make_tuple(true, true, true), three()) << "after typing the first character";
    type_text(k, L":\\x");
    EXPECT_EQ(L"Z:\\x", control_text(k, IDC_PATH));
    EXPECT_EQ(std::make_tuple(true, true, true), three()) << "after more characters";
    for (int i = 0; i < 3; ++i) type_text(k, L"\b");
    EXPECT_EQ(L"Z", control_text(k, IDC_PATH));
    EXPECT_EQ(std::make_tuple(true, true, true), three()) << "one character left";
    type_text(k, L"\b");
    EXPECT_EQ(L"", control_text(k, IDC_PATH));
    EXPECT_EQ(std::make_tuple(false, false, false), three()) << "after deleting the last character";
    type_text(k, L" ");
    EXPECT_EQ(std::make_tuple(true, true, true), three()) << "a blank is text too";
    erase_path_field(k);
    EXPECT_EQ(std::make_tuple(false, false, false), three()) << "after selecting all and deleting";
    // Neither Rewrite nor Create follows the field.
    type_text(k, L"abc");
    EXPECT_FALSE(control_enabled(k, IDC_REWRITE));
    EXPECT_FALSE(control_enabled(k, IDC_CREATE));
}

TEST_F(Window, StartOnAMissingTargetShowsTheMessageAndChangesNothing)
{
    std::wstring there = local_scratch(L"present");
    std::wstring missing = there + L"\\no such file.txt";
    start(L"\"" + there + L"\" \"" + missing + L"\"");

    ASSERT_TRUE(press(k, IDC_START));
    HWND box = find_dialog(k, nullptr, 10000);
    ASSERT_TRUE(box) << "no message box appeared";
    screenshot(k, "window_missing_target");
    EXPECT_EQ(L"Error", window_text(box)) << "the platform's default message-box title under Wine";
    EXPECT_EQ(L"The following file or folder does not exist:\n\n" + missing, box_text(box));
    EXPECT_EQ(GetAncestor(box, GA_ROOTOWNER), k.dlg) << "the message is owned by the main window";
    ASSERT_TRUE(answer(box, IDOK));
    ASSERT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000)) << "message box did not close";
    SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(300);

    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    EXPECT_EQ(L"Start", control_text(k, IDC_START));
    EXPECT_TRUE(control_enabled(k, IDC_START));
    EXPECT_TRUE(control_enabled(k, IDC_LIST));
    EXPECT_TRUE(control_enabled(k, IDC_REMOVE));
    EXPECT_TRUE(control_visible(k, IDC_ALTERED_LIST));
    EXPECT_FALSE(control_visible(k, IDC_WITHHASH_LIST));
    for (int part = 0; part < 3; ++part) EXPECT_EQ(L"", status_part(k, part)) << "status-bar part " << part;
    // Still Idle: the field still drives the buttons.
    erase_path_field(k);
    EXPECT_FALSE(control_enabled(k, IDC_START)) << "field emptied after the failed Start: the window must be Idle";
}

TEST_F(Window, AVeryLongMissingTargetIsCutTo511Characters)
{
    std::wstring missing = L"Z:\\" + std::wstring(700, L'q');
    start(missing);
    ASSERT_TRUE(press(k, IDC_LIST));
    HWND box = find_dialog(k, nullptr, 10000);
    ASSERT_TRUE(box) << "no message box appeared";
    std::wstring text = box_text(box);
    std::wstring full = L"The following file or folder does not exist:\n\n" + missing;
    EXPECT_EQ(511u, text.size()) << "message length";
    EXPECT_EQ(full.substr(0, 511), text);
    answer(box, IDOK);
    EXPECT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000));
    EXPECT_TRUE(control_visible(k, IDC_ALTERED_LIST)) << "a failed List leaves the groups as they were";
}

TEST_F(Window, RemoveAsksAndNoChangesNothing)
{
    std::wstring there = local_scratch(L"remove-no");
    start(L"\"" + there + L"\"");
    ASSERT_TRUE(press(k, IDC_REMOVE));
    HWND box = find_dialog(k, L"Remove Hashes", 10000);
    ASSERT_TRUE(box) << "no \"Remove Hashes\" box appeared";
    screenshot(k, "window_remove_question");
    EXPECT_EQ(L"Do you really want to delete hashes of these files/folders?", box_text(box));
    EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO)) << "Yes and No buttons";
    EXPECT_FALSE(GetDlgItem(box, IDOK)) << "no OK button";
    EXPECT_EQ(IDNO, default_button(box)) << "No is the default button";
    ASSERT_TRUE(answer(box, IDNO));
    ASSERT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000));
    SendMessageTimeoutW(k.dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(300);

    EXPECT_TRUE(control_visible(k, IDC_ALTERED_LIST)) << "No must not switch to \"Files with Hash:\"";
    EXPECT_FALSE(control_visible(k, IDC_WITHHASH_LIST));
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    EXPECT_TRUE(control_enabled(k, IDC_START));
    EXPECT_TRUE(control_enabled(k, IDC_REMOVE));
    EXPECT_TRUE(control_enabled(k, IDC_LIST));
}

// ---------------------------------------------------------------------------
// The folder browser, driven through its tree (Wine's browser takes the tree's
// selection, not its edit box's text, when OK is pressed).

TEST_F(Window, FolderBrowserChoiceGoesInFrontOrReplaces)
{
    std::wstring blank = local_scratch(L"pick me");           // has a blank: quoted
    std::wstring plain = local_scratch(L"plainpick");         // no blank: as is
    std::wstring target = local_scratch(L"browse-target");    // an empty folder a Check can run on
    start(L"", false);

    // Empty field: the choice replaces (there is nothing to keep).
    std::wstring caption;
    std::string err = browse_pick(k, blank, &caption);
    ASSERT_EQ("", err) << "driving the folder browser";
    EXPECT_EQ(L"Kestrin", caption) << "text above the browser's tree";
    EXPECT_EQ(L"\"" + blank + L"\"", control_text(k, IDC_PATH)) << "empty field: the quoted choice alone";

    // Text present and append_flag set (it was set by the field's change): in front.
    ASSERT_TRUE(browse_pick(k, plain, nullptr).empty());
    EXPECT_EQ(plain + L" \"" + blank + L"\"", control_text(k, IDC_PATH)) << "second choice goes in front";

    // A Check clears append_flag: the next choice replaces the text.
    erase_path_field(k);
    type_text(k, L"\"" + target + L"\"");
    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_job_end(k, 30000)) << "Check of an empty folder did not end";
    ASSERT_TRUE(browse_pick(k, plain, nullptr).empty());
    EXPECT_EQ(plain, control_text(k, IDC_PATH)) << "after a Check the choice replaces the text";
    // Setting the text set append_flag again: the next goes in front.
    ASSERT_TRUE(browse_pick(k, blank, nullptr).empty());
    EXPECT_EQ(L"\"" + blank + L"\" " + plain, control_text(k, IDC_PATH)) << "after the replace, in front again";
    screenshot(k, "window_after_browser");

    // Cancel changes nothing.
    std::wstring before = control_text(k, IDC_PATH);
    ASSERT_TRUE(press(k, IDC_ADD));
    HWND dlg = find_dialog(k, nullptr, 15000);
    ASSERT_TRUE(dlg);
    answer(dlg, IDCANCEL);
    EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(dlg); }, 10000));
    Sleep(200);
    EXPECT_EQ(before, control_text(k, IDC_PATH)) << "after cancelling the browser";
}

}  // namespace
