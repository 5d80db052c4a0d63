#include "cli_run.h"
#include "oracle.h"
#include "test_env.h"
#include <psapi.h>
#include <algorithm>
#include <stdlib.h>

std::wstring cli_exe()
{
    return build_dir() + L"\\cli\\kestrin-cli.exe";
}

std::wstring quote_arg(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            q.append(backslashes * 2 + 1, L'\\');
        } else {
            q.append(backslashes, L'\\');
        }
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    return q + L"\"";
}

std::wstring build_scratch(const std::wstring& name)
{
    std::wstring dir = build_dir() + L"\\cli-test";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + name;
}

static HANDLE inheritable(const std::wstring& path, bool write)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

CliRun run_cli(const std::vector<std::wstring>& args, DWORD timeout_ms, const std::wstring& input, bool one_output)
{
    static int counter;
    CliRun r;
    std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    r.out_file = build_scratch(L"out-" + tag + L".txt");
    std::wstring err_file = build_scratch(L"err-" + tag + L".txt");
    std::wstring in_file = input;
    if (in_file.empty()) {
        in_file = build_scratch(L"empty-input.txt");
        write_file(in_file, "");
    }

    std::wstring command = quote_arg(cli_exe());
    for (const auto& a : args)
        command += L" " + quote_arg(a);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inheritable(in_file, false);
    si.hStdOutput = inheritable(r.out_file, true);
    si.hStdError = one_output ? si.hStdOutput : inheritable(err_file, true);
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(si.hStdInput);
    CloseHandle(si.hStdOutput);
    if (!one_output)
        CloseHandle(si.hStdError);
    if (!started)
        return r;
    CloseHandle(pi.hThread);
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    ULONGLONG deadline = GetTickCount64() + timeout_ms;
    DWORD waited;
    do {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc) && pmc.PeakWorkingSetSize > r.peak_working_set)
            r.peak_working_set = pmc.PeakWorkingSetSize;
        if (DWORD priority = GetPriorityClass(pi.hProcess))
            r.priority_class = priority;
        waited = WaitForSingleObject(pi.hProcess, 20);
    } while (waited == WAIT_TIMEOUT && GetTickCount64() < deadline);
    QueryPerformanceCounter(&t1);
    r.seconds = (double)(t1.QuadPart - t0.QuadPart) / (double)frequency.QuadPart;
    if (waited == WAIT_OBJECT_0) {
        r.finished = true;
        GetExitCodeProcess(pi.hProcess, &r.code);
    } else {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    CloseHandle(pi.hProcess);
    r.out = widen(read_file(r.out_file));
    r.err = widen(read_file(err_file));
    DeleteFileW(err_file.c_str());
    return r;
}

std::vector<Finding> findings_of(const std::wstring& out)
{
    std::vector<Finding> f;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find(L"\r\n", at);
        if (end == std::wstring::npos)
            end = out.size();
        std::wstring line = out.substr(at, end - at);
        at = end + 2;
        size_t sep = line.find(L"  ");
        if (line.empty() || sep == std::wstring::npos || line.compare(0, sep, L"summary") == 0)
            continue;
        f.push_back({line.substr(0, sep), line.substr(sep + 2)});
    }
    return f;
}

std::vector<std::wstring> paths_with(const std::wstring& out, const std::wstring& status)
{
    std::vector<std::wstring> p;
    for (const auto& f : findings_of(out))
        if (f.status == status)
            p.push_back(f.path);
    std::sort(p.begin(), p.end());
    return p;
}

std::wstring summary_of(const std::wstring& out)
{
    size_t at = out.find(L"summary  ");
    if (at == std::wstring::npos)
        return L"";
    size_t end = out.find(L"\r\n", at);
    return out.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
}

std::string cli_tree(const std::string& args, int* status)
{
    const char* src = getenv("KESTRIN_SOURCE_DIR");
    std::string script = std::string(src ? src : ".") + "/tests/cli/cli_tree.py";
    return linux_sh("python3 " + sh_quote(script) + " " + args + " 2>&1", status, 600000);
}

std::string on_terminal(const std::string& args, const std::string& out_linux, int* status,
                        const std::string& answer)
{
    const char* src = getenv("KESTRIN_SOURCE_DIR");
    std::string wine_run = std::string(src ? src : ".") + "/scripts/wine-run.sh";
    std::string inner = sh_quote(wine_run) + " " + sh_quote(to_linux_path(cli_exe())) + " " + args +
                        (out_linux.empty() ? std::string() : " > " + sh_quote(out_linux)) +
                        (answer.empty() ? " </dev/null" : "");
    // A wide terminal, so that no line is wrapped; the terminal's moves to
    // the right become spaces again and its other control sequences go.
    const std::string plain_text =
        "python3 -c \"import re,sys; s=sys.stdin.buffer.read().decode('utf-8','replace'); "
        "s=re.sub(r'\\x1b\\[(\\d*)C', lambda m: ' '*int(m.group(1) or 1), s); "
        "sys.stdout.write(re.sub(r'\\x1b\\[[0-9;?]*[A-Za-z]', '', s).replace(chr(13), chr(10)))\"";
    std::string typed = answer.empty() ? "" : "(sleep 2; printf '%s\\r' " + sh_quote(answer) + ") | ";
    return linux_sh(typed + "script -qec " + sh_quote("stty cols 500; " + inner + "; echo exit code $?") +
                        " /dev/null | " + plain_text,
                    status, 600000);
}
