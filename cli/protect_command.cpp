// protect: one recovery set for the files under a folder. Only files whose
// data still matches their digest (or that carry none yet) go in: a set made
// of rotted data would make the rot permanent, so any file that check would
// not pass stops the command, and no set is written (unless --force). The
// set's files are written as temporaries and moved into place only when all
// of them are whole, and only when no file moved while the set was made.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/findings.h"
#include "cli/recovery_set.h"
#include "cli/targets.h"
#include "jobs/walk.h"
#include "recovery/combine.h"
#include "recovery/region.h"
#include "recovery/set_write.h"
#include "res/version.h"
#include <stdio.h>
#include <string.h>
#include <wchar.h>

constexpr uint32_t kDefaultRedundancy = 5;

// A file taken into the set, as the walk found it.
struct TakenFile {
    wchar_t* path;        // as joined by the walk
    wchar_t* call_path;
    char* name;           // as stored
    size_t name_bytes;
    FileStamp stamp;      // when it was judged: the set is given up when it moved since
};

static SRWLOCK g_taken_lock = SRWLOCK_INIT;
static TakenFile* g_taken;
static int g_taken_count, g_taken_room;
static bool g_taken_failed;   // out of memory keeping the list
static wchar_t g_base[kLongPathChars];   // the set's path without ".par2", as written

static wchar_t* copy_text(const wchar_t* s)
{
    size_t n = wcslen(s) + 1;
    wchar_t* c = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, n * sizeof(wchar_t));
    if (c)
        memcpy(c, s, n * sizeof(wchar_t));
    return c;
}

static void take_file(FileWork* work, const wchar_t* path, const FileStamp* stamp)
{
    static char name[3 * kLongPathChars];
    AcquireSRWLockExclusive(&g_taken_lock);
    size_t len = 0;
    if (!set_name_of(g_cli.operands[1], path, name, sizeof name, &len)) {
        ReleaseSRWLockExclusive(&g_taken_lock);
        err_path(L"the name has no UTF-8 form, so it cannot be stored in a set", path);
        file_finding(work, StatusSkipped);
        return;
    }
    HANDLE heap = GetProcessHeap();
    if (g_taken_count == g_taken_room) {
        int room = g_taken_room ? g_taken_room * 2 : 256;
        void* more = g_taken ? HeapReAlloc(heap, 0, g_taken, sizeof(TakenFile) * (size_t)room)
                             : HeapAlloc(heap, 0, sizeof(TakenFile) * (size_t)room);
        if (!more) {
            g_taken_failed = true;
            ReleaseSRWLockExclusive(&g_taken_lock);
            return;
        }
        g_taken = (TakenFile*)more;
        g_taken_room = room;
    }
    TakenFile* t = &g_taken[g_taken_count];
    t->path = copy_text(path);
    t->call_path = copy_text(work->file_path);
    t->name = (char*)HeapAlloc(heap, 0, len + 1);
    if (!t->path || !t->call_path || !t->name) {
        g_taken_failed = true;
    } else {
        memcpy(t->name, name, len + 1);
        t->name_bytes = len;
        t->stamp = *stamp;
        ++g_taken_count;
    }
    ReleaseSRWLockExclusive(&g_taken_lock);
}

static void protect_file(FileWork* work, const wchar_t* path)
{
    // A set kept inside the folder is not part of what it protects.
    if (is_set_file(g_base, path))
        return;
    if (!begin_file(work, path, StatusUnreadable))
        return;
    FileDigests d;
    StoredDigest found = read_stored_digest(work->stream_path, d.stored);
    FileStamp stamp;
    if (found == DigestMissing) {
        // No digest yet: taken as it is, its size and time as they are now.
        FileStamp none = {};
        check_stamp_by_path(work->file_path, &none, &stamp);
        if (!stamp.timed) {
            file_finding(work, StatusUnreadable);
            return;
        }
    } else {
        if (!digest_read_or_report(work, found))
            return;
        Verdict verdict = judge_file(work, &d, JudgeToStore);
        if (verdict == VerdictMatch)
            ++g_cli.matched;
        else if (verdict == VerdictUnreadable || !g_cli.force) {
            report_verdict(work, verdict);
            return;
        }
        stamp = d.stamp;
    }
    // Zero-byte files have no slice to keep: left out, as par2 leaves them.
    if (stamp.size == 0)
        return;
    take_file(work, path, &stamp);
}

