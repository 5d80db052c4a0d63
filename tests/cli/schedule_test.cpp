// schedule, from outside. Wine 8's Task Scheduler drops a definition's
// actions and triggers when it stores it (its XML reader skips both), so
// the task kestrin-cli hands over is read where it is whole: in the file
// --xml writes, parsed by Python's XML parser, its stored command line run
// as it stands. Registering under Wine must then fail and leave nothing
// behind; --list and --remove are seen against task definitions placed in
// the prefix's task store, where Wine's Task Scheduler keeps them.
#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

std::string q(const std::string& s)
{
    return sh_quote(s);
}

// Fields of a task definition, one "key=value" line each, by xml.etree.
std::string definition_fields(const std::wstring& xml_file)
{
    int st = -1;
    std::string out = linux_sh(
        "python3 -c " +
            q("import sys, xml.etree.ElementTree as E\n"
              "n={'t':'http://schemas.microsoft.com/windows/2004/02/mit/task'}\n"
              "r=E.parse(sys.argv[1]).getroot()\n"
              "def g(p):\n"
              "    e=r.find(p,n)\n"
              "    return '' if e is None else (e.text or '')\n"
              "cal=r.find('t:Triggers/t:CalendarTrigger',n)\n"
              "days=cal.find('t:ScheduleByWeek/t:DaysOfWeek',n)\n"
              "print('command='+g('t:Actions/t:Exec/t:Command'))\n"
              "print('arguments='+g('t:Actions/t:Exec/t:Arguments'))\n"
              "print('start='+g('t:Triggers/t:CalendarTrigger/t:StartBoundary')[10:])\n"
              "print('days='+('' if days is None else ','.join(c.tag.split('}')[1] for c in days)))\n"
              "print('daily='+g('t:Triggers/t:CalendarTrigger/t:ScheduleByDay/t:DaysInterval'))\n"
              "print('priority='+g('t:Settings/t:Priority'))\n"
              "print('nobattery='+g('t:Settings/t:DisallowStartIfOnBatteries')+','+g('t:Settings/t:StopIfGoingOnBatteries'))\n"
              "print('logon='+g('t:Principals/t:Principal/t:LogonType'))\n") +
            " " + q(to_linux_path(xml_file)),
        &st);
    EXPECT_EQ(st, 0) << out;
    return out;
}

std::wstring field(const std::string& fields, const std::string& key)
{
    size_t at = fields.find(key + "=");
    if (at == std::string::npos) return L"<none>";
    at += key.size() + 1;
    return widen(fields.substr(at, fields.find('\n', at) - at));
}

// Runs a command line as the Task Scheduler would: the program, a blank,
// the arguments, no console; its exit code.
DWORD run_as_task(const std::wstring& command, const std::wstring& arguments)
{
    std::wstring line = L"\"" + command + L"\" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(command.c_str(), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si,
                        &pi))
        return 1000;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 1001;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::string report_value(const std::wstring& report, const std::string& expr)
{
    return linux_sh("python3 -c " + q("import json,sys,datetime; r=json.load(open(sys.argv[1],encoding='utf-8')); print(" +
                                      expr + ")") +
                    " " + q(to_linux_path(report)));
}

TEST(CliSchedule, TheDefinitionRunsTheUpdateAskedFor)
{
    std::wstring root = ntfs_scratch("cli-schedule");
    std::wstring tree = root + L"\\Fotos \u00fc 1";
    CreateDirectoryW(tree.c_str(), nullptr);
    for (const wchar_t* name : {L"a.jpg", L"b.jpg", L"c.jpg"}) write_file(tree + L"\\" + name, std::string(3000, 'x'));
    std::wstring xml = build_scratch(L"weekly.xml");
    std::wstring report = root + L"\\weekly report.json";
    // Relative paths, from a folder the task will not start in.
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    SetCurrentDirectoryW(root.c_str());
    CliRun r = run_cli({L"schedule", L"--xml", xml, L"--weekly", L"mon", L"02:30", L"--slices", L"4", L"--report",
                        L"weekly report.json", L"Fotos \u00fc 1"});
    SetCurrentDirectoryW(cwd);
    ASSERT_EQ(r.code, 0u) << narrow(r.err);

    std::string f = definition_fields(xml);
    EXPECT_EQ(_wcsicmp(field(f, "command").c_str(), cli_exe().c_str()), 0) << f;
    std::wstring args = field(f, "arguments");
    EXPECT_EQ(args.rfind(L"update ", 0), 0u) << f;
    for (const std::wstring& part : {std::wstring(L"--notify"), std::wstring(L"--event-log"), std::wstring(L"--slice week/4"),
                                     L"--report " + quote_arg(report), L"-- " + quote_arg(tree)})
        EXPECT_NE(args.find(part), std::wstring::npos) << narrow(part) << "\n" << f;
    EXPECT_EQ(field(f, "start"), L"T02:30:00") << f;
    EXPECT_EQ(field(f, "days"), L"Monday") << f;
    EXPECT_EQ(field(f, "priority"), L"7") << f;
    EXPECT_EQ(field(f, "nobattery"), L"true,true") << f;
    EXPECT_EQ(field(f, "logon"), L"InteractiveToken") << f;

    // The stored command line, run as it stands: this week's slice of the
    // tree is updated (new digests: "added", exit code 0) into the report.
    EXPECT_EQ(run_as_task(field(f, "command"), args), 0u);
    EXPECT_EQ(report_value(report, "r['command'], r['exit_code'], r['slice']['n'], r['counts']['added'] + r['slice']['outside']"),
              "update 0 4 3\n");
    EXPECT_EQ(report_value(report, "r['slice']['k'] == (datetime.date.today()-datetime.date(2001,1,1)).days//7%4"),
              "True\n");

    // Daily, on battery too, without slices.
    r = run_cli({L"schedule", L"--xml", xml, L"--daily", L"04:15", L"--battery", tree});
    ASSERT_EQ(r.code, 0u) << narrow(r.err);
    f = definition_fields(xml);
    EXPECT_EQ(field(f, "daily"), L"1") << f;
    EXPECT_EQ(field(f, "days"), L"") << f;
    EXPECT_EQ(field(f, "start"), L"T04:15:00") << f;
    EXPECT_EQ(field(f, "nobattery"), L"false,false") << f;
    EXPECT_EQ(field(f, "arguments").find(L"--slice"), std::wstring::npos) << f;

    for (const auto& bad : std::vector<std::vector<std::wstring>>{{L"schedule", L"--weekly", L"xyz", L"03:00", tree},
                                                                   {L"schedule", L"--daily", L"24:00", tree},
                                                                   {L"schedule", L"--slices", L"0", tree},
                                                                   {L"schedule", L"--name", L"a\\b", tree},
                                                                   {L"schedule", root + L"\\absent"},
                                                                   {L"schedule", L"--list", tree}}) {
        CliRun b = run_cli(bad);
        EXPECT_EQ(b.code, 3u) << narrow(bad[1]) << narrow(b.err);
    }
}

