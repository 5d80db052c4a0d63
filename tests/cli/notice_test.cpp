// --notify and --event-log, seen from outside. The notification is a window
// on the Xvfb display: found there by X (xdotool) and by its title, its text
// read back from the window, a picture taken of it. Wine keeps no event log
// (its RegisterEventSource and ReportEvent store nothing), but its "eventlog"
// trace channel prints every ReportEvent call's text, in the class of its
// type: err for an error, warn for a warning, trace for information. That
// trace, switched on through WINEDEBUG in the run's environment, is the
// witness here.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

const wchar_t kTitle[] = L"Kestrin found damaged files";

std::string q(const std::string& s)
{
    return sh_quote(s);
}

// Runs kestrin-cli from Linux with Wine's event log trace on (the trace goes
// to the Unix standard error of the process Wine starts, which a Windows
// parent cannot redirect); standard error and the trace in `err`.
CliRun run_traced(const std::vector<std::wstring>& args)
{
    const char* src = getenv("KESTRIN_SOURCE_DIR");
    std::string command = "WINEDEBUG=-all,+eventlog " + q(std::string(src ? src : ".") + "/scripts/wine-run.sh") + " " +
                          q(to_linux_path(cli_exe()));
    for (const auto& a : args) command += " " + q(narrow(a));
    CliRun r;
    int st = -1;
    r.err = widen(linux_sh(command + " 2>&1 >/dev/null </dev/null", &st, 120000));
    r.finished = st >= 0;
    r.code = (DWORD)st;
    return r;
}

// The ReportEventW lines of Wine's trace in a run's standard error.
std::vector<std::wstring> event_lines(const std::wstring& err)
{
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < err.size();) {
        size_t end = err.find(L'\n', at);
        if (end == std::wstring::npos) end = err.size();
        std::wstring line = err.substr(at, end - at);
        if (line.find(L":eventlog:ReportEventW ") != std::wstring::npos) lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// Wine's debug form of a string: characters above 0x7F as \xxxx.
std::wstring wine_debugstr(const std::wstring& s)
{
    std::wstring out;
    for (wchar_t c : s) {
        if (c == L'\\') out += L"\\\\";
        else if (c < 0x80) out += c;
        else {
            wchar_t hex[8];
            swprintf(hex, 8, L"\\%04x", (unsigned)c);
            out += hex;
        }
    }
    return out;
}

BOOL CALLBACK add_static_text(HWND child, LPARAM p)
{
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 31);
    if (lstrcmpiW(cls, L"Static") == 0) {
        wchar_t t[4096] = {};
        GetWindowTextW(child, t, 4095);
        *(std::wstring*)p += t;
    }
    return TRUE;
}

// The text of the box's static controls (the message; the icon has none).
std::wstring static_text(HWND box)
{
    std::wstring text;
    EnumChildWindows(box, add_static_text, (LPARAM)&text);
    return text;
}

HWND wait_box(DWORD ms)
{
    for (DWORD waited = 0; waited < ms; waited += 100) {
        if (HWND box = FindWindowW(L"#32770", kTitle)) return box;
        Sleep(100);
    }
    return nullptr;
}

std::string xdotool_windows()
{
    return linux_sh("xdotool search --name " + q(narrow(kTitle)) + " 2>/dev/null");
}

class CliNotice : public testing::Test {
protected:
    std::wstring root;
    std::string linux_root;
    void SetUp() override
    {
        root = ntfs_scratch("cli-notice");
        root += L"\\Fotos Grüße";
        CreateDirectoryW(root.c_str(), nullptr);
        linux_root = to_linux_path(root);
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            write_file(root + L"\\" + widen(name), std::string(5000, name[0]));
        CliRun c = run_cli({L"create", root});
        ASSERT_EQ(c.code, 0u) << narrow(c.err);
    }
    // A box a failed case left open would stand in the next one's way.
    void TearDown() override
    {
        for (int i = 0; i < 10; ++i) {
            HWND box = FindWindowW(L"#32770", kTitle);
            if (!box) break;
            SendMessageW(box, WM_COMMAND, IDOK, 0);
            Sleep(200);
        }
    }
};

