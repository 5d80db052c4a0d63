// What Linux sees on the NTFS test volume, for the end-to-end tests: building
// test trees natively and reporting, for every file, its `z` stream, OpenSSL's
// Whirlpool of its data, its last-write time and a SHA-256 of its data.
#pragma once
#include <map>
#include <string>
#include <vector>

struct FileReport {
    long long stream_size = -1;  // -1: no `z` stream
    std::string stream_hex;      // the stream's bytes
    std::string whirlpool_hex;   // OpenSSL's Whirlpool of the file's data
    long long mtime_ns = -1;
    std::string sha256_hex;      // of the file's data
};

// Every regular file below the Windows folder `dir`, keyed by its Windows
// path as the walk names it (dir + "\" + relative path).
std::map<std::wstring, FileReport> linux_report(const std::wstring& dir);

// Runs a shell script with the folder's Linux path as "$D"; true on status 0.
bool linux_in(const std::wstring& dir, const std::string& script);

// Stores OpenSSL's Whirlpool of each named file (relative to dir) as its `z`
// stream, written by Linux, so that Kestrin meets digests it did not write.
bool linux_store_digests(const std::wstring& dir, const std::vector<std::string>& relative);

// Sorted copy, for comparing list contents regardless of walk order.
std::vector<std::wstring> sorted(std::vector<std::wstring> v);
std::vector<std::wstring> keys_of(const std::map<std::wstring, FileReport>& m);

// Bytes read so far by the Linux process that holds `linux_path` open
// (/proc/<pid>/io rchar); -1 when no process holds it.
long long linux_reader_rchar(const std::string& linux_path);
