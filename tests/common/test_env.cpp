#include "test_env.h"
#include "oracle.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int skip_program(const char* why)
{
    printf("SKIPPED: %s\n", why);
    fflush(stdout);
    return kSkipExitCode;
}

std::string narrow(const std::wstring& w)
{
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring widen(const std::string& s)
{
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), w.data(), n);
    return w;
}

std::wstring to_windows_path(const std::string& linux_path)
{
    std::wstring w = L"Z:" + widen(linux_path);
    for (auto& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

std::string to_linux_path(const std::wstring& win)
{
    std::wstring w = win;
    if (w.size() >= 2 && (w[0] == L'Z' || w[0] == L'z') && w[1] == L':')
        w = w.substr(2);
    for (auto& c : w)
        if (c == L'\\') c = L'/';
    return narrow(w);
}

static std::string env(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

std::wstring build_dir()
{
    return to_windows_path(env("KESTRIN_BUILD_DIR"));
}

std::wstring ntfs_root()
{
    std::string dir = env("KESTRIN_NTFS_DIR");
    if (dir.empty()) return {};
    std::wstring win = to_windows_path(dir);
    if (GetFileAttributesW((win + L"\\.kestrin-volume").c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    return win;
}

static void remove_tree(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring p = dir + L"\\" + name;
            SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(p);
            else DeleteFileW(p.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

std::wstring ntfs_scratch(const char* name)
{
    std::wstring root = ntfs_root();
    if (root.empty()) return {};
    std::wstring dir = root + L"\\" + widen(name);
    remove_tree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool write_file(const std::wstring& path, const void* data, size_t len)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = len == 0 || WriteFile(h, data, (DWORD)len, &done, nullptr);
    CloseHandle(h);
    return ok && done == len;
}

bool write_file(const std::wstring& path, const std::string& data)
{
    return write_file(path, data.data(), data.size());
}

std::string read_file(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

SystemPair make_system_pair(const char* name)
{
    const char* prefix = getenv("WINEPREFIX");
    const char* build = getenv("KESTRIN_BUILD_DIR");
    std::string windows = std::string(prefix ? prefix : (std::string(build ? build : ".") + "/wineprefix").c_str()) +
                          "/drive_c/windows";
    SystemPair pair;
    pair.sys32_linux = windows + "/system32/" + name;
    pair.wow64_linux = windows + "/syswow64/" + name;
    wchar_t windir[MAX_PATH];
    GetSystemWindowsDirectoryW(windir, MAX_PATH);
    pair.win = std::wstring(windir) + L"\\system32\\" + widen(name);
    remove_system_pair(pair);
    linux_sh("mkdir -p " + sh_quote(pair.sys32_linux) + " " + sh_quote(pair.wow64_linux) + " && printf 'only in System32' > " +
             sh_quote(pair.sys32_linux + "/only.txt") + " && printf 'System32 copy' > " + sh_quote(pair.sys32_linux + "/both.txt") +
             " && printf 'SysWOW64 copy, longer' > " + sh_quote(pair.wow64_linux + "/both.txt"));
    return pair;
}

void remove_system_pair(const SystemPair& pair)
{
    linux_sh("rm -rf " + sh_quote(pair.sys32_linux) + " " + sh_quote(pair.wow64_linux));
}
