// Independent truths for the tests, computed outside the program under test:
// Linux commands run natively (Wine starts Linux programs through
// CreateProcess), OpenSSL's Whirlpool, and what Linux reads from the NTFS
// volume, streams included.
#pragma once
#include <string>
#include <stdint.h>

// Runs `command` with /bin/sh on Linux and returns its standard output.
// `status` (if given) receives its exit status, or -1 when it did not finish.
std::string linux_sh(const std::string& command, int* status = nullptr, int timeout_ms = 120000);

// Quotes a string for the shell.
std::string sh_quote(const std::string& s);

// OpenSSL's Whirlpool of a file, as 128 lowercase hex digits ("" on failure).
std::string openssl_whirlpool_hex(const std::string& linux_path);

// The bytes of a file (or FILE:z stream) read by Linux, as lowercase hex;
// `exists` tells whether Linux found it.
std::string linux_read_hex(const std::string& linux_path, bool* exists = nullptr);

// Size in bytes as Linux sees it, or -1 when absent.
long long linux_file_size(const std::string& linux_path);

// Last-write time (mtime) in nanoseconds since the epoch, as Linux sees it; -1 when absent.
long long linux_mtime_ns(const std::string& linux_path);

std::string to_hex(const void* data, size_t len);

// Makes a chain of folders below the Linux folder `parent` so deep that its
// path passes Linux's 4,096-byte limit, with a file at its end. Wine reaches
// nothing that deep, so the first folder past the limit cannot be enumerated
// from Windows. Returns the Linux path of the chain's top (for removal), ""
// when it could not be made.
std::string linux_make_unreachable_folder(const std::string& parent);

// Wine's drive D: pointed at the folder `target` (a Windows path) for the
// life of the object; what D: was is put back after. `ok` tells whether the
// drive then reaches it. Tests that map D: take the CTest resource lock
// wine_drive_d.
struct WineDriveD {
    std::string link, saved;
    bool ok = false;
    explicit WineDriveD(const std::wstring& target);
    ~WineDriveD();
};
