// The target list and the walk: which files reach process_file, under which
// text and in which order (seen through a List, which routes every file
// without a stream to "Files without Hash:"), and the missing-target message.
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/targets.h"
#include <gtest/gtest.h>
#include <algorithm>

using Paths = std::vector<std::wstring>;

class WalkTest : public testing::Test {
protected:
    void SetUp() override
    {
        harness_reset();
        root = ntfs_scratch(testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_FALSE(root.empty());
    }
    // root: .hidden 1.txt 2dir\{1.txt 2dir\{1.txt} 3.txt} 3.txt 4empty\ "with space"\{f.txt}
    void make_tree()
    {
        CreateDirectoryW(join(root, L"2dir").c_str(), nullptr);
        CreateDirectoryW(join(root, L"2dir\\2dir").c_str(), nullptr);
        CreateDirectoryW(join(root, L"4empty").c_str(), nullptr);
        CreateDirectoryW(join(root, L"with space").c_str(), nullptr);
        for (const wchar_t* f : {L".hidden", L"1.txt", L"2dir\\1.txt", L"2dir\\2dir\\1.txt", L"2dir\\3.txt", L"3.txt",
                                 L"with space\\f.txt"})
            ASSERT_TRUE(write_file(join(root, f), narrow(f)));
    }
    std::wstring quoted(const std::wstring& p) { return L"\"" + p + L"\""; }
    std::wstring root;
};

// NTFS keeps each folder's entries ordered by name, and that is the order
// in which the folder is enumerated.
TEST_F(WalkTest, DepthFirstWithSubfolderFinishedFirst)
{
    make_tree();
    ASSERT_TRUE(GetFileAttributesW(join(root, L".hidden").c_str()) & FILE_ATTRIBUTE_HIDDEN)
        << "Wine shows dot files as hidden";
    Paths expected;
    for (const wchar_t* f : {L".hidden", L"1.txt", L"2dir\\1.txt", L"2dir\\2dir\\1.txt", L"2dir\\3.txt", L"3.txt",
                             L"with space\\f.txt"})
        expected.push_back(join(root, f));

    ASSERT_TRUE(run_walk(List, quoted(root)));
    EXPECT_EQ(expected, items(g_run.without_list)) << "without a trailing backslash";

    harness_reset();
    ASSERT_TRUE(run_walk(List, quoted(root + L"\\")));
    EXPECT_EQ(expected, items(g_run.without_list)) << "with a trailing backslash: joined without doubling it";
}

TEST_F(WalkTest, HiddenAndSystemFilesAreProcessed)
{
    // The NTFS volume keeps no DOS attributes for Wine, the build tree does.
    std::wstring folder = join(build_dir(), L"jobs-walk-attributes");
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring file = join(folder, L"hidden-system.txt");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(write_file(file, "x"));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    DWORD attributes = GetFileAttributesW(file.c_str());
    if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        GTEST_SKIP() << "this file system keeps no hidden/system attributes for Wine";

    ASSERT_TRUE(run_walk(List, quoted(folder)));
    EXPECT_EQ((Paths{file}), items(g_run.without_list));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WalkTest, TargetsAreTakenAsTyped)
{
    make_tree();
    ASSERT_TRUE(run_walk(List, quoted(join(root, L"4empty"))));
    for (HWND list : {g_run.altered_list, g_run.withhash_list, g_run.without_list})
        EXPECT_EQ(Paths{}, items(list)) << "an empty folder adds nothing";

    std::wstring twice = join(root, L"2dir\\2dir");
    ASSERT_TRUE(run_walk(List, quoted(twice) + L" " + quoted(twice)));
    EXPECT_EQ((Paths{join(twice, L"1.txt"), join(twice, L"1.txt")}), items(g_run.without_list))
        << "a target named twice is walked twice";

    // A file target goes to process_file under its text, relative and unnormalised.
    harness_reset();
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    bool walked = run_walk(List, L"2dir\\..\\3.txt \"with space\\f.txt\"");
    SetCurrentDirectoryW(saved);
    ASSERT_TRUE(walked);
    EXPECT_EQ((Paths{L"2dir\\..\\3.txt", L"with space\\f.txt"}), items(g_run.without_list));
}

// Folders at MAX_PATH and beyond are walked like any other. The walk stops
// only where the platform does: Wine reaches no path whose Linux form passes
// Linux's 4,096-byte limit, so a folder that deep cannot be enumerated and
// is reported to the walk's caller.
TEST_F(WalkTest, FoldersOfAnyLengthAreWalked)
{
    std::wstring parent = join(root, L"p");
    std::wstring long_folder = join(parent, std::wstring(260 - parent.size() - 1, L'L'));
    ASSERT_EQ(260u, long_folder.size());
    linux_sh("mkdir -p " + sh_quote(to_linux_path(long_folder)) + " && echo x > " +
             sh_quote(to_linux_path(long_folder) + "/f.txt") + " && echo y > " + sh_quote(to_linux_path(parent) + "/zz.txt"));
    g_run.skipped_folders = 0;
    ASSERT_TRUE(run_walk(List, quoted(parent)));
    Paths listed = items(g_run.without_list);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ((Paths{join(long_folder, L"f.txt"), join(parent, L"zz.txt")}), listed);
    EXPECT_EQ(0, g_run.skipped_folders);

    ASSERT_NE("", linux_make_unreachable_folder(to_linux_path(parent)));
    harness_reset();
    g_run.skipped_folders = 0;
    ASSERT_TRUE(run_walk(List, quoted(parent)));
    listed = items(g_run.without_list);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ((Paths{join(long_folder, L"f.txt"), join(parent, L"zz.txt")}), listed)
        << "the files Wine can reach are all still visited";
    EXPECT_EQ(1, g_run.skipped_folders) << "the one folder beyond reach is reported";
}

// Finds the message box that parse_targets shows on the test thread, reads
// it, and presses OK.
struct MessageBoxWatch {
    DWORD thread_id;
    HANDLE stop;
    bool seen = false;
    std::wstring title, text;
    HWND owner = nullptr;
    bool error_icon = false;
};

static BOOL CALLBACK read_box_child(HWND child, LPARAM lp)
{
    auto* watch = (MessageBoxWatch*)lp;
    wchar_t cls[32];
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") != 0)
        return TRUE;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        HICON icon = (HICON)SendMessageW(child, STM_GETICON, 0, 0);
        watch->error_icon = icon && icon == LoadIconW(nullptr, IDI_ERROR);
        return TRUE;
    }
    int len = GetWindowTextLengthW(child);
    std::wstring text(len + 1, L'\0');
    GetWindowTextW(child, text.data(), len + 1);
    text.resize(len);
    if (text.size() > watch->text.size())
        watch->text = text;
    return TRUE;
}

