// create, rewrite and update interrupted at random moments. With Ctrl+C
// (delivered to kestrin-cli's own console by send_ctrl_c.exe) a run must end
// with code 4, a report that says so, and streams that are each either
// untouched or exactly OpenSSL's digest. With the process killed outright, the weaker
// guarantee: no stream of a length other than 0 or 64, none of those 64
// bytes anything but the old digest or OpenSSL's, and no rewritten stream
// empty; no report half-written under its name. Sizes never change, and
// last-write times only when a kill falls between a stream's write and the
// time's restoring (counted). Linux reads every stream through the mount
// after every run.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

std::wstring g_root;
std::string g_root_linux, g_truth, g_times;

std::string q(const std::string& s)
{
    return sh_quote(s);
}

int env_int(const char* name, int fallback)
{
    const char* v = getenv(name);
    return v && *v ? atoi(v) : fallback;
}

struct Launched {
    PROCESS_INFORMATION pi{};
    std::wstring out_file;
};

HANDLE inheritable(const std::wstring& path, bool write)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// " --jobs N" for the runs of a test that asks for workers.
std::wstring g_jobs_option;

// Starts kestrin-cli on a console of its own (so that Ctrl+C can reach it),
// its standard handles on files as in a scheduled run.
bool launch(const std::wstring& command_name, const std::wstring& report, Launched* l)
{
    l->out_file = build_scratch(L"interrupt-out.txt");
    std::wstring in_file = build_scratch(L"empty-input.txt");
    write_file(in_file, "");
    std::wstring command = quote_arg(cli_exe()) + L" " + command_name + L" " + quote_arg(g_root) + L" --report " +
                           quote_arg(report) + g_jobs_option;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inheritable(in_file, false);
    si.hStdOutput = inheritable(l->out_file, true);
    si.hStdError = inheritable(build_scratch(L"interrupt-err.txt"), true);
    // Under load Wine now and then fails to start a process with a console
    // of its own; that says nothing about kestrin-cli, so it is tried again.
    BOOL ok = FALSE;
    for (int attempt = 0; !ok && attempt < 3; ++attempt) {
        if (attempt > 0) {
            printf("starting kestrin-cli failed (error %lu); trying again\n", GetLastError());
            Sleep(500);
        }
        ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                            &si, &l->pi);
    }
    CloseHandle(si.hStdInput);
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    return ok;
}

// send_ctrl_c.exe PID; its exit code (0: raised), or -1.
int send_ctrl_c(DWORD pid)
{
    std::wstring command = quote_arg(build_dir() + L"\\tests\\cli\\send_ctrl_c.exe") + L" " + std::to_wstring(pid);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi))
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

std::string tree(const std::string& args)
{
    int st = -1;
    std::string out = cli_tree(args, &st);
    EXPECT_EQ(st, 0) << args << "\n" << out;
    return out;
}

bool wait_for_handler(const Launched& l, const std::wstring& report);

// How long a whole run lasts once its handler is in place, in ms.
double run_once_ms(const std::wstring& command_name)
{
    Launched l;
    std::wstring report = build_scratch(L"interrupt-report.json");
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    if (!launch(command_name, report, &l))
        return 0;
    wait_for_handler(l, report);
    QueryPerformanceCounter(&t0);
    WaitForSingleObject(l.pi.hProcess, 120000);
    QueryPerformanceCounter(&t1);
    CloseHandle(l.pi.hThread);
    CloseHandle(l.pi.hProcess);
    return (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)f.QuadPart;
}

// The code a process gets when Ctrl+C reaches it before it has a handler
// (while the loader still runs): nothing has been touched yet.
constexpr DWORD kControlCExit = 0xC000013A;

struct Tally {
    int runs = 0, stopped = 0, finished_first = 0, before_handler = 0, not_delivered = 0;
    long long fresh = 0, old = 0, absent = 0, empty = 0, moved = 0;
};

// Waits until kestrin-cli has its console handler: it opens its report (as
// FILE.PID.partial) only after installing it. False when that never came
// (the run ended first, or failed).
bool wait_for_handler(const Launched& l, const std::wstring& report)
{
    std::wstring partial = report + L"." + std::to_wstring(l.pi.dwProcessId) + L".partial";
    for (int waited = 0; waited < 20000; waited += 2) {
        if (file_exists(partial)) return true;
        if (WaitForSingleObject(l.pi.hProcess, 2) == WAIT_OBJECT_0) return false;
    }
    return false;
}