TEST_F(CliNotice, CorruptFileShowsTheBoxAndAnErrorEvent)
{
    // One bit of b.jpg flipped, its time put back: corrupt.
    int st = -1;
    linux_sh("python3 -c " +
                 q("import os,sys; p=sys.argv[1]; s=os.stat(p); b=bytearray(open(p,'rb').read()); b[77]^=4; "
                   "open(p,'r+b').write(b); os.utime(p,ns=(s.st_atime_ns,s.st_mtime_ns))") +
                 " " + q(linux_root + "/b.jpg"),
             &st);
    ASSERT_EQ(st, 0);
    ASSERT_EQ(FindWindowW(L"#32770", kTitle), nullptr) << "a notification from before";
    std::wstring report = build_scratch(L"notice-report.json");
    CliRun r = run_traced({L"check", L"--notify", L"--event-log", L"--report", report, root});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.code, 1u) << narrow(r.err);

    // One entry, of the error type, holding the summary and the report.
    std::vector<std::wstring> events = event_lines(r.err);
    ASSERT_EQ(events.size(), 1u) << narrow(r.err);
    EXPECT_NE(events[0].find(L":err:eventlog:"), std::wstring::npos) << narrow(events[0]);
    EXPECT_NE(events[0].find(L"summary  check: 3 files, 2 matched, 1 corrupt; "), std::wstring::npos)
        << narrow(events[0]);
    EXPECT_NE(events[0].find(wine_debugstr(L"Report: " + report)), std::wstring::npos) << narrow(events[0]);

    // The box is up after the run has ended, with the count and the report.
    HWND box = wait_box(20000);
    ASSERT_NE(box, nullptr) << "no notification on the display";
    std::wstring text = static_text(box);
    EXPECT_NE(text.find(L"found 1 corrupt file in:"), std::wstring::npos) << narrow(text);
    EXPECT_NE(text.find(root), std::wstring::npos) << narrow(text);
    EXPECT_NE(text.find(report), std::wstring::npos) << narrow(text);
    // X sees it as a window of its own; the picture is kept for the guide.
    std::string xid = xdotool_windows();
    EXPECT_FALSE(xid.empty()) << "X has no window named " << narrow(kTitle);
    if (!xid.empty()) {
        const char* dir = getenv("KESTRIN_BUILD_DIR");
        std::string shot = std::string(dir ? dir : "/tmp") + "/screenshots/notice.png";
        linux_sh("mkdir -p " + q(std::string(dir ? dir : "/tmp") + "/screenshots") + " && import -window " +
                     xid.substr(0, xid.find('\n')) + " " + q(shot),
                 &st, 30000);
        EXPECT_EQ(st, 0) << "screenshot " << shot;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (p) {
        EXPECT_EQ(WaitForSingleObject(p, 10000), WAIT_OBJECT_0) << "the notice process did not end with its box";
        CloseHandle(p);
    }
}

TEST_F(CliNotice, EditsAndNewFilesShowNothingAndAnInformationEvent)
{
    // a.jpg edited (new content, new time), d.jpg new: nothing rotted.
    int st = -1;
    linux_sh("printf edited >> " + q(linux_root + "/a.jpg") + " && touch -d '+1 minute' " + q(linux_root + "/a.jpg") +
                 " && printf new > " + q(linux_root + "/d.jpg"),
             &st);
    ASSERT_EQ(st, 0);
    CliRun r = run_traced({L"update", L"--notify", L"--event-log", root});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.code, 0u) << narrow(r.err);
    std::vector<std::wstring> events = event_lines(r.err);
    ASSERT_EQ(events.size(), 1u) << narrow(r.err);
    EXPECT_NE(events[0].find(L":trace:eventlog:"), std::wstring::npos) << narrow(events[0]);
    EXPECT_NE(events[0].find(L"summary  update: 4 files, 2 matched, 2 written, 1 updated, 1 added; "), std::wstring::npos)
        << narrow(events[0]);
    EXPECT_EQ(wait_box(5000), nullptr) << "a notification for a run that found nothing wrong";
    EXPECT_EQ(xdotool_windows(), "");

    // Without --event-log no entry; without --notify no box even for damage.
    linux_sh("python3 -c " +
                 q("import os,sys; p=sys.argv[1]; s=os.stat(p); b=bytearray(open(p,'rb').read()); b[9]^=1; "
                   "open(p,'r+b').write(b); os.utime(p,ns=(s.st_atime_ns,s.st_mtime_ns))") +
                 " " + q(linux_root + "/c.jpg"),
             &st);
    r = run_traced({L"check", root});
    EXPECT_EQ(r.code, 1u);
    EXPECT_TRUE(event_lines(r.err).empty()) << narrow(r.err);
    EXPECT_EQ(wait_box(3000), nullptr);
    r = run_cli({L"list", L"--notify", root});
    EXPECT_EQ(r.code, 3u) << "--notify is not an option of list";
}

}  // namespace
