// Where the tests find the world outside the program: the NTFS test volume,
// the build tree, and the skip convention for missing features.
#pragma once
#include <string>

// Exit code a test program returns when a feature it needs is missing.
constexpr int kSkipExitCode = 77;

// Prints "SKIPPED: <why>" and returns kSkipExitCode, for main() to return.
int skip_program(const char* why);

// Windows path (as Wine sees it) of the mounted NTFS test volume, or "" when
// the fixture could not mount it.
std::wstring ntfs_root();

// A fresh empty folder on the NTFS volume for one test (Windows path).
std::wstring ntfs_scratch(const char* name);

// The build folder (Windows path), from KESTRIN_BUILD_DIR.
std::wstring build_dir();

// Linux path <-> Windows path for files under Wine's Z: drive.
std::string to_linux_path(const std::wstring& win);
std::wstring to_windows_path(const std::string& linux_path);

std::string narrow(const std::wstring& w);   // UTF-8
std::wstring widen(const std::string& s);    // from UTF-8

// File helpers through Windows (the program's own view).
bool write_file(const std::wstring& path, const void* data, size_t len);
bool write_file(const std::wstring& path, const std::string& data);
std::string read_file(const std::wstring& path);     // "" when unreadable
bool file_exists(const std::wstring& path);

// A folder NAME made from Linux in the Wine prefix's System32 holding
// only.txt and both.txt, and in its SysWOW64 (where a 32-bit program's
// System32 leads) holding another both.txt: Windows path under System32,
// Linux paths of the two folders. Removed again by remove_system_pair.
struct SystemPair {
    std::wstring win;          // C:\windows\system32\NAME
    std::string sys32_linux;   // <prefix>/drive_c/windows/system32/NAME
    std::string wow64_linux;   // <prefix>/drive_c/windows/syswow64/NAME
};
SystemPair make_system_pair(const char* name);
void remove_system_pair(const SystemPair& pair);