// Runs of `command_name`, each interrupted (Ctrl+C, or a kill when `kill`)
// at a random moment once its handler is in place, within the length of a
// whole run, until `wanted` runs were really stopped.
Tally interrupted_runs(const wchar_t* command_name, bool rewrite, bool kill, int wanted)
{
    Tally t;
    // update starts, as rewrite does, from digests that no longer match.
    const std::string kind = narrow(command_name);
    const std::string mode = kind + (kill ? "-kill" : "");
    const std::string fixed = q(g_root_linux) + " " + q(g_truth) + " " + q(g_times) + " ";
    tree("reset " + fixed + kind);
    double whole = run_once_ms(command_name);
    printf("%ls: an uninterrupted run takes %.0f ms\n", command_name, whole);
    const unsigned seed = 1234 + (rewrite ? 1 : 0) + (kill ? 2 : 0) + (kind == "update" ? 4 : 0);
    printf("random delays: srand(%u)\n", seed);
    srand(seed);
    std::wstring report = build_scratch(L"interrupt-report.json");
    tree("reset " + fixed + kind);
    for (int i = 0; t.stopped < wanted && i < 3 * wanted + 10 && !testing::Test::HasFailure(); ++i) {
        DeleteFileW(report.c_str());
        Launched l;
        if (!launch(command_name, report, &l)) {
            ADD_FAILURE() << "cannot start kestrin-cli";
            break;
        }
        wait_for_handler(l, report);
        DWORD delay = (DWORD)(rand() % (int)(whole * 0.7 + 1));
        Sleep(delay);
        bool ended_first = WaitForSingleObject(l.pi.hProcess, 0) == WAIT_OBJECT_0;
        int sent = 0;
        if (!ended_first) {
            if (kill)
                TerminateProcess(l.pi.hProcess, 99);
            else
                sent = send_ctrl_c(l.pi.dwProcessId);
        }
        bool ended = WaitForSingleObject(l.pi.hProcess, 60000) == WAIT_OBJECT_0;
        EXPECT_TRUE(ended) << "run " << i << " did not end";
        if (!ended)
            TerminateProcess(l.pi.hProcess, 98);
        DWORD code = 0;
        GetExitCodeProcess(l.pi.hProcess, &code);
        CloseHandle(l.pi.hThread);
        CloseHandle(l.pi.hProcess);
        ++t.runs;

        bool report_stands = file_exists(report);
        // The report is a run's last act before it exits: a kill that finds one
        // in place came when the run was over but for its exit, and the report
        // must be that of a whole run, exit code 0.
        bool over_at_kill = kill && !ended_first && report_stands;
        if (over_at_kill) code = 0;
        if (ended_first || over_at_kill || (!kill && code == 0)) {
            ++t.finished_first;  // the run was over before the interrupt reached it
            EXPECT_EQ(code, 0u) << "run " << i;
        } else if (kill) {
            ++t.stopped;
            EXPECT_FALSE(report_stands) << "run " << i << ": a report stands after a kill";
        } else if (sent != 0) {
            ++t.not_delivered;
        } else if (code == kControlCExit) {
            ++t.before_handler;
            EXPECT_FALSE(report_stands) << "run " << i;
        } else {
            ++t.stopped;
            EXPECT_EQ(code, 4u) << "run " << i << " after Ctrl+C at " << delay << " ms";
            EXPECT_TRUE(report_stands) << "run " << i;
        }
        std::string report_args = report_stands ? q(to_linux_path(report)) + " " + q(to_linux_path(l.out_file)) +
                                                      " " + std::to_string(code) + " " + kind
                                                : std::string("-");
        // The checks of this run and the reset for the next, in one go.
        std::string left = tree("step " + fixed + mode + " " + report_args + " " + kind);
        size_t last = left.find_last_of('\n', left.size() >= 2 ? left.size() - 2 : 0);
        long long n = 0, o = 0, a = 0, e = 0, m = 0;
        if (sscanf(left.c_str() + (last == std::string::npos ? 0 : last + 1), "%lld %lld %lld %lld %lld", &n, &o, &a,
                   &e, &m) == 5) {
            t.fresh += n;
            t.old += o;
            t.absent += a;
            t.empty += e;
            t.moved += m;
            // Ctrl+C before the handler: nothing may have been written.
            if (!kill && code == kControlCExit) {
                EXPECT_EQ(n, 0) << "run " << i;
            }
        } else {
            ADD_FAILURE() << "run " << i << ": " << left;
        }
    }
    printf("%ls, %s: %d runs: %d stopped%s, %d over before the interrupt, %d interrupted before the handler was in "
           "place, %d not delivered; streams after them: %lld new, %lld old, %lld absent, %lld empty; %lld last-write times "
           "left moved\n",
           command_name, kill ? "killed" : "Ctrl+C", t.runs, t.stopped, kill ? "" : " with exit code 4",
           t.finished_first, t.before_handler, t.not_delivered, t.fresh, t.old, t.absent, t.empty, t.moved);
    fflush(stdout);
    EXPECT_GE(t.stopped, wanted) << "too few runs were really interrupted";
    // Stopped runs that left nothing undone would mean the interrupt only
    // changed the exit code.
    EXPECT_GT(rewrite ? t.old : t.absent, 0) << "no run stopped before its end";
    return t;
}

