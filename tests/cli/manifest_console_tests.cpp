// verify and import on a console show the progress line as every hashing
// command does (and not with --quiet). export and import stopped by Ctrl+C
// at random moments (delivered to kestrin-cli's own console by
// send_ctrl_c.exe). An interrupted export
// leaves the manifest that stood under the name as it was and no temporary;
// an interrupted import ends with code 4 and leaves every stream either
// absent or exactly the manifest's digest, with every last-write time as it
// was. Linux reads the streams and times through the mount after each run;
// the manifest's digests were checked by rhash against the data first.
#include "cli_run.h"
#include "oracle.h"
#include "sizing.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

std::wstring g_root;        // the tree (NTFS)
std::wstring g_manifest;    // its manifest, checked by rhash
std::string g_check_py;     // Linux path of the stream check

// The code a process gets on Windows when Ctrl+C reaches it before its
// handler is in place (the loader still runs): nothing has been touched yet.
// Wine ends such a process with code 0 and no output at all; a run that
// really ended prints its summary line, so the two are told apart by that.
constexpr DWORD kControlCExit = 0xC000013A;

std::wstring q(const std::wstring& s)
{
    return L"\"" + s + L"\"";
}

// Starts kestrin-cli on a console of its own, so that Ctrl+C can reach it;
// standard output and error go to a file, as in a scheduled run.
bool launch(const std::wstring& args, PROCESS_INFORMATION* pi)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW((build_dir() + L"\\manifest-interrupt-out.txt").c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = out;
    std::wstring exe = build_dir() + L"\\cli\\kestrin-cli.exe";
    std::wstring cmdline = q(exe) + L" " + args;
    BOOL ok = CreateProcessW(exe.c_str(), cmdline.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                             nullptr, &si, pi);
    CloseHandle(out);
    return ok;
}

int send_ctrl_c(DWORD pid)
{
    std::wstring exe = build_dir() + L"\\tests\\cli\\send_ctrl_c.exe";
    std::wstring cmdline = q(exe) + L" " + std::to_wstring(pid);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), cmdline.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si,
                        &pi))
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

struct Outcome {
    bool finished_first = false;   // over before the interrupt could be sent
    int sent = -1;                 // send_ctrl_c's code
    DWORD code = 0;
    double whole_ms = 0;
    std::string out;
    // Ended by Ctrl+C before the program's handler was in place.
    bool before_handler() const
    {
        return code == kControlCExit || (code == 0 && out.find("summary  ") == std::string::npos);
    }
};

// Runs `args`; after `delay_ms` (when it still runs) sends Ctrl+C.
Outcome run_interrupted(const std::wstring& args, DWORD delay_ms)
{
    Outcome o;
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    if (!launch(args, &pi)) {
        ADD_FAILURE() << "cannot start kestrin-cli";
        return o;
    }
    if (WaitForSingleObject(pi.hProcess, delay_ms) == WAIT_OBJECT_0) o.finished_first = true;
    else o.sent = send_ctrl_c(pi.dwProcessId);
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "kestrin-cli did not end after Ctrl+C";
        TerminateProcess(pi.hProcess, 98);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    QueryPerformanceCounter(&t1);
    GetExitCodeProcess(pi.hProcess, &o.code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    o.whole_ms = (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)f.QuadPart;
    o.out = read_file(build_dir() + L"\\manifest-interrupt-out.txt");
    return o;
}

// "streams-with-the-digest absent wrong times-changed" after a run, from Linux.
std::string stream_check(const char* mode)
{
    int st = -1;
    std::string r = linux_sh("python3 " + sh_quote(g_check_py) + " " + mode + " " + sh_quote(to_linux_path(g_root)) +
                             " " + sh_quote(to_linux_path(g_manifest)), &st, 300000);
    EXPECT_EQ(st, 0) << r;
    while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
    return r;
}

const char kCheckPy[] = R"PY(
import os, sys
mode, root, manifest = sys.argv[1], sys.argv[2], sys.argv[3]
times_file = manifest + '.times'
lines = [l.split('  ', 1) for l in open(manifest, encoding='utf-8').read().split('\n') if l]
if mode == 'reset':
    # Every stream removed; the times as they stand are the truth from here on.
    for hexd, rel in lines:
        try:
            os.remove(os.path.join(root, rel) + ':z')
        except FileNotFoundError:
            pass
    with open(times_file, 'w') as t:
        for hexd, rel in lines:
            t.write('%d %s\n' % (os.stat(os.path.join(root, rel)).st_mtime_ns, rel))
    print('reset', len(lines))
    sys.exit(0)
times = dict((l.split(' ', 1)[1], int(l.split(' ', 1)[0])) for l in open(times_file).read().split('\n') if l)
good = absent = wrong = moved = 0
for hexd, rel in lines:
    path = os.path.join(root, rel)
    if os.stat(path).st_mtime_ns != times[rel]:
        moved += 1
    try:
        data = open(path + ':z', 'rb').read()
    except FileNotFoundError:
        absent += 1
        continue
    if data.hex() == hexd:
        good += 1
    else:
        wrong += 1
print(good, absent, wrong, moved)
)PY";

