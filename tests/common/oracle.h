// Independent truths for the tests, computed outside the program under test:
// Linux commands run natively (Wine starts Linux programs through
// CreateProcess), OpenSSL's Whirlpool, and what Linux reads from the NTFS
// volume, streams included.
#pragma once
#include <string>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

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

// Whether the processor the program runs on has SSE4.1, as known from outside
// the program: under an emulated processor model (a CTest entry run through
// scripts/emulated.sh) the model's documented flag, which the entry passes in
// KESTRIN_EXPECT_SSE41 (core2duo has none, Penryn has it); otherwise the
// flags Linux lists in /proc/cpuinfo. -1 when neither can be read.
int known_sse41();

// True when the run emulates a processor model that lacks SSE4.1: there its
// absence is what is being tested, not a reason to skip.
bool emulated_without_sse41();

// In a test: skips with `why` where the processor lacks SSE4.1, except on an
// emulated model without it, where the test ends as passed (its absence was
// checked against the model by Tables.TransformFollowsTheSse41Flag).
#define SKIP_OR_END_WITHOUT_SSE41(why)                                                        \
    do {                                                                                      \
        if (emulated_without_sse41()) {                                                       \
            printf("  %s (as expected on the emulated %s)\n", why, getenv("QEMU_CPU"));       \
            return;                                                                           \
        }                                                                                     \
        GTEST_SKIP() << why;                                                                  \
    } while (0)
