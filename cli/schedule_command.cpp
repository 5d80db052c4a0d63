// schedule: the weekly (or daily) run of `update`, registered in the Task
// Scheduler for the user who asks; --list shows Kestrin's tasks, --remove
// deletes one.
//
// The task goes in through the Task Scheduler's own interface (ITaskService)
// as an XML definition: one call, with the whole definition (trigger, power
// conditions, priority, principal) in the schema Windows documents, errors
// as codes rather than a localised text, and no second parser between the
// paths and the stored command line, as there would be in a schtasks
// command line. The same definition is what --xml writes, for
// `schtasks /Create /XML FILE /TN NAME` elsewhere.
//
// Kestrin's tasks live in a task folder of their own, "\Kestrin": --list
// shows only them, and --remove cannot reach another program's task.
//
// After registering, the stored definition is read back: a Task Scheduler
// that kept less than it was given (Wine's keeps neither actions nor
// triggers) would hold a task that never runs, so the task is removed again
// and the command fails.
#include <initguid.h>
#include "cli/cli_state.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/manifest_path.h"
#include "cli/task_definition.h"
#include "jobs/long_path.h"
#include "jobs/walk.h"
#include <windows.h>
#include <oleauto.h>
#include <taskschd.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

enum ScheduleMode { ScheduleAdd, ScheduleList, ScheduleRemove };

static ScheduleMode g_mode;
static TaskPlan g_plan;
static const wchar_t* g_name;
static const wchar_t* g_xml_file;
static wchar_t g_exe[kLongPathChars];
static wchar_t g_report[kLongPathChars];

constexpr size_t kDefinitionChars = 98304;
static wchar_t g_definition[kDefinitionChars];

// "kestrin-cli: <what><detail>" and where to look; false.
static bool bad(const wchar_t* what, const wchar_t* detail = L"")
{
    err_text(L"kestrin-cli: ");
    err_text(what);
    err_text(detail);
    err_text(CLI_EOL L"Try 'kestrin-cli --help'." CLI_EOL);
    return false;
}

static bool parse_day(const wchar_t* text, int* day)
{
    static const wchar_t* const kNames[7] = {L"sunday", L"monday", L"tuesday", L"wednesday",
                                              L"thursday", L"friday", L"saturday"};
    size_t len = wcslen(text);
    for (int d = 0; d < 7; ++d) {
        // The whole English name or its first three letters, in any case.
        if ((len == 3 || len == wcslen(kNames[d])) && _wcsnicmp(text, kNames[d], len) == 0) {
            *day = d;
            return true;
        }
    }
    return false;
}

// HH:MM, 24 hours.
static bool parse_time(const wchar_t* text, int* hour, int* minute)
{
    int h = 0, m = 0;
    size_t len = wcslen(text);
    if (len < 4 || len > 5 || text[len - 3] != L':')
        return false;
    for (size_t i = 0; i < len; ++i) {
        if (i == len - 3)
            continue;
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        if (i < len - 3)
            h = h * 10 + (text[i] - L'0');
        else
            m = m * 10 + (text[i] - L'0');
    }
    if (h > 23 || m > 59)
        return false;
    *hour = h;
    *minute = m;
    return true;
}

// A task's name: what the Task Scheduler accepts as one name in a folder.
static bool name_ok(const wchar_t* name)
{
    size_t len = wcslen(name);
    return len > 0 && len <= 200 && !wcspbrk(name, L"\\/:*?\"<>|") && name[0] != L' ' && name[len - 1] != L' ' &&
           name[len - 1] != L'.';
}

// A full path in memory of its own (the operand stays as written).
static wchar_t* full_copy(const wchar_t* path)
{
    wchar_t* full = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, kLongPathChars * sizeof(wchar_t));
    if (full && full_path_of(path, full, kLongPathChars))
        return full;
    return nullptr;
}