static BOOL CALLBACK find_box(HWND window, LPARAM lp)
{
    auto* watch = (MessageBoxWatch*)lp;
    wchar_t cls[32];
    GetClassNameW(window, cls, 32);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    watch->seen = true;
    watch->title = window_text(window);
    watch->owner = GetWindow(window, GW_OWNER);
    EnumChildWindows(window, read_box_child, lp);
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

static DWORD WINAPI watch_for_box(void* arg)
{
    auto* watch = (MessageBoxWatch*)arg;
    for (int i = 0; i < 1000 && !watch->seen; ++i) {
        if (WaitForSingleObject(watch->stop, 20) == WAIT_OBJECT_0)
            break;
        EnumThreadWindows(watch->thread_id, find_box, (LPARAM)watch);
    }
    return 0;
}

static int parse_watched(const std::wstring& text, MessageBoxWatch& watch)
{
    lstrcpynW(g_run.PathBuffer, text.c_str(), g_run.path_capacity);
    watch.thread_id = GetCurrentThreadId();
    watch.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE watcher = CreateThread(nullptr, 0, watch_for_box, &watch, 0, nullptr);
    int result = parse_targets();
    SetEvent(watch.stop);
    WaitForSingleObject(watcher, 30000);
    CloseHandle(watcher);
    CloseHandle(watch.stop);
    return result;
}

static const std::wstring kMissingOpening = L"The following file or folder does not exist:\n\n";

TEST_F(WalkTest, ParseTargetsReportsTheFirstMissingTarget)
{
    make_tree();
    std::wstring missing = join(root, L"no such file.txt");
    MessageBoxWatch watch;
    int result = parse_watched(quoted(join(root, L"1.txt")) + L" " + quoted(missing) + L" " +
                                   quoted(join(root, L"also missing")), watch);
    EXPECT_EQ(1, result);
    ASSERT_TRUE(watch.seen) << "no message box appeared";
    EXPECT_EQ(kMissingOpening + missing, watch.text);
    EXPECT_EQ(g_run.dialog, watch.owner) << "owned by the main window";
    EXPECT_EQ(L"Error", watch.title) << "the platform's default title";
    EXPECT_TRUE(watch.error_icon) << "the error icon";
    EXPECT_EQ(nullptr, g_run.args) << "the target array is released";
    EXPECT_EQ(0, g_run.arg_count);

    MessageBoxWatch quiet;
    std::wstring two = quoted(join(root, L"1.txt")) + L" " + quoted(join(root, L"2dir"));
    EXPECT_EQ(0, parse_watched(two, quiet));
    EXPECT_FALSE(quiet.seen) << "no message when every target exists";
    ASSERT_EQ(2, g_run.arg_count);
    EXPECT_EQ(join(root, L"1.txt"), std::wstring(g_run.args[0]));
    EXPECT_EQ(join(root, L"2dir"), std::wstring(g_run.args[1]));
    LocalFree(g_run.args);
    g_run.args = nullptr;
}

TEST_F(WalkTest, MissingTargetMessageIsCutTo511Characters)
{
    std::wstring missing = join(root, std::wstring(600, L'm'));
    MessageBoxWatch watch;
    EXPECT_EQ(1, parse_watched(quoted(missing), watch));
    ASSERT_TRUE(watch.seen);
    std::wstring expected = (kMissingOpening + missing).substr(0, 511);
    EXPECT_EQ(511u, watch.text.size());
    EXPECT_EQ(expected, watch.text);
}

// A 32-bit program on 64-bit Windows is sent from System32 to SysWOW64
// (Wine does the same): the walk must list the real folder's files, under
// the names as typed.
TEST_F(WalkTest, System32IsTheRealFolder)
{
    SystemPair pair = make_system_pair("kestrin-walk");
    ASSERT_TRUE(run_walk(List, quoted(pair.win)));
    EXPECT_EQ((Paths{pair.win + L"\\both.txt", pair.win + L"\\only.txt"}), items(g_run.without_list));
    remove_system_pair(pair);
}
