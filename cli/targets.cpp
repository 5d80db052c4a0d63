// Targets, the walk over them and the size pass.
#include "cli/targets.h"
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "cli/exact_path.h"
#include "cli/findings.h"
#include "cli/manifest_path.h"
#include "jobs/walk.h"
#include <string.h>
#include <wchar.h>

wchar_t g_file_path[kLongPathChars];
wchar_t g_stream_path[kStreamPathChars];

bool form_call_paths(const wchar_t* path)
{
    return make_exact_call_path(path, L"", g_file_path) && make_exact_call_path(path, L":z", g_stream_path);
}

bool begin_file(const wchar_t* path, FindingStatus too_long)
{
    ++g_cli.files;
    if (form_call_paths(path))
        return true;
    add_finding(too_long, path);
    return false;
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

static bool (*g_visit_file)(const wchar_t* path);

// The run's own files (its report and manifest, their temporaries), as full
// paths: never part of what the run reports on.
constexpr int kOwnFiles = 4;
static wchar_t g_own_files[kOwnFiles][kLongPathChars];
static int g_own_count;
static wchar_t g_own_check[kLongPathChars];

void leave_out_of_walk(const wchar_t* path)
{
    if (g_own_count < kOwnFiles && full_path_of(path, g_own_files[g_own_count], kLongPathChars))
        ++g_own_count;
}

static const wchar_t* last_name(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    return name;
}

bool is_own_file(const wchar_t* path)
{
    const wchar_t* name = last_name(path);
    for (int i = 0; i < g_own_count; ++i) {
        // The name first: a full path is made only for a file of the same name.
        if (CompareStringOrdinal(name, -1, last_name(g_own_files[i]), -1, TRUE) != CSTR_EQUAL)
            continue;
        bool kept = false;
        if (exact_full_path(path, g_own_check, kLongPathChars, &kept) && same_full_path(g_own_check, g_own_files[i]))
            return true;
    }
    return false;
}

static bool visit_file(const wchar_t* path)
{
    if (g_cli.interrupted.load())
        return false;
    if (is_own_file(path))
        return true;
    return g_visit_file(path);
}

static void visit_skipped(const wchar_t* folder)
{
    add_finding(StatusSkipped, folder);
}

bool visit_targets(bool (*file)(const wchar_t* path))
{
    g_visit_file = file;
    WalkVisitor visitor = {visit_file, visit_skipped, true};
    return walk_targets(&visitor);
}

static int g_size_pass_kind;

static bool size_file(const wchar_t* path)
{
    if (g_cli.interrupted.load())
        return false;
    if (is_own_file(path) || !form_call_paths(path))
        return true;
    bool carries = stream_exists(g_stream_path);
    if (carries != (g_size_pass_kind == SizeWithDigest))
        return true;
    uint64_t size = 0;
    if (file_size_by_path(g_file_path, &size))
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