// The default report: %LOCALAPPDATA%\Kestrin\NAME.json, its folder made.
static bool default_report()
{
    wchar_t base[MAX_PATH];
    DWORD got = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (got == 0 || got >= MAX_PATH)
        return bad(L"cannot find the folder for local application data (LOCALAPPDATA)");
    int n = _snwprintf(g_report, kLongPathChars - 1, L"%ls\\Kestrin", base);
    g_report[kLongPathChars - 1] = L'\0';
    if (n < 0 || (!CreateDirectoryW(g_report, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS))
        return bad(L"cannot create the report's folder: ", g_report);
    n = _snwprintf(g_report + n, kLongPathChars - 1 - (size_t)n, L"\\%ls.json", g_name);
    return n > 0;
}

bool prepare_schedule()
{
    // Everything after "schedule" is ours; a --report before it is the task's.
    const wchar_t* report = g_cli.report_path;
    g_cli.report_path = nullptr;
    g_mode = ScheduleAdd;
    g_plan = TaskPlan{};
    g_plan.weekly = true;
    g_plan.hour = 3;
    g_name = nullptr;
    g_xml_file = nullptr;
    bool when_given = false, options_end = false;
    int targets = 0;
    wchar_t** ops = g_cli.operands;
    for (int i = 0; i < g_cli.operand_count; ++i) {
        const wchar_t* a = ops[i];
        bool has_value = i + 1 < g_cli.operand_count;
        if (options_end || a[0] != L'-' || a[1] == L'\0') {
            ops[targets++] = ops[i];
        } else if (wcscmp(a, L"--") == 0) {
            options_end = true;
        } else if (wcscmp(a, L"--weekly") == 0) {
            if (when_given || i + 2 >= g_cli.operand_count || !parse_day(ops[i + 1], &g_plan.day) ||
                !parse_time(ops[i + 2], &g_plan.hour, &g_plan.minute))
                return bad(L"--weekly needs a day and a time, e.g. --weekly SUN 03:00 (and no --daily)");
            g_plan.weekly = true;
            when_given = true;
            i += 2;
        } else if (wcscmp(a, L"--daily") == 0) {
            if (when_given || !has_value || !parse_time(ops[i + 1], &g_plan.hour, &g_plan.minute))
                return bad(L"--daily needs a time, e.g. --daily 03:00 (and no --weekly)");
            g_plan.weekly = false;
            when_given = true;
            ++i;
        } else if (wcscmp(a, L"--slices") == 0) {
            wchar_t* end = nullptr;
            unsigned long n = has_value ? wcstoul(ops[i + 1], &end, 10) : 0;
            if (!has_value || !end || *end || ops[i + 1][0] < L'0' || ops[i + 1][0] > L'9' || n < 1 || n > 10000)
                return bad(L"--slices needs a number of slices from 1 to 10000");
            g_plan.slices = (uint32_t)n;
            ++i;
        } else if (wcscmp(a, L"--report") == 0 || wcscmp(a, L"--name") == 0 || wcscmp(a, L"--xml") == 0 ||
                   wcscmp(a, L"--remove") == 0) {
            if (!has_value || ops[i + 1][0] == L'\0')
                return bad(a, L" needs a value");
            const wchar_t* v = ops[++i];
            if (wcscmp(a, L"--report") == 0) {
                report = v;
            } else if (wcscmp(a, L"--xml") == 0) {
                g_xml_file = v;
            } else {
                if (g_name)
                    return bad(L"schedule takes one task name");
                if (wcscmp(a, L"--remove") == 0)
                    g_mode = ScheduleRemove;
                g_name = v;
            }
        } else if (wcscmp(a, L"--list") == 0) {
            g_mode = ScheduleList;
        } else if (wcscmp(a, L"--battery") == 0) {
            g_plan.on_battery = true;
        } else {
            return bad(L"unknown option of schedule: ", a);
        }
    }
    g_cli.operand_count = targets;

    if (g_mode != ScheduleAdd) {
        if (targets || when_given || report || g_plan.slices || g_xml_file || g_plan.on_battery ||
            (g_mode == ScheduleList && g_name))
            return bad(g_mode == ScheduleList ? L"schedule --list takes nothing else"
                                              : L"schedule --remove takes only the task's name");
        if (g_mode == ScheduleRemove && !name_ok(g_name))
            return bad(L"not a task name: ", g_name);
        return true;
    }
    if (targets == 0)
        return bad(L"schedule needs the files and folders to check");
    if (!g_name)
        g_name = g_plan.weekly ? L"Weekly check" : L"Daily check";
    if (!name_ok(g_name))
        return bad(L"not a task name (no \\ / : * ? \" < > |): ", g_name);

    // The task runs later, from another current folder: every path full.
    g_plan.targets = ops;
    g_plan.target_count = targets;
    for (int i = 0; i < targets; ++i) {
        if (!target_exists(ops[i])) {
            err_path(L"no such file or folder", ops[i]);
            return false;
        }
        wchar_t* full = full_copy(ops[i]);
        if (!full)
            return bad(L"cannot make a full path of ", ops[i]);
        ops[i] = full;
    }
    if (report) {
        if (!full_path_of(report, g_report, kLongPathChars))
            return bad(L"cannot make a full path of ", report);
        wchar_t folder[kLongPathChars];
        wcscpy(folder, g_report);
        wchar_t* slash = wcsrchr(folder, L'\\');
        if (slash) *slash = L'\0';
        if (target_is_directory(g_report) || !slash || !target_is_directory(folder)) {
            err_path(L"the report must be a file in a folder that exists", g_report);
            return false;
        }
    } else if (!default_report()) {
        return false;
    }
    g_plan.report = g_report;
    // The task names the kestrin-cli that made it.
    DWORD got = GetModuleFileNameW(nullptr, g_exe, kLongPathChars);
    if (got == 0 || got >= kLongPathChars)
        return bad(L"cannot find kestrin-cli's own path");
    g_plan.exe = g_exe;
    return true;
}

// ---- the Task Scheduler --------------------------------------------------

// COM and its strings are bound when schedule runs: linked in, ole32 and
// oleaut32 would be loaded by every run of every command (some 60 ms per
// start under Wine), for the one that needs them.
struct ComCalls {
    HRESULT(WINAPI* initialize)(LPVOID, DWORD);
    void(WINAPI* uninitialize)();
    HRESULT(WINAPI* create_instance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
    BSTR(WINAPI* alloc_string)(const OLECHAR*);
    void(WINAPI* free_string)(BSTR);
    INT(WINAPI* variant_time_to_system_time)(DOUBLE, LPSYSTEMTIME);
};
static ComCalls g_com;

template <class F>
static bool bind(HMODULE module, const char* name, F* call)
{
    *call = module ? (F)(void*)GetProcAddress(module, name) : nullptr;
    return *call != nullptr;
}

static bool bind_com()
{
    HMODULE ole = LoadLibraryW(L"ole32.dll");
    HMODULE aut = LoadLibraryW(L"oleaut32.dll");
    return bind(ole, "CoInitializeEx", &g_com.initialize) && bind(ole, "CoUninitialize", &g_com.uninitialize) &&
           bind(ole, "CoCreateInstance", &g_com.create_instance) && bind(aut, "SysAllocString", &g_com.alloc_string) &&
           bind(aut, "SysFreeString", &g_com.free_string) &&
           bind(aut, "VariantTimeToSystemTime", &g_com.variant_time_to_system_time);
}

static void free_string(BSTR b)
{
    if (b)
        g_com.free_string(b);
}

static VARIANT empty_variant()
{
    VARIANT v;
    memset(&v, 0, sizeof v);
    v.vt = VT_EMPTY;
    return v;
}

struct Bstr {
    BSTR b;
    explicit Bstr(const wchar_t* s) : b(g_com.alloc_string(s)) {}
    ~Bstr() { free_string(b); }
};

template <class T>
static void release(T*& p)
{
    if (p) p->Release();
    p = nullptr;
}

static void err_hresult(const wchar_t* what, HRESULT hr)
{
    wchar_t text[256];
    _snwprintf(text, 255, L"%ls (0x%08lx)", what, (unsigned long)hr);
    text[255] = L'\0';
    err_message(text);
}

// The Task Scheduler of this computer. Its service may still be starting
// when the first call arrives (Wine starts it on that call): asked again
// for up to five seconds.
static ITaskService* connect_scheduler()
{
    ITaskService* service = nullptr;
    HRESULT hr = g_com.create_instance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  (void**)&service);
    if (FAILED(hr)) {
        err_hresult(L"cannot reach the Task Scheduler", hr);
        return nullptr;
    }
    VARIANT empty = empty_variant();
    for (int attempt = 0;; ++attempt) {
        hr = service->Connect(empty, empty, empty, empty);
        if (hr != SCHED_E_SERVICE_NOT_RUNNING || attempt == 20)
            break;
        Sleep(250);
    }
    if (FAILED(hr)) {
        err_hresult(L"cannot connect to the Task Scheduler", hr);
        release(service);
    }
    return service;
}

// The folder "\Kestrin", made when `create`; null when it is not there.
static ITaskFolder* kestrin_folder(ITaskService* service, bool create)
{
    ITaskFolder* folder = nullptr;
    if (SUCCEEDED(service->GetFolder(Bstr(L"\\Kestrin").b, &folder)) || !create)
        return folder;
    ITaskFolder* root = nullptr;
    HRESULT hr = service->GetFolder(Bstr(L"\\").b, &root);
    if (SUCCEEDED(hr)) {
        VARIANT empty = empty_variant();
        hr = root->CreateFolder(Bstr(L"Kestrin").b, empty, &folder);
        release(root);
    }
    if (FAILED(hr))
        err_hresult(L"cannot make the task folder \\Kestrin", hr);
    return folder;
}

static void out_line(const wchar_t* format, ...)
{
    wchar_t text[4096];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 4095, format, args);
    va_end(args);
    text[4095] = L'\0';
    out_text(text);
    out_text(CLI_EOL);
}

