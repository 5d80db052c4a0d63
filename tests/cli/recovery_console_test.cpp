// protect and repair stopped by Ctrl+C (delivered to kestrin-cli's own
// console by send_ctrl_c.exe) at random moments: exit code 4, no set file
// under its name that par2 does not verify whole (the old set, or none),
// and a file under repair holding its damaged bytes or its original ones.
#include "cli_run.h"
#include "oracle.h"
#include "sizing.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

constexpr DWORD kControlCExit = 0xC000013A;

std::string sh_ok(const std::string& command)
{
    int st = -1;
    std::string out = linux_sh(command, &st, 600000);
    EXPECT_EQ(st, 0) << command << "\n" << out;
    return out;
}

bool launch(const std::vector<std::wstring>& args, PROCESS_INFORMATION* pi)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    std::wstring out_path = build_scratch(L"recovery-ctrl-c-out.txt");
    HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0,
                             nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = si.hStdInput = out;
    std::wstring cmdline = quote_arg(cli_exe());
    for (auto& a : args)
        cmdline += L" " + quote_arg(a);
    BOOL ok = CreateProcessW(nullptr, cmdline.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, pi);
    CloseHandle(out);
    return ok;
}

int send_ctrl_c(DWORD pid)
{
    std::wstring cmdline = quote_arg(build_dir() + L"\\tests\\cli\\send_ctrl_c.exe") + L" " + std::to_wstring(pid);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmdline.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi))
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

// Runs `args`, sends Ctrl+C after `delay_ms`; the exit code, or -1 when the
// run was over first or the interrupt was not delivered or came before the
// handler.
long interrupted(const std::vector<std::wstring>& args, DWORD delay_ms)
{
    PROCESS_INFORMATION pi = {};
    if (!launch(args, &pi)) {
        ADD_FAILURE() << "cannot start kestrin-cli";
        return -1;
    }
    bool first = WaitForSingleObject(pi.hProcess, delay_ms) == WAIT_OBJECT_0;
    int sent = first ? -1 : send_ctrl_c(pi.dwProcessId);
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "kestrin-cli did not end after Ctrl+C";
        TerminateProcess(pi.hProcess, 98);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string out = read_file(build_scratch(L"recovery-ctrl-c-out.txt"));
    if (first || sent != 0 || code == kControlCExit || (code == 0 && out.find("summary  ") == std::string::npos))
        return -1;
    return (long)code;
}

TEST(RecoveryConsole, CtrlCDuringProtectAndRepair)
{
    std::wstring root = ntfs_scratch("recovery-ctrl-c");
    std::string root_l = to_linux_path(root), data_l = root_l + "/data", set_l = root_l + "/s.par2";
    std::wstring data = root + L"\\data", set = root + L"\\s.par2";
    // As long as 0.4 s of hashing (about 80 MB natively): protect and repair on
    // it last seconds, natively or emulated, and Ctrl+C comes at random within
    // them. The damage below is a fortieth of it, within the 10 % of recovery
    // data whatever the size (the set has 2,000 slices).
    const long long big = bytes_lasting(0.4);
    sh_ok("mkdir -p " + sh_quote(data_l) + " && head -c " + std::to_string(big) + " /dev/urandom > " +
          sh_quote(data_l + "/big.bin"));
    ASSERT_EQ(run_cli({L"create", data}).code, 0u);
    DWORD whole = GetTickCount();
    ASSERT_EQ(run_cli({L"protect", set, data}).code, 0u);
    whole = GetTickCount() - whole;
    const unsigned seed = (unsigned)GetTickCount();
    printf("protect takes %lu ms; delays: srand(%u)\n", whole, seed);
    srand(seed);
    int stopped = 0;
    const std::string set_files = "cd " + sh_quote(root_l) + " && ls s*.par2 | xargs sha256sum";
    for (int i = 0; i < 4; ++i) {
        std::string before = sh_ok(set_files);
        long code = interrupted({L"protect", set, data, L"--redundancy", L"10"}, 300 + rand() % (whole + 1));
        if (code >= 0) {
            ++stopped;
            EXPECT_TRUE(code == 4 || code == 0) << "run " << i << ": " << code;
            if (code == 4) {   // stopped: the set as it was
                EXPECT_EQ(sh_ok(set_files), before) << "run " << i;
            }
        }
        int st = -1;
        std::string out = linux_sh("par2 v -q -q -B " + sh_quote(data_l) + " " + sh_quote(set_l) + " 2>&1", &st);
        EXPECT_EQ(st, 0) << "run " << i << ": " << out;
    }
    const std::string original = sh_ok("sha256sum < " + sh_quote(data_l + "/big.bin"));
    for (int i = 0; i < 4; ++i) {
        sh_ok("python3 -c 'import os,sys\np=sys.argv[1]; st=os.stat(p)\nf=open(p,\"r+b\"); f.seek(" + std::to_string(big / 80) + "); "
              "f.write(os.urandom(" + std::to_string(big / 40) + ")); f.close()\nos.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))' " +
              sh_quote(data_l + "/big.bin"));
        std::string damaged = sh_ok("sha256sum < " + sh_quote(data_l + "/big.bin"));
        long code = interrupted({L"repair", set, data}, 200 + rand() % (whole + 1));
        if (code >= 0) {
            ++stopped;
            EXPECT_TRUE(code == 4 || code == 0) << "repair run " << i << ": " << code;
        }
        std::string now = sh_ok("sha256sum < " + sh_quote(data_l + "/big.bin"));
        EXPECT_TRUE(now == original || now == damaged) << "repair run " << i;
        if (now == damaged) {
            ASSERT_EQ(run_cli({L"repair", set, data}).code, 0u);
        }
        EXPECT_EQ(sh_ok("sha256sum < " + sh_quote(data_l + "/big.bin")), original);
    }
    printf("%d of 8 runs stopped by Ctrl+C\n", stopped);
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    int st = -1;
    linux_sh("command -v par2", &st);
    if (st != 0)
        return skip_program("par2 (par2cmdline) is not installed");
    return RUN_ALL_TESTS();
}