// The prefix's task store, C:\windows\system32\tasks of the 64-bit side
// (where a 32-bit program sees it only with the redirection off).
bool store_has(const std::wstring& rel)
{
    void* old = nullptr;
    BOOL off = Wow64DisableWow64FsRedirection(&old);
    wchar_t sys[MAX_PATH];
    GetWindowsDirectoryW(sys, MAX_PATH);
    bool has = GetFileAttributesW((std::wstring(sys) + L"\\system32\\tasks\\" + rel).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (off) Wow64RevertWow64FsRedirection(old);
    return has;
}

void store_put(const std::wstring& rel, const std::string& description)
{
    void* old = nullptr;
    BOOL off = Wow64DisableWow64FsRedirection(&old);
    wchar_t sys[MAX_PATH];
    GetWindowsDirectoryW(sys, MAX_PATH);
    std::wstring dir = std::wstring(sys) + L"\\system32\\tasks";
    CreateDirectoryW((dir + L"\\Kestrin").c_str(), nullptr);
    write_file(dir + L"\\" + rel,
               "\xEF\xBB\xBF<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
               "<RegistrationInfo><Description>" + description +
                   "</Description></RegistrationInfo><Settings><Priority>7</Priority></Settings></Task>\n");
    if (off) Wow64RevertWow64FsRedirection(old);
}

void store_remove(const std::wstring& rel)
{
    void* old = nullptr;
    BOOL off = Wow64DisableWow64FsRedirection(&old);
    wchar_t sys[MAX_PATH];
    GetWindowsDirectoryW(sys, MAX_PATH);
    DeleteFileW((std::wstring(sys) + L"\\system32\\tasks\\" + rel).c_str());
    if (off) Wow64RevertWow64FsRedirection(old);
}

TEST(CliSchedule, RegisteringListingRemoving)
{
    std::wstring root = ntfs_scratch("cli-schedule-reg");
    // Wine keeps neither command nor trigger: schedule says so, and leaves
    // no task that would never run.
    CliRun r = run_cli({L"schedule", L"--name", L"Never runs", root});
    EXPECT_EQ(r.code, 3u) << narrow(r.err);
    EXPECT_NE(r.err.find(L"did not keep the task's command and trigger"), std::wstring::npos) << narrow(r.err);
    EXPECT_FALSE(store_has(L"Kestrin\\Never runs"));

    store_put(L"Kestrin\\Keep me", "seeded one");
    store_put(L"Kestrin\\Remove me", "seeded two");
    store_put(L"Other task", "not Kestrin's");
    r = run_cli({L"schedule", L"--list"});
    EXPECT_EQ(r.code, 0u) << narrow(r.err);
    EXPECT_NE(r.out.find(L"Keep me\r\n  seeded one\r\n  next run: "), std::wstring::npos) << narrow(r.out);
    EXPECT_NE(r.out.find(L"Remove me\r\n  seeded two\r\n"), std::wstring::npos) << narrow(r.out);
    EXPECT_EQ(r.out.find(L"Other task"), std::wstring::npos) << narrow(r.out);

    r = run_cli({L"schedule", L"--remove", L"Remove me"});
    EXPECT_EQ(r.code, 0u) << narrow(r.err);
    EXPECT_FALSE(store_has(L"Kestrin\\Remove me"));
    EXPECT_TRUE(store_has(L"Kestrin\\Keep me"));
    EXPECT_TRUE(store_has(L"Other task"));
    // A task outside \Kestrin is out of its reach.
    r = run_cli({L"schedule", L"--remove", L"Other task"});
    EXPECT_EQ(r.code, 3u) << narrow(r.err);
    EXPECT_TRUE(store_has(L"Other task"));
    r = run_cli({L"schedule", L"--list"});
    EXPECT_EQ(r.out.find(L"Remove me"), std::wstring::npos) << narrow(r.out);

    store_remove(L"Kestrin\\Keep me");
    store_remove(L"Other task");
}

}  // namespace