// The definition as text, for --xml: UTF-16 with its byte-order mark, as
// the Task Scheduler exports a task.
static bool write_definition(const WideText* xml)
{
    HANDLE h = CreateFileW(g_xml_file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err_path(L"cannot create", g_xml_file);
        return false;
    }
    static const wchar_t bom = 0xFEFF;
    DWORD wrote = 0, wrote2 = 0;
    DWORD bytes = (DWORD)(xml->len * sizeof(wchar_t));
    bool ok = WriteFile(h, &bom, 2, &wrote, nullptr) && wrote == 2 &&
              WriteFile(h, xml->text, bytes, &wrote2, nullptr) && wrote2 == bytes;
    ok = CloseHandle(h) && ok;
    if (!ok) {
        err_path(L"cannot write", g_xml_file);
        DeleteFileW(g_xml_file);
    }
    return ok;
}

// Whether the stored definition still holds what makes the task run: our
// command and a calendar trigger.
static bool stored_whole(IRegisteredTask* task)
{
    BSTR stored = nullptr;
    if (FAILED(task->get_Xml(&stored)) || !stored)
        return false;
    static wchar_t command[kLongPathChars * 2];
    WideText c;
    text_begin(&c, command, kLongPathChars * 2);
    text_add(&c, L"<Command>");
    text_add_xml(&c, g_exe);
    text_add(&c, L"</Command>");
    bool whole = wcsstr(stored, command) && wcsstr(stored, L"CalendarTrigger");
    free_string(stored);
    return whole;
}

