// repair: each file of a recovery set is checked slice by slice; the files
// that are damaged or missing are rebuilt from the present slices and the
// recovery slices, and a rebuilt file replaces the damaged one only when its
// Whirlpool digest is the one in its "z" stream (or, for a file without
// one, its MD5 is the set's). An edited file (written since its digest was
// made) is newer than its set and never rolled back without --force. The
// replacement is atomic: the rebuilt data, with the file's "z", its record
// and its recorded last-write time, is a temporary moved over the name; the
// damaged bytes stay beside it under a second name until then.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/file_hash.h"
#include "cli/findings.h"
#include "cli/recovery_set.h"
#include "cli/targets.h"
#include "jobs/digest_record.h"
#include "jobs/walk.h"
#include "recovery/combine.h"
#include "recovery/file_io.h"
#include "recovery/md5.h"
#include "recovery/region.h"
#include "recovery/set_rebuild.h"
#include "recovery/set_verify.h"
#include "recovery/solver.h"
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define REPAIR_TEMP_SUFFIX L".kestrin-repair"
#define DAMAGED_SUFFIX L".kestrin-damaged"

enum Role : int {
    RoleIntact = 0,    // the set's own data
    RoleRebuild,       // damaged or missing, and to be rebuilt
    RoleLeft,          // not the set's data, and left as it is (edited, newer than the set, unreadable)
    RoleUnknown,       // cannot be checked (no slice checksums, or a name that may not be joined)
};

struct Member {
    wchar_t* path;            // as the user would write it
    wchar_t* call_path;
    wchar_t* stream_path;
    Role role;
    bool exists;
    bool has_digest;          // rebuilt data is proved by "z" (else by the set's MD5)
    uint8_t digest[kDigestBytes];
    bool record_valid;
    DigestRecord record;
    FileStamp stamp;          // the file when it was checked
    HANDLE temp;
    wchar_t* temp_path;
};

static Par2Set g_set;
static const wchar_t* g_folder;
static wchar_t g_folder_buffer[kLongPathChars];
static Member* g_members;
static uint32_t* g_order;     // members by name
static FileWork* g_work;      // worker 0's paths, for judging and hashing

bool prepare_repair()
{
    recovery_start();
    if (g_cli.operand_count >= 2) {
        g_folder = g_cli.operands[1];
        if (!target_is_directory(g_folder)) {
            err_path(L"no such folder", g_folder);
            return false;
        }
    } else {
        // The set's own folder.
        const wchar_t* set = g_cli.operands[0];
        const wchar_t* slash = nullptr;
        for (const wchar_t* p = set; *p; ++p)
            if (*p == L'\\' || *p == L'/')
                slash = p;
        if (!slash) {
            wcscpy(g_folder_buffer, L".");
        } else {
            size_t n = (size_t)(slash - set);
            if (n == 0 || (n == 2 && set[1] == L':'))
                ++n;   // the root keeps its separator
            memcpy(g_folder_buffer, set, n * sizeof(wchar_t));
            g_folder_buffer[n] = L'\0';
        }
        g_folder = g_folder_buffer;
    }
    if (!target_exists(g_cli.operands[0])) {
        err_path(L"no such file", g_cli.operands[0]);
        return false;
    }
    return load_named_set(g_cli.operands[0], &g_set);
}

static wchar_t* heap_copy(const wchar_t* s, const wchar_t* suffix = L"")
{
    size_t a = wcslen(s), b = wcslen(suffix);
    wchar_t* c = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (a + b + 1) * sizeof(wchar_t));
    if (c) {
        memcpy(c, s, a * sizeof(wchar_t));
        memcpy(c + a, suffix, (b + 1) * sizeof(wchar_t));
    }
    return c;
}