bool prepare_protect()
{
    recovery_start();
    if (!set_base_of(g_cli.operands[0], g_base)) {
        err_path(L"the recovery set's name must end in .par2", g_cli.operands[0]);
        return false;
    }
    if (!target_is_directory(g_cli.operands[1])) {
        err_path(L"protect takes a folder", g_cli.operands[1]);
        return false;
    }
    return true;
}

// The call path of the set's base, in the long form where its longest
// file name needs it.
static bool base_call_path(wchar_t* out)
{
    static const wchar_t kLongest[] = L".vol00000+00000.par2.kestrin-tmp";
    if (!make_call_path(g_base, kLongest, out))
        return false;
    out[wcslen(out) - (sizeof kLongest / sizeof(wchar_t) - 1)] = L'\0';
    return true;
}

static void free_taken()
{
    HANDLE heap = GetProcessHeap();
    for (int i = 0; i < g_taken_count; ++i) {
        HeapFree(heap, 0, g_taken[i].path);
        HeapFree(heap, 0, g_taken[i].call_path);
        HeapFree(heap, 0, g_taken[i].name);
    }
    if (g_taken)
        HeapFree(heap, 0, g_taken);
    g_taken = nullptr;
    g_taken_count = g_taken_room = 0;
}

// Recovery files of an older set under the same base that the new set did
// not replace: they belong to another set, and would only mislead.
static void remove_older_volumes(const SetFiles* files, const wchar_t* base_call)
{
    static wchar_t pattern[kLongPathChars];
    static wchar_t path[kLongPathChars];
    if (_snwprintf(pattern, kLongPathChars - 1, L"%ls.vol*.par2", base_call) < 0)
        return;
    pattern[kLongPathChars - 1] = L'\0';
    const wchar_t* slash = wcsrchr(base_call, L'\\');
    size_t folder = slash ? (size_t)(slash - base_call) + 1 : 0;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (folder + wcslen(found.cFileName) + 1 >= kLongPathChars)
            continue;
        memcpy(path, base_call, folder * sizeof(wchar_t));
        wcscpy(path + folder, found.cFileName);
        bool ours = false;
        for (int i = 0; i < files->count && !ours; ++i)
            ours = _wcsicmp(files->final_name[i], path) == 0;
        if (!ours)
            DeleteFileW(path);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

void run_protect()
{
    bool walked = visit_targets(protect_file);
    if (!walked || g_cli.interrupted.load()) {
        free_taken();
        return;
    }
    uint32_t refused = 0;
    for (int s = 0; s < kStatusCount; ++s)
        if (s != StatusDigest)
            refused += g_cli.counts[s];
    if (refused || g_taken_failed) {
        err_message(g_taken_failed ? L"no set written: out of memory"
                                   : L"no set written: not every file could be taken as it is (corrupt, altered or "
                                     L"edited files: run update first, or protect --force to take them as they are)");
        free_taken();
        return;
    }
    if (g_taken_count == 0) {
        err_path(L"nothing to protect (no file with data)", g_cli.operands[1]);
        add_finding(StatusNotWritten, g_cli.operands[0]);
        return;
    }

    HANDLE heap = GetProcessHeap();
    SetInput* inputs = (SetInput*)HeapAlloc(heap, 0, sizeof(SetInput) * (size_t)g_taken_count);
    uint64_t* sizes = (uint64_t*)HeapAlloc(heap, 0, sizeof(uint64_t) * (size_t)g_taken_count);
    static wchar_t base_call[kLongPathChars];
    if (!inputs || !sizes || !base_call_path(base_call)) {
        err_message(inputs && sizes ? L"the recovery set's path is too long" : L"out of memory");
        add_finding(StatusNotWritten, g_cli.operands[0]);
        free_taken();
        return;
    }
    uint64_t total = 0;
    for (int i = 0; i < g_taken_count; ++i) {
        inputs[i] = {g_taken[i].call_path, g_taken[i].name, g_taken[i].name_bytes, g_taken[i].stamp.size};
        sizes[i] = g_taken[i].stamp.size;
        total += sizes[i];
    }
    uint32_t slices = 0;
    uint64_t slice_size = choose_slice_size(sizes, g_taken_count, g_cli.slices ? (uint32_t)g_cli.slices : kDefaultSlices,
                                            &slices);
    uint32_t percent = g_cli.redundancy ? (uint32_t)g_cli.redundancy : kDefaultRedundancy;
    uint32_t recovery = recovery_slices_for(slices, percent);
    static char creator[128];
    snprintf(creator, sizeof creator, "Created by Kestrin version %s (kestrin-cli protect)", KESTRIN_VERSION_TEXT);
    creator[sizeof creator - 1] = 0;
    SetOptions options = {slice_size, recovery, creator, &g_cli.interrupted, &g_cli.done_bytes, 0};
    g_cli.total_bytes.store(g_cli.total_bytes.load() + total);

    SYSTEM_INFO info;
    GetSystemInfo(&info);
    combine_start_workers((int)info.dwNumberOfProcessors - 1);
    SetFiles files;
    int failed = -1;
    SetWriteResult result = write_set(base_call, inputs, g_taken_count, &options, &files, &failed);
    combine_stop_workers();

    if (result == SetWritten) {
        // Every file as it was judged, or the set describes something else.
        for (int i = 0; i < g_taken_count; ++i) {
            if (check_stamp_by_path(g_taken[i].call_path, &g_taken[i].stamp) != StampSame) {
                add_finding(StatusEdited, g_taken[i].path);
                result = SetInputFailed;
            }
        }
        if (result != SetWritten || g_cli.interrupted.load()) {
            abandon_set(&files);
            if (result != SetWritten)
                err_message(L"no set written: files were written while the set was being made");
        } else if (!commit_set(&files)) {
            err_path(L"cannot move the recovery set's files into place", g_cli.operands[0]);
            add_finding(StatusNotWritten, g_cli.operands[0]);
        } else {
            remove_older_volumes(&files, base_call);
            g_cli.written = (uint32_t)g_taken_count;
            wchar_t line[512];
            _snwprintf(line, 511,
                       L"protected %d files (%llu bytes) in %u slices of %llu bytes; %u recovery slices (%u%%) in "
                       L"%d files, %llu bytes, %hs kernel",
                       g_taken_count, (unsigned long long)total, slices, (unsigned long long)slice_size, recovery,
                       percent, files.count, (unsigned long long)files.bytes, g_region->name);
            line[511] = L'\0';
            if (!g_cli.quiet)
                err_message(line);
        }
        free_set_files(&files);
    } else if (result != SetWriteStopped) {
        switch (result) {
        case SetInputFailed:
            if (failed >= 0)
                add_finding(StatusUnreadable, g_taken[failed].path);
            err_message(L"no set written: a file could not be read whole, or changed size");
            break;
        case SetOutputFailed:
            err_path(L"cannot write the recovery set (does its folder exist? is there room?)", g_cli.operands[0]);
            add_finding(StatusNotWritten, g_cli.operands[0]);
            break;
        case SetTooLarge:
            err_message(L"no set written: more than 32,768 slices (fewer files, or fewer --slices)");
            add_finding(StatusNotWritten, g_cli.operands[0]);
            break;
        default:
            err_message(L"no set written: out of memory");
            add_finding(StatusNotWritten, g_cli.operands[0]);
            break;
        }
    }
    HeapFree(heap, 0, inputs);
    HeapFree(heap, 0, sizes);
    free_taken();
}