static bool add_task()
{
    wchar_t description[512];
    WideText d;
    text_begin(&d, description, 512);
    text_add(&d, L"kestrin-cli update ");
    task_when(&g_plan, &d);
    text_add(&d, g_plan.slices > 1 ? L", one slice of the files each time" : L"");
    text_add(&d, L"; a notification when files are corrupt or altered.");
    WideText xml;
    text_begin(&xml, g_definition, kDefinitionChars);
    task_definition(&g_plan, description, &xml);
    if (xml.overflow || d.overflow) {
        err_message(L"the task's command line is too long: name fewer or shorter paths");
        return false;
    }
    if (g_xml_file)
        return write_definition(&xml);

    ITaskService* service = connect_scheduler();
    ITaskFolder* folder = service ? kestrin_folder(service, true) : nullptr;
    bool ok = false;
    if (folder) {
        IRegisteredTask* task = nullptr;
        VARIANT empty = empty_variant();
        HRESULT hr = folder->RegisterTask(Bstr(g_name).b, Bstr(g_definition).b, TASK_CREATE_OR_UPDATE, empty, empty,
                                          TASK_LOGON_INTERACTIVE_TOKEN, empty, &task);
        if (FAILED(hr)) {
            err_hresult(L"the Task Scheduler refused the task", hr);
        } else if (!stored_whole(task)) {
            folder->DeleteTask(Bstr(g_name).b, 0);
            err_message(L"the Task Scheduler did not keep the task's command and trigger (Wine's keeps "
                        L"neither), so it would never run: nothing is scheduled. schedule --xml FILE writes "
                        L"the definition for schtasks /Create /XML FILE /TN NAME on another computer.");
        } else {
            ok = true;
        }
        release(task);
    }
    release(folder);
    release(service);
    if (!ok)
        return false;
    static wchar_t args_buffer[32768];
    WideText args;
    text_begin(&args, args_buffer, 32768);
    task_arguments(&g_plan, &args);
    wchar_t when[64];
    WideText w;
    text_begin(&w, when, 64);
    task_when(&g_plan, &w);
    out_line(L"Scheduled \\Kestrin\\%ls, %ls%ls:", g_name, when,
             g_plan.on_battery ? L"" : L", on mains power only");
    out_line(L"  \"%ls\" %ls", g_exe, args.text);
    out_line(L"Report: %ls", g_report);
    return true;
}

