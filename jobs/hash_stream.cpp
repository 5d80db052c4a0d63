// The HashStream record: forming, testing, reading, writing and deleting the
// "z" stream, and hashing the file's data. Shared by both programs.
#include "jobs/hash_stream.h"
#include "jobs/digest_record.h"
#include "engine/digest.h"
#include "engine/digest_context.h"
#include <shlwapi.h>
#include <winternl.h>
#include <atomic>

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

typedef NTSTATUS(NTAPI* QueryInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

// Looked up rather than imported, so that both programs keep importing only
// from the system's documented libraries; ntdll is in every process.
static std::atomic<QueryInformationFileFn> g_query_information_file;

static QueryInformationFileFn query_information_file()
{
    // Every thread that looks finds the same address.
    QueryInformationFileFn fn = g_query_information_file.load(std::memory_order_relaxed);
    if (!fn) {
        fn = reinterpret_cast<QueryInformationFileFn>(reinterpret_cast<void (*)(void)>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
        g_query_information_file.store(fn, std::memory_order_relaxed);
    }
    return fn;
}

// Size and, unless `last_write` is null, last-write time of an open file.
// Asked of the open handle (its basic and standard information), not of the
// file's name: under Wine these two are answered from the handle's own
// descriptor, where the one query that holds both looks the file up by name
// again, a server round trip and a path lookup more for every file.
static bool stamp_of(HANDLE file, uint64_t* size, FILETIME* last_write)
{
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    IO_STATUS_BLOCK io;
    QueryInformationFileFn query = query_information_file();
    if (query && (!last_write || NT_SUCCESS(query(file, &io, &basic, sizeof basic, FileBasicInformation))) &&
        NT_SUCCESS(query(file, &io, &standard, sizeof standard, FileStandardInformation))) {
        *size = (uint64_t)standard.EndOfFile.QuadPart;
        if (last_write) {
            last_write->dwLowDateTime = (DWORD)basic.LastWriteTime.LowPart;
            last_write->dwHighDateTime = (DWORD)basic.LastWriteTime.HighPart;
        }
        return true;
    }
    LARGE_INTEGER got;
    if ((last_write && !GetFileTime(file, nullptr, nullptr, last_write)) || !GetFileSizeEx(file, &got))
        return false;
    *size = (uint64_t)got.QuadPart;
    return true;
}

static bool same_time(const FILETIME* a, const FILETIME* b)
{
    return a->dwLowDateTime == b->dwLowDateTime && a->dwHighDateTime == b->dwHighDateTime;
}

static bool same_stamp(uint64_t size, const FILETIME* last_write, const FileStamp* stamp)
{
    return size == stamp->size && same_time(last_write, &stamp->last_write);
}

StoredDigest probe_stored_digest(const wchar_t* stream_path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(stream_path, GetFileExInfoStandard, &info)) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? DigestMissing : DigestLocked;
    }
    return info.nFileSizeHigh == 0 && info.nFileSizeLow < (DWORD)kDigestBytes ? DigestShort : DigestRead;
}

// Both forms of hashing a file's data: the window's process-wide operands
// (context null) or a caller's own context.
static bool hash_file(DigestContext* context, const wchar_t* file_path, uint8_t* digest, FileStamp* stamp,
                      bool timed, HANDLE gate, std::atomic<uint64_t>* counter, std::atomic<int32_t>* stop)
{
    HANDLE file = CreateFileW(file_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FileStamp local;
    if (!stamp)
        stamp = &local;
    stamp->last_write = FILETIME{};
    stamp->timed = timed;
    bool complete = stamp_of(file, &stamp->size, timed ? &stamp->last_write : nullptr) &&
                    (context ? digest_file_in(context, file, (int64_t)stamp->size, digest, gate, counter, stop)
                             : digest_file(file, (int64_t)stamp->size, digest, gate, counter));
    CloseHandle(file);
    return complete;
}

bool hash_file_data(const wchar_t* file_path, uint8_t* digest, FileStamp* stamp,
                    HANDLE gate, std::atomic<uint64_t>* counter)
{
    // A caller that keeps no stamp (the window's Check) has no use for the time.
    return hash_file(nullptr, file_path, digest, stamp, stamp != nullptr, gate, counter, nullptr);
}

bool hash_file_data_in(DigestContext* context, const wchar_t* file_path, uint8_t* digest, FileStamp* stamp,
                       bool timed, HANDLE gate, std::atomic<uint64_t>* counter, std::atomic<int32_t>* stop)
{
    if (context)
        context->stopped = false;
    return hash_file(context, file_path, digest, stamp, timed, gate, counter, stop);
}

BOOL(WINAPI* query_attributes_by_path)(const wchar_t* path, GET_FILEEX_INFO_LEVELS level, void* info) =
    GetFileAttributesExW;

// Size and last-write time by the attribute query by path (nothing opened).
static bool stamp_by_path(const wchar_t* file_path, uint64_t* size, FILETIME* last_write)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!query_attributes_by_path(file_path, GetFileExInfoStandard, &info))
        return false;
    *size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    *last_write = info.ftLastWriteTime;
    return true;
}