// Checks one member and decides what becomes of it; its findings, other
// than those of the rebuild, are added here.
static void check_member(uint32_t f, uint8_t* present)
{
    Member* m = &g_members[f];
    const SetFile* sf = &g_set.files[f];
    static wchar_t joined[kLongPathChars];
    m->role = RoleUnknown;
    if (!sf->described || !set_member_path(g_folder, sf->name, sf->name_bytes, joined)) {
        if (sf->described) {
            wchar_t shown[512];
            MultiByteToWideChar(CP_UTF8, 0, sf->name, -1, shown, 511);
            shown[511] = 0;
            err_path(L"the set names a file that may not be written (absolute, or with '..')", shown);
            add_finding(StatusSkipped, shown);
        }
        memset(present + sf->first_slice, 0, sf->slice_count);
        return;
    }
    m->path = heap_copy(joined);
    if (!m->path || !begin_file(g_work, joined, StatusSkipped)) {
        memset(present + sf->first_slice, 0, sf->slice_count);
        return;
    }
    m->call_path = heap_copy(g_work->file_path);
    m->stream_path = heap_copy(g_work->stream_path);
    if (!sf->checksums) {
        err_path(L"the set holds no slice checksums for this file", joined);
        add_finding(StatusSkipped, joined);
        memset(present + sf->first_slice, 0, sf->slice_count);
        return;
    }
    FileStamp none = {};
    check_stamp_by_path(g_work->file_path, &none, &m->stamp);
    SliceCheck check;
    check_slices(&g_set, f, g_work->file_path, present, &check, &g_cli.done_bytes);
    m->exists = check.exists;
    if (file_is_intact(&g_set, f, &check) && check_stamp_by_path(g_work->file_path, &m->stamp) == StampSame) {
        m->role = RoleIntact;
        ++g_cli.matched;
        add_finding_ex(StatusIntact, joined, -1, false);
        return;
    }
    if (!check.exists) {
        m->role = RoleRebuild;   // missing: nothing of it is left, streams included
        return;
    }
    FileDigests d;
    StoredDigest found = read_stored_digest(g_work->stream_path, d.stored);
    if (found == DigestMissing) {
        m->role = RoleRebuild;
        return;
    }
    if (found != DigestRead) {
        // A digest that cannot be read proves nothing: left as it is.
        add_finding(found == DigestShort ? StatusDamaged : StatusUnreadable, joined);
        m->role = RoleLeft;
        return;
    }
    Verdict verdict = judge_file(g_work, &d, JudgeToStore);
    switch (verdict) {
    case VerdictMatch:
        // The data is its digest's, but not the set's: the file was
        // written after the set was made, and its digest renewed since.
        err_path(L"the set is older than this file (run protect again)", joined);
        add_finding_ex(StatusIntact, joined, -1, false);
        ++g_cli.matched;
        m->role = RoleLeft;
        return;
    case VerdictEdited:
        if (!g_cli.force) {
            err_path(L"edited since its digest was made, so its set is older than its content: not rolled back "
                     L"(repair --force rolls it back)",
                     joined);
            add_finding(StatusEdited, joined);
            m->role = RoleLeft;
            return;
        }
        break;
    case VerdictUnreadable:
        add_finding(StatusUnreadable, joined);
        m->role = RoleLeft;
        return;
    default:
        break;
    }
    m->role = RoleRebuild;
    m->has_digest = true;
    memcpy(m->digest, d.stored, kDigestBytes);
    m->record_valid = d.record_valid || read_record(record_path_of(g_work), d.stored, &d.record);
    m->record = d.record;
}

// Every folder of `path` (a call path) made, for a file whose folder went too.
static void make_folders(wchar_t* path)
{
    size_t start = has_long_prefix(path) ? 4 : 0;
    for (wchar_t* p = path + start; *p; ++p) {
        if (*p != L'\\' || p == path + start || p[-1] == L':')
            continue;
        *p = L'\0';
        CreateDirectoryW(path, nullptr);
        *p = L'\\';
    }
}

constexpr uint32_t kCopyPiece = 1u << 20;

