// shell --install / --uninstall, seen through Wine's reg.exe: the keys
// install writes, the same after a second install, the user's classes as
// they were after uninstall; and the "Check with Kestrin" command line, with
// Explorer's %1 filled in, run as it stands on a folder with a blank and
// non-ASCII letters in its name.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <set>

namespace {

// Runs `line` (no console); standard output and error in `out`.
DWORD run_line(const std::wstring& line, std::wstring* out)
{
    std::wstring file = build_scratch(L"shell-run-out.txt");
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0,
                           nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = h;
    si.hStdError = h;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = line;
    BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &si,
                                  &pi);
    CloseHandle(h);
    if (!started) return 1000;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 1001;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string bytes = read_file(file);
    // reg.exe writes UTF-16 to a file; kestrin-cli UTF-8.
    if (bytes.size() >= 2 && bytes[1] == '\0')
        out->assign((const wchar_t*)bytes.data(), bytes.size() / 2);
    else
        *out = widen(bytes);
    return code;
}

std::wstring reg_query(const std::wstring& key)
{
    std::wstring out;
    run_line(L"reg.exe query \"" + key + L"\" /s", &out);
    return out;
}

// The key lines of a reg query that name a Kestrin verb, and each value line
// below them, as "KEY|VALUE LINE" (blanks squeezed).
std::set<std::wstring> kestrin_entries(const std::wstring& text)
{
    std::set<std::wstring> entries;
    std::wstring key;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
        if (line.rfind(L"HKEY_", 0) == 0) {
            key = line;
            if (key.find(L"Kestrin") != std::wstring::npos) entries.insert(key);
        } else if (!line.empty() && key.find(L"Kestrin") != std::wstring::npos) {
            std::wstring squeezed;
            for (wchar_t c : line)
                if (!(c == L' ' && (squeezed.empty() || squeezed.back() == L' '))) squeezed += c;
            entries.insert(key + L"|" + squeezed);
        }
    }
    return entries;
}

TEST(CliShell, InstallWritesTheEntriesUninstallTakesThemAllAway)
{
    // kestrin-cli and a Kestrin.exe side by side, as in the package.
    std::wstring app = build_scratch(L"Kestrin app");
    CreateDirectoryW(app.c_str(), nullptr);
    std::wstring cli = app + L"\\kestrin-cli.exe", window = app + L"\\Kestrin.exe";
    ASSERT_TRUE(CopyFileW(cli_exe().c_str(), cli.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(cli_exe().c_str(), window.c_str(), FALSE));
    const std::wstring classes = L"HKEY_CURRENT_USER\\Software\\Classes";
    std::wstring before = reg_query(classes);
    ASSERT_TRUE(kestrin_entries(before).empty()) << narrow(before);

    std::wstring out;
    EXPECT_EQ(run_line(L"\"" + cli + L"\" shell --install", &out), 0u) << narrow(out);
    std::wstring once = reg_query(classes);
    EXPECT_EQ(run_line(L"\"" + cli + L"\" shell --install", &out), 0u) << narrow(out);
    std::wstring twice = reg_query(classes);
    EXPECT_EQ(once, twice) << "a second install changed the registry";

    std::set<std::wstring> expected;
    for (const wchar_t* kind : {L"*", L"Directory"}) {
        std::wstring shell = classes + L"\\" + kind + L"\\shell\\";
        struct { const wchar_t* key; const wchar_t* label; std::wstring command; std::wstring icon; } verbs[] = {
            {L"Kestrin.Check", L"Check with Kestrin", L"\"" + cli + L"\" check --pause -- \"%1\"", cli},
            {L"Kestrin.Update", L"Update digests with Kestrin", L"\"" + cli + L"\" update --pause -- \"%1\"", cli},
            {L"Kestrin.Open", L"Open in Kestrin", L"\"" + window + L"\" \"%1\"", window},
        };
        for (const auto& v : verbs) {
            std::wstring key = shell + v.key;
            expected.insert(key);
            expected.insert(key + L"|(Default) REG_SZ " + v.label);
            expected.insert(key + L"|Icon REG_SZ " + v.icon + L",0");
            expected.insert(key + L"\\command");
            expected.insert(key + L"\\command|(Default) REG_SZ " + v.command);
        }
    }
    std::set<std::wstring> got = kestrin_entries(once);
    EXPECT_TRUE(got == expected) << narrow(once);

    // "Check with Kestrin" on a folder, as Explorer runs it: the command
    // with %1 replaced by the folder's path.
    std::wstring folder = ntfs_scratch("cli-shell") + L"\\Fotos mit Leerzeichen \u00dc\u65e5\u672c";
    CreateDirectoryW(folder.c_str(), nullptr);
    write_file(folder + L"\\a.jpg", std::string(4000, 'a'));
    write_file(folder + L"\\b.jpg", std::string(4000, 'b'));
    ASSERT_EQ(run_cli({L"create", folder}).code, 0u);
    int st = -1;
    linux_sh("python3 -c " +
                 sh_quote("import os,sys; p=sys.argv[1]; s=os.stat(p); b=bytearray(open(p,'rb').read()); b[5]^=2; "
                          "open(p,'r+b').write(b); os.utime(p,ns=(s.st_atime_ns,s.st_mtime_ns))") +
                 " " + sh_quote(to_linux_path(folder + L"\\b.jpg")),
             &st);
    ASSERT_EQ(st, 0);
    std::wstring check = L"\"" + cli + L"\" check --pause -- \"%1\"";
    check.replace(check.find(L"%1"), 2, folder);
    EXPECT_EQ(run_line(check, &out), 1u) << narrow(out);
    EXPECT_NE(out.find(L"corrupt  " + folder + L"\\b.jpg"), std::wstring::npos) << narrow(out);
    EXPECT_NE(out.find(L"summary  check: 2 files, 1 matched, 1 corrupt"), std::wstring::npos) << narrow(out);

    EXPECT_EQ(run_line(L"\"" + cli + L"\" shell --uninstall", &out), 0u) << narrow(out);
    EXPECT_EQ(reg_query(classes), before) << "uninstall left the user's classes changed";
    EXPECT_EQ(run_line(L"\"" + cli + L"\" shell --uninstall", &out), 0u) << "a second uninstall: " << narrow(out);
    EXPECT_EQ(run_line(L"\"" + cli + L"\" shell --both", &out), 3u) << narrow(out);
}

}  // namespace
