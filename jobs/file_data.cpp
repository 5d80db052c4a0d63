// A file's data: hashing it whole, and its stamp.
#include "jobs/file_data.h"
#include "engine/digest.h"
#include "engine/digest_context.h"
#include <winternl.h>

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

// The stamp asked of the open handle (its basic and standard information),
// not of the file's name: under Wine these two are answered from the
// handle's own descriptor, where the one query that holds both looks the
// file up by name again, a server round trip and a path lookup more for
// every file.
bool stamp_of_handle(HANDLE file, bool timed, FileStamp* out)
{
    out->last_write = FILETIME{};
    out->timed = timed;
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    IO_STATUS_BLOCK io;
    QueryInformationFileFn query = query_information_file();
    if (query && (!timed || NT_SUCCESS(query(file, &io, &basic, sizeof basic, FileBasicInformation))) &&
        NT_SUCCESS(query(file, &io, &standard, sizeof standard, FileStandardInformation))) {
        out->size = (uint64_t)standard.EndOfFile.QuadPart;
        if (timed) {
            out->last_write.dwLowDateTime = (DWORD)basic.LastWriteTime.LowPart;
            out->last_write.dwHighDateTime = (DWORD)basic.LastWriteTime.HighPart;
        }
        return true;
    }
    LARGE_INTEGER got;
    if ((timed && !GetFileTime(file, nullptr, nullptr, &out->last_write)) || !GetFileSizeEx(file, &got))
        return false;
    out->size = (uint64_t)got.QuadPart;
    return true;
}

bool same_time(const FILETIME* a, const FILETIME* b)
{
    return a->dwLowDateTime == b->dwLowDateTime && a->dwHighDateTime == b->dwHighDateTime;
}

bool stamps_agree(const FileStamp* now, const FileStamp* then)
{
    return now->size == then->size && (!then->timed || same_time(&now->last_write, &then->last_write));
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
    bool complete = stamp_of_handle(file, timed, stamp) &&
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
    return stamps_agree(now, stamp) ? StampSame : StampMoved;
}