// The temporary of a member to rebuild: its present slices copied, the rest
// zeros until rebuilt, its length the set's.
static bool begin_temp(uint32_t f, const uint8_t* present, uint8_t* buffer)
{
    Member* m = &g_members[f];
    const SetFile* sf = &g_set.files[f];
    m->temp_path = heap_copy(m->call_path, REPAIR_TEMP_SUFFIX);
    if (!m->temp_path)
        return false;
    if (!m->exists)
        make_folders(m->temp_path);
    m->temp = CreateFileW(m->temp_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m->temp == INVALID_HANDLE_VALUE)
        return false;
    HANDLE from = m->exists ? CreateFileW(m->call_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                            : INVALID_HANDLE_VALUE;
    bool sound = true;
    for (uint32_t i = 0; i < sf->slice_count && sound; ++i) {
        if (!present[sf->first_slice + i] || from == INVALID_HANDLE_VALUE)
            continue;
        uint64_t at = (uint64_t)i * g_set.slice_size;
        uint64_t end = at + g_set.slice_size < sf->length ? at + g_set.slice_size : sf->length;
        for (; at < end && sound; at += kCopyPiece) {
            uint32_t n = end - at < kCopyPiece ? (uint32_t)(end - at) : kCopyPiece;
            sound = read_at(from, at, buffer, n) == n && write_at(m->temp, at, buffer, n);
        }
    }
    if (from != INVALID_HANDLE_VALUE)
        CloseHandle(from);
    FILE_END_OF_FILE_INFO eof;
    eof.EndOfFile.QuadPart = (LONGLONG)sf->length;
    return sound && SetFileInformationByHandle(m->temp, FileEndOfFileInfo, &eof, sizeof eof);
}

// Which member a set slice belongs to.
static uint32_t member_of_slice(uint32_t slice)
{
    uint32_t lo = 0, hi = g_set.file_count;
    while (hi - lo > 1) {
        uint32_t mid = (lo + hi) / 2;
        if (g_set.files[mid].first_slice <= slice)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

static bool write_rebuilt(void*, uint32_t slice, uint64_t offset, const uint8_t* data, size_t len)
{
    uint32_t f = member_of_slice(slice);
    Member* m = &g_members[f];
    if (m->role != RoleRebuild || m->temp == INVALID_HANDLE_VALUE)
        return true;   // rebuilt only to solve the rest: an edited file's slices, say
    const SetFile* sf = &g_set.files[f];
    uint64_t at = (uint64_t)(slice - sf->first_slice) * g_set.slice_size + offset;
    if (at >= sf->length)
        return true;
    size_t n = sf->length - at < len ? (size_t)(sf->length - at) : len;
    if (!write_at(m->temp, at, data, (uint32_t)n)) {
        CloseHandle(m->temp);
        m->temp = INVALID_HANDLE_VALUE;   // given up: found when the file's turn comes
    }
    return true;
}

// Whether the temporary's data is the original: its Whirlpool digest the one
// in "z", or for a file without one its MD5 the set's.
static bool rebuilt_is_original(uint32_t f, uint8_t* buffer)
{
    Member* m = &g_members[f];
    if (m->has_digest) {
        alignas(16) uint8_t digest[kDigestBytes];
        size_t n = wcslen(m->temp_path);
        if (n >= kLongPathChars)
            return false;
        wcscpy(g_work->file_path, m->temp_path);
        bool whole = hash_run_file(g_work, digest, nullptr, false);
        return whole && memcmp(digest, m->digest, kDigestBytes) == 0;
    }
    HANDLE h = CreateFileW(m->temp_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    Md5 md5;
    md5_begin(&md5);
    bool sound = true;
    for (uint64_t at = 0; at < g_set.files[f].length && sound; at += kCopyPiece) {
        uint64_t left = g_set.files[f].length - at;
        uint32_t n = left < kCopyPiece ? (uint32_t)left : kCopyPiece;
        sound = read_at(h, at, buffer, n) == n;
        md5_add(&md5, buffer, n);
    }
    CloseHandle(h);
    uint8_t digest[16];
    md5_end(&md5, digest);
    return sound && memcmp(digest, g_set.files[f].md5, 16) == 0;
}

// Copies stream `name` of the member's file onto its temporary, when there.
static bool copy_stream(const Member* m, const wchar_t* name)
{
    static wchar_t from_path[kLongPathChars + 8], to_path[kLongPathChars + 32];
    _snwprintf(from_path, kLongPathChars + 7, L"%ls%ls", m->call_path, name);
    from_path[kLongPathChars + 7] = 0;
    _snwprintf(to_path, kLongPathChars + 31, L"%ls%ls", m->temp_path, name);
    to_path[kLongPathChars + 31] = 0;
    HANDLE from = CreateFileW(from_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (from == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    uint8_t bytes[256];
    int64_t got = read_at(from, 0, bytes, sizeof bytes);
    CloseHandle(from);
    if (got < 0)
        return false;
    HANDLE to = CreateFileW(to_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (to == INVALID_HANDLE_VALUE)
        return false;
    bool sound = write_at(to, 0, bytes, (uint32_t)got) && FlushFileBuffers(to);
    CloseHandle(to);
    return sound;
}

static bool set_last_write(const wchar_t* path, const FILETIME* time)
{
    HANDLE h = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool set = SetFileTime(h, nullptr, nullptr, time) != 0;
    CloseHandle(h);
    return set;
}

// Puts the proven temporary in the file's place; the damaged bytes stay
// under a second name until the move is done. False when the file was left
// as it was.
static bool replace_member(uint32_t f)
{
    Member* m = &g_members[f];
    if (m->exists && m->has_digest &&
        (!copy_stream(m, L":z") || (m->record_valid && !copy_stream(m, L":z.rec"))))
        return false;
    // The recorded time, or the one the damaged file has.
    FILETIME time;
    if (m->record_valid) {
        time.dwLowDateTime = (DWORD)m->record.last_write;
        time.dwHighDateTime = (DWORD)(m->record.last_write >> 32);
    } else if (m->exists && m->stamp.timed) {
        time = m->stamp.last_write;
    } else {
        GetSystemTimeAsFileTime(&time);
    }
    if (!set_last_write(m->temp_path, &time))
        return false;
    // Nothing is begun after an interrupt, nor over a file written meanwhile.
    if (g_cli.interrupted.load() || (m->exists && check_stamp_by_path(m->call_path, &m->stamp) != StampSame))
        return false;
    wchar_t* damaged = m->exists ? heap_copy(m->call_path, DAMAGED_SUFFIX) : nullptr;
    bool linked = false, moved_away = false;
    if (m->exists) {
        if (!damaged)
            return false;
        DeleteFileW(damaged);   // a leftover of an earlier repair
        linked = CreateHardLinkW(damaged, m->call_path, nullptr) != 0;
        if (!linked) {
            moved_away = MoveFileExW(m->call_path, damaged, MOVEFILE_WRITE_THROUGH) != 0;
            if (!moved_away) {
                HeapFree(GetProcessHeap(), 0, damaged);
                return false;
            }
        }
    }
    bool placed = MoveFileExW(m->temp_path, m->call_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!placed && moved_away)
        MoveFileExW(damaged, m->call_path, MOVEFILE_WRITE_THROUGH);
    if (placed && damaged && !g_cli.keep_damaged)
        DeleteFileW(damaged);
    if (!placed && linked)
        DeleteFileW(damaged);
    if (damaged)
        HeapFree(GetProcessHeap(), 0, damaged);
    if (placed) {
        // The move keeps the time, but a file system that moved it anyway
        // is put right through the data (no stream is written after this).
        FileStamp now = {};
        FileStamp none = {};
        check_stamp_by_path(m->call_path, &none, &now);
        if (!now.timed || CompareFileTime(&now.last_write, &time) != 0)
            set_last_write(m->call_path, &time);
    }
    return placed;
}

static void drop_temp(Member* m)
{
    if (m->temp != INVALID_HANDLE_VALUE)
        CloseHandle(m->temp);
    m->temp = INVALID_HANDLE_VALUE;
    if (m->temp_path)
        DeleteFileW(m->temp_path);
}

// The findings of every member to rebuild when the set cannot do it.
static void report_short(uint32_t short_by)
{
    wchar_t line[160];
    _snwprintf(line, 159, L"the set is %u recovery slice%ls short of what the damage needs (%u at hand)", short_by,
               short_by == 1 ? L"" : L"s", g_set.recovery_count);
    line[159] = 0;
    err_message(line);
    for (uint32_t i = 0; i < g_set.file_count; ++i)
        if (g_members[g_order[i]].role == RoleRebuild)
            add_finding(StatusUnrepairable, g_members[g_order[i]].path);
}

static void free_members()
{
    HANDLE heap = GetProcessHeap();
    for (uint32_t f = 0; g_members && f < g_set.file_count; ++f) {
        Member* m = &g_members[f];
        if (m->temp != INVALID_HANDLE_VALUE)
            CloseHandle(m->temp);
        if (m->path)
            HeapFree(heap, 0, m->path);
        if (m->call_path)
            HeapFree(heap, 0, m->call_path);
        if (m->stream_path)
            HeapFree(heap, 0, m->stream_path);
        if (m->temp_path)
            HeapFree(heap, 0, m->temp_path);
    }
}

static void rebuild_and_replace(const uint8_t* present, const uint32_t* missing, const Solution* sol, uint8_t* buffer)
{
    for (uint32_t i = 0; i < g_set.file_count; ++i) {
        uint32_t f = g_order[i];
        if (g_members[f].role == RoleRebuild && !begin_temp(f, present, buffer)) {
            err_path(L"cannot write the rebuilt file beside the damaged one", g_members[f].path);
            drop_temp(&g_members[f]);
        }
    }
    HANDLE heap = GetProcessHeap();
    const wchar_t** paths = (const wchar_t**)HeapAlloc(heap, 0, sizeof(wchar_t*) * g_set.file_count);
    if (!paths) {
        err_message(L"out of memory");
        return;
    }
    for (uint32_t f = 0; f < g_set.file_count; ++f)
        paths[f] = g_members[f].exists ? g_members[f].call_path : nullptr;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    combine_start_workers((int)info.dwNumberOfProcessors - 1);
    RebuildInput in = {&g_set, paths, present, missing, sol, &g_cli.interrupted, &g_cli.done_bytes, 0};
    RebuildResult result = rebuild_slices(&in, write_rebuilt, nullptr);
    combine_stop_workers();
    HeapFree(heap, 0, paths);
    for (uint32_t i = 0; i < g_set.file_count; ++i) {
        uint32_t f = g_order[i];
        Member* m = &g_members[f];
        if (m->role != RoleRebuild)
            continue;
        if (result == RebuildStopped || g_cli.interrupted.load()) {
            drop_temp(m);
            continue;
        }
        bool whole = result == Rebuilt && m->temp != INVALID_HANDLE_VALUE && FlushFileBuffers(m->temp);
        if (m->temp != INVALID_HANDLE_VALUE)
            CloseHandle(m->temp);
        m->temp = INVALID_HANDLE_VALUE;
        if (!whole) {
            if (result == RebuildReadFailed)
                err_path(L"a slice could not be read while rebuilding", m->path);
            drop_temp(m);
            add_finding(StatusUnrepairable, m->path);
            continue;
        }
        if (!rebuilt_is_original(f, buffer)) {
            err_path(m->has_digest ? L"the rebuilt data does not match the file's digest: left as it is"
                                   : L"the rebuilt data does not match the set's MD5: left as it is",
                     m->path);
            drop_temp(m);
            add_finding(StatusUnrepairable, m->path);
            continue;
        }
        if (!replace_member(f)) {
            drop_temp(m);
            if (!g_cli.interrupted.load()) {
                err_path(L"the rebuilt file could not be put in place (written meanwhile?)", m->path);
                add_finding(StatusNotWritten, m->path);
            }
            continue;
        }
        add_finding(StatusRepaired, m->path);
    }
}

void run_repair()
{
    HANDLE heap = GetProcessHeap();
    static FileWork work;
    g_work = &work;
    g_work->worker = 0;
    g_members = (Member*)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(Member) * (g_set.file_count + 1));
    g_order = (uint32_t*)HeapAlloc(heap, 0, sizeof(uint32_t) * (g_set.file_count + 1));
    uint8_t* present = (uint8_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, g_set.slice_count + 1);
    uint8_t* buffer = (uint8_t*)VirtualAlloc(nullptr, kCopyPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!g_members || !g_order || !present || !buffer) {
        err_message(L"out of memory");
        return;
    }
    if (g_set.damaged_packets) {
        wchar_t line[160];
        _snwprintf(line, 159, L"%u damaged packet%ls of the set passed over", g_set.damaged_packets,
                   g_set.damaged_packets == 1 ? L"" : L"s");
        line[159] = 0;
        err_message(line);
    }
    // In name order, so that the output reads as a listing.
    for (uint32_t f = 0; f < g_set.file_count; ++f) {
        uint32_t j = f;
        for (; j > 0 && g_set.files[g_order[j - 1]].name && g_set.files[f].name &&
               strcmp(g_set.files[g_order[j - 1]].name, g_set.files[f].name) > 0;
             --j)
            g_order[j] = g_order[j - 1];
        g_order[j] = f;
        g_members[f].temp = INVALID_HANDLE_VALUE;
    }
    bool any = false;
    for (uint32_t i = 0; i < g_set.file_count && !g_cli.interrupted.load(); ++i) {
        check_member(g_order[i], present);
        any = any || g_members[g_order[i]].role == RoleRebuild;
    }
    if (any && !g_cli.interrupted.load()) {
        uint32_t m = 0;
        for (uint32_t s = 0; s < g_set.slice_count; ++s)
            m += present[s] ? 0 : 1;
        uint32_t* missing = (uint32_t*)HeapAlloc(heap, 0, sizeof(uint32_t) * (m + 1));
        uint32_t* exponents = (uint32_t*)HeapAlloc(heap, 0, sizeof(uint32_t) * (g_set.recovery_count + 1));
        Solution sol = {};
        SolveResult solved = SolveNoMemory;
        if (missing && exponents) {
            for (uint32_t s = 0, k = 0; s < g_set.slice_count; ++s)
                if (!present[s])
                    missing[k++] = s;
            for (uint32_t r = 0; r < g_set.recovery_count; ++r)
                exponents[r] = g_set.recovery[r].exponent;
            solved = solve_missing(missing, (int)m, exponents, (int)g_set.recovery_count, &sol);
        }
        if (solved == SolveNoMemory) {
            err_message(L"out of memory");
        } else if (solved == Unsolvable) {
            report_short((uint32_t)sol.short_by);
        } else if (g_cli.check_only) {
            for (uint32_t i = 0; i < g_set.file_count; ++i)
                if (g_members[g_order[i]].role == RoleRebuild)
                    add_finding(StatusRepairable, g_members[g_order[i]].path);
        } else {
            rebuild_and_replace(present, missing, &sol, buffer);
        }
        solution_free(&sol);
        if (missing)
            HeapFree(heap, 0, missing);
        if (exponents)
            HeapFree(heap, 0, exponents);
    }
    free_members();
    VirtualFree(buffer, 0, MEM_RELEASE);
    HeapFree(heap, 0, present);
    free_set(&g_set);
}