bool file_size_by_path(const wchar_t* file_path, uint64_t* size)
{
    FILETIME unused;
    return stamp_by_path(file_path, size, &unused);
}

StampCheck check_stamp_by_path(const wchar_t* file_path, const FileStamp* stamp, FileStamp* now)
{
    FileStamp local;
    if (!now)
        now = &local;
    now->timed = stamp_by_path(file_path, &now->size, &now->last_write);
    if (!now->timed)
        return StampUnknown;
    bool same = stamp->timed ? same_stamp(now->size, &now->last_write, stamp) : now->size == stamp->size;
    return same ? StampSame : StampMoved;
}

// The file itself for its attributes only: times and size can be read and
// set, nothing else, and other programs' opens are not in the way. Never
// creates it.
static HANDLE open_attributes(const wchar_t* file_path)
{
    return CreateFileW(file_path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Writes `len` bytes as the whole stream. `create`: only where no stream of
// that name is there (*exists tells when one was). Otherwise the stream is
// opened without truncating, overwritten in place and only then cut, so
// there is no moment at which it stands empty or partly written.
static bool write_stream(const wchar_t* stream_path, const uint8_t* bytes, DWORD len, bool create, bool* exists)
{
    *exists = false;
    HANDLE stream = CreateFileW(stream_path, GENERIC_WRITE, 0, nullptr, create ? CREATE_NEW : OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        *exists = create && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
        return false;
    }
    // A stream this open made holds nothing beyond what is written now.
    bool made = create || GetLastError() != ERROR_ALREADY_EXISTS;
    DWORD wrote = 0;
    bool written = WriteFile(stream, bytes, len, &wrote, nullptr) && wrote == len && (made || SetEndOfFile(stream));
    CloseHandle(stream);
    if (!written)
        DeleteFileW(stream_path);  // a partial digest would later read as an altered file
    return written;
}

static WriteOutcome write_streams(HANDLE file, const DigestWrite* w)
{
    // The file must be the one that was hashed: a program that saved it in
    // between would otherwise end with new content, the old time and a
    // digest of the old content.
    uint64_t size = 0;
    FILETIME now;
    // A stamp without a time cannot confirm that, and so is never stored.
    if (!w->stamp->timed || !stamp_of(file, &size, &now) || !same_stamp(size, &now, w->stamp))
        return WriteFileChanged;
    bool exists = false;
    if (w->stream_path && !write_stream(w->stream_path, w->digest, kDigestBytes, w->create, &exists))
        return exists ? WriteStreamExists : WriteFailed;
    if (w->record_path) {
        uint8_t record[kRecordBytes];
        encode_record(w->digest, w->stamp, record);
        if (!write_stream(w->record_path, record, kRecordBytes, false, &exists))
            return WriteFailed;
    }
    return WriteDone;
}

WriteOutcome write_digest(const DigestWrite* w, std::atomic<int32_t>* writing)
{
    // Counted in only while writing has not been closed for good.
    int32_t under_way = writing->load(std::memory_order_acquire);
    do {
        if (under_way == kWritesClosed)
            return WriteClosed;
    } while (!writing->compare_exchange_weak(under_way, under_way + 1, std::memory_order_acq_rel));
    HANDLE file = open_attributes(w->file_path);
    if (file == INVALID_HANDLE_VALUE) {
        writing->fetch_sub(1, std::memory_order_acq_rel);
        return WriteFileChanged;
    }
    WriteOutcome outcome = write_streams(file, w);
    if (outcome == WriteDone || outcome == WriteFailed) {
        // Writing a stream moves the file's time on some file systems, and
        // some (ntfs-3g) refuse a time set through a stream handle: it goes
        // back through the file, and is read back to be sure.
        FILETIME kept;
        bool time_kept = SetFileTime(file, nullptr, nullptr, &w->stamp->last_write) &&
                         GetFileTime(file, nullptr, nullptr, &kept) && same_time(&kept, &w->stamp->last_write);
        if (outcome == WriteDone && !time_kept)
            outcome = WriteTimeLost;
    }
    CloseHandle(file);
    writing->fetch_sub(1, std::memory_order_acq_rel);
    return outcome;
}

bool delete_digest(const wchar_t* file_path, const wchar_t* stream_path, const wchar_t* record_path)
{
    // Where deleting a stream moves the file's time, it is put back.
    HANDLE file = open_attributes(file_path);
    FILETIME before;
    bool timed = file != INVALID_HANDLE_VALUE && GetFileTime(file, nullptr, nullptr, &before);
    bool deleted = DeleteFileW(stream_path) != FALSE;
    if (deleted && record_path)
        DeleteFileW(record_path);
    FILETIME after;
    if (timed && deleted && GetFileTime(file, nullptr, nullptr, &after) && !same_time(&after, &before))
        SetFileTime(file, nullptr, nullptr, &before);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return deleted;
}