bool g_console_reachable;

TEST(CliInterrupt, CtrlCDuringCreate)
{
    if (!g_console_reachable)
        GTEST_SKIP() << "Ctrl+C cannot be delivered here (no terminal for Wine's consoles)";
    Tally t = interrupted_runs(L"create", false, false, env_int("KESTRIN_INTERRUPT_RUNS", 15));
    EXPECT_EQ(t.not_delivered, 0);
    EXPECT_EQ(t.before_handler, 0) << "Ctrl+C came only once the handler was in place";
}

TEST(CliInterrupt, CtrlCDuringRewrite)
{
    if (!g_console_reachable)
        GTEST_SKIP() << "Ctrl+C cannot be delivered here (no terminal for Wine's consoles)";
    Tally t = interrupted_runs(L"rewrite", true, false, env_int("KESTRIN_INTERRUPT_RUNS", 15));
    EXPECT_EQ(t.not_delivered, 0);
    EXPECT_EQ(t.before_handler, 0) << "Ctrl+C came only once the handler was in place";
}

// Four workers stop together, each after the file it is on: every stream
// whole, exit code 4.
TEST(CliInterrupt, CtrlCDuringCreateAtFourJobs)
{
    if (!g_console_reachable)
        GTEST_SKIP() << "Ctrl+C cannot be delivered here (no terminal for Wine's consoles)";
    g_jobs_option = L" --jobs 4";
    Tally t = interrupted_runs(L"create", false, false, env_int("KESTRIN_INTERRUPT_RUNS", 15) / 2 + 1);
    g_jobs_option.clear();
    EXPECT_EQ(t.not_delivered, 0);
}

TEST(CliInterrupt, KilledDuringCreate)
{
    interrupted_runs(L"create", false, true, env_int("KESTRIN_KILL_RUNS", 5));
}

TEST(CliInterrupt, KilledDuringRewrite)
{
    interrupted_runs(L"rewrite", true, true, env_int("KESTRIN_KILL_RUNS", 5));
}

// update writes two streams per file: each is whole, and a record is never
// bound to a digest it was not written with.
TEST(CliInterrupt, KilledDuringUpdate)
{
    interrupted_runs(L"update", true, true, env_int("KESTRIN_KILL_RUNS", 5));
}

// Whether send_ctrl_c reaches a console that kestrin-cli would get: Wine
// gives a new console only where it has a terminal to put it on.
bool console_reachable()
{
    std::wstring command = L"cmd.exe /c ping -n 30 127.0.0.1";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi))
        return false;
    Sleep(300);
    bool reached = send_ctrl_c(pi.dwProcessId) == 0;
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return reached;
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    g_root = ntfs_scratch("cli-interrupt");
    g_root_linux = to_linux_path(g_root);
    g_truth = to_linux_path(build_scratch(L"interrupt-truth.json"));
    g_times = to_linux_path(build_scratch(L"interrupt-times.json"));
    int st = -1;
    std::string made = cli_tree("make " + q(g_root_linux) + " 24", &st);
    if (st != 0) {
        printf("cannot make the tree: %s\n", made.c_str());
        return 1;
    }
    cli_tree("truth " + q(g_root_linux) + " " + q(g_truth), &st);
    if (st != 0)
        return 1;
    g_console_reachable = console_reachable();
    printf("Ctrl+C %s\n", g_console_reachable ? "can be delivered to a console here" : "cannot be delivered here");
    return RUN_ALL_TESTS();
}