class ManifestInterrupt : public testing::Test {};

}  // namespace

TEST(ManifestConsole, ProgressLineOnAConsoleOnly)
{
    std::wstring dir = ntfs_scratch("manifest-progress");
    std::string d = to_linux_path(dir);
    int st = -1;
    // Large enough for several once-a-second lines (as in CliProgress).
    linux_sh("cd " + sh_quote(d) + " && head -c " + std::to_string(bytes_lasting(5)) + " /dev/zero > big.bin && rhash --whirlpool big.bin > M", &st);
    ASSERT_EQ(st, 0);
    std::string out_linux = to_linux_path(build_scratch(L"manifest-progress-out.txt"));
    std::string manifest = sh_quote(narrow(dir + L"\\M"));
    for (const char* command : {"verify ", "import "}) {
        std::string screen = on_terminal(command + manifest, out_linux, &st);
        std::string out = linux_sh("cat " + sh_quote(out_linux));
        EXPECT_NE(screen.find(" %"), std::string::npos) << command << screen;
        EXPECT_NE(screen.find(" MB/s  (Average:"), std::string::npos) << command << screen;
        EXPECT_NE(screen.find("  Remaining: 00:00:"), std::string::npos) << command << screen;
        EXPECT_NE(screen.find("exit code 0"), std::string::npos) << command << screen;
        EXPECT_EQ(out.find("Remaining"), std::string::npos) << "the progress line went to standard output:\n" << out;
        EXPECT_NE(screen.find("1 file, 1 matched"), std::string::npos) << "the summary, on standard error:\n" << screen;
        EXPECT_EQ(out.find("summary"), std::string::npos) << "the summary went to standard output:\n" << out;
    }
    EXPECT_EQ(linux_read_hex(d + "/big.bin:z"), openssl_whirlpool_hex(d + "/big.bin"));
    std::string screen = on_terminal("verify --quiet " + manifest, out_linux, &st);
    EXPECT_EQ(screen.find("Remaining"), std::string::npos) << screen;
    EXPECT_EQ(linux_sh("cat " + sh_quote(out_linux)), "") << "--quiet prints findings only";
}

TEST_F(ManifestInterrupt, ExportKeepsTheOldManifest)
{
    // Digests for every file first, from the manifest.
    ASSERT_EQ(run_interrupted(L"import --quiet " + q(g_manifest), 300000).code, 0u);
    std::wstring target = g_root + L"\\EXPORTED";
    std::wstring targets;
    for (const wchar_t* d : {L"d1", L"d2", L"d3", L"d4"}) targets += L" " + q(g_root + L"\\" + d);
    const std::string old_text = "the manifest that stood here\n";
    Outcome whole = run_interrupted(L"export --quiet " + q(target) + targets, 120000);
    ASSERT_EQ(whole.code, 0u);
    printf("export: an uninterrupted run takes %.0f ms\n", whole.whole_ms);
    printf("random delays: srand(77)\n");
    srand(77);
    int stopped = 0, first = 0, before_handler = 0, not_sent = 0;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(write_file(target, old_text));
        DWORD delay = (DWORD)(rand() % (int)(whole.whole_ms * 0.9 + 1));
        Outcome o = run_interrupted(L"export " + q(target) + targets, delay);
        std::string now = read_file(target);
        if (o.before_handler()) {
            ++before_handler;
            EXPECT_EQ(now, old_text);
        } else if (o.finished_first || o.code == 0) {
            ++first;
            EXPECT_EQ(o.code, 0u);
            EXPECT_NE(now, old_text);
        } else if (o.sent != 0) {
            ++not_sent;
        } else {
            ++stopped;
            EXPECT_EQ(o.code, 4u) << "Ctrl+C at " << delay << " ms";
            EXPECT_EQ(now, old_text) << "Ctrl+C at " << delay << " ms";
        }
        EXPECT_FALSE(file_exists(target + L".kestrin-tmp")) << "run " << i;
    }
    printf("export, Ctrl+C: 8 runs: %d stopped with exit code 4, %d over first, %d before the handler, %d not "
           "delivered\n", stopped, first, before_handler, not_sent);
    EXPECT_GT(stopped, 0) << "no run was stopped while it ran";
}

