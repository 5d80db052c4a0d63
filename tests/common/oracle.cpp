#include "oracle.h"
#include "test_env.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

std::string sh_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// Wine starts a Linux program through CreateProcess but gives back no usable
// exit code or wait, so the command writes its output and then its status to
// files in the build tree, and we wait for the status file.
std::string linux_sh(const std::string& command, int* status, int timeout_ms)
{
    static LONG counter;
    char tag[64];
    snprintf(tag, sizeof tag, "linux-sh-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    std::string dir = getenv("KESTRIN_BUILD_DIR") ? getenv("KESTRIN_BUILD_DIR") : "/tmp";
    std::string script = dir + "/" + tag + ".sh";
    std::string out = dir + "/" + tag + ".out";
    std::string rc = dir + "/" + tag + ".rc";
    std::string body = "(" + command + ") > " + sh_quote(out) + " 2>/dev/null; echo $? > " + sh_quote(rc + ".tmp") +
                       "; mv " + sh_quote(rc + ".tmp") + " " + sh_quote(rc) + "\n";
    write_file(to_windows_path(script), body);

    std::string cmdline = "/bin/sh " + script;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        if (status) *status = -1;
        return {};
    }
    // Wine starts a Linux program without a process or thread to hand back
    // and leaves PROCESS_INFORMATION holding whatever its stack held: the
    // values are not handles. Closing them once closed this program's own
    // standard output (handle 0xc), and every line after that was lost while
    // the run still ended 0. The script's .rc file is the only thing waited on.

    std::wstring rc_win = to_windows_path(rc);
    int waited = 0;
    while (!file_exists(rc_win) && waited < timeout_ms) {
        Sleep(5);
        waited += 5;
    }
    std::string result = read_file(to_windows_path(out));
    if (status) {
        std::string code = read_file(rc_win);
        *status = code.empty() ? -1 : atoi(code.c_str());
    }
    DeleteFileW(to_windows_path(script).c_str());
    DeleteFileW(to_windows_path(out).c_str());
    DeleteFileW(rc_win.c_str());
    return result;
}

static std::string trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string openssl_whirlpool_hex(const std::string& linux_path)
{
    int st = 0;
    std::string r = linux_sh("openssl dgst -provider legacy -provider default -whirlpool -r " + sh_quote(linux_path), &st);
    if (st != 0 || r.size() < 128) return {};
    return r.substr(0, 128);
}

std::string linux_read_hex(const std::string& linux_path, bool* exists)
{
    int st = 0;
    std::string r = linux_sh("test -e " + sh_quote(linux_path) + " && od -An -v -tx1 " + sh_quote(linux_path) + " | tr -d ' \\n'", &st);
    if (exists) *exists = st == 0;
    return trim(r);
}

long long linux_file_size(const std::string& linux_path)
{
    int st = 0;
    std::string r = linux_sh("stat -c %s " + sh_quote(linux_path), &st);
    return st == 0 ? atoll(r.c_str()) : -1;
}

long long linux_mtime_ns(const std::string& linux_path)
{
    int st = 0;
    std::string r = linux_sh("stat -c %.9Y " + sh_quote(linux_path) + " | tr -d .", &st);
    return st == 0 ? atoll(r.c_str()) : -1;
}

std::string to_hex(const void* data, size_t len)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char* p = (const unsigned char*)data;
    std::string s;
    s.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string linux_make_unreachable_folder(const std::string& parent)
{
    std::string top = parent + "/unreachable";
    // Each level is made relative to the one above: no single call may name
    // a path this long.
    std::string script =
        "import os,sys\n"
        "fd=os.open(os.path.dirname(sys.argv[1]),os.O_RDONLY)\n"
        "name=os.path.basename(sys.argv[1]);length=len(sys.argv[1])\n"
        "while length<4400:\n"
        "    os.mkdir(name,dir_fd=fd);nfd=os.open(name,os.O_RDONLY,dir_fd=fd);os.close(fd);fd=nfd\n"
        "    length+=len(name)+1;name='u'*200\n"
        "f=os.open('unseen.txt',os.O_WRONLY|os.O_CREAT,0o644,dir_fd=fd);os.write(f,b'unseen');os.close(f)\n";
    int status = -1;
    linux_sh("python3 -c " + sh_quote(script) + " " + sh_quote(top), &status);
    return status == 0 ? top : std::string();
}

WineDriveD::WineDriveD(const std::wstring& target)
{
    const char* prefix = getenv("WINEPREFIX");
    if (!prefix || !*prefix) return;
    link = std::string(prefix) + "/dosdevices/d:";
    saved = linux_sh("readlink " + sh_quote(link) + " 2>/dev/null");
    while (!saved.empty() && saved.back() == '\n') saved.pop_back();
    int st = -1;
    linux_sh("ln -sfn " + sh_quote(to_linux_path(target)) + " " + sh_quote(link), &st);
    ok = st == 0 && GetFileAttributesW(L"D:\\") != INVALID_FILE_ATTRIBUTES;
}

WineDriveD::~WineDriveD()
{
    if (link.empty()) return;
    if (saved.empty()) linux_sh("rm -f " + sh_quote(link));
    else linux_sh("ln -sfn " + sh_quote(saved) + " " + sh_quote(link));
}

int known_sse41()
{
    const char* expected = getenv("KESTRIN_EXPECT_SSE41");
    if (expected && (expected[0] == '0' || expected[0] == '1'))
        return expected[0] - '0';
    int status = -1;
    std::string flags = linux_sh("grep -m1 '^flags' /proc/cpuinfo", &status);
    if (status != 0 || flags.empty())
        return -1;
    return flags.find(" sse4_1") != std::string::npos ? 1 : 0;
}

bool emulated_without_sse41()
{
    const char* expected = getenv("KESTRIN_EXPECT_SSE41");
    return expected && expected[0] == '0';
}