static bool remove_task()
{
    ITaskService* service = connect_scheduler();
    ITaskFolder* folder = service ? kestrin_folder(service, false) : nullptr;
    HRESULT hr = folder ? folder->DeleteTask(Bstr(g_name).b, 0) : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    release(folder);
    release(service);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        err_path(L"Kestrin has no task of that name (see schedule --list)", g_name);
        return false;
    }
    if (FAILED(hr)) {
        err_hresult(L"the Task Scheduler did not remove the task", hr);
        return false;
    }
    out_line(L"Removed \\Kestrin\\%ls", g_name);
    return true;
}

// "2026-12-13 03:00" from the Task Scheduler's date, or "unknown".
static void date_text(HRESULT hr, DATE date, wchar_t* out, size_t cap)
{
    SYSTEMTIME t;
    if (FAILED(hr) || date == 0 || !g_com.variant_time_to_system_time(date, &t))
        _snwprintf(out, cap - 1, L"%ls", FAILED(hr) ? L"unknown (the Task Scheduler does not say)" : L"none");
    else
        _snwprintf(out, cap - 1, L"%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    out[cap - 1] = L'\0';
}

static int g_listed;

static void show_task(IRegisteredTask* task, const wchar_t* name)
{
    ++g_listed;
    wchar_t next[64], last[64];
    DATE date = 0;
    HRESULT hr = task->get_NextRunTime(&date);
    date_text(hr, date, next, 64);
    LONG result = 0;
    hr = task->get_LastTaskResult(&result);
    if (FAILED(hr))
        wcscpy(last, L"unknown (the Task Scheduler does not say)");
    else if (result == SCHED_S_TASK_HAS_NOT_RUN)
        wcscpy(last, L"not run yet");
    else if (result == SCHED_S_TASK_RUNNING)
        wcscpy(last, L"running");
    else
        _snwprintf(last, 63, L"exit code %ld", (long)result);
    last[63] = L'\0';
    out_line(L"%ls", name);
    ITaskDefinition* about = nullptr;
    IRegistrationInfo* info = nullptr;
    BSTR description = nullptr;
    if (SUCCEEDED(task->get_Definition(&about)) && SUCCEEDED(about->get_RegistrationInfo(&info)) &&
        SUCCEEDED(info->get_Description(&description)) && description)
        out_line(L"  %ls", description);
    free_string(description);
    release(info);
    release(about);
    out_line(L"  next run: %ls", next);
    out_line(L"  last result: %ls", last);
    ITaskDefinition* definition = nullptr;
    IActionCollection* actions = nullptr;
    IAction* action = nullptr;
    IExecAction* exec = nullptr;
    LONG count = 0;
    if (SUCCEEDED(task->get_Definition(&definition)) && SUCCEEDED(definition->get_Actions(&actions)) &&
        SUCCEEDED(actions->get_Count(&count)) && count > 0 && SUCCEEDED(actions->get_Item(1, &action)) &&
        SUCCEEDED(action->QueryInterface(IID_IExecAction, (void**)&exec))) {
        BSTR path = nullptr, args = nullptr;
        exec->get_Path(&path);
        exec->get_Arguments(&args);
        out_line(L"  runs: \"%ls\" %ls", path ? path : L"", args ? args : L"");
        free_string(path);
        free_string(args);
    }
    release(exec);
    release(action);
    release(actions);
    release(definition);
}

// The names in the folder where the Task Scheduler keeps the definitions of
// \Kestrin (where a user may read it), each asked for by name, for a Task
// Scheduler that cannot enumerate a folder (Wine's).
static void list_from_store(ITaskFolder* folder)
{
    wchar_t pattern[MAX_PATH + 32];
    UINT n = GetSystemDirectoryW(pattern, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    wcscat(pattern, L"\\Tasks\\Kestrin\\*");
    // The service keeps them in the 64-bit system folder, which a 32-bit
    // program sees only with the redirection to SysWOW64 off.
    void* redirection = nullptr;
    BOOL redirected_off = Wow64DisableWow64FsRedirection(&redirection);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (redirected_off)
        Wow64RevertWow64FsRedirection(redirection);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        IRegisteredTask* task = nullptr;
        if (SUCCEEDED(folder->GetTask(Bstr(found.cFileName).b, &task)))
            show_task(task, found.cFileName);
        release(task);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

static bool list_tasks()
{
    ITaskService* service = connect_scheduler();
    if (!service)
        return false;
    ITaskFolder* folder = kestrin_folder(service, false);
    if (folder) {
        IRegisteredTaskCollection* tasks = nullptr;
        LONG count = 0;
        // Wine's collection is a stub that counts nothing: a folder that
        // seems empty is looked at where its definitions are kept.
        if (SUCCEEDED(folder->GetTasks(TASK_ENUM_HIDDEN, &tasks)) && SUCCEEDED(tasks->get_Count(&count)) &&
            count > 0) {
            for (LONG i = 1; i <= count; ++i) {
                VARIANT index = empty_variant();
                index.vt = VT_I4;
                index.lVal = i;
                IRegisteredTask* task = nullptr;
                BSTR name = nullptr;
                if (SUCCEEDED(tasks->get_Item(index, &task)) && SUCCEEDED(task->get_Name(&name)))
                    show_task(task, name);
                free_string(name);
                release(task);
            }
        } else {
            list_from_store(folder);
        }
        release(tasks);
    }
    release(folder);
    release(service);
    if (g_listed == 0)
        out_line(L"Kestrin has no scheduled tasks (the task folder \\Kestrin is empty or absent).");
    return true;
}

void run_schedule()
{
    if (!bind_com() || FAILED(g_com.initialize(nullptr, COINIT_APARTMENTTHREADED))) {
        err_message(L"cannot start COM");
        g_cli.failed = true;
        return;
    }
    bool ok = g_mode == ScheduleList ? list_tasks() : g_mode == ScheduleRemove ? remove_task() : add_task();
    g_com.uninitialize();
    out_flush();
    if (!ok)
        g_cli.failed = true;
}