TEST_F(ManifestInterrupt, ImportLeavesNoStreamButTheManifestsDigest)
{
    stream_check("reset");
    Outcome whole = run_interrupted(L"import --quiet " + q(g_manifest), 300000);
    ASSERT_EQ(whole.code, 0u);
    printf("import: an uninterrupted run takes %.0f ms\n", whole.whole_ms);
    std::string all = stream_check("check");
    int files = 0;
    ASSERT_EQ(sscanf(all.c_str(), "%d", &files), 1) << all;
    EXPECT_EQ(all, std::to_string(files) + " 0 0 0");
    printf("random delays: srand(78)\n");
    srand(78);
    int stopped = 0, first = 0, before_handler = 0, not_sent = 0;
    long long written = 0;
    for (int i = 0; i < 8; ++i) {
        stream_check("reset");
        DWORD delay = (DWORD)(rand() % (int)(whole.whole_ms * 0.9 + 1));
        Outcome o = run_interrupted(L"import " + q(g_manifest), delay);
        std::string after = stream_check("check");
        int good = -1, absent = -1, wrong = -1, moved = -1;
        ASSERT_EQ(sscanf(after.c_str(), "%d %d %d %d", &good, &absent, &wrong, &moved), 4) << after;
        EXPECT_EQ(wrong, 0) << "run " << i << ": " << after;
        EXPECT_EQ(moved, 0) << "run " << i << ": " << after;
        if (o.before_handler()) {
            ++before_handler;
            EXPECT_EQ(good, 0) << "run " << i;
        } else if (o.finished_first || o.code == 0) {
            ++first;
            EXPECT_EQ(o.code, 0u);
            EXPECT_EQ(absent, 0) << "run " << i << " ended " << (o.finished_first ? "before" : "after")
                                 << " Ctrl+C at " << delay << " ms, in " << o.whole_ms << " ms; its output:\n" << o.out;
        } else if (o.sent != 0) {
            ++not_sent;
        } else {
            ++stopped;
            written += good;
            EXPECT_EQ(o.code, 4u) << "Ctrl+C at " << delay << " ms";
            EXPECT_GT(absent, 0) << "run " << i << ": stopped, yet every stream was written";
        }
    }
    printf("import, Ctrl+C: 8 runs: %d stopped with exit code 4 (%lld streams written before the stop, each the "
           "manifest's digest), %d over first, %d before the handler, %d not delivered\n",
           stopped, written, first, before_handler, not_sent);
    EXPECT_GT(stopped, 0) << "no run was stopped while it ran";
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    int st = -1;
    linux_sh("rhash --version && python3 --version", &st);
    if (st != 0) return skip_program("rhash or python3 is not installed on the Linux side");
    g_root = ntfs_scratch("ManifestInterrupt");
    g_manifest = g_root + L"\\MANIFEST";
    g_check_py = to_linux_path(build_dir()) + "/manifest-interrupt-check.py";
    write_file(to_windows_path(g_check_py), std::string(kCheckPy));
    // 1,200 small files in a few folders and a few of 2 MB, their manifest
    // written by rhash (so the digests are rhash's, not ours).
    linux_sh("cd " + sh_quote(to_linux_path(g_root)) + " && for d in 1 2 3 4; do mkdir d$d; for i in $(seq 1 300); do "
             "printf $d-$i > d$d/f$i.txt; done; done && for i in 1 2 3 4 5; do head -c 2000000 /dev/urandom > big$i.bin; "
             "done && rhash --whirlpool -r d1 d2 d3 d4 big*.bin > ../manifest.tmp && mv ../manifest.tmp MANIFEST", &st);
    if (st != 0) {
        printf("cannot make the tree\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
