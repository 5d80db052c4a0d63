// Targets, the walk over them and the size pass.
#include "cli/targets.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/default_jobs.h"
#include "jobs/digest_record.h"
#include "cli/exact_path.h"
#include "cli/findings.h"
#include "cli/manifest_path.h"
#include "cli/slice.h"
#include "jobs/walk.h"
#include <string.h>
#include <wchar.h>

bool form_call_paths(const wchar_t* path, wchar_t* file_path, wchar_t* stream_path)
{
    return make_exact_call_path(path, L"", file_path) && make_exact_call_path(path, L":z", stream_path);
}

bool begin_file(FileWork* work, const wchar_t* path, FindingStatus too_long)
{
    ++g_cli.files;
    if (form_call_paths(path, work->file_path, work->stream_path))
        return true;
    file_finding(work, too_long);
    return false;
}

const wchar_t* record_path_of(FileWork* work)
{
    return make_record_path(work->stream_path, work->record_path) ? work->record_path : nullptr;
}

// The walk's thread's own call paths, for what it looks at before the workers.
static wchar_t g_walk_file[kLongPathChars];
static wchar_t g_walk_stream[kStreamPathChars];

bool size_of_target_file(const wchar_t* path, uint64_t* size)
{
    return form_call_paths(path, g_walk_file, g_walk_stream) && file_size_by_path(g_walk_file, size);
}

// The first operand that is a file or folder to visit.
static int first_target()
{
    return g_cli.command ? g_cli.command->first_target : 0;
}

// A drive letter without a separator after it ("D:", "D:Photos") names a
// place below that drive's current folder, as everywhere in Windows.
static bool is_drive_relative(const wchar_t* path)
{
    wchar_t d = (wchar_t)(path[0] | 0x20);
    return d >= L'a' && d <= L'z' && path[1] == L':' && path[2] != L'\\' && path[2] != L'/';
}

bool targets_exist()
{
    for (int i = first_target(); i < g_cli.operand_count; ++i) {
        const wchar_t* target = g_cli.operands[i];
        if (is_drive_relative(target)) {
            // Walked and printed under the folder it means, never the drive's root.
            DWORD need = GetFullPathNameW(target, 0, nullptr, nullptr);
            wchar_t* full = need ? (wchar_t*)HeapAlloc(GetProcessHeap(), 0, need * sizeof(wchar_t)) : nullptr;
            DWORD got = full ? GetFullPathNameW(target, need, full, nullptr) : 0;
            if (got != 0 && got < need)
                g_cli.operands[i] = full;
        }
        if (!target_exists(g_cli.operands[i])) {
            err_path(L"no such file or folder", g_cli.operands[i]);
            return false;
        }
    }
    return true;
}

// Every operand in order, folders walked; false once the visitor stopped.
static bool walk_targets(const WalkVisitor* visitor)
{
    for (int i = first_target(); i < g_cli.operand_count; ++i) {
        const wchar_t* target = g_cli.operands[i];
        bool go_on = target_is_directory(target) ? walk_directory(target, visitor) : visitor->file(target);
        if (!go_on)
            return false;
    }
    return true;
}

static bool g_walk_stopped;

int default_run_jobs()
{
    SeekAnswer answers[kMaxJobs];
    int count = 0;
    for (int i = first_target(); i < g_cli.operand_count; ++i) {
        if (count == kMaxJobs) return 1;   // so many targets: no drive is asked twice for nothing
        answers[count++] = drive_seek_answer(g_cli.operands[i]);
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return default_jobs(answers, count, (int)info.dwNumberOfProcessors, kMaxJobs);
}

static FileJob g_command_job;

// A file handed in before an interrupt but not yet begun is left alone:
// every worker stops after the file it is on.
static void command_job(FileWork* work, const wchar_t* path)
{
    if (!g_cli.interrupted.load())
        g_command_job(work, path);
}

static bool visit_file(const wchar_t* path)
{
    if (g_cli.interrupted.load() || g_walk_stopped)
        return false;
    if (!is_own_file(path) && in_run_slice(path, true))
        pool_submit(path);
    return true;
}

static void visit_skipped(const wchar_t* folder)
{
    pool_submit_finding(folder, StatusSkipped);
}

void stop_walk()
{
    g_walk_stopped = true;
}

void add_file_findings(const wchar_t* path, const FileOutcome* outcome)
{
    for (int i = 0; i < outcome->finding_count; ++i)
        add_finding_ex(outcome->findings[i], path, outcome->findings[i] == StatusCorrupt ? outcome->repairable : -1,
                       true);
    if (outcome->time_lost) {
        // After its finding, also where both outputs go to one place.
        out_flush();
        err_path(L"the last-write time could not be put back", path);
    }
}

bool start_workers(FileJob job, GiveOut give_out)
{
    g_walk_stopped = false;
    g_command_job = job;
    if (pool_start(g_cli.jobs, command_job, give_out ? give_out : add_file_findings))
        return true;
    err_message(L"cannot start the workers (out of memory?)");
    return false;
}

bool visit_targets(FileJob job, GiveOut give_out)
{
    if (!start_workers(job, give_out))
        return false;
    WalkVisitor visitor = {visit_file, visit_skipped, true};
    bool whole = walk_targets(&visitor);
    pool_finish();
    return whole && !g_walk_stopped && !g_cli.interrupted.load();
}

static int g_size_pass_kind;

static bool size_file(const wchar_t* path)
{
    if (g_cli.interrupted.load())
        return false;
    if (is_own_file(path) || !in_run_slice(path, false) || !form_call_paths(path, g_walk_file, g_walk_stream))
        return true;
    bool carries = stream_exists(g_walk_stream);
    if (carries != (g_size_pass_kind == SizeWithDigest))
        return true;
    uint64_t size = 0;
    if (file_size_by_path(g_walk_file, &size))
        g_cli.total_bytes.store(g_cli.total_bytes.load(std::memory_order_relaxed) + size,
                                std::memory_order_relaxed);
    return true;
}

static void size_skipped(const wchar_t*)
{
    // Found again, and reported, by the main pass.
}

void size_pass(int which)
{
    g_size_pass_kind = which;
    g_cli.total_bytes = 0;
    WalkVisitor visitor = {size_file, size_skipped, true};
    walk_targets(&visitor);
}
