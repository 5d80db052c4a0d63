// The HashStream record: forming, testing, reading, writing and deleting the
// "z" stream, and hashing the file's data. Shared by both programs.
#include "jobs/hash_stream.h"
#include "engine/digest.h"
#include <shlwapi.h>

bool make_stream_path(const wchar_t* path, wchar_t* out)
{
    return make_call_path(path, L":z", out);
}

bool make_file_path(const wchar_t* path, wchar_t* out)
{
    return make_call_path(path, L"", out);
}

bool stream_exists(const wchar_t* stream_path)
{
    // The shell's test is bound to MAX_PATH; the long form asks the file
    // system directly, which is what the shell's test does underneath.
    if (has_long_prefix(stream_path))
        return GetFileAttributesW(stream_path) != INVALID_FILE_ATTRIBUTES;
    return PathFileExistsW(stream_path) != FALSE;
}

StoredDigest read_stored_digest(const wchar_t* stream_path, uint8_t* stored, uint32_t* bytes_read)
{
    if (bytes_read)
        *bytes_read = 0;
    HANDLE stream = CreateFileW(stream_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? DigestMissing : DigestLocked;
    }
    // Bytes that were never read must not decide a comparison.
    DWORD got = 0;
    if (!ReadFile(stream, stored, kDigestBytes, &got, nullptr))
        got = 0;
    CloseHandle(stream);
    if (bytes_read)
        *bytes_read = got;
    bool whole = got == (DWORD)kDigestBytes;
    return whole ? DigestRead : DigestShort;
}

bool hash_file_data(const wchar_t* file_path, uint8_t* digest, FILETIME* last_write,
                    HANDLE gate, std::atomic<uint64_t>* counter)
{
    HANDLE file = CreateFileW(file_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool complete = (!last_write || GetFileTime(file, nullptr, nullptr, last_write)) &&
                    GetFileSizeEx(file, &size) &&
                    digest_file(file, size.QuadPart, digest, gate, counter);
    CloseHandle(file);
    return complete;
}

bool file_size_by_path(const wchar_t* file_path, uint64_t* size)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(file_path, GetFileExInfoStandard, &info))
        return false;
    *size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    return true;
}

// Some file systems (ntfs-3g; some network shares) refuse a time set through
// a stream handle: set it through the file itself.
static void restore_time_by_file(const wchar_t* file_path, const FILETIME* last_write)
{
    HANDLE file = CreateFileW(file_path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFileTime(file, nullptr, nullptr, last_write);
    CloseHandle(file);
}

bool write_digest_stream(const wchar_t* stream_path, const wchar_t* file_path,
                         const uint8_t* digest, const FILETIME* last_write,
                         std::atomic<int32_t>* writing)
{
    // Claimed only while writing has not been closed for good.
    int32_t idle = 0;
    if (!writing->compare_exchange_strong(idle, 1, std::memory_order_acq_rel))
        return false;
    // Opened without truncating: an old digest is overwritten in place and
    // only then cut to 64 bytes, so there is no moment at which the stream
    // stands empty.
    HANDLE stream = CreateFileW(stream_path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        writing->store(0);
        return false;
    }
    DWORD wrote = 0;
    bool written = WriteFile(stream, digest, kDigestBytes, &wrote, nullptr) && wrote == (DWORD)kDigestBytes &&
                   SetEndOfFile(stream);
    bool time_set = written && SetFileTime(stream, nullptr, nullptr, last_write);
    CloseHandle(stream);
    if (!written)
        DeleteFileW(stream_path);  // a partial digest would later read as an altered file
    if (!time_set)
        restore_time_by_file(file_path, last_write);
    writing->store(0);
    return written;
}

bool delete_stream(const wchar_t* stream_path)
{
    return DeleteFileW(stream_path) != FALSE;
}
